// Boost 1.74's Asio uses std::exchange without including <utility> under C++20.
#include <utility>

#include "http/ListenAddress.h"

#include <boost/asio/ip/address.hpp>

#include <charconv>

namespace nimbara::server {

std::optional<ListenAddress> ListenAddress::parse(std::string_view text, std::string &error)
{
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        error = "no :PORT after the address";
        return std::nullopt;
    }
    std::string_view host = text.substr(0, colon);
    const std::string_view portText = text.substr(colon + 1);
    const bool bracketed = host.starts_with('[') && host.ends_with(']');
    if (bracketed)
        host = host.substr(1, host.size() - 2);
    ListenAddress address;
    auto [end, failed] = std::from_chars(portText.data(), portText.data() + portText.size(), address.port);
    if (portText.empty() || failed != std::errc() || end != portText.data() + portText.size() ||
        address.port < 0 || address.port > 65535) {
        error = "the port is not a number from 0 to 65535";
        return std::nullopt;
    }
    boost::system::error_code invalid;
    const auto parsed = boost::asio::ip::make_address(std::string(host), invalid);
    if (invalid || parsed.is_v6() != bracketed) {
        error = "not a numeric address (an IPv6 address goes in [ ])";
        return std::nullopt;
    }
    address.host = std::string(host);
    return address;
}

std::string ListenAddress::text() const
{
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

} // namespace nimbara::server
