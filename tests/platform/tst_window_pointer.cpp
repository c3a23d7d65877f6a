#include "MoveResizeHandler.h"
#include "TrackingArea.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <memory>

#include <xcb/xcb.h>

using namespace nimbara;

// The pointer on a frameless window under a real X server without a window manager: a hover
// rectangle fed by real pointer motion (the pointer is warped), dragging by the background and
// resizing from the edges (presses and drags enter through the window, as the window system's do).
class TestWindowPointer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void trackingArea_reportsEnterAndExitOfItsRect();
    void trackingArea_optionsAndActivation_data();
    void trackingArea_optionsAndActivation();

    void move_byBackgroundOnlyWhileMovable_data();
    void move_byBackgroundOnlyWhileMovable();
    void resize_fromEdgesKeepsProportion_data();
    void resize_fromEdgesKeepsProportion();
    void resize_notWhileNotResizable();

private:
    void show(bool active);
    // Warps the real pointer to a point of the window.
    void pointerTo(const QPoint &windowPosition) { QCursor::setPos(m_window->mapToGlobal(windowPosition)); }
    void drag(const QPoint &from, const QPoint &by);

    std::unique_ptr<QWidget> m_window;
    QWidget *m_box = nullptr;
    QPushButton *m_button = nullptr;
};

void TestWindowPointer::init()
{
    QCursor::setPos(0, 0);
    m_window = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
    m_window->setGeometry(100, 100, 300, 200);
    m_box = new QWidget(m_window.get());
    m_box->setGeometry(20, 20, 200, 100);
    m_button = new QPushButton(m_box);
    m_button->setGeometry(150, 60, 40, 30);
}

void TestWindowPointer::cleanup()
{
    m_window.reset();
}

void TestWindowPointer::show(bool active)
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    if (!active) {
        // Another client takes the keyboard focus away, as a click on another application would.
        auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
        QVERIFY(x11);
        xcb_set_input_focus(x11->connection(), XCB_INPUT_FOCUS_NONE, XCB_NONE, XCB_CURRENT_TIME);
        xcb_flush(x11->connection());
        QTRY_COMPARE(QGuiApplication::applicationState(), Qt::ApplicationInactive);
    }
}

void TestWindowPointer::drag(const QPoint &from, const QPoint &by)
{
    QWindow *handle = m_window->windowHandle();
    const QPoint start = handle->mapToGlobal(from);
    // The window moves under the pointer during the drag: every step is placed in screen space.
    const auto local = [handle](const QPoint &global) {
        return handle->mapFromGlobal(global);
    };
    QTest::mousePress(handle, Qt::LeftButton, {}, local(start));
    QTest::mouseMove(handle, local(start + by / 2));
    QTest::mouseMove(handle, local(start + by));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, local(start + by));
}

void TestWindowPointer::trackingArea_reportsEnterAndExitOfItsRect()
{
    auto *area =
        new TrackingArea(m_box->rect(), TrackingArea::MouseEnteredAndExited | TrackingArea::ActiveAlways,
                         m_window.get(), m_box);
    QCOMPARE(int(area->options()), 0x81);
    QSignalSpy entered(area, &TrackingArea::mouseEntered);
    QSignalSpy exited(area, &TrackingArea::mouseExited);
    show(false);

    // The X server delivers the motion in order, so a count checked after a later report also
    // holds for the moves before it.
    pointerTo({5, 5}); // the window's margin, outside the box
    pointerTo({60, 60});
    QTRY_COMPARE(entered.count(), 1);
    QCOMPARE(exited.count(), 0);
    pointerTo(m_button->mapTo(m_window.get(), QPoint(10, 10))); // a child inside the box stays inside
    pointerTo({260, 150});
    QTRY_COMPARE(exited.count(), 1);
    QCOMPARE(entered.count(), 1);
    pointerTo({100, 100});
    QTRY_COMPARE(entered.count(), 2);
    // Out of the window altogether.
    pointerTo({-50, -50});
    QTRY_COMPARE(exited.count(), 2);
    QVERIFY(!area->isInside());
}

void TestWindowPointer::trackingArea_optionsAndActivation_data()
{
    QTest::addColumn<int>("options");
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("reports");
    QTest::newRow("0x81, application inactive") << 0x81 << false << true;
    QTest::newRow("0x81, application active") << 0x81 << true << true;
    QTest::newRow("0x01, application inactive") << 0x01 << false << false;
    QTest::newRow("0x01, application active") << 0x01 << true << true;
    QTest::newRow("0x80 reports nothing") << 0x80 << true << false;
}

