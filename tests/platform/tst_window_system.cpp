#include "WindowSystem.h"

#include <QTest>

using namespace nimbara;

// The choice of the display server at start, from the environment a user's session gives. The
// layer-shell answer of a real compositor is tested on sway (tests/desktops).
class TestWindowSystem : public QObject
{
    Q_OBJECT

private slots:
    void choice_data();
    void choice();
};

void TestWindowSystem::choice_data()
{
    QTest::addColumn<QByteArray>("forced");
    QTest::addColumn<QByteArray>("qpa");
    QTest::addColumn<QByteArray>("waylandDisplay");
    QTest::addColumn<QByteArray>("expectedQpa");
    QTest::addColumn<bool>("bypass");

    // No compositor answers at this name.
    const QByteArray nowhere = "nimbara-no-such-compositor";
    QTest::newRow("X11 session") << QByteArray() << QByteArray() << QByteArray() << QByteArray("xcb")
                                 << false;
    QTest::newRow("Wayland without layer shell: XWayland")
        << QByteArray() << QByteArray() << nowhere << QByteArray("xcb") << false;
    QTest::newRow("user's Qt platform stays")
        << QByteArray() << QByteArray("offscreen") << nowhere << QByteArray("offscreen") << false;
    QTest::newRow("forced x11 over the user's Qt platform")
        << QByteArray("x11") << QByteArray("wayland") << nowhere << QByteArray("xcb") << false;
    QTest::newRow("forced wayland without layer shell: ordinary window")
        << QByteArray(" Wayland ") << QByteArray() << nowhere << QByteArray("wayland") << false;
    QTest::newRow("unknown value: chosen by the session")
        << QByteArray("mir") << QByteArray() << nowhere << QByteArray("xcb") << false;
}

void TestWindowSystem::choice()
{
    QFETCH(QByteArray, forced);
    QFETCH(QByteArray, qpa);
    QFETCH(QByteArray, waylandDisplay);
    QFETCH(QByteArray, expectedQpa);
    QFETCH(bool, bypass);
    const auto set = [](const char *name, const QByteArray &value) {
        if (value.isEmpty())
            qunsetenv(name);
        else
            qputenv(name, value);
    };
    set("NIMBARA_PLATFORM", forced);
    set("QT_QPA_PLATFORM", qpa);
    set("WAYLAND_DISPLAY", waylandDisplay);
    qunsetenv("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT");

    const WindowSystem chosen = chooseWindowSystem();
    QCOMPARE(qgetenv("QT_QPA_PLATFORM"), expectedQpa);
    QCOMPARE(chosen, expectedQpa == "wayland" ? WindowSystem::Wayland : WindowSystem::X11);
    QCOMPARE(qEnvironmentVariableIsSet("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT"), bypass);
}

QTEST_GUILESS_MAIN(TestWindowSystem)
#include "tst_window_system.moc"
