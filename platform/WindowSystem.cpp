#include "WindowSystem.h"

#include "Log.h"

#include <QByteArray>
#include <QGuiApplication>

#include <wayland-client.h>

#include <cstring>

namespace nimbara {

namespace {
void noteGlobal(void *data, wl_registry * /*registry*/, uint32_t /*name*/, const char *interface,
                uint32_t /*version*/)
{
    if (std::strcmp(interface, "zwlr_layer_shell_v1") == 0)
        *static_cast<bool *>(data) = true;
}

void forgetGlobal(void * /*data*/, wl_registry * /*registry*/, uint32_t /*name*/) {}

const wl_registry_listener kRegistryListener{noteGlobal, forgetGlobal};
} // namespace

bool compositorOffersLayerShell()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return false;
    wl_display *display = wl_display_connect(nullptr);
    if (!display)
        return false;
    bool offered = false;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &offered);
    wl_display_roundtrip(display);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return offered;
}

WindowSystem chooseWindowSystem()
{
    const QByteArray forced = qgetenv("NIMBARA_PLATFORM").trimmed().toLower();
    if (!forced.isEmpty() && forced != "x11" && forced != "wayland")
        log(QStringLiteral("NIMBARA_PLATFORM=%1 is neither x11 nor wayland: choosing by the session")
                .arg(QString::fromLocal8Bit(forced)));
    WindowSystem chosen = WindowSystem::X11;
    bool layerShell = false;
    if (forced == "x11") {
        chosen = WindowSystem::X11;
    } else if (forced == "wayland") {
        chosen = WindowSystem::Wayland;
        layerShell = compositorOffersLayerShell();
        if (!layerShell)
            log(QStringLiteral("the compositor offers no layer shell: the widget is an ordinary window"));
    } else if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        return qgetenv("QT_QPA_PLATFORM").startsWith("wayland") ? WindowSystem::Wayland : WindowSystem::X11;
    } else {
        layerShell = compositorOffersLayerShell();
        chosen = layerShell ? WindowSystem::Wayland : WindowSystem::X11;
    }
    qputenv("QT_QPA_PLATFORM", chosen == WindowSystem::Wayland ? "wayland" : "xcb");
    // A window with Qt::BypassWindowManagerHint then gets a surface with no shell role, which the
    // widget gives the layer role; without a layer shell it would never show.
    if (layerShell)
        qputenv("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT", "1");
    return chosen;
}

WindowSystem currentWindowSystem()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland")) ? WindowSystem::Wayland
                                                                                : WindowSystem::X11;
}

} // namespace nimbara
