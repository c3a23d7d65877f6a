#include "Compositing.h"
#include "WindowLevel.h"
#include "X11.h"

#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <xcb/xcb.h>

using namespace nimbara;

// On a real X server (the Xvfb of scripts/test.sh): what the window manager gets to read.
class TestWindowLevel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void level_setsKeepBelowSkipTaskbarAllDesktops();
    void level_survivesCloseAndShow();
    void translucency_followsCompositingManager();
    void compositingMonitor_reportsOwnerChanges();
};

void TestWindowLevel::initTestCase()
{
    if (!x11::connection())
        QSKIP("needs an X server");
}

void TestWindowLevel::level_setsKeepBelowSkipTaskbarAllDesktops()
{
    QWidget window;
    window.resize(200, 60);
    applyWindowLevel(&window, desktopIconWindowLevel() - 1);
    QCOMPARE(appliedWindowLevel(&window), 17);
    QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const auto id = static_cast<std::uint32_t>(window.winId());
    const auto states = x11::property32(id, "_NET_WM_STATE");
    QVERIFY(states);
    for (const char *state :
         {"_NET_WM_STATE_BELOW", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"})
        QVERIFY2(states->contains(x11::atom(state)), state);
    QCOMPARE(x11::property32(id, "_NET_WM_DESKTOP"), QList<std::uint32_t>{0xFFFFFFFF});

    // Unlocked and locked again: the flags stay, the window is not re-created.
    applyWindowLevel(&window, desktopIconWindowLevel() + 1);
    QCOMPARE(appliedWindowLevel(&window), 19);
    QCOMPARE(static_cast<std::uint32_t>(window.winId()), id);
    QVERIFY(window.isVisible());
    applyWindowLevel(&window, desktopIconWindowLevel() - 1);
    QVERIFY(window.isVisible());
}

void TestWindowLevel::level_survivesCloseAndShow()
{
    // A window manager drops _NET_WM_STATE when a window is withdrawn; the hints come back at show.
    QWidget window;
    window.resize(200, 60);
    applyWindowLevel(&window, 17);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.close();
    const auto id = static_cast<std::uint32_t>(window.winId());
    x11::setProperty32(id, "_NET_WM_STATE", "ATOM", {});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(x11::property32(id, "_NET_WM_STATE")->contains(x11::atom("_NET_WM_STATE_SKIP_TASKBAR")));
}

void TestWindowLevel::translucency_followsCompositingManager()
{
    xcb_connection_t *c = x11::connection();
    const QByteArray selection = "_NET_WM_CM_S" + QByteArray::number(x11::defaultScreen());
    // The bare Xvfb composes nothing.
    xcb_set_selection_owner(c, XCB_WINDOW_NONE, x11::atom(selection), XCB_CURRENT_TIME);
    xcb_flush(c);
    QVERIFY(!translucencyAvailable());

    // A compositing manager announces itself by owning the selection.
    QWidget owner;
    owner.winId();
    xcb_set_selection_owner(c, static_cast<xcb_window_t>(owner.winId()), x11::atom(selection),
                            XCB_CURRENT_TIME);
    xcb_flush(c);
    QVERIFY(translucencyAvailable());
    xcb_set_selection_owner(c, XCB_WINDOW_NONE, x11::atom(selection), XCB_CURRENT_TIME);
    xcb_flush(c);
    QVERIFY(!translucencyAvailable());
}

void TestWindowLevel::compositingMonitor_reportsOwnerChanges()
{
    xcb_connection_t *c = x11::connection();
    const std::uint32_t selection = x11::atom("_NET_WM_CM_S" + QByteArray::number(x11::defaultScreen()));
    xcb_set_selection_owner(c, XCB_WINDOW_NONE, selection, XCB_CURRENT_TIME);
    xcb_flush(c);
    CompositingMonitor monitor;
    QVERIFY(!monitor.isTranslucent());
    QSignalSpy changes(&monitor, &CompositingMonitor::translucencyChanged);

    // A manager starts, as another client: the notice arrives without anyone asking.
    xcb_connection_t *manager = xcb_connect(nullptr, nullptr);
    QVERIFY(!xcb_connection_has_error(manager));
    const xcb_window_t window = xcb_generate_id(manager);
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(manager)).data;
    xcb_create_window(manager, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(manager, window, selection, XCB_CURRENT_TIME);
    xcb_flush(manager);
    QTRY_COMPARE(changes.size(), 1);
    QCOMPARE(changes.at(0).at(0).toBool(), true);
    QVERIFY(monitor.isTranslucent());

    // It ends without letting go of the selection (a crash, a kill): its connection closes.
    xcb_disconnect(manager);
    QTRY_COMPARE(changes.size(), 2);
    QCOMPARE(changes.at(1).at(0).toBool(), false);
    QVERIFY(!monitor.isTranslucent());
}

QTEST_MAIN(TestWindowLevel)
#include "tst_window_level.moc"
