#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace nimbara::server {

// Admits or refuses one event for a key (a client address, a machine fingerprint). In process
// here; a limiter shared by the instances of a fleet can stand in behind the same interface.
class RateLimiter
{
public:
    virtual ~RateLimiter() = default;
    // Takes one token for the key and says whether there was one.
    virtual bool tryTake(std::string_view key) = 0;
};

// How many events a key may have: `count` per `period` on average, up to `burst` at once.
struct Rate
{
    double count = 10;
    std::chrono::seconds period{3600};
    double burst = 3;
};

// A token bucket per key, filled at the rate's pace up to its burst; buckets that have filled up
// again are forgotten now and then, so that many keys cannot grow the memory for long.
class TokenBuckets final : public RateLimiter
{
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    explicit TokenBuckets(Rate rate, Now now = &Clock::now);

    bool tryTake(std::string_view key) override;

    size_t keyCount() const;

private:
    struct Bucket
    {
        double tokens;
        Clock::time_point updated;
    };

    double refilled(const Bucket &bucket, Clock::time_point now) const;
    void forgetFullBuckets(Clock::time_point now);

    Rate rate;
    Now now;
    mutable std::mutex mutex;
    std::unordered_map<std::string, Bucket> buckets;
    size_t sweepAt = 4096;
};

} // namespace nimbara::server
