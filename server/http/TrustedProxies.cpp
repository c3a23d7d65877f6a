#include "http/TrustedProxies.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstring>

namespace nimbara::server {

namespace {

using Address = std::array<std::uint8_t, 16>;

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// An IPv4 or IPv6 address in its 16-byte form, and whether it was IPv4.
std::optional<std::pair<Address, bool>> parseAddress(std::string_view text)
{
    if (text.size() > INET6_ADDRSTRLEN)
        return std::nullopt;
    const std::string nulTerminated(text);
    Address address{};
    in_addr v4{};
    if (inet_pton(AF_INET, nulTerminated.c_str(), &v4) == 1) {
        address[10] = address[11] = 0xff;
        std::memcpy(address.data() + 12, &v4, 4);
        return std::pair{address, true};
    }
    if (inet_pton(AF_INET6, nulTerminated.c_str(), address.data()) == 1)
        return std::pair{address, false};
    return std::nullopt;
}

// ::ffff:a.b.c.d, an IPv4 address in IPv6's form.
bool isMappedIpv4(const Address &address)
{
    static constexpr std::uint8_t mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return std::equal(mapped, mapped + 12, address.begin());
}

// The usual text of an address (a v4-mapped one as IPv4).
std::string addressText(const Address &address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (isMappedIpv4(address))
        inet_ntop(AF_INET, address.data() + 12, text, sizeof text);
    else
        inet_ntop(AF_INET6, address.data(), text, sizeof text);
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
        const auto parsed = parseAddress(piece.substr(0, slash));
        if (!parsed) {
            error = "not an IP address: " + std::string(piece);
            return std::nullopt;
        }
        Network network{parsed->first, 128};
        const int width = parsed->second ? 32 : 128;
        if (slash != std::string_view::npos) {
            const auto bits = piece.substr(slash + 1);
            int value = -1;
            auto [end, failure] = std::from_chars(bits.data(), bits.data() + bits.size(), value);
            if (bits.empty() || failure != std::errc() || end != bits.data() + bits.size() || value < 0 ||
                value > width) {
                error = "not a prefix length from 0 to " + std::to_string(width) + ": " + std::string(piece);
                return std::nullopt;
            }
            network.prefixBits = value + (128 - width);
        }
        proxies.networks.push_back(network);
    }
    if (proxies.networks.empty()) {
        error = "no network given";
        return std::nullopt;
    }
    return proxies;
}

bool TrustedProxies::contains(std::string_view text) const
{
    const auto parsed = parseAddress(trimmed(text));
    if (!parsed)
        return false;
    const Address &address = parsed->first;
    for (const auto &network : networks) {
        const int whole = network.prefixBits / 8;
        const int rest = network.prefixBits % 8;
        if (!std::equal(address.begin(), address.begin() + whole, network.address.begin()))
            continue;
        const auto mask = static_cast<std::uint8_t>(0xff << (8 - rest));
        if (rest == 0 || (address[static_cast<size_t>(whole)] & mask) ==
                             (network.address[static_cast<size_t>(whole)] & mask))
            return true;
    }
    return false;
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
        const auto parsed = parseAddress(piece);
        if (!parsed)
            break;
        client = addressText(parsed->first);
        if (!contains(client))
            break;
    }
    return client;
}

std::string clientKey(std::string_view address)
{
    const auto parsed = parseAddress(address);
    if (!parsed || parsed->second)
        return std::string(address);
    // An IPv4 client on a socket of both families: its own address.
    if (isMappedIpv4(parsed->first))
        return addressText(parsed->first);
    Address network = parsed->first;
    std::fill(network.begin() + 8, network.end(), std::uint8_t(0));
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, network.data(), text, sizeof text);
    return std::string(text) + "/64";
}

} // namespace nimbara::server
