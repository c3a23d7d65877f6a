#pragma once

#include <string>
#include <utility>
#include <vector>

namespace nimbara::server {

// An answer as the HTTP layer sends it.
struct Reply
{
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers = {}; // beyond type, length and connection
};

} // namespace nimbara::server
