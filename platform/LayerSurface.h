#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QScreen>

class QWidget;
struct wl_display;
struct wl_event_queue;
struct wl_registry;
struct wl_surface;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;

namespace nimbara {

// Keeps a top-level window on a Wayland compositor's bottom layer (below every window, above the
// wallpaper) as a zwlr_layer_shell_v1 surface: anchored top-left on the output that holds its
// frame's origin, its margins and size following the window's frame, never the keyboard's.
//
// The window must carry Qt::BypassWindowManagerHint under QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT=1,
// so that Qt gives it a surface with no shell role. Each time Qt makes that surface (at every show)
// it gets the layer role before its first buffer: Qt paints it on its first expose, and an event
// filter sees the expose first. The layer's own objects use an event queue of their own, so that
// Qt's dispatching never runs their listeners behind this object's back.
class LayerSurface : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LayerSurface)

public:
    // Binds the compositor's layer shell; isAvailable() tells whether there is one.
    explicit LayerSurface(QWidget *window);
    ~LayerSurface() override;

    bool isAvailable() const { return m_shell != nullptr; }
    // Whether the window's current surface has the layer role.
    bool isAttached() const { return m_layer != nullptr; }
    // The frame last given to the compositor, in Qt's screen space.
    QRect placedFrame() const { return m_placed; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

public:
    // The listeners' entry points (C callbacks).
    static void configured(void *data, zwlr_layer_surface_v1 *layer, uint32_t serial, uint32_t width,
                           uint32_t height);
    static void closed(void *data, zwlr_layer_surface_v1 *layer);
    static void global(void *data, wl_registry *registry, uint32_t name, const char *interface,
                       uint32_t version);
    static void globalRemoved(void *data, wl_registry *registry, uint32_t name);

private:
    void attach();
    void detach();
    void place();

    const QPointer<QWidget> m_window;
    wl_display *m_display = nullptr;
    wl_event_queue *m_queue = nullptr;
    wl_registry *m_registry = nullptr;
    zwlr_layer_shell_v1 *m_shell = nullptr;
    zwlr_layer_surface_v1 *m_layer = nullptr;
    wl_surface *m_surface = nullptr;
    // The output the surface is anchored on, chosen when it gets its role.
    QPointer<QScreen> m_screen;
    // The frame the program set, which the surface shows; Qt's own idea of it may differ.
    QRect m_frame;
    QRect m_placed;
};

} // namespace nimbara
