#include "WidgetHome.h"
#include "virtual-pointer-client-protocol.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QWidget>

#include <wayland-client.h>

#include <csignal>
#include <cstring>
#include <unistd.h>

// The widget on sway (wlroots), headless, as a layer-shell surface: by grim's screenshots of the
// output and by the settings it leaves. sway refuses to run as root: as root it runs as nobody,
// with a runtime directory of its own.
namespace {
const QRect kFrame(100, 100, 720, 160);
const QColor kBackground(0x20, 0x40, 0x60);
const QColor kNormalWindow(0xc0, 0x30, 0x30);
// BTN_LEFT of linux/input-event-codes.h.
constexpr uint32_t kLeftButton = 0x110;

struct Sway
{
    QTemporaryDir dir;
    QString runtime;
    QString ipc;
    qint64 pid = 0;
    wl_display *display = nullptr;
    wl_registry *registry = nullptr;
    zwlr_virtual_pointer_manager_v1 *manager = nullptr;
    zwlr_virtual_pointer_v1 *pointer = nullptr;
};
Sway *g_sway = nullptr;

QProcessEnvironment clientEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("NIMBARA_PLATFORM"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), g_sway->runtime);
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-1"));
    env.insert(QStringLiteral("SWAYSOCK"), g_sway->ipc);
    return env;
}

bool swaymsg(const QStringList &command)
{
    QProcess process;
    process.setProcessEnvironment(clientEnvironment());
    process.start(QStringLiteral("swaymsg"), command);
    return process.waitForFinished(10000) && process.exitCode() == 0;
}

QImage screenshot(const QString &name = {})
{
    QProcess grim;
    grim.setProcessEnvironment(clientEnvironment());
    const QString file = g_sway->dir.filePath(QStringLiteral("shot.png"));
    grim.start(QStringLiteral("grim"), {file});
    if (!grim.waitForFinished(10000) || grim.exitCode() != 0)
        return {};
    QImage image(file);
    // Kept next to the test for a person to look at.
    if (!name.isEmpty())
        image.save(QStringLiteral("sway-%1.png").arg(name));
    return image;
}

// Pixels of the widget's white text within `area`: anything far brighter than the background.
int textPixels(const QImage &image, const QRect &area)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 200 && c.green() > 200 && c.blue() > 200)
                ++count;
        }
    }
    return count;
}

void registryGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        *static_cast<zwlr_virtual_pointer_manager_v1 **>(data) =
            static_cast<zwlr_virtual_pointer_manager_v1 *>(
                wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
}
void registryRemove(void *, wl_registry *, uint32_t) {}
const wl_registry_listener kRegistry{registryGlobal, registryRemove};

bool startSway()
{
    const QString runtime = g_sway->dir.filePath(QStringLiteral("run"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile::setPermissions(g_sway->dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                  QFile::ExeOther | QFile::ReadOther);
    g_sway->runtime = runtime;
    const QString config = g_sway->dir.filePath(QStringLiteral("sway.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("output HEADLESS-1 resolution 1280x800 position 0 0 bg #204060 solid_color\n"
               "xwayland disable\n"
               "default_border none\n"
               "seat seat0 hide_cursor 0\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);

    QStringList command{QStringLiteral("env"),
                        QStringLiteral("-i"),
                        QStringLiteral("PATH=/usr/bin:/bin"),
                        QStringLiteral("XDG_RUNTIME_DIR=") + runtime,
                        QStringLiteral("WLR_BACKENDS=headless"),
                        QStringLiteral("WLR_RENDERER=pixman"),
                        QStringLiteral("WLR_LIBINPUT_NO_DEVICES=1"),
                        QStringLiteral("HOME=") + g_sway->dir.path(),
                        QStringLiteral("sway"),
                        QStringLiteral("-c"),
                        config};
    if (::geteuid() == 0) {
        // sway refuses root: the compositor runs as nobody, in a runtime directory it owns.
        if (::chown(QFile::encodeName(runtime).constData(), 65534, 65534) != 0)
            return false;
        command = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                              QStringLiteral("--clear-groups")} +
                  command;
        command.prepend(QStringLiteral("setpriv"));
    }
    const QString program = command.takeFirst();
    if (!QProcess::startDetached(program, command, {}, &g_sway->pid))
        return false;
    // Bounded: the socket and the control socket appear within seconds.
    for (int wait = 0; wait < 200; ++wait) {
        const QStringList ipc = QDir(runtime).entryList({QStringLiteral("sway-ipc.*.sock")}, QDir::System);
        if (QFile::exists(runtime + QStringLiteral("/wayland-1")) && !ipc.isEmpty()) {
            g_sway->ipc = runtime + QLatin1Char('/') + ipc.first();
            break;
        }
        QThread::msleep(50);
    }
    if (g_sway->ipc.isEmpty())
        return false;

    // A pointer device of the test's own: without one the seat has no pointer for the cursor
    // commands to drive.
    g_sway->display =
        wl_display_connect(QFile::encodeName(runtime + QStringLiteral("/wayland-1")).constData());
    if (!g_sway->display)
        return false;
    g_sway->registry = wl_display_get_registry(g_sway->display);
    wl_registry_add_listener(g_sway->registry, &kRegistry, &g_sway->manager);
    wl_display_roundtrip(g_sway->display);
    if (!g_sway->manager)
        return false;
    g_sway->pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g_sway->manager, nullptr);
    wl_display_roundtrip(g_sway->display);
    return true;
}
} // namespace

class TestSway : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void locked_atSavedFrameBelowNormalWindows_settingsUntouched();
    void unlocked_dragMovesAndResizeKeepsProportion();
    void german_screenshot();

private:
    QProcess *startWidget(const QString &language = QStringLiteral("en_US.UTF-8"));
    void waitForText(const QRect &area);
    void terminate(QProcess *widget);
    void drag(const QPoint &from, const QPoint &to);
    std::unique_ptr<WidgetHome> m_home;
    QList<QProcess *> m_processes;
};

