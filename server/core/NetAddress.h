#pragma once

// Boost 1.74's Asio uses std::exchange without including <utility> under C++20.
#include <utility>

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/network_v6.hpp>

#include <optional>
#include <string_view>

namespace nimbara::server {

using IpAddress = boost::asio::ip::address;

// A numeric IPv4 or IPv6 address and nothing else: no zone index, no blanks, no host name.
std::optional<IpAddress> parseIpAddress(std::string_view text);

// An IPv4-mapped IPv6 address (::ffff:a.b.c.d) as its IPv4 address; any other as it is.
IpAddress unmapped(const IpAddress &address);
// Any address in IPv6's form: IPv4 as ::ffff:a.b.c.d.
boost::asio::ip::address_v6 asIpv6(const IpAddress &address);
// Whether a network holds an address, both in IPv6's form.
bool holds(const boost::asio::ip::network_v6 &network, const boost::asio::ip::address_v6 &address);

// An address no database can place: unspecified, loopback, private, shared, link-local,
// unique-local, multicast, benchmarking and documentation ranges (an IPv4-mapped address by its
// IPv4 address).
bool isNonPublic(const IpAddress &address);

} // namespace nimbara::server
