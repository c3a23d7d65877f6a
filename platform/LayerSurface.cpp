#include "LayerSurface.h"

#include "Log.h"

#include "layer-shell-client-protocol.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

#include <cstring>

namespace nimbara {

namespace {
const zwlr_layer_surface_v1_listener kLayerListener{&LayerSurface::configured, &LayerSurface::closed};
const wl_registry_listener kRegistryListener{&LayerSurface::global, &LayerSurface::globalRemoved};

void *nativeResource(const QByteArray &name, QWindow *window = nullptr)
{
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    if (!native)
        return nullptr;
    return window ? native->nativeResourceForWindow(name, window)
                  : native->nativeResourceForIntegration(name);
}
} // namespace

LayerSurface::LayerSurface(QWidget *window)
    : QObject(window)
    , m_window(window)
    , m_frame(window->geometry())
{
    m_display = static_cast<wl_display *>(nativeResource("wl_display"));
    if (!m_display)
        return;
    m_queue = wl_display_create_queue(m_display);
    // The registry, and everything bound through it, reports on this object's queue.
    auto *wrapper = static_cast<wl_display *>(wl_proxy_create_wrapper(m_display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(wrapper), m_queue);
    m_registry = wl_display_get_registry(wrapper);
    wl_proxy_wrapper_destroy(wrapper);
    wl_registry_add_listener(m_registry, &kRegistryListener, this);
    wl_display_roundtrip_queue(m_display, m_queue);
    if (!m_shell)
        return;
    window->installEventFilter(this);
    if (window->windowHandle())
        window->windowHandle()->installEventFilter(this);
    if (window->isVisible())
        attach();
}

LayerSurface::~LayerSurface()
{
    detach();
    if (m_shell)
        zwlr_layer_shell_v1_destroy(m_shell);
    if (m_registry)
        wl_registry_destroy(m_registry);
    if (m_queue)
        wl_event_queue_destroy(m_queue);
}

void LayerSurface::global(void *data, wl_registry *registry, uint32_t name, const char *interface,
                          uint32_t /*version*/)
{
    auto *self = static_cast<LayerSurface *>(data);
    if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0 && !self->m_shell)
        self->m_shell = static_cast<zwlr_layer_shell_v1 *>(
            wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, 1));
}

void LayerSurface::globalRemoved(void * /*data*/, wl_registry * /*registry*/, uint32_t /*name*/) {}

void LayerSurface::configured(void * /*data*/, zwlr_layer_surface_v1 *layer, uint32_t serial,
                              uint32_t /*width*/, uint32_t /*height*/)
{
    // The size asked for is the window's; what the compositor makes of it never changes the frame.
    zwlr_layer_surface_v1_ack_configure(layer, serial);
}

void LayerSurface::closed(void *data, zwlr_layer_surface_v1 * /*layer*/)
{
    // The output went away: the surface is shown nowhere until the window is shown again.
    auto *self = static_cast<LayerSurface *>(data);
    log(QStringLiteral("the compositor closed the widget's layer surface"));
    self->detach();
}

bool LayerSurface::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_window)
        return false;
    QWindow *handle = m_window->windowHandle();
    switch (event->type()) {
    case QEvent::PlatformSurface:
    case QEvent::WinIdChange:
        if (handle && watched == m_window.data())
            handle->installEventFilter(this);
        break;
    case QEvent::Expose:
        // Before Qt paints the new surface's first buffer.
        if (watched == handle && handle->isVisible())
            attach();
        break;
    case QEvent::Move:
    case QEvent::Resize:
        if (watched != m_window.data())
            break;
        if (!event->spontaneous()) {
            // The program (or the user's drag through it) set the frame.
            m_frame = m_window->geometry();
            place();
        } else if (m_window->geometry() != m_frame) {
            // Qt knows no position of a surface on Wayland and reports the window at the output's
            // corner when it shows; the frame stays the one set, where the layer surface is.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (m_window)
                        m_window->setGeometry(m_frame);
                },
                Qt::QueuedConnection);
        }
        break;
    case QEvent::Hide:
        if (watched == m_window.data())
            detach();
        break;
    default:
        break;
    }
    return false;
}

void LayerSurface::attach()
{
    QWindow *handle = m_window ? m_window->windowHandle() : nullptr;
    auto *surface = handle ? static_cast<wl_surface *>(nativeResource("surface", handle)) : nullptr;
    if (!m_shell || !surface || (m_layer && surface == m_surface))
        return;
    detach();
    m_screen = QGuiApplication::screenAt(m_frame.topLeft());
    if (!m_screen)
        m_screen = m_window->screen();
    auto *output =
        m_screen
            ? static_cast<wl_output *>(
                  QGuiApplication::platformNativeInterface()->nativeResourceForScreen("output", m_screen))
            : nullptr;
    m_surface = surface;
    m_layer = zwlr_layer_shell_v1_get_layer_surface(m_shell, surface, output,
                                                    ZWLR_LAYER_SHELL_V1_LAYER_BOTTOM, "nimbara");
    zwlr_layer_surface_v1_add_listener(m_layer, &kLayerListener, this);
    zwlr_layer_surface_v1_set_anchor(m_layer,
                                     ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT);
    // The frame is in the output's own coordinates, whatever panels keep free.
    zwlr_layer_surface_v1_set_exclusive_zone(m_layer, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(m_layer, 0);
    m_placed = QRect();
    place();
}

void LayerSurface::place()
{
    if (!m_layer || !m_window)
        return;
    const QRect frame = m_frame;
    if (frame == m_placed)
        return;
    const QPoint origin = m_screen ? m_screen->geometry().topLeft() : QPoint();
    zwlr_layer_surface_v1_set_size(m_layer, static_cast<uint32_t>(frame.width()),
                                   static_cast<uint32_t>(frame.height()));
    zwlr_layer_surface_v1_set_margin(m_layer, frame.y() - origin.y(), 0, 0, frame.x() - origin.x());
    wl_surface_commit(m_surface);
    // The compositor answers the commit with a configure, which must be acknowledged before Qt
    // attaches the next buffer.
    wl_display_roundtrip_queue(m_display, m_queue);
    m_placed = frame;
}

void LayerSurface::detach()
{
    if (m_layer)
        zwlr_layer_surface_v1_destroy(m_layer);
    m_layer = nullptr;
    m_surface = nullptr;
}

} // namespace nimbara
