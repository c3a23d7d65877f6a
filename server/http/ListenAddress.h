#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nimbara::server {

// Where a server listens, written ADDRESS:PORT with a numeric address ([ADDRESS]:PORT for IPv6);
// port 0 picks a free one.
struct ListenAddress
{
    std::string host;
    int port = 0;

    // Nothing, with the reason in error, when the text is no such address.
    static std::optional<ListenAddress> parse(std::string_view text, std::string &error);
    std::string text() const;
};

} // namespace nimbara::server
