#include "weather/WeatherCache.h"

#include <cmath>
#include <random>

namespace nimbara::server {

namespace {

constexpr size_t sweepEvery = 4096;

// Cells of 0.1 degree, counted from the equator and the prime meridian; the 180th meridian is
// one cell whichever sign it comes with.
std::pair<std::int32_t, std::int32_t> cellIndices(double latitude, double longitude)
{
    auto lat = static_cast<std::int32_t>(std::lround(latitude * 10));
    auto lon = static_cast<std::int32_t>(std::lround(longitude * 10));
    if (lon == 1800)
        lon = -1800;
    return {lat, lon};
}

} // namespace

WeatherCache::WeatherCache(Fetch fetch, CacheOptions options, Now now)
    : fetch(std::move(fetch))
    , options(options)
    , now(std::move(now))
    , refreshes(options.refreshThreads,
                [this](std::uint64_t key) { store(key, fetchCell(key), this->now()); })
{}

WeatherCache::~WeatherCache() = default;

std::uint64_t WeatherCache::cellKey(double latitude, double longitude)
{
    auto [lat, lon] = cellIndices(latitude, longitude);
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(lat)) << 32) |
           static_cast<std::uint32_t>(lon);
}

std::pair<double, double> WeatherCache::cellCentre(double latitude, double longitude)
{
    auto [lat, lon] = cellIndices(latitude, longitude);
    return {lat / 10.0, lon / 10.0};
}

std::optional<Reading> WeatherCache::fetchCell(std::uint64_t key)
{
    auto lat = static_cast<std::int32_t>(static_cast<std::uint32_t>(key >> 32));
    auto lon = static_cast<std::int32_t>(static_cast<std::uint32_t>(key & 0xffffffffu));
    try {
        return fetch(lat / 10.0, lon / 10.0);
    } catch (...) {
        return std::nullopt; // a throwing fetch must not leave waiters hanging
    }
}

std::optional<Reading> WeatherCache::reading(double latitude, double longitude, const Admit &admit)
{
    const auto key = cellKey(latitude, longitude);
    std::promise<std::optional<Reading>> promise;
    {
        std::unique_lock lock(mutex);
        bool admitted = !admit;
        for (bool first = true;; first = false) {
            const auto current = now();
            if (!entries.contains(key) && ++insertsSinceSweep >= sweepEvery)
                dropExpired(current);
            Entry &entry = entries[key];
            if (auto held = heldValue(key, entry, current))
                return held;
            if (first)
                counts.misses.add();
            if (entry.pending.valid()) {
                auto pending = entry.pending;
                ++waiting;
                lock.unlock();
                auto result = pending.get();
                lock.lock();
                --waiting;
                return result;
            }
            if (current < entry.retryAfter)
                return std::nullopt;
            if (admitted) {
                entry.pending = promise.get_future().share();
                break;
            }
            // The budget may ask Redis: not under the lock. Another caller may fill the cell meanwhile.
            lock.unlock();
            if (!admit())
                return std::nullopt;
            admitted = true;
            lock.lock();
        }
    }
    auto result = fetchCell(key);
    store(key, result, now());
    promise.set_value(result);
    return result;
}

std::optional<Reading> WeatherCache::heldValue(std::uint64_t key, Entry &entry, Clock::time_point current)
{
    if (entry.value && current - entry.fetchedAt > options.maxStaleAge)
        entry.value.reset();
    if (!entry.value)
        return std::nullopt;
    if (current < entry.freshUntil) {
        counts.hits.add();
    } else {
        counts.stale.add();
        if (current >= entry.retryAfter)
            refreshes.push(key);
    }
    return entry.value;
}

std::optional<Reading> WeatherCache::cachedReading(double latitude, double longitude)
{
    const auto key = cellKey(latitude, longitude);
    std::lock_guard lock(mutex);
    auto it = entries.find(key);
    return it == entries.end() ? std::nullopt : heldValue(key, it->second, now());
}

void WeatherCache::store(std::uint64_t key, const std::optional<Reading> &reading, Clock::time_point current)
{
    std::lock_guard lock(mutex);
    Entry &entry = entries[key];
    entry.pending = {};
    if (!reading) {
        entry.retryAfter = current + options.failureBackoff;
        return;
    }
    entry.value = reading;
    entry.fetchedAt = current;
    entry.retryAfter = {};
    entry.freshUntil = freshUntil(current);
}

WeatherCache::Clock::time_point WeatherCache::freshUntil(Clock::time_point fetchedAt) const
{
    thread_local std::mt19937 random{std::random_device{}()};
    const auto interval = std::chrono::duration_cast<Clock::duration>(options.updateInterval);
    const auto nextUpdate = Clock::time_point((fetchedAt.time_since_epoch() / interval + 1) * interval);
    std::uniform_int_distribution<long> jitter(options.jitterMin.count(),
                                               std::max(options.jitterMin, options.jitterMax).count());
    return nextUpdate + std::chrono::seconds(jitter(random));
}

void WeatherCache::dropExpired(Clock::time_point current)
{
    insertsSinceSweep = 0;
    std::erase_if(entries, [&](const auto &item) {
        const Entry &entry = item.second;
        return !entry.pending.valid() && current >= entry.retryAfter &&
               (!entry.value || current - entry.fetchedAt > options.maxStaleAge);
    });
}

void WeatherCache::addCounts(Metrics &metrics, std::string cache, const CacheCounts &counts)
{
    const std::string help =
        "Weather cache lookups, by cache (process or redis) and result (hit, stale or miss).";
    for (const auto &[result, counter] : {std::pair{"hit", &counts.hits}, std::pair{"stale", &counts.stale},
                                          std::pair{"miss", &counts.misses}})
        metrics.addCounter("nimbara_weather_cache_lookups_total", help,
                           {{"cache", cache}, {"result", result}},
                           [count = counter] { return static_cast<double>(count->get()); });
}

void WeatherCache::addMetrics(Metrics &metrics) const
{
    addCounts(metrics, "process", counts);
}

size_t WeatherCache::waitingCount() const
{
    std::lock_guard lock(mutex);
    return waiting;
}

void WeatherCache::waitForRefreshes()
{
    refreshes.waitUntilIdle();
}

} // namespace nimbara::server
