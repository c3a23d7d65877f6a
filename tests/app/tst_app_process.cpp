#include "SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// The nimbara executable as a user runs it, with its settings in a temporary home.
class TestAppProcess : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void firstRun_secondInstance_sigterm();
    void corruptSettings_startsAndQuitWritesValidFile();
    void commandLine_data();
    void commandLine();

private:
    QProcess *start();
    void waitForInitialized();
    void terminate(QProcess *process);
    QSettings settings() const;
    QString configFile() const { return m_home->path() + QStringLiteral("/config/Nimbara/Nimbara.conf"); }

    std::unique_ptr<QTemporaryDir> m_home;
    QList<QProcess *> m_processes;
};

void TestAppProcess::init()
{
    m_home = std::make_unique<QTemporaryDir>();
}

void TestAppProcess::cleanup()
{
    for (QProcess *process : std::as_const(m_processes)) {
        process->kill();
        process->waitForFinished();
        delete process;
    }
    m_processes.clear();
}

QProcess *TestAppProcess::start()
{
    auto process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home->path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home->path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QStringLiteral(NIMBARA_EXECUTABLE), {});
    m_processes.append(process);
    return process;
}

QSettings TestAppProcess::settings() const
{
    return QSettings(configFile(), QSettings::IniFormat);
}

void TestAppProcess::waitForInitialized()
{
    // The first run writes its values during the launch, "celsius" last.
    QTRY_VERIFY_WITH_TIMEOUT(settings().value(QStringLiteral("celsius")).toString() == QStringLiteral("true"),
                             20000);
}

void TestAppProcess::terminate(QProcess *process)
{
    ::kill(static_cast<pid_t>(process->processId()), SIGTERM);
    QVERIFY(process->waitForFinished(20000));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 0);
}

