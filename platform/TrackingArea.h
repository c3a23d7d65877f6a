#pragma once

#include <QFlags>
#include <QObject>
#include <QPointer>
#include <QRect>

class QPointF;
class QTimer;
#include <QWidget>

namespace nimbara {

// A rectangle of a view that reports the pointer entering and leaving it. The rectangle is in the
// view's own coordinates. The reports come from the view's top-level window as the window system
// delivers them (pointer motion, enter and leave of the window), so they arrive whether or not any
// widget tracks the mouse and, with ActiveAlways, whether or not the application is active. Over the
// holes of a shaped window, which get no events, the pointer's position is followed while it stays
// inside the rectangle, so that it can cross from one shown part to another.
class TrackingArea : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TrackingArea)

public:
    enum Option {
        MouseEnteredAndExited = 0x01,
        ActiveAlways = 0x80,
    };
    Q_DECLARE_FLAGS(Options, Option)

    // Adds the area to `view`; `owner` receives the reports and owns the area.
    TrackingArea(const QRect &rect, Options options, QObject *owner, QWidget *view);
    ~TrackingArea() override;

    QRect rect() const { return m_rect; }
    void setRect(const QRect &rect);
    Options options() const { return m_options; }
    QWidget *view() const { return m_view; }
    bool isInside() const { return m_inside; }

signals:
    void mouseEntered();
    void mouseExited();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

    // How often the pointer's position is read while it crosses a hole of a shaped window.
    static constexpr int kFollowMilliseconds = 50;

private:
    void update(bool pointerInWindow, const QPointF &globalPosition);
    // True while the pointer, off the window, is over one of its holes inside the rectangle; then
    // its position is read again shortly.
    bool followThroughShape();

    QRect m_rect;
    const Options m_options;
    const QPointer<QWidget> m_view;
    QTimer *const m_follow;
    bool m_inside = false;
};

} // namespace nimbara

Q_DECLARE_OPERATORS_FOR_FLAGS(nimbara::TrackingArea::Options)
