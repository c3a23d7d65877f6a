#include "WidgetHome.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <QThread>

#include <csignal>
#include <unistd.h>

// The widget on GNOME's compositor (mutter, headless, with XWayland): mutter offers no layer shell,
// so the widget takes the XWayland path by itself and mutter honours its X11 hints there. Read
// from X11 properties.
namespace {
const QRect kFrame(100, 100, 720, 160);

struct Mutter
{
    QTemporaryDir dir;
    QString runtime;
    QString display;
    QString xauthority;
};
Mutter *g_mutter = nullptr;

QProcessEnvironment clientEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("NIMBARA_PLATFORM"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), g_mutter->runtime);
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-nimbara-test"));
    env.insert(QStringLiteral("DISPLAY"), g_mutter->display);
    env.insert(QStringLiteral("XAUTHORITY"), g_mutter->xauthority);
    return env;
}

QStringList run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessEnvironment(clientEnvironment());
    process.start(program, arguments);
    if (!process.waitForFinished(10000))
        return {};
    return QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The values of a property as xprop prints them: atom names, or window ids in hex.
QStringList propertyValues(const QStringList &target, const QString &name)
{
    const QString line = run(QStringLiteral("xprop"), target + QStringList{name}).value(0);
    QStringList values;
    static const QRegularExpression value(QStringLiteral("(0x[0-9a-f]+|_[A-Z_]+)"));
    // After "NAME(TYPE)": " = a, b" for atoms, ": window id # a, b" for windows.
    for (const auto &match : value.globalMatch(line.section(QLatin1Char(')'), 1)))
        values << match.captured(1);
    return values;
}
} // namespace

class TestMutter : public QObject
{
    Q_OBJECT

private slots:
    void xwaylandPath_atFrameBelowNormalWindow_settingsUntouched();
};

void TestMutter::xwaylandPath_atFrameBelowNormalWindow_settingsUntouched()
{
    const WidgetHome home(kFrame);
    QVERIFY(home.isValid());
    QProcess widget;
    QProcessEnvironment env = clientEnvironment();
    home.addTo(env);
    widget.setProcessEnvironment(env);
    widget.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    widget.start(QStringLiteral(NIMBARA_EXECUTABLE), {});
    QVERIFY(widget.waitForStarted());

    // The widget's window: the large one of the process.
    QString id;
    const auto findWidget = [&id, &widget] {
        const QStringList ids =
            run(QStringLiteral("xdotool"),
                {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                 QString::number(widget.processId()), QStringLiteral("--name"), QStringLiteral("^Nimbara$")});
        for (const QString &candidate : ids) {
            const QStringList shell = run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"),
                                                                      QStringLiteral("--shell"), candidate});
            if (shell.contains(QStringLiteral("WIDTH=%1").arg(kFrame.width())) &&
                shell.contains(QStringLiteral("HEIGHT=%1").arg(kFrame.height())) &&
                shell.contains(QStringLiteral("X=%1").arg(kFrame.x())) &&
                shell.contains(QStringLiteral("Y=%1").arg(kFrame.y()))) {
                id = candidate;
                return true;
            }
        }
        return false;
    };
    // At its frame, on XWayland, kept below.
    QVERIFY(QTest::qWaitFor(findWidget, 20000));
    QTRY_VERIFY_WITH_TIMEOUT(propertyValues({QStringLiteral("-id"), id}, QStringLiteral("_NET_WM_STATE"))
                                 .contains(QStringLiteral("_NET_WM_STATE_BELOW")),
                             10000);

    // A normal window over it stacks above it.
    QWidget normal;
    normal.setGeometry(50, 50, 600, 300);
    normal.show();
    QVERIFY(QTest::qWaitForWindowExposed(&normal));
    const auto hex = [](const QString &value) {
        return value.toULongLong(nullptr, 16);
    };
    const auto stackedBelow = [&] {
        const QStringList stacking =
            propertyValues({QStringLiteral("-root")}, QStringLiteral("_NET_CLIENT_LIST_STACKING"));
        qsizetype widgetAt = -1;
        qsizetype normalAt = -1;
        for (qsizetype i = 0; i < stacking.size(); ++i) {
            if (hex(stacking.at(i)) == id.toULongLong())
                widgetAt = i;
            if (hex(stacking.at(i)) == normal.winId())
                normalAt = i;
        }
        return widgetAt >= 0 && normalAt > widgetAt;
    };
    const bool below = QTest::qWaitFor(stackedBelow, 10000);
    QVERIFY2(below,
             qPrintable(propertyValues({QStringLiteral("-root")}, QStringLiteral("_NET_CLIENT_LIST_STACKING"))
                            .join(QLatin1Char(' '))));
    normal.close();

    ::kill(static_cast<pid_t>(widget.processId()), SIGTERM);
    QVERIFY(widget.waitForFinished(20000));
    QCOMPARE(home.savedFrame(), QRectF(kFrame));
}

