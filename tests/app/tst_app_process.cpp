#include <QDir>
#include <QFile>
#include <QProcess>
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

QTEST_GUILESS_MAIN(TestAppProcess)
#include "tst_app_process.moc"
