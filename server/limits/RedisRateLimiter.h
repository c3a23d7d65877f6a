#pragma once

#include "limits/Limits.h"

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace nimbara::server {

class RedisClient;

// A token bucket per key kept in Redis, so that every instance of a fleet takes from one budget: a
// Lua script refills and takes in one round trip, on Redis' own clock, and gives the key a time to
// live of a refill from empty (a bucket that would be full again is simply gone). Keys are
// "nimbara:limit:NAME:" and a digest of the client's key, so that no client byte reaches Redis and
// every key has the same small size. While Redis is unavailable, or a command fails, buckets in
// this process with the same rate stand in (the Redis client logs each change once).
class RedisRateLimiter final : public RateLimiter
{
public:
    using Now = std::function<std::chrono::system_clock::time_point()>;

    // now: the clock for the buckets in Redis, for tests; empty uses Redis' own (TIME), the one clock
    // every instance shares.
    RedisRateLimiter(RedisClient &redis, std::string name, Rate rate, Now now = {},
                     TokenBuckets::Now localNow = &TokenBuckets::Clock::now);

    bool tryTake(std::string_view key) override;

    // The Redis key of a client's key.
    std::string keyOf(std::string_view key) const;

private:
    RedisClient &redis;
    std::string prefix;
    Now now;
    std::string perMillisecond;
    std::string burst;
    std::string timeToLive;
    TokenBuckets local;
};

} // namespace nimbara::server
