// The raw query and form text the client sends unescaped: split into the gate's, the feedback's and
// the place search's pairs.
#include "core/RawParams.h"

#include <cstdint>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    using nimbara::server::parsePairs;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    static const std::vector<std::string_view> gateKeys{"v1", "v2", "v3", "v4", "v5", "v6"};
    static const std::vector<std::string_view> placesKeys{"q", "v4"};

    // Every piece of a value stays in it: the values never hold more than the text did.
    size_t total = 0;
    for (const auto &[key, value] : parsePairs(text, gateKeys))
        total += key.size() + value.size();
    if (total > text.size())
        __builtin_trap();
    (void)parsePairs(text, placesKeys);
    return 0;
}
