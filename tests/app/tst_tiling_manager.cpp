#include "PrivateXServer.h"
#include "ProgramOutput.h"
#include "WidgetHome.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QWidget>

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

const QColor kTiled(0xc0, 0x30, 0x30);

// Pixels of the widget's white text within `area` of the screen.
int textPixels(const QRect &area)
{
    const QImage image = QGuiApplication::primaryScreen()
                             ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                             .toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 200 && c.green() > 200 && c.blue() > 200)
                ++count;
        }
    }
    return count;
}

} // namespace

// The real executable under a tiling window manager (i3) on an X server of this test's own: the
// widget stays at its frame, undecorated, below the tiled windows, on every workspace, and the
// manager's doings never reach the settings.
class TestTilingManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void managerPlacement_isNotSaved();
    void atFrameBelowTiledWindowsOnEveryWorkspace();

private:
    QProcess *startWidget();
    QString widgetWindow(qint64 pid) const;
    static QRect geometryOf(const QString &id);
    std::unique_ptr<WidgetHome> m_home;
    QList<QProcess *> m_processes;
};

void TestTilingManager::init()
{
    m_home = std::make_unique<WidgetHome>(kFrame);
    QVERIFY(m_home->isValid());
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
    m_home->addTo(env);
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
    // The widget, not the small windows of the same name (a tray icon's, for one).
    const QStringList ids =
        programOutput(QStringLiteral("xdotool"),
                      {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                       QString::number(pid), QStringLiteral("--name"), QStringLiteral("^Nimbara$")});
    for (const QString &id : ids) {
        if (geometryOf(id).width() > 100)
            return id;
    }
    return {};
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
    QCOMPARE(m_home->savedFrame(), QRectF(kFrame));
}

QRect TestTilingManager::geometryOf(const QString &id)
{
    QMap<QString, int> values;
    for (const QString &line : programOutput(
             QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id}))
        values.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1).toInt());
    return {values.value(QStringLiteral("X")), values.value(QStringLiteral("Y")),
            values.value(QStringLiteral("WIDTH")), values.value(QStringLiteral("HEIGHT"))};
}

void TestTilingManager::atFrameBelowTiledWindowsOnEveryWorkspace()
{
    QProcess *widget = startWidget();
    QVERIFY(widget->waitForStarted());
    QString id;
    QTRY_VERIFY_WITH_TIMEOUT(!(id = widgetWindow(widget->processId())).isEmpty(), 20000);
    // At its frame, not in a frame of the manager's.
    QTRY_COMPARE_WITH_TIMEOUT(geometryOf(id), kFrame, 10000);
    const QStringList tree =
        programOutput(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id, QStringLiteral("-tree")});
    QVERIFY2(tree.filter(QStringLiteral("Parent window id"))
                 .value(0)
                 .contains(QStringLiteral("(the root window)")),
             qPrintable(tree.join(QLatin1Char('\n'))));
    QTRY_VERIFY_WITH_TIMEOUT(textPixels(kFrame) > 500, 20000);

    // A tiled window fills the workspace, over the widget.
    QWidget tiled;
    QPalette palette;
    palette.setColor(QPalette::Window, kTiled);
    tiled.setPalette(palette);
    tiled.setAutoFillBackground(true);
    tiled.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tiled));
    QTRY_VERIFY_WITH_TIMEOUT(tiled.width() > 1000, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(textPixels(kFrame), 0, 10000);

    // On another workspace, with nothing tiled there, the widget shows.
    QVERIFY(!programOutput(QStringLiteral("i3-msg"), {QStringLiteral("workspace"), QStringLiteral("2")})
                 .isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(textPixels(kFrame) > 500, 10000);
    programOutput(QStringLiteral("i3-msg"), {QStringLiteral("workspace"), QStringLiteral("1")});
    QTRY_COMPARE_WITH_TIMEOUT(textPixels(kFrame), 0, 10000);
    tiled.close();

    ::kill(static_cast<pid_t>(widget->processId()), SIGTERM);
    QVERIFY(widget->waitForFinished(20000));
}

int main(int argc, char *argv[])
{
    for (const char *program : {"Xvfb", "i3", "i3-msg", "xdotool", "xwininfo"}) {
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
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), config.path());
    return PrivateXServer::execUnderWindowManager<TestTilingManager>(
        argc, argv, QStringLiteral("i3"), {QStringLiteral("-c"), file.fileName()}, env);
}

#include "tst_tiling_manager.moc"
