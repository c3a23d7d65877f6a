// What a stranger types into the place search, folded as the search compares names.
#include "places/TextFold.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    (void)nimbara::server::characterCount(text);
    if (auto folded = nimbara::server::foldForSearch(text)) {
        // Folding is idempotent: a folded name folds to itself.
        auto again = nimbara::server::foldForSearch(*folded);
        if (!again || *again != *folded)
            __builtin_trap();
    }
    return 0;
}