void TestWindowPointer::trackingArea_optionsAndActivation()
{
    QFETCH(int, options);
    QFETCH(bool, active);
    QFETCH(bool, reports);
    auto *area = new TrackingArea(m_box->rect(), TrackingArea::Options(options), m_window.get(), m_box);
    QSignalSpy entered(area, &TrackingArea::mouseEntered);
    QSignalSpy exited(area, &TrackingArea::mouseExited);
    show(active);
    QTRY_COMPARE(QGuiApplication::applicationState() == Qt::ApplicationActive, active);
    pointerTo({60, 60});
    QTRY_VERIFY(area->isInside());
    pointerTo({260, 150});
    QTRY_VERIFY(!area->isInside());
    QCOMPARE(entered.count(), reports ? 1 : 0);
    QCOMPARE(exited.count(), reports ? 1 : 0);
}

void TestWindowPointer::move_byBackgroundOnlyWhileMovable_data()
{
    QTest::addColumn<bool>("movable");
    QTest::addColumn<bool>("byBackground");
    QTest::addColumn<bool>("onButton");
    QTest::addColumn<bool>("moves");
    QTest::newRow("unlocked, background") << true << true << false << true;
    QTest::newRow("unlocked, press on a button") << true << true << true << false;
    QTest::newRow("movable, not by background") << true << false << false << false;
    QTest::newRow("locked") << false << false << false << false;
}

void TestWindowPointer::move_byBackgroundOnlyWhileMovable()
{
    QFETCH(bool, movable);
    QFETCH(bool, byBackground);
    QFETCH(bool, onButton);
    QFETCH(bool, moves);
    auto *handler = new MoveResizeHandler(m_window.get());
    handler->setMovable(movable);
    handler->setMovableByWindowBackground(byBackground);
    show(true);
    const QRect before = m_window->geometry();

    // No window manager runs, so the handler moves the window itself.
    const QPoint from = onButton ? m_button->mapTo(m_window.get(), QPoint(10, 10)) : QPoint(100, 150);
    drag(from, {30, -20});
    QCOMPARE(m_window->geometry(), moves ? before.translated(30, -20) : before);
}

void TestWindowPointer::resize_fromEdgesKeepsProportion_data()
{
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("by");
    QTest::addColumn<QRect>("expected");
    // The window is 300 x 200 at (100, 100); the proportion kept is 3:2.
    QTest::newRow("right edge") << QPoint(298, 100) << QPoint(60, 5) << QRect(100, 100, 360, 240);
    QTest::newRow("left edge, right stays") << QPoint(1, 100) << QPoint(-30, 0) << QRect(70, 100, 330, 220);
    QTest::newRow("bottom edge") << QPoint(150, 198) << QPoint(0, -50) << QRect(100, 100, 225, 150);
    QTest::newRow("top-left corner, bottom-right stays")
        << QPoint(2, 2) << QPoint(-60, -10) << QRect(40, 60, 360, 240);
    QTest::newRow("bottom-right corner, height leads")
        << QPoint(298, 198) << QPoint(0, 100) << QRect(100, 100, 450, 300);
    QTest::newRow("shrinks no further than the minimum")
        << QPoint(298, 100) << QPoint(-290, 0) << QRect(100, 100, 60, 40);
}

void TestWindowPointer::resize_fromEdgesKeepsProportion()
{
    QFETCH(QPoint, from);
    QFETCH(QPoint, by);
    QFETCH(QRect, expected);
    m_window->setMinimumSize(60, 30);
    auto *handler = new MoveResizeHandler(m_window.get());
    handler->setMovable(true);
    handler->setMovableByWindowBackground(true);
    handler->setResizable(true);
    handler->setAspectRatio(QSizeF(300, 200));
    QList<QSizeF> proposals;
    handler->setResizeFilter([&proposals](const QSizeF &size) {
        proposals.append(size);
        return size;
    });
    show(true);

    drag(from, by);
    QCOMPARE(m_window->geometry(), expected);
    QCOMPARE(proposals.size(), 2);
    QCOMPARE(proposals.last(), QSizeF(expected.size()));
}

void TestWindowPointer::resize_notWhileNotResizable()
{
    auto *handler = new MoveResizeHandler(m_window.get());
    handler->setAspectRatio(QSizeF(3, 2));
    show(true);
    const QRect before = m_window->geometry();
    drag({298, 100}, {60, 0});
    QCOMPARE(m_window->geometry(), before);
    QCOMPARE(handler->edgesAt({298, 100}), Qt::Edges());
    handler->setResizable(true);
    QCOMPARE(handler->edgesAt({298, 100}), Qt::Edges(Qt::RightEdge));
    QCOMPARE(handler->edgesAt({1, 199}), Qt::Edges(Qt::LeftEdge | Qt::BottomEdge));
    QCOMPARE(handler->edgesAt({150, 100}), Qt::Edges());
}

QTEST_MAIN(TestWindowPointer)
#include "tst_window_pointer.moc"
