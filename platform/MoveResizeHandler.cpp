#include "MoveResizeHandler.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace nimbara {

MoveResizeHandler::MoveResizeHandler(QWidget *window)
    : QObject(window)
    , m_window(window)
{
    // Presses and drags that the children leave to the window reach it through the widget; the
    // pointer's motion over the children (for the cursor) only through the window's own handle.
    qApp->installEventFilter(this);
}

MoveResizeHandler::~MoveResizeHandler()
{
    qApp->removeEventFilter(this);
}

void MoveResizeHandler::setMovable(bool movable)
{
    m_movable = movable;
    if (!movable)
        m_systemMove = false;
}

void MoveResizeHandler::setMovableByWindowBackground(bool movable)
{
    m_movableByBackground = movable;
}

void MoveResizeHandler::setResizable(bool resizable)
{
    m_resizable = resizable;
    if (!resizable && m_drag == Drag::Resize)
        m_drag = Drag::None;
    if (!resizable && m_cursorSet && m_window) {
        m_window->unsetCursor();
        m_cursorSet = false;
    }
}

void MoveResizeHandler::setAspectRatio(const QSizeF &ratio)
{
    m_aspectRatio = ratio;
}

void MoveResizeHandler::setResizeFilter(ResizeFilter filter)
{
    m_filter = std::move(filter);
}

Qt::Edges MoveResizeHandler::edgesAt(const QPoint &position) const
{
    Qt::Edges edges;
    if (!m_resizable || !m_window)
        return edges;
    const QRect inner = m_window->rect().adjusted(edgeMargin, edgeMargin, -edgeMargin, -edgeMargin);
    if (!m_window->rect().contains(position) || inner.contains(position))
        return edges;
    if (position.x() < inner.left())
        edges |= Qt::LeftEdge;
    if (position.x() > inner.right())
        edges |= Qt::RightEdge;
    if (position.y() < inner.top())
        edges |= Qt::TopEdge;
    if (position.y() > inner.bottom())
        edges |= Qt::BottomEdge;
    return edges;
}

QRect MoveResizeHandler::resizedGeometry(const QRect &start, Qt::Edges edges, const QPoint &delta) const
{
    QSizeF proposed = start.size();
    if (edges & Qt::LeftEdge)
        proposed.rwidth() -= delta.x();
    if (edges & Qt::RightEdge)
        proposed.rwidth() += delta.x();
    if (edges & Qt::TopEdge)
        proposed.rheight() -= delta.y();
    if (edges & Qt::BottomEdge)
        proposed.rheight() += delta.y();
    const QSize minimum = m_window ? m_window->minimumSize().expandedTo(QSize(1, 1)) : QSize(1, 1);
    if (!m_aspectRatio.isEmpty()) {
        const qreal ratio = m_aspectRatio.width() / m_aspectRatio.height();
        // A side edge drives the width, the top or bottom edge the height, a corner whichever gives
        // the larger frame, so that the frame follows the pointer.
        const bool byHeight =
            !(edges & (Qt::LeftEdge | Qt::RightEdge)) ||
            ((edges & (Qt::TopEdge | Qt::BottomEdge)) && proposed.height() * ratio > proposed.width());
        if (byHeight)
            proposed.setWidth(proposed.height() * ratio);
        else
            proposed.setHeight(proposed.width() / ratio);
        if (proposed.width() < minimum.width())
            proposed = QSizeF(minimum.width(), minimum.width() / ratio);
        if (proposed.height() < minimum.height())
            proposed = QSizeF(minimum.height() * ratio, minimum.height());
    } else {
        proposed = proposed.expandedTo(minimum);
    }
    const QSizeF filtered = m_filter ? m_filter(proposed) : proposed;
    const QSize size = filtered.toSize().expandedTo(QSize(1, 1));
    // The edges not dragged stay put: a drag of the left edge keeps the right edge, and so on.
    const int x = (edges & Qt::LeftEdge) ? start.x() + start.width() - size.width() : start.x();
    const int y = (edges & Qt::TopEdge) ? start.y() + start.height() - size.height() : start.y();
    return {QPoint(x, y), size};
}

bool MoveResizeHandler::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_window)
        return false;
    const QEvent::Type type = event->type();
    if (watched == m_window->windowHandle()) {
        if (type == QEvent::MouseMove && m_drag == Drag::None)
            updateCursor(static_cast<QMouseEvent *>(event)->globalPosition());
        return false;
    }
    if (watched != m_window.data())
        return false;
    switch (type) {
    case QEvent::Move:
        if (m_systemMove)
            emit frameSetByUser(m_window->geometry());
        return false;
    case QEvent::Hide:
        // Shown again, the window is placed anew, by the program or the manager.
        m_systemMove = false;
        return false;
    case QEvent::MouseButtonPress:
        return press(static_cast<QMouseEvent *>(event));
    case QEvent::MouseMove:
        return drag(static_cast<QMouseEvent *>(event));
    case QEvent::MouseButtonRelease:
        if (m_drag == Drag::None)
            return false;
        m_drag = Drag::None;
        return true;
    default:
        return false;
    }
}

bool MoveResizeHandler::press(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return false;
    m_systemMove = false;
    m_pressGlobal = event->globalPosition().toPoint();
    m_startGeometry = m_window->geometry();
    m_edges = edgesAt(event->position().toPoint());
    if (m_edges) {
        m_drag = Drag::Resize;
        return true;
    }
    if (!m_movable || !m_movableByBackground)
        return false;
    QWindow *handle = m_window->windowHandle();
    // With a window manager the move is its own; without one, startSystemMove() refuses it.
    // A window kept from the manager's hands (unmanaged on X11, a layer surface on Wayland) is
    // moved by hand, whatever the manager would say to a move.
    m_systemMove =
        handle && !m_window->windowFlags().testFlag(Qt::BypassWindowManagerHint) && handle->startSystemMove();
    m_drag = m_systemMove ? Drag::None : Drag::Move;
    return true;
}

bool MoveResizeHandler::drag(QMouseEvent *event)
{
    if (m_drag == Drag::None || !(event->buttons() & Qt::LeftButton))
        return false;
    const QPoint delta = event->globalPosition().toPoint() - m_pressGlobal;
    if (m_drag == Drag::Move && m_movable && m_movableByBackground) {
        m_window->move(m_startGeometry.topLeft() + delta);
        // The frame asked for, whatever a window manager makes of it.
        emit frameSetByUser(QRect(m_startGeometry.topLeft() + delta, m_window->size()));
    } else if (m_drag == Drag::Resize) {
        const QRect frame = resizedGeometry(m_startGeometry, m_edges, delta);
        m_window->setGeometry(frame);
        emit frameSetByUser(frame);
    }
    return true;
}

void MoveResizeHandler::updateCursor(const QPointF &globalPosition)
{
    const Qt::Edges edges = edgesAt(m_window->mapFromGlobal(globalPosition).toPoint());
    if (!edges) {
        if (m_cursorSet)
            m_window->unsetCursor();
        m_cursorSet = false;
        return;
    }
    Qt::CursorShape shape = Qt::SizeHorCursor;
    if (edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge))
        shape = Qt::SizeFDiagCursor;
    else if (edges == (Qt::RightEdge | Qt::TopEdge) || edges == (Qt::LeftEdge | Qt::BottomEdge))
        shape = Qt::SizeBDiagCursor;
    else if (edges == Qt::TopEdge || edges == Qt::BottomEdge)
        shape = Qt::SizeVerCursor;
    m_window->setCursor(shape);
    m_cursorSet = true;
}

} // namespace nimbara
