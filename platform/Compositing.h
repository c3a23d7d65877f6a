#pragma once

#include <optional>

namespace nimbara {

// Whether a window's transparent pixels show what lies beneath it. On X11 that takes a compositing
// manager (the "_NET_WM_CM_S<screen>" selection has an owner); without one a translucent window
// shows black where it is transparent. Other platforms (offscreen, Wayland) always compose.
bool translucencyAvailable();

// Tests force an answer; nullopt asks the screen again.
void setTranslucencyForTesting(std::optional<bool> available);

} // namespace nimbara
