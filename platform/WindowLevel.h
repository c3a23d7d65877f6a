#pragma once

class QWidget;

namespace nimbara {

// Window levels as numbers: the desktop-icon level is 18; the widget sits one below it while locked
// and one above it while unlocked.
inline constexpr int kDesktopIconWindowLevel = 18;

// The level of the desktop icons, asked for anew at each change.
int desktopIconWindowLevel();

// Maps a level to X11 and applies it to a top-level window. Every level below the normal window
// layer is frameless, without a taskbar or pager entry, kept below normal windows
// (_NET_WM_STATE_BELOW) and shown on all desktops; a level above the desktop-icon level is raised
// within that layer, one below it is lowered. Where the platform is not X11 only the flags are set.
void applyWindowLevel(QWidget *window, int level);

// The level last applied to the window, or 0 when none was.
int appliedWindowLevel(const QWidget *window);

} // namespace nimbara
