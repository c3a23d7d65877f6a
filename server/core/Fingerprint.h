#pragma once

#include <string>
#include <string_view>

namespace nimbara::server {

std::string sha1Hex(std::string_view bytes);
std::string md5Hex(std::string_view bytes);

// What the client sends for its version and its machine: MD5 hex of the SHA-1 hex of the text.
std::string fingerprint(std::string_view text);

} // namespace nimbara::server
