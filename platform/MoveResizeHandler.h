#pragma once

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QSizeF>

#include <functional>

class QMouseEvent;
#include <QWidget>

namespace nimbara {

// Moving and resizing a frameless top-level window with the pointer. A press on the window's
// background (a press that no child widget took) moves the window while it is movable and movable by
// its background: through the window manager (QWindow::startSystemMove()), or by hand where no
// window manager answers. A press within edgeMargin of an edge resizes the window while it is
// resizable: the size keeps the aspect ratio when one is set, then goes through the resize filter,
// and the edges not dragged stay where they are. The pointer shows the resize cursor over a live edge.
// Every frame the user's drag gives is reported, so that it can be told from one that a window
// manager imposes (tiling, maximizing, clamping), which nobody should keep.
class MoveResizeHandler : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MoveResizeHandler)

public:
    static constexpr int edgeMargin = 6;
    using ResizeFilter = std::function<QSizeF(const QSizeF &proposed)>;

    explicit MoveResizeHandler(QWidget *window);
    ~MoveResizeHandler() override;

    bool isMovable() const { return m_movable; }
    void setMovable(bool movable);
    bool isMovableByWindowBackground() const { return m_movableByBackground; }
    void setMovableByWindowBackground(bool movable);
    bool isResizable() const { return m_resizable; }
    void setResizable(bool resizable);
    // Width to height that resizing keeps; an empty size lets both change freely.
    QSizeF aspectRatio() const { return m_aspectRatio; }
    void setAspectRatio(const QSizeF &ratio);
    // Asked for every size a resize proposes (after the aspect ratio); returns the size to take.
    void setResizeFilter(ResizeFilter filter);

    // The edges a press at `position` (window coordinates) would resize, none when not resizable.
    Qt::Edges edgesAt(const QPoint &position) const;
    // The frame a resize of `edges` by the pointer offset `delta` from `start` gives.
    QRect resizedGeometry(const QRect &start, Qt::Edges edges, const QPoint &delta) const;

signals:
    // The pointer moved or resized the window to `frame`; a move through the window manager reports
    // each position the manager gives while it carries the window.
    void frameSetByUser(const QRect &frame);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class Drag { None, Move, Resize };

    bool press(QMouseEvent *event);
    bool drag(QMouseEvent *event);
    void updateCursor(const QPointF &globalPosition);

    const QPointer<QWidget> m_window;
    bool m_movable = false;
    bool m_movableByBackground = false;
    bool m_resizable = false;
    QSizeF m_aspectRatio;
    ResizeFilter m_filter;
    Drag m_drag = Drag::None;
    Qt::Edges m_edges;
    QPoint m_pressGlobal;
    QRect m_startGeometry;
    bool m_cursorSet = false;
    // The window manager was asked to carry the window by the last press: the frames it gives until
    // the next press (or until the window hides or stops being movable) are the user's. A manager
    // tells the final frame only after the button's release, so the release does not end it.
    bool m_systemMove = false;
};

} // namespace nimbara
