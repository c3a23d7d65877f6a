#pragma once

#include "redis/RedisClient.h"
#include "weather/WeatherCache.h"

namespace nimbara::server {

struct SharedCacheOptions
{
    // How long a fetch may hold a cell's lock: longer than the slowest upstream failover, so that a
    // second instance does not fetch beside a slow first one; short enough that a crashed holder
    // does not keep the cell empty for long.
    std::chrono::milliseconds lockTime{12000};
    // The longest one fetch takes (the upstream time-out through every provider). A caller waits
    // for the cell for lockTime at most, counting a fetch of its own: it takes a dead holder's lock
    // over only while a whole fetch still fits in that time.
    std::chrono::milliseconds fetchTime{10000};
    // How often an instance waiting for another's fetch looks for the value.
    std::chrono::milliseconds pollInterval{10};
    // Keys are this plus "cell:" / "lock:" / "failed:" and the cell's indices.
    std::string keyPrefix = "nimbara:";
};

// The weather cells shared by every instance of a fleet through Redis: a cell's reading with its
// freshness, written by whichever instance fetched it. A miss takes the cell's lock (SET NX PX)
// before it asks the upstream, so that the fleet makes one upstream call per cell; the others wait
// for the value (one waiter per instance, the rest of its callers wait on that one). A stale value
// is answered at once while one instance refreshes it. A failed fetch is remembered for the backoff
// time for the whole fleet. When Redis is unavailable, the in-process cache of this instance (the
// base class) answers until Redis is back.
class RedisWeatherCache final : public WeatherCache
{
public:
    RedisWeatherCache(RedisClient &redis, Fetch fetch, CacheOptions options = {},
                      SharedCacheOptions shared = {}, Now now = &Clock::now);
    ~RedisWeatherCache() override;

    // A value in this instance's copies or in Redis asks admit nothing; while Redis is away, the
    // copies answer before the in-process cache is asked.
    std::optional<Reading> reading(double latitude, double longitude, const Admit &admit = {}) override;
    // Answers from this instance's copy of fresh shared cells only (and, while Redis is away, its
    // in-process cache): it runs where a Redis round trip would hold up every other client of the
    // thread, so anything else goes to reading().
    std::optional<Reading> cachedReading(double latitude, double longitude) override;
    // The shared cells' lookups beside this instance's own (used while Redis is away).
    void addMetrics(Metrics &metrics) const override;

    // Seams for tests: callers now waiting for another instance's fetch; block until no shared
    // refresh is queued or running.
    size_t sharedWaitingCount() const;
    void waitForSharedRefreshes();

private:
    struct Cell
    {
        Reading value;
        Clock::time_point fetchedAt;
        Clock::time_point freshUntil;
    };

    std::string keyOf(std::string_view kind, std::uint64_t key) const;
    std::optional<Cell> loadCell(std::uint64_t key);
    // The shared value of a cell, fresh or stale (then a refresh is queued); nothing on a miss. A
    // fresh one is copied for cachedReading().
    std::optional<Reading> heldValue(std::uint64_t key);
    void keepFreshCopy(std::uint64_t key, const Cell &cell);
    bool failedRecently(std::uint64_t key);
    // This instance's fresh copy of a shared cell.
    std::optional<Reading> freshCopy(std::uint64_t key);
    // Asks the upstream and shares what it got; the caller holds the cell's lock.
    std::optional<Reading> fetchAndShare(std::uint64_t key);
    bool lockCell(std::uint64_t key, const std::string &token);
    void unlockCell(std::uint64_t key, const std::string &token);
    // With the cell's lock taken: the cell if it is there (fresh, when refreshing), else a fetch.
    std::optional<Reading> fillLocked(std::uint64_t key, const std::string &token, bool refreshing,
                                      const Admit &admit = {});
    std::optional<Reading> fillCell(std::uint64_t key, const Admit &admit);
    using SteadyClock = std::chrono::steady_clock;
    // Whether a fetch started now ends by then.
    bool fetchEndsBy(SteadyClock::time_point deadline) const;
    // Without Redis: the copies, else the in-process cache.
    std::optional<Reading> readingWithoutRedis(double latitude, double longitude, const Admit &admit);
    void queueRefresh(std::uint64_t key);
    // No refresh of the cell from here before a time (its fetch failed, another instance refreshes it).
    void quiet(std::uint64_t key, Clock::duration time);
    void refresh(std::uint64_t key);

    RedisClient &redis;
    SharedCacheOptions shared;

    mutable std::mutex mutex;
    std::unordered_map<std::uint64_t, std::shared_future<std::optional<Reading>>> pending;
    size_t waiting = 0;
    std::unordered_map<std::uint64_t, Clock::time_point> quietUntil;
    // Fresh shared cells as last read here, until their shared fresh-until time; expired ones are
    // swept whenever the map has doubled since the last sweep.
    std::unordered_map<std::uint64_t, Cell> freshCopies;
    size_t sweepAt = 1024;
    CacheCounts sharedCounts;
    RefreshWorkers sharedRefreshes; // last: stops before what it uses goes away
};

} // namespace nimbara::server
