#include "PrivateXServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {
const QRect kFrame(100, 100, 720, 160);

QStringList run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000))
        return {};
    return QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
} // namespace

// The real executable under a tiling window manager (i3) on an X server of this test's own: the
// manager's placement of the widget never reaches the settings.
class TestTilingManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void managerPlacement_isNotSaved();

private:
    QProcess *startWidget();
    QString widgetWindow(qint64 pid) const;
    QSettings settings() const
    {
        return QSettings(m_home->filePath(QStringLiteral("config/Nimbara/Nimbara.conf")),
                         QSettings::IniFormat);
    }

    std::unique_ptr<QTemporaryDir> m_home;
    QList<QProcess *> m_processes;
};

void TestTilingManager::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QSettings saved = settings();
    saved.setValue(QStringLiteral("initialized"), true);
    saved.setValue(QStringLiteral("originX"), float(kFrame.x()));
    saved.setValue(QStringLiteral("originY"), float(kFrame.y()));
    saved.setValue(QStringLiteral("sizeWidth"), float(kFrame.width()));
    saved.setValue(QStringLiteral("sizeHeight"), float(kFrame.height()));
    for (const char *key : {"locationEnabled", "textAlign", "dateEnabled", "celsius", "whiteColor"})
        saved.setValue(QString::fromLatin1(key), true);
    saved.setValue(QStringLiteral("positionSource"), QStringLiteral("fixed:51.5074,-0.1278"));
    saved.sync();
    QCOMPARE(saved.status(), QSettings::NoError);
}

void TestTilingManager::cleanup()
{
    for (QProcess *process : std::as_const(m_processes)) {
        process->kill();
        process->waitForFinished();
        delete process;
    }
    m_processes.clear();
}

QProcess *TestTilingManager::startWidget()
{
    auto process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home->path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(QStringLiteral(NIMBARA_EXECUTABLE), {});
    m_processes.append(process);
    return process;
}

QString TestTilingManager::widgetWindow(qint64 pid) const
{
    const QStringList ids =
        run(QStringLiteral("xdotool"),
            {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
             QString::number(pid), QStringLiteral("--name"), QStringLiteral("^Nimbara$")});
    return ids.isEmpty() ? QString() : ids.first();
}

void TestTilingManager::managerPlacement_isNotSaved()
{
    QProcess *widget = startWidget();
    QVERIFY(widget->waitForStarted());
    QString id;
    QTRY_VERIFY_WITH_TIMEOUT(!(id = widgetWindow(widget->processId())).isEmpty(), 20000);
    // The manager has placed the window by the time it is mapped; let its last words arrive.
    QTest::qWait(500);

    ::kill(static_cast<pid_t>(widget->processId()), SIGTERM);
    QVERIFY(widget->waitForFinished(20000));
    QCOMPARE(widget->exitCode(), 0);
    const QSettings saved = settings();
    QCOMPARE(saved.value(QStringLiteral("originX")).toFloat(), float(kFrame.x()));
    QCOMPARE(saved.value(QStringLiteral("originY")).toFloat(), float(kFrame.y()));
    QCOMPARE(saved.value(QStringLiteral("sizeWidth")).toFloat(), float(kFrame.width()));
    QCOMPARE(saved.value(QStringLiteral("sizeHeight")).toFloat(), float(kFrame.height()));
}

int main(int argc, char *argv[])
{
    for (const char *program : {"Xvfb", "i3", "xdotool"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
            qWarning("%s is missing", program);
            return 1;
        }
    }
    QTemporaryDir config;
    QFile file(config.filePath(QStringLiteral("i3.conf")));
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    // No bar, no wizard: the manager alone.
    file.write("font pango:DejaVu Sans 8\n");
    file.close();

    PrivateXServer server;
    if (!server.start(QSize(1280, 800)))
        return 1;
    int status = 1;
    {
        QCoreApplication app(argc, argv);
        QProcess manager;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), config.path());
        manager.setProcessEnvironment(env);
        manager.start(QStringLiteral("i3"), {QStringLiteral("-c"), file.fileName()});
        if (!server.waitForWindowManager())
            return 1;
        TestTilingManager test;
        status = QTest::qExec(&test, argc, argv);
        manager.terminate();
        manager.waitForFinished();
    }
    return status;
}

#include "tst_tiling_manager.moc"
