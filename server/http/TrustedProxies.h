#pragma once

#include "core/NetAddress.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbara::server {

// The proxies (nginx in front of a fleet) whose word on the client's address is believed: a
// request whose peer is in one of these networks names its client in X-Forwarded-For; from anyone
// else that header is ignored, so that no client can pick the address its limits and logs see.
class TrustedProxies
{
public:
    // A comma-separated list of networks (CIDR) or single addresses, IPv4 or IPv6:
    // "127.0.0.1,10.0.0.0/8,::1". Nothing, with the reason in error, when a piece is neither.
    static std::optional<TrustedProxies> parse(std::string_view list, std::string &error);

    bool contains(std::string_view address) const;

    // Whom a request comes from. Each proxy appends the address it saw to X-Forwarded-For (the
    // caller joins all the fields of that name, in order, with commas), so the list is read from its
    // end: the first address that is not a trusted proxy is the client. A
    // piece that is no address ends the reading (what stands before it may be forged); the peer
    // stands when nothing usable is left.
    std::string clientAddress(std::string_view peer, std::string_view forwardedFor) const;

private:
    std::vector<boost::asio::ip::network_v6> networks; // IPv4 as ::ffff:a.b.c.d/(96 + bits)
};

// What limits count a client by: an IPv6 client by its /64 ("2001:db8:1:2::/64"), since one host
// commonly holds a whole /64 and could take a new address for every request; anyone else by its
// address as given.
std::string clientKey(std::string_view address);

} // namespace nimbara::server
