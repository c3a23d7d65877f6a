#include "places/GettextCatalog.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

namespace nimbara::server {

bool readGettextCatalog(
    const std::filesystem::path &path,
    const std::function<void(std::string_view original, std::string_view translation)> &message)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::stringstream buffer;
    buffer << file.rdbuf();
    const std::string data = buffer.str();
    if (data.size() < 20)
        return false;

    // A header, then tables of (length, offset) pairs for the originals and the translations, in
    // the byte order of the machine that wrote it.
    auto word = [&](size_t offset, bool swapped) -> std::uint32_t {
        std::uint32_t value = 0;
        for (size_t i = 0; i < 4; ++i) {
            auto byte = static_cast<std::uint32_t>(static_cast<unsigned char>(data[offset + i]));
            value |= swapped ? byte << (8 * (3 - i)) : byte << (8 * i);
        }
        return value;
    };
    bool swapped = false;
    if (word(0, false) != 0x950412de) {
        if (word(0, true) != 0x950412de)
            return false;
        swapped = true;
    }
    // A damaged count must not make us walk billions of empty entries.
    const std::uint32_t count =
        std::min<std::uint32_t>(word(8, swapped), static_cast<std::uint32_t>(data.size() / 8));
    const std::uint32_t originals = word(12, swapped);
    const std::uint32_t translations = word(16, swapped);
    auto text = [&](std::uint32_t table, std::uint32_t i) -> std::string_view {
        const size_t entry = table + size_t{8} * i;
        if (entry + 8 > data.size())
            return {};
        const size_t length = word(entry, swapped);
        const size_t offset = word(entry + 4, swapped);
        if (offset > data.size() || length > data.size() - offset)
            return {};
        return std::string_view(data).substr(offset, length);
    };
    for (std::uint32_t i = 0; i < count; ++i) {
        auto original = text(originals, i);
        auto translation = text(translations, i);
        if (!original.empty() && !translation.empty())
            message(original, translation);
    }
    return true;
}

} // namespace nimbara::server
