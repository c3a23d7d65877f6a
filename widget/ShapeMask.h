#pragma once

#include <QObject>
#include <QRegion>

class QTimer;
class QWidget;

namespace nimbara {

// For screens that cannot show a translucent window: keeps the window's X11 shape to what it
// shows (the outlined glyphs of its text lines, the backing box and the buttons while they can be
// seen), so that the desktop shows around the text instead of a black rectangle. Recomputed, at most
// once per turn of the event loop, whenever an element repaints, appears, disappears or fades.
class ShapeMask : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShapeMask)

public:
    explicit ShapeMask(QWidget *window);
    ~ShapeMask() override;

    // What the window shows now, in its own coordinates.
    QRegion visibleRegion() const;
    // Applies visibleRegion() as the window's mask when it changed.
    void apply();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void schedule();

    QWidget *const m_window;
    QTimer *const m_timer;
};

} // namespace nimbara
