#pragma once

#include "http/Metrics.h"
#include "weather/Providers.h"
#include "weather/RefreshWorkers.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

namespace nimbara::server {

struct CacheOptions
{
    // Open-Meteo recomputes its "current" values every 15 minutes, on the quarter hour.
    std::chrono::seconds updateInterval{900};
    // Spread the refreshes of many cells after each update, and give the upstream time to publish.
    std::chrono::seconds jitterMin{60};
    std::chrono::seconds jitterMax{180};
    // After a failed upstream call a cell waits this long before the next try.
    std::chrono::seconds failureBackoff{60};
    // A value older than this is too old to show, even while the upstream is failing.
    std::chrono::seconds maxStaleAge{std::chrono::hours(3)};
    unsigned refreshThreads = 4;
};

// How the lookups of one cache went: a fresh value, a stale one (answered while it is refreshed), or
// none (the caller waits for an upstream call, or gets nothing while a failed cell backs off).
struct CacheCounts
{
    Counter hits;
    Counter stale;
    Counter misses;
};

// Upstream readings per cell of 0.1 degree. A fresh value is answered at once; a stale one is
// answered at once too while one background refresh fetches the next; a miss fetches in the caller's
// thread, and concurrent misses for the same cell wait for that one upstream call.
class WeatherCache
{
public:
    using Clock = std::chrono::system_clock;
    using Fetch = std::function<std::optional<Reading>(double latitude, double longitude)>;
    using Now = std::function<Clock::time_point()>;

    explicit WeatherCache(Fetch fetch, CacheOptions options = {}, Now now = &Clock::now);
    virtual ~WeatherCache();
    WeatherCache(const WeatherCache &) = delete;
    WeatherCache &operator=(const WeatherCache &) = delete;

    // Asked by a caller that would make an upstream call itself, just before it does; a refusal gives
    // nothing. A value held anywhere, or a call already in flight for the cell, asks nothing.
    using Admit = std::function<bool()>;

    virtual std::optional<Reading> reading(double latitude, double longitude, const Admit &admit = {});
    // The value held for the cell (fresh, or stale while a refresh is queued), never waiting for
    // an upstream call: nothing when there is none.
    virtual std::optional<Reading> cachedReading(double latitude, double longitude);

    // Adds the lookups' counts to metrics, labelled by where the cells live.
    virtual void addMetrics(Metrics &metrics) const;

    // The centre of the cell that holds a position: the coordinates the upstream is asked for.
    static std::pair<double, double> cellCentre(double latitude, double longitude);

    // Seams for tests: callers now waiting for a miss in flight; block until no refresh is queued
    // or running.
    size_t waitingCount() const;
    void waitForRefreshes();

protected:
    static std::uint64_t cellKey(double latitude, double longitude);
    // The upstream's reading for a cell, nothing when it failed (or threw).
    std::optional<Reading> fetchCell(std::uint64_t key);
    // Until when a value fetched at a time is fresh: the upstream's next update, plus jitter.
    Clock::time_point freshUntil(Clock::time_point fetchedAt) const;
    static void addCounts(Metrics &metrics, std::string cache, const CacheCounts &counts);

    Fetch fetch;
    CacheOptions options;
    Now now;

private:
    struct Entry
    {
        std::optional<Reading> value;
        Clock::time_point fetchedAt;
        Clock::time_point freshUntil;
        Clock::time_point retryAfter;
        std::shared_future<std::optional<Reading>> pending;
    };

    std::optional<Reading> heldValue(std::uint64_t key, Entry &entry, Clock::time_point now);
    void store(std::uint64_t key, const std::optional<Reading> &reading, Clock::time_point now);
    void dropExpired(Clock::time_point now);

    mutable std::mutex mutex;
    std::unordered_map<std::uint64_t, Entry> entries;
    size_t waiting = 0;
    size_t insertsSinceSweep = 0;
    CacheCounts counts;
    RefreshWorkers refreshes; // last: stops before what it uses goes away
};

} // namespace nimbara::server
