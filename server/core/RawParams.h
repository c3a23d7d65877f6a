#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace nimbara::server {

using Params = std::map<std::string, std::string, std::less<>>;

// The client writes its pairs as "&key=value" with nothing escaped, so a value may hold "&", "=",
// "+", "%" or a line break. A piece starts only where "&" (or the very start) is followed by one of
// the request's own keys and "="; everything else belongs to the value before it. When a key comes
// twice the first piece wins.
Params parsePairs(std::string_view text, const std::vector<std::string_view> &keys);

// The value of a key, or empty when the text had no such key.
std::string valueOf(const Params &params, std::string_view key);

} // namespace nimbara::server
