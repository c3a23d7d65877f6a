#include "TrackingArea.h"

#include <QCursor>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace nimbara {

TrackingArea::TrackingArea(const QRect &rect, Options options, QObject *owner, QWidget *view)
    : QObject(owner)
    , m_rect(rect)
    , m_options(options)
    , m_view(view)
    , m_follow(new QTimer(this))
{
    m_follow->setInterval(kFollowMilliseconds);
    connect(m_follow, &QTimer::timeout, this, [this] {
        if (!followThroughShape())
            update(false, {});
    });
    // The window's own events, before any widget sees them: an application filter also gets the
    // pointer motion that no widget asked for.
    qApp->installEventFilter(this);
}

TrackingArea::~TrackingArea()
{
    qApp->removeEventFilter(this);
}

void TrackingArea::setRect(const QRect &rect)
{
    m_rect = rect;
}

bool TrackingArea::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseMove && type != QEvent::Enter && type != QEvent::Leave)
        return false;
    if (!m_view || !watched->isWindowType() || watched != m_view->window()->windowHandle())
        return false;
    // The window's events come again: nothing to follow by hand.
    m_follow->stop();
    if (type == QEvent::Leave) {
        if (!followThroughShape())
            update(false, {});
    } else if (type == QEvent::Enter) {
        update(true, static_cast<QEnterEvent *>(event)->globalPosition());
    } else {
        update(true, static_cast<QMouseEvent *>(event)->globalPosition());
    }
    return false;
}

bool TrackingArea::followThroughShape()
{
    // A shaped window gets no pointer events over its holes (the X server clips its input to what
    // it shows), so the pointer leaves the window between two letters while it is still inside the
    // rectangle. Until it comes back onto the window or leaves the rectangle, its position is read
    // from the window system instead.
    if (!m_inside || !m_view || m_view->window()->mask().isEmpty() || !m_view->isVisible())
        return false;
    if (!m_rect.contains(m_view->mapFromGlobal(QCursor::pos())))
        return false;
    m_follow->start();
    return true;
}

void TrackingArea::update(bool pointerInWindow, const QPointF &globalPosition)
{
    const bool inside = pointerInWindow && m_view->isVisible() &&
                        m_rect.contains(m_view->mapFromGlobal(globalPosition).toPoint());
    if (inside == m_inside)
        return;
    m_inside = inside;
    if (!(m_options & MouseEnteredAndExited))
        return;
    if (!(m_options & ActiveAlways) && QGuiApplication::applicationState() != Qt::ApplicationActive)
        return;
    if (inside)
        emit mouseEntered();
    else
        emit mouseExited();
}

} // namespace nimbara
