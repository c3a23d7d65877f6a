#pragma once

#include "Options.h"
#include "feedback/Feedback.h"
#include "http/ListenAddress.h"
#include "http/Metrics.h"
#include "redis/RedisClient.h"
#include "weather/Gate.h"
#include "weather/Providers.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nimbara::server {

// The limits of the options; with Redis, kept there so that they hold for a whole fleet.
GateLimits gateLimitsOf(const Options &options, RedisClient *redis);
FeedbackLimits feedbackLimitsOf(const Options &options, RedisClient *redis);

// Open-Meteo, then MET Norway when it has an address; the places' time zones, where there is a
// cities table, give MET Norway's local days.
std::vector<std::unique_ptr<WeatherProvider>> providersOf(const Options &options, const Geocoder *geocoder);

// The cell cache: in Redis with --cache, else in this process.
std::unique_ptr<WeatherCache> cacheOf(const Options &options, RedisClient *redis, WeatherCache::Fetch fetch,
                                      size_t providerCount);

// --blacklist-add and --blacklist-remove: the exit code.
int changeBlacklist(Store &store, const Options &options);

// The metrics on an address of their own, which the public port knows nothing of; nothing without
// --metrics-listen, and the address actually bound in address.
std::unique_ptr<HttpServer> metricsServerOf(const Options &options, const Metrics &metrics,
                                            std::optional<ListenAddress> &address);

std::vector<std::string> splitList(const std::string &text);

} // namespace nimbara::server