void TestSway::init()
{
    QVERIFY(swaymsg({QStringLiteral("seat"), QStringLiteral("-"), QStringLiteral("cursor"),
                     QStringLiteral("set"), QStringLiteral("1270"), QStringLiteral("790")}));
    m_home = std::make_unique<WidgetHome>(kFrame);
    QVERIFY(m_home->isValid());
}

void TestSway::cleanup()
{
    for (QProcess *process : std::as_const(m_processes)) {
        process->kill();
        process->waitForFinished();
        delete process;
    }
    m_processes.clear();
}

QProcess *TestSway::startWidget(const QString &language)
{
    auto process = new QProcess;
    QProcessEnvironment env = clientEnvironment();
    m_home->addTo(env);
    env.insert(QStringLiteral("LANG"), language);
    env.insert(QStringLiteral("LANGUAGE"), language.section(QLatin1Char('.'), 0, 0));
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QStringLiteral(NIMBARA_EXECUTABLE), {});
    m_processes.append(process);
    return process;
}

// Whether the widget's text shows within `area` and nowhere else (the cursor sits in the far
// corner, out of the count).
static bool textOnlyIn(const QRect &area)
{
    const QImage image = screenshot();
    const int inside = textPixels(image, area);
    return inside > 500 && textPixels(image, QRect(0, 0, 1240, 760)) == inside;
}

void TestSway::waitForText(const QRect &area)
{
    QTRY_VERIFY_WITH_TIMEOUT(textOnlyIn(area), 20000);
}

void TestSway::terminate(QProcess *widget)
{
    ::kill(static_cast<pid_t>(widget->processId()), SIGTERM);
    QVERIFY(widget->waitForFinished(20000));
    QCOMPARE(widget->exitCode(), 0);
}

void TestSway::drag(const QPoint &from, const QPoint &to)
{
    // Through the test's own pointer device, each event closed by a frame as a real device does
    // (clients wait for the frame before they act).
    zwlr_virtual_pointer_v1 *pointer = g_sway->pointer;
    uint32_t time = 1;
    const auto moveTo = [&](const QPoint &at) {
        zwlr_virtual_pointer_v1_motion_absolute(pointer, ++time, static_cast<uint32_t>(at.x()),
                                                static_cast<uint32_t>(at.y()), 1280, 800);
        zwlr_virtual_pointer_v1_frame(pointer);
        wl_display_roundtrip(g_sway->display);
        QTest::qWait(50);
    };
    const auto button = [&](bool pressed) {
        zwlr_virtual_pointer_v1_button(pointer, ++time, kLeftButton, pressed ? 1 : 0);
        zwlr_virtual_pointer_v1_frame(pointer);
        wl_display_roundtrip(g_sway->display);
        QTest::qWait(100);
    };
    moveTo(from);
    button(true);
    for (int step = 1; step <= 4; ++step)
        moveTo(from + (to - from) * step / 4);
    button(false);
    // Out of the way of the screenshots.
    moveTo(QPoint(1270, 790));
}

