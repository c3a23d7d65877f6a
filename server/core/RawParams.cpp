#include "core/RawParams.h"

namespace nimbara::server {

namespace {

// The length of "key=" when a known key and "=" start at pos, otherwise 0.
size_t keyAt(std::string_view text, size_t pos, const std::vector<std::string_view> &keys)
{
    for (auto key : keys) {
        if (text.compare(pos, key.size(), key) == 0 && pos + key.size() < text.size() &&
            text[pos + key.size()] == '=')
            return key.size() + 1;
    }
    return 0;
}

} // namespace

Params parsePairs(std::string_view text, const std::vector<std::string_view> &keys)
{
    struct Piece
    {
        size_t start; // where the "&" (or the text) begins
        size_t value; // where the value begins
        std::string_view key;
    };
    std::vector<Piece> pieces;
    for (size_t pos = 0; pos < text.size(); ++pos) {
        size_t keyPos = pos;
        if (text[pos] == '&')
            keyPos = pos + 1;
        else if (pos != 0)
            continue;
        if (size_t length = keyAt(text, keyPos, keys))
            pieces.push_back({pos, keyPos + length, text.substr(keyPos, length - 1)});
    }

    Params params;
    for (size_t i = 0; i < pieces.size(); ++i) {
        size_t end = i + 1 < pieces.size() ? pieces[i + 1].start : text.size();
        params.emplace(std::string(pieces[i].key),
                       std::string(text.substr(pieces[i].value, end - pieces[i].value)));
    }
    return params;
}

std::string valueOf(const Params &params, std::string_view key)
{
    auto it = params.find(key);
    return it == params.end() ? std::string() : it->second;
}

} // namespace nimbara::server
