#include "Relauncher.h"
#include "SingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace nimbara;

// Relaunches a copy of a small helper program from directories whose names would break a command
// made by splicing the path into shell text.
class TestRelauncher : public QObject
{
    Q_OBJECT

private slots:
    void relaunch_hostilePathStartsAfterOldEnded_data();
    void relaunch_hostilePathStartsAfterOldEnded();
    void relaunch_unreapedParentDoesNotHangTheWait();
    void guard_relaunchedInstanceWaitsInsteadOfReopening_data();
    void guard_relaunchedInstanceWaitsInsteadOfReopening();

private:
    // Copies the helper into <temp>/<dirName>/ and returns the copy's path.
    static QString installHelper(const QTemporaryDir &temp, const QString &dirName);
    // Waits (bounded) for the relaunched helper's report and returns its NUL-separated fields.
    static QStringList waitForReport(const QTemporaryDir &temp, int timeoutMs,
                                     const QString &name = QStringLiteral("relaunched.txt"));
};

QString TestRelauncher::installHelper(const QTemporaryDir &temp, const QString &dirName)
{
    const QString dir = temp.filePath(dirName);
    if (!QDir().mkpath(dir))
        return {};
    const QString copy = dir + QStringLiteral("/nimbara-helper");
    if (!QFile::copy(QString::fromUtf8(RELAUNCH_HELPER), copy))
        return {};
    QFile::setPermissions(copy, QFile::permissions(copy) | QFile::ExeOwner);
    return copy;
}

QStringList TestRelauncher::waitForReport(const QTemporaryDir &temp, int timeoutMs, const QString &name)
{
    QFile report(temp.filePath(name));
    QElapsedTimer timer;
    timer.start();
    while (!report.exists() && timer.elapsed() < timeoutMs)
        QTest::qWait(20);
    if (!report.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(report.readAll()).split(QChar(0));
}

void TestRelauncher::relaunch_hostilePathStartsAfterOldEnded_data()
{
    QTest::addColumn<QString>("dirName");
    QTest::newRow("double quote") << QStringLiteral("say \"hi\"");
    QTest::newRow("dollar and backquote") << QStringLiteral("$HOME `touch pwned` $(id)");
    QTest::newRow("backslash") << QStringLiteral("back\\slash\\\"");
    QTest::newRow("everything") << QStringLiteral("a\"b$c`d\\e 'f' ;g&&h|i\nj");
}

void TestRelauncher::relaunch_hostilePathStartsAfterOldEnded()
{
    QFETCH(QString, dirName);
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString helper = installHelper(temp, dirName);
    QVERIFY(!helper.isEmpty());

    QProcess old;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RELAUNCH_HELPER_DIR"), temp.path());
    environment.remove(Relauncher::markVariable());
    old.setProcessEnvironment(environment);
    old.setWorkingDirectory(temp.path());
    old.start(helper, {});
    QVERIFY(old.waitForStarted());
    const qint64 oldPid = old.processId();
    QVERIFY(old.waitForFinished(5000));
    QCOMPARE(old.exitCode(), 0);

    const QStringList report = waitForReport(temp, 8000);
    QCOMPARE(report.size(), 4);
    QCOMPARE(report.at(0), QFileInfo(helper).canonicalFilePath());
    QCOMPARE(report.at(1), QString::number(oldPid));
    QCOMPARE(report.at(2), QStringLiteral("old gone"));
    // The mark is taken out of the environment once read.
    QCOMPARE(report.at(3), QStringLiteral("mark="));
    // Nothing in the name was run as a command.
    QVERIFY(!QFile::exists(temp.filePath(QStringLiteral("pwned"))));
    QVERIFY(!QFile::exists(QDir(temp.path()).filePath(dirName + QStringLiteral("/pwned"))));
}

void TestRelauncher::relaunch_unreapedParentDoesNotHangTheWait()
{
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString helper = installHelper(temp, QStringLiteral("orphan \"$x\""));
    QVERIFY(!helper.isEmpty());

    QProcess parent;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RELAUNCH_HELPER_DIR"), temp.path());
    environment.insert(QStringLiteral("RELAUNCH_HELPER_MODE"), QStringLiteral("orphan"));
    environment.remove(Relauncher::markVariable());
    parent.setProcessEnvironment(environment);
    parent.start(helper, {});
    QVERIFY(parent.waitForStarted());

    // The parent sleeps 30 s without reaping; the bounded wait gives up on the zombie after ~5 s.
    const QStringList report = waitForReport(temp, 15000);
    const bool parentStillRunning = parent.state() == QProcess::Running;
    parent.kill();
    parent.waitForFinished();
    QCOMPARE(report.size(), 4);
    QCOMPARE(report.at(0), QFileInfo(helper).canonicalFilePath());
    QCOMPARE(report.at(2), QStringLiteral("old alive"));
    QVERIFY(parentStillRunning);
}

void TestRelauncher::guard_relaunchedInstanceWaitsInsteadOfReopening_data()
{
    QTest::addColumn<bool>("relaunched");
    QTest::addColumn<QString>("role");
    QTest::addColumn<int>("reopens");
    QTest::newRow("relaunched: waits, then holds the guard") << true << QStringLiteral("primary") << 0;
    QTest::newRow("started by hand: asks the holder to re-open") << false << QStringLiteral("secondary") << 1;
}

void TestRelauncher::guard_relaunchedInstanceWaitsInsteadOfReopening()
{
    QFETCH(bool, relaunched);
    QFETCH(QString, role);
    QFETCH(int, reopens);
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString name = QStringLiteral("nimbara-relaunch-test-%1").arg(QCoreApplication::applicationPid());
    // This process plays the instance that is ending.
    auto holder = std::make_unique<SingleInstance>(name);
    QCOMPARE(holder->start(), SingleInstance::Role::Primary);
    int reopenRequests = 0;
    connect(holder.get(), &SingleInstance::reopenRequested, this, [&reopenRequests] { ++reopenRequests; });

    QProcess next;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RELAUNCH_HELPER_DIR"), temp.path());
    environment.insert(QStringLiteral("RELAUNCH_HELPER_MODE"), QStringLiteral("guard"));
    environment.insert(QStringLiteral("RELAUNCH_HELPER_GUARD"), name);
    if (relaunched)
        environment.insert(Relauncher::markVariable(), QString::number(QCoreApplication::applicationPid()));
    else
        environment.remove(Relauncher::markVariable());
    next.setProcessEnvironment(environment);
    next.start(QString::fromUtf8(RELAUNCH_HELPER), {});
    QVERIFY(next.waitForStarted());

    if (relaunched) {
        // The new instance keeps trying while the old one still holds the name, and never knocks.
        QTest::qWait(400);
        QCOMPARE(next.state(), QProcess::Running);
        QCOMPARE(reopenRequests, 0);
        holder.reset();
    } else {
        QTRY_COMPARE(reopenRequests, 1);
    }
    // It may have ended while the event loop ran above.
    QVERIFY(next.state() == QProcess::NotRunning || next.waitForFinished(10000));
    QCOMPARE(next.exitCode(), 0);
    QCOMPARE(waitForReport(temp, 1000, QStringLiteral("guard.txt")), QStringList{role});
    QCOMPARE(reopenRequests, reopens);
}

QTEST_GUILESS_MAIN(TestRelauncher)
#include "tst_relauncher.moc"
