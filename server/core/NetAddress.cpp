#include "core/NetAddress.h"

#include <boost/asio/ip/network_v4.hpp>

#include <algorithm>
#include <array>
#include <string>

namespace nimbara::server {

namespace net = boost::asio::ip;

namespace {

// The longest text of an address: "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255".
constexpr size_t maxAddressText = 45;

bool within(const net::address_v4 &address, const net::network_v4 &network)
{
    return net::network_v4(address, network.prefix_length()).canonical() == network;
}

} // namespace

std::optional<IpAddress> parseIpAddress(std::string_view text)
{
    // Asio would also take an IPv6 zone ("fe80::1%eth0"), which names no client.
    if (text.empty() || text.size() > maxAddressText || text.find('%') != std::string_view::npos)
        return std::nullopt;
    boost::system::error_code error;
    auto address = net::make_address(std::string(text), error);
    if (error)
        return std::nullopt;
    return address;
}

IpAddress unmapped(const IpAddress &address)
{
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return net::make_address_v4(net::v4_mapped, address.to_v6());
    return address;
}

net::address_v6 asIpv6(const IpAddress &address)
{
    return address.is_v4() ? net::make_address_v6(net::v4_mapped, address.to_v4()) : address.to_v6();
}

bool holds(const net::network_v6 &network, const net::address_v6 &address)
{
    return net::network_v6(address, network.prefix_length()).canonical() == network;
}

bool isNonPublic(const IpAddress &given)
{
    static const std::array nonPublic4{
        net::make_network_v4("0.0.0.0/8"),      net::make_network_v4("10.0.0.0/8"),
        net::make_network_v4("100.64.0.0/10"),  net::make_network_v4("127.0.0.0/8"),
        net::make_network_v4("169.254.0.0/16"), net::make_network_v4("172.16.0.0/12"),
        net::make_network_v4("192.0.2.0/24"),   net::make_network_v4("192.168.0.0/16"),
        net::make_network_v4("198.18.0.0/15"),  net::make_network_v4("198.51.100.0/24"),
        net::make_network_v4("203.0.113.0/24"), net::make_network_v4("224.0.0.0/3"), // multicast and reserved
    };
    static const std::array nonPublic6{
        net::make_network_v6("::/120"), // unspecified, loopback and the old IPv4-compatible ones
        net::make_network_v6("fc00::/7"), net::make_network_v6("fe80::/10"),
        net::make_network_v6("ff00::/8"), net::make_network_v6("2001:db8::/32"),
    };
    const auto address = unmapped(given);
    if (address.is_v4())
        return std::any_of(nonPublic4.begin(), nonPublic4.end(),
                           [&](const auto &network) { return within(address.to_v4(), network); });
    return std::any_of(nonPublic6.begin(), nonPublic6.end(),
                       [&](const auto &network) { return holds(network, address.to_v6()); });
}

} // namespace nimbara::server
