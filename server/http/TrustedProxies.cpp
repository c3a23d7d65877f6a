#include "http/TrustedProxies.h"

#include "core/NetAddress.h"

#include <algorithm>
#include <charconv>

namespace nimbara::server {

namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::optional<TrustedProxies> TrustedProxies::parse(std::string_view list, std::string &error)
{
    TrustedProxies proxies;
    while (!list.empty()) {
        const auto comma = list.find(',');
        const auto piece = trimmed(list.substr(0, comma));
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        if (piece.empty())
            continue;
        const auto slash = piece.find('/');
        const auto parsed = parseIpAddress(piece.substr(0, slash));
        if (!parsed) {
            error = "not an IP address: " + std::string(piece);
            return std::nullopt;
        }
        // IPv4 networks are kept in IPv6's form, where a peer's address is looked up.
        const int width = parsed->is_v4() ? 32 : 128;
        int prefixBits = 128;
        if (slash != std::string_view::npos) {
            const auto bits = piece.substr(slash + 1);
            int value = -1;
            auto [end, failure] = std::from_chars(bits.data(), bits.data() + bits.size(), value);
            if (bits.empty() || failure != std::errc() || end != bits.data() + bits.size() || value < 0 ||
                value > width) {
                error = "not a prefix length from 0 to " + std::to_string(width) + ": " + std::string(piece);
                return std::nullopt;
            }
            prefixBits = value + (128 - width);
        }
        proxies.networks.push_back(boost::asio::ip::network_v6(asIpv6(*parsed), prefixBits).canonical());
    }
    if (proxies.networks.empty()) {
        error = "no network given";
        return std::nullopt;
    }
    return proxies;
}

bool TrustedProxies::contains(std::string_view text) const
{
    const auto parsed = parseIpAddress(trimmed(text));
    if (!parsed)
        return false;
    const auto address = asIpv6(*parsed);
    return std::any_of(networks.begin(), networks.end(),
                       [&](const auto &network) { return holds(network, address); });
}

std::string TrustedProxies::clientAddress(std::string_view peer, std::string_view forwardedFor) const
{
    if (!contains(peer))
        return std::string(peer);
    std::string client(peer);
    while (!forwardedFor.empty()) {
        const auto comma = forwardedFor.rfind(',');
        const auto piece =
            trimmed(comma == std::string_view::npos ? forwardedFor : forwardedFor.substr(comma + 1));
        forwardedFor = comma == std::string_view::npos ? std::string_view() : forwardedFor.substr(0, comma);
        const auto parsed = parseIpAddress(piece);
        if (!parsed)
            break;
        client = unmapped(*parsed).to_string();
        if (!contains(client))
            break;
    }
    return client;
}

std::string clientKey(std::string_view address)
{
    const auto parsed = parseIpAddress(address);
    if (!parsed || parsed->is_v4())
        return std::string(address);
    // An IPv4 client on a socket of both families: its own address.
    const auto client = unmapped(*parsed);
    if (client.is_v4())
        return client.to_string();
    return boost::asio::ip::network_v6(client.to_v6(), 64).canonical().to_string();
}

} // namespace nimbara::server