void TestAppProcess::firstRun_secondInstance_sigterm()
{
    QProcess *first = start();
    QVERIFY(first->waitForStarted());
    waitForInitialized();
    QCOMPARE(settings().value(QStringLiteral("sizeWidth")).toFloat(), 680.0f);

    // A second launch hands over to the first and leaves with status 0; the first runs on.
    QProcess *second = start();
    QVERIFY(second->waitForFinished(20000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(first->state(), QProcess::Running);

    // SIGTERM ends the first in order: its frame (the interface's, never moved) is saved.
    terminate(first);
    const QSettings saved = settings();
    QVERIFY(saved.value(QStringLiteral("sizeWidth")).toFloat() > 0.0f);
    QVERIFY(saved.value(QStringLiteral("sizeWidth")).toFloat() != 680.0f);
    QVERIFY(saved.value(QStringLiteral("sizeHeight")).toFloat() != 172.0f);
}

void TestAppProcess::corruptSettings_startsAndQuitWritesValidFile()
{
    QDir().mkpath(QFileInfo(configFile()).path());
    QFile file(configFile());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\ninitialized=true\noriginX=\xff\xfe garbage\nsizeWidth=nan\n[[[\x01\x02\n"
               "sizeHeight=-5\nwhiteColor=maybe\n");
    file.close();

    QProcess *process = start();
    QVERIFY(process->waitForStarted());
    QTest::qWait(1500);
    QCOMPARE(process->state(), QProcess::Running);
    terminate(process);

    // The quit rewrote the frame as numbers, and the interface's size stood in for the damaged one.
    const QSettings saved = settings();
    QCOMPARE(saved.status(), QSettings::NoError);
    bool ok = false;
    QVERIFY(saved.value(QStringLiteral("sizeWidth")).toString().toFloat(&ok) > 0.0f && ok);
    QVERIFY(saved.value(QStringLiteral("sizeHeight")).toString().toFloat(&ok) > 0.0f && ok);
    saved.value(QStringLiteral("originX")).toString().toFloat(&ok);
    QVERIFY(ok);
}

void TestAppProcess::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    // No display: neither X11 nor Wayland nor a platform chosen, as on a text console or over ssh.
    QTest::addColumn<bool>("display");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    // Whether the running widget was asked to re-open.
    QTest::addColumn<bool>("reopened");

    const QString usage = QStringLiteral("Usage: nimbara [options]");
    const QString version = QStringLiteral("^nimbara \\d+\\.\\d+\\.\\d+ \\(build \\d+\\)\n$");
    QTest::newRow("--help, no display")
        << QStringList{QStringLiteral("--help")} << false << 0 << usage << QString() << false;
    QTest::newRow("-h, no display") << QStringList{QStringLiteral("-h")} << false << 0 << usage << QString()
                                    << false;
    QTest::newRow("--version, no display")
        << QStringList{QStringLiteral("--version")} << false << 0 << version << QString() << false;
    QTest::newRow("-v, no display") << QStringList{QStringLiteral("-v")} << false << 0 << version << QString()
                                    << false;
    QTest::newRow("--help, display") << QStringList{QStringLiteral("--help")} << true << 0 << usage
                                     << QString() << false;
    QTest::newRow("--version, display")
        << QStringList{QStringLiteral("--version")} << true << 0 << version << QString() << false;
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--frobnicate")} << true << 2 << QString()
                                    << QStringLiteral("Unknown option 'frobnicate'") << false;
    QTest::newRow("unknown option, no display")
        << QStringList{QStringLiteral("--frobnicate")} << false << 2 << QString() << usage << false;
    QTest::newRow("stray argument") << QStringList{QStringLiteral("Berlin")} << true << 2 << QString()
                                    << QStringLiteral("Unexpected argument 'Berlin'") << false;
    QTest::newRow("help beside a bad option")
        << QStringList{QStringLiteral("--help"), QStringLiteral("--nope")} << true << 2 << QString() << usage
        << false;
    // What starts the widget still does: the running one is asked to re-open.
    QTest::newRow("no arguments") << QStringList{} << true << 0 << QString() << QString() << true;
    QTest::newRow("--autostart") << QStringList{QStringLiteral("--autostart")} << true << 0 << QString()
                                 << QString() << true;
    QTest::newRow("Qt's -platform") << QStringList{QStringLiteral("-platform"), QStringLiteral("offscreen")}
                                    << true << 0 << QString() << QString() << true;
    QTest::newRow("Qt's -platform, no display")
        << QStringList{QStringLiteral("-platform"), QStringLiteral("offscreen")} << false << 0 << QString()
        << QString() << true;
    // No X server: one line says so, and the process ends in order instead of aborting.
    QTest::newRow("no arguments, no display")
        << QStringList{} << false << 1 << QString()
        << QStringLiteral("no X server answers on (DISPLAY is not set)") << false;
}

void TestAppProcess::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, display);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(bool, reopened);

    // This test holds the running instance's name, as a running widget would, and counts the
    // requests to re-open.
    nimbara::SingleInstance running(nimbara::SingleInstance::defaultName(configFile()));
    QCOMPARE(running.start(), nimbara::SingleInstance::Role::Primary);
    int reopenRequests = 0;
    connect(&running, &nimbara::SingleInstance::reopenRequested, this,
            [&reopenRequests] { ++reopenRequests; });

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home->path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home->path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    if (display)
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(NIMBARA_EXECUTABLE), arguments);
    // The answer comes while the running instance's event loop turns.
    QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 20000);
    const QString stdoutText = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QString stderrText = QString::fromLocal8Bit(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), status);
    if (out.startsWith(QLatin1Char('^')))
        QVERIFY2(QRegularExpression(out).match(stdoutText).hasMatch(), qPrintable(stdoutText));
    else
        QVERIFY2(stdoutText.contains(out), qPrintable(stdoutText));
    if (status != 0)
        QVERIFY2(stdoutText.isEmpty(), qPrintable(stdoutText));
    if (!err.isEmpty())
        QVERIFY2(stderrText.contains(err), qPrintable(stderrText));
    if (status == 2)
        QVERIFY2(stderrText.contains(QStringLiteral("Usage: nimbara")), qPrintable(stderrText));
    QCoreApplication::processEvents();
    QCOMPARE(reopenRequests > 0, reopened);
}

QTEST_GUILESS_MAIN(TestAppProcess)
#include "tst_app_process.moc"