int main(int argc, char *argv[])
{
    for (const char *program : {"mutter", "dbus-run-session", "Xwayland", "xdotool", "xprop"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
            qWarning("%s is missing", program);
            return 1;
        }
    }
    Mutter mutter;
    g_mutter = &mutter;
    mutter.runtime = mutter.dir.filePath(QStringLiteral("run"));
    QDir().mkpath(mutter.runtime);
    QFile::setPermissions(mutter.runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // A session bus of its own (mutter needs one), ended with it.
    QProcess compositor;
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
    env.insert(QStringLiteral("HOME"), mutter.dir.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), mutter.runtime);
    compositor.setProcessEnvironment(env);
    compositor.setProcessChannelMode(QProcess::MergedChannels);
    // A process group of its own: the bus, mutter and its XWayland end together.
    compositor.setChildProcessModifier([] { ::setpgid(0, 0); });
    compositor.start(QStringLiteral("dbus-run-session"),
                     {QStringLiteral("--"), QStringLiteral("mutter"), QStringLiteral("--headless"),
                      QStringLiteral("--wayland"), QStringLiteral("--virtual-monitor"),
                      QStringLiteral("1280x800"), QStringLiteral("--wayland-display"),
                      QStringLiteral("wayland-nimbara-test")});
    // mutter names the X display it gives XWayland; bounded.
    QByteArray output;
    const QRegularExpression displayLine(QStringLiteral("Using public X11 display (:\\d+)"));
    for (int wait = 0; wait < 60 && mutter.display.isEmpty(); ++wait) {
        compositor.waitForReadyRead(500);
        output += compositor.readAll();
        const auto match = displayLine.match(QString::fromUtf8(output));
        if (match.hasMatch())
            mutter.display = match.captured(1);
    }
    const QStringList auth =
        QDir(mutter.runtime)
            .entryList({QStringLiteral(".mutter-Xwaylandauth.*")}, QDir::Files | QDir::Hidden);
    int status = 1;
    if (mutter.display.isEmpty() || auth.isEmpty()) {
        qWarning("mutter did not start: %s", output.constData());
    } else {
        mutter.xauthority = mutter.runtime + QLatin1Char('/') + auth.first();
        // The test's own window is an ordinary X11 window on the same XWayland.
        qputenv("DISPLAY", mutter.display.toLatin1());
        qputenv("XAUTHORITY", QFile::encodeName(mutter.xauthority));
        qputenv("QT_QPA_PLATFORM", "xcb");
        QApplication app(argc, argv);
        TestMutter test;
        status = QTest::qExec(&test, argc, argv);
    }
    const auto group = static_cast<pid_t>(-compositor.processId());
    ::kill(group, SIGTERM);
    if (!compositor.waitForFinished(10000))
        ::kill(group, SIGKILL);
    compositor.waitForFinished();
    // The bus and XWayland may outlive the session's leader by a moment.
    for (int wait = 0; wait < 100 && ::kill(group, 0) == 0; ++wait)
        QThread::msleep(50);
    ::kill(group, SIGKILL);
    return status;
}

#include "tst_mutter.moc"
