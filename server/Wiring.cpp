#include "Wiring.h"

#include "core/ServiceLog.h"
#include "limits/RedisRateLimiter.h"
#include "weather/LocalTime.h"
#include "weather/RedisWeatherCache.h"

#include <iostream>
#include <sstream>

namespace nimbara::server {

namespace {

std::unique_ptr<RateLimiter> buckets(RedisClient *redis, const char *name, size_t count,
                                     std::chrono::seconds period, size_t burst)
{
    if (count == 0)
        return nullptr;
    const Rate rate{static_cast<double>(count), period, static_cast<double>(std::max<size_t>(1, burst))};
    if (redis)
        return std::make_unique<RedisRateLimiter>(*redis, name, rate);
    return std::make_unique<TokenBuckets>(rate);
}

std::chrono::milliseconds upstreamTimeoutOf(const Options &options)
{
    return std::chrono::milliseconds(static_cast<long>(options.upstreamTimeout * 1000));
}

int changeBlacklist(Store &store, const std::string &text, bool add)
{
    auto machine = Store::normalizedFingerprint(text);
    if (machine.empty()) {
        std::cerr << "nimbara-weatherd: not a machine fingerprint (32 hexadecimal digits): " << text << "\n";
        return 2;
    }
    bool changed = add ? store.addToBlacklist(machine) : store.removeFromBlacklist(machine);
    std::cout << machine
              << (changed ? (add ? " added to" : " removed from") : (add ? " already on" : " not on"))
              << " the blacklist\n";
    return 0;
}

} // namespace

GateLimits gateLimitsOf(const Options &options, RedisClient *redis)
{
    using std::chrono::minutes;
    GateLimits limits;
    limits.newCellsPerClient = buckets(redis, "new-cells-per-client", options.newCellsPerClient, minutes(1),
                                       options.newCellsPerClient);
    limits.upstreamCalls =
        buckets(redis, "upstream-calls", options.upstreamCalls, minutes(1), options.upstreamCalls);
    return limits;
}

FeedbackLimits feedbackLimitsOf(const Options &options, RedisClient *redis)
{
    using std::chrono::hours;
    FeedbackLimits limits;
    limits.perClient =
        buckets(redis, "feedback-per-client", options.feedbackPerClient, hours(1), options.feedbackBurst);
    limits.perMachine =
        buckets(redis, "feedback-per-machine", options.feedbackPerMachine, hours(1), options.feedbackBurst);
    limits.maxBytes = options.feedbackMaxBytes;
    return limits;
}

std::vector<std::unique_ptr<WeatherProvider>> providersOf(const Options &options, const Geocoder *geocoder)
{
    std::string userAgent = "nimbara-weatherd/" NIMBARA_SERVER_VERSION;
    if (!options.contact.empty())
        userAgent += " " + options.contact;
    else
        logLine("no --contact given: MET Norway asks for one in the User-Agent");
    const auto timeout = upstreamTimeoutOf(options);
    std::vector<std::unique_ptr<WeatherProvider>> providers;
    providers.push_back(std::make_unique<OpenMeteoProvider>(options.providerUrl, userAgent, timeout));
    if (!options.secondProviderUrl.empty())
        providers.push_back(std::make_unique<MetNorwayProvider>(
            options.secondProviderUrl, userAgent, timeout,
            geocoder ? ZoneOffsets([geocoder](double latitude, double longitude, Seconds at) {
                return utcOffset(*geocoder, latitude, longitude, at);
            })
                     : MetNorwayProvider::nauticalOffsets()));
    return providers;
}

std::unique_ptr<WeatherCache> cacheOf(const Options &options, RedisClient *redis, WeatherCache::Fetch fetch,
                                      size_t providerCount)
{
    if (!redis)
        return std::make_unique<WeatherCache>(std::move(fetch));
    SharedCacheOptions shared;
    // Past the slowest failover through every provider: no second fetch beside a slow first.
    shared.fetchTime = upstreamTimeoutOf(options) * static_cast<long>(providerCount);
    shared.lockTime = shared.fetchTime + std::chrono::seconds(2);
    return std::make_unique<RedisWeatherCache>(*redis, std::move(fetch), CacheOptions{}, shared);
}

int changeBlacklist(Store &store, const Options &options)
{
    try {
        int status = 0;
        if (!options.blacklistAdd.empty())
            status = changeBlacklist(store, options.blacklistAdd, true);
        if (status == 0 && !options.blacklistRemove.empty())
            status = changeBlacklist(store, options.blacklistRemove, false);
        return status;
    } catch (const std::exception &exception) {
        std::cerr << "nimbara-weatherd: " << exception.what() << "\n";
        return 1;
    }
}

std::unique_ptr<HttpServer> metricsServerOf(const Options &options, const Metrics &metrics,
                                            std::optional<ListenAddress> &address)
{
    if (options.metricsListen.empty())
        return nullptr;
    std::string ignored;
    address = ListenAddress::parse(options.metricsListen, ignored);
    HttpOptions metricsOptions;
    metricsOptions.loopThreads = 1;
    metricsOptions.workerThreads = 1;
    metricsOptions.maxConnections = 64;
    auto server = std::make_unique<HttpServer>(metricsOptions);
    server->get("/metrics", Runs::onLoop, [&metrics](const Request &) {
        return Reply{200, metrics.text(), std::string(Metrics::contentType)};
    });
    address->port = server->bindAndListen(address->host, address->port);
    return server;
}

std::vector<std::string> splitList(const std::string &text)
{
    std::vector<std::string> items;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ','))
        if (!item.empty())
            items.push_back(item);
    return items;
}

} // namespace nimbara::server