void TestSway::locked_atSavedFrameBelowNormalWindows_settingsUntouched()
{
    QProcess *widget = startWidget();
    QVERIFY(widget->waitForStarted());
    waitForText(kFrame);
    const QImage image = screenshot(QStringLiteral("locked"));
    // The text is at the saved frame; the background shows around it and through the box.
    QCOMPARE(image.pixelColor(kFrame.right() - 4, kFrame.bottom() - 4), kBackground);
    QCOMPARE(image.pixelColor(kFrame.topLeft() - QPoint(4, 4)), kBackground);

    // A normal window (sway tiles it over the whole output) covers the widget.
    QWidget normal;
    normal.setWindowTitle(QStringLiteral("normal"));
    QPalette palette;
    palette.setColor(QPalette::Window, kNormalWindow);
    normal.setPalette(palette);
    normal.setAutoFillBackground(true);
    normal.show();
    QTRY_COMPARE_WITH_TIMEOUT(screenshot().pixelColor(kFrame.center()), kNormalWindow, 20000);
    const QImage covered = screenshot(QStringLiteral("under-normal-window"));
    QCOMPARE(textPixels(covered, kFrame), 0);
    normal.hide();
    waitForText(kFrame);

    // Nothing sway did reaches the settings.
    terminate(widget);
    QCOMPARE(m_home->savedFrame(), QRectF(kFrame));
}

void TestSway::unlocked_dragMovesAndResizeKeepsProportion()
{
    QProcess *widget = startWidget();
    QVERIFY(widget->waitForStarted());
    waitForText(kFrame);
    // A second start toggles the lock of the running one and leaves.
    QProcess *again = startWidget();
    QVERIFY(again->waitForFinished(20000));
    QCOMPARE(again->exitCode(), 0);
    // Unlocked, the dark box shows behind the text.
    const QPoint boxPoint = kFrame.topLeft() + QPoint(4, 150);
    QTRY_VERIFY_WITH_TIMEOUT(screenshot().pixelColor(boxPoint).lightness() < kBackground.lightness() - 10,
                             20000);
    screenshot(QStringLiteral("unlocked"));

    // Dragged by the weather line: the surface follows.
    const QPoint by(150, 100);
    drag(kFrame.topLeft() + QPoint(300, 60), kFrame.topLeft() + QPoint(300, 60) + by);
    const QRect moved = kFrame.translated(by);
    const bool followed = QTest::qWaitFor([&moved] { return textOnlyIn(moved); }, 10000);
    screenshot(QStringLiteral("dragged"));
    QVERIFY(followed);

    // Resized by the right edge: wider, and taller in proportion.
    drag(QPoint(moved.right() - 1, moved.center().y()), QPoint(moved.right() - 1 + 90, moved.center().y()));
    QTest::qWait(300);
    screenshot(QStringLiteral("resized"));

    terminate(widget);
    const QRectF saved = m_home->savedFrame();
    QCOMPARE(saved.topLeft(), QPointF(moved.topLeft()));
    const qreal width = saved.width();
    const qreal height = saved.height();
    QVERIFY2(width > kFrame.width() + 60, qPrintable(QString::number(width)));
    QVERIFY2(qAbs(width / kFrame.width() * kFrame.height() - height) <= 1.0,
             qPrintable(QStringLiteral("%1 x %2").arg(width).arg(height)));
}

void TestSway::german_screenshot()
{
    QProcess *widget = startWidget(QStringLiteral("de_DE.UTF-8"));
    QVERIFY(widget->waitForStarted());
    waitForText(kFrame);
    QTest::qWait(300);
    screenshot(QStringLiteral("locked-de"));
    terminate(widget);
}

int main(int argc, char *argv[])
{
    for (const char *program : {"sway", "swaymsg", "grim", "setpriv"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
            qWarning("%s is missing", program);
            return 1;
        }
    }
    Sway sway;
    g_sway = &sway;
    int status = 1;
    if (startSway()) {
        // The test's own windows are ordinary Wayland windows on the same compositor.
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(sway.runtime));
        qputenv("WAYLAND_DISPLAY", "wayland-1");
        qputenv("QT_QPA_PLATFORM", "wayland");
        QApplication app(argc, argv);
        TestSway test;
        status = QTest::qExec(&test, argc, argv);
    } else {
        qWarning("sway did not start");
    }
    if (sway.pointer)
        zwlr_virtual_pointer_v1_destroy(sway.pointer);
    if (sway.manager)
        zwlr_virtual_pointer_manager_v1_destroy(sway.manager);
    if (sway.registry)
        wl_registry_destroy(sway.registry);
    if (sway.display)
        wl_display_disconnect(sway.display);
    if (sway.pid > 0) {
        ::kill(static_cast<pid_t>(sway.pid), SIGTERM);
        for (int wait = 0; wait < 100 && ::kill(static_cast<pid_t>(sway.pid), 0) == 0; ++wait)
            QThread::msleep(50);
    }
    return status;
}

#include "tst_sway.moc"
