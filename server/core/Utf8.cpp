#include "core/Utf8.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>

namespace nimbara::server {

std::optional<Utf8Char> utf8CharAt(std::string_view text)
{
    // A sequence is four bytes at most: ICU never needs to see more of the text.
    const auto length = static_cast<int32_t>(std::min<size_t>(text.size(), 4));
    if (length == 0)
        return std::nullopt;
    const auto *bytes = reinterpret_cast<const uint8_t *>(text.data());
    int32_t end = 0;
    UChar32 code = 0;
    U8_NEXT(bytes, end, length, code);
    if (code < 0)
        return std::nullopt;
    return Utf8Char{static_cast<char32_t>(code), static_cast<size_t>(end)};
}

} // namespace nimbara::server
