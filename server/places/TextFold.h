#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nimbara::server {

// A name as the place search compares it: case-folded (ß as ss), Latin, Greek and Cyrillic accents
// taken off (Zürich as zurich, Ёлки as елки), letters without a decomposition spelled as their base
// (Łódź as lodz, Ørsted as orsted), hyphens, apostrophes and dots as spaces, runs of spaces as one,
// none at the ends. Other scripts keep their marks. Nothing when the text is not valid UTF-8.
std::optional<std::string> foldForSearch(std::string_view utf8);

// The number of characters (code points) of valid UTF-8 text.
size_t characterCount(std::string_view utf8);

} // namespace nimbara::server
