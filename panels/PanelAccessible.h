#pragma once

namespace nimbara {

// Screen readers take a plain top-level widget for a filler inside something else: the panels
// (tour, About, feedback, Forecast, place chooser) say that they are windows. Installed once, by
// the first panel made.
void installPanelAccessibility();

} // namespace nimbara
