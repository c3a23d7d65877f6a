#pragma once

namespace nimbara {

// The display server the widget's window lives on. On X11 (also XWayland) the window level maps
// to EWMH hints that the window manager honours; on Wayland the widget is a layer-shell surface on
// the compositor's bottom layer. Everything else (panels, menus) is an ordinary window on either.
enum class WindowSystem { X11, Wayland };

// Chooses before the application object exists, and sets Qt's platform to match:
// - NIMBARA_PLATFORM=x11 or =wayland forces a path;
// - else a QT_QPA_PLATFORM the user set stays (offscreen, for one);
// - else Wayland where WAYLAND_DISPLAY names a compositor that offers zwlr_layer_shell_v1, and X11
//   (XWayland in a Wayland session) everywhere else, GNOME's compositor among them.
// A Wayland path forced on a compositor without the layer shell shows the widget as an ordinary
// window rather than not at all.
WindowSystem chooseWindowSystem();

// The path this process runs on, from the platform Qt started with.
WindowSystem currentWindowSystem();

// Whether the compositor that WAYLAND_DISPLAY names advertises zwlr_layer_shell_v1; false where
// there is none to ask.
bool compositorOffersLayerShell();

} // namespace nimbara
