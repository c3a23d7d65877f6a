#include "http/ServerImpl.h"

#include "http/TrustedProxies.h"

#include <sys/resource.h>

namespace nimbara::server {

// Whose count a connection from an address goes to: none for a trusted proxy's.
std::optional<std::string> HttpServer::Impl::countedAs(const std::string &address) const
{
    if (trustedProxies && trustedProxies->contains(address))
        return std::nullopt;
    return clientKey(address);
}

// Counts a new connection from an address, or refuses it when a cap is reached.
bool HttpServer::Impl::admit(const std::string &address)
{
    const auto key = countedAs(address);
    std::lock_guard lock(clientsMutex);
    if (connections >= connectionCap)
        return false;
    if (!key) {
        ++connections;
        return true;
    }
    auto &count = perClient[*key];
    if (count >= options.maxConnectionsPerClient) {
        if (count == 0)
            perClient.erase(*key);
        return false;
    }
    ++count;
    ++connections;
    return true;
}

void HttpServer::Impl::release(const std::string &address)
{
    const auto key = countedAs(address);
    std::lock_guard lock(clientsMutex);
    if (auto it = key ? perClient.find(*key) : perClient.end(); it != perClient.end() && --it->second == 0)
        perClient.erase(it);
    // The last connection of a drain ends it; not while the loop is torn down.
    if (--connections == 0 && draining && !loopsStopped)
        net::post(control, [this] { drainTime.cancel(); });
}

size_t HttpServer::Impl::descriptorCap(const HttpOptions &options)
{
    // Every connection holds a descriptor: take what the system allows, and keep some for the
    // database, the log and the upstream calls.
    rlimit limit{};
    size_t cap = options.maxConnections;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        if (limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = limit.rlim_max;
            setrlimit(RLIMIT_NOFILE, &limit);
            getrlimit(RLIMIT_NOFILE, &limit);
        }
        const size_t reserve = 64 + 2 * (options.workerThreads + options.storeThreads);
        if (limit.rlim_cur != RLIM_INFINITY)
            cap = std::min(cap, limit.rlim_cur > reserve ? static_cast<size_t>(limit.rlim_cur) - reserve : 1);
    }
    return cap;
}

} // namespace nimbara::server
