#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace nimbara::server {

// One well-formed UTF-8 sequence: its code point and its length in bytes.
struct Utf8Char
{
    char32_t code = 0;
    size_t length = 0;
};

// The well-formed UTF-8 sequence at the start of text (no overlong forms, no surrogates, nothing
// past U+10FFFF), or nothing when text is empty or starts with anything else.
std::optional<Utf8Char> utf8CharAt(std::string_view text);

} // namespace nimbara::server
