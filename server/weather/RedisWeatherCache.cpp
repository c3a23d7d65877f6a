#include "weather/RedisWeatherCache.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <random>

namespace nimbara::server {

namespace {

using Milliseconds = std::chrono::milliseconds;

long long epochMilliseconds(WeatherCache::Clock::time_point time)
{
    return std::chrono::duration_cast<Milliseconds>(time.time_since_epoch()).count();
}

WeatherCache::Clock::time_point fromEpochMilliseconds(long long milliseconds)
{
    return WeatherCache::Clock::time_point(
        std::chrono::duration_cast<WeatherCache::Clock::duration>(Milliseconds(milliseconds)));
}

// Tells this lock holder from any other, so that a holder whose lock expired cannot free the next one's.
std::string lockToken()
{
    thread_local std::mt19937_64 random{std::random_device{}()};
    char text[33];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(random()),
                  static_cast<unsigned long long>(random()));
    return text;
}

constexpr std::string_view unlockScript =
    "if redis.call('get', KEYS[1]) == ARGV[1] then return redis.call('del', KEYS[1]) else return 0 end";

// Counts a caller for as long as it waits.
class Waiting
{
public:
    Waiting(std::mutex &mutex, size_t &count)
        : mutex(mutex)
        , count(count)
    {}
    ~Waiting()
    {
        if (counted) {
            std::lock_guard lock(mutex);
            --count;
        }
    }
    void begin()
    {
        if (counted)
            return;
        std::lock_guard lock(mutex);
        ++count;
        counted = true;
    }

private:
    std::mutex &mutex;
    size_t &count;
    bool counted = false;
};

} // namespace

RedisWeatherCache::RedisWeatherCache(RedisClient &redis, Fetch fetch, CacheOptions options,
                                     SharedCacheOptions shared, Now now)
    : WeatherCache(std::move(fetch), options, std::move(now))
    , redis(redis)
    , shared(std::move(shared))
    , sharedRefreshes(options.refreshThreads, [this](std::uint64_t key) { refresh(key); })
{}

RedisWeatherCache::~RedisWeatherCache() = default;

std::string RedisWeatherCache::keyOf(std::string_view kind, std::uint64_t key) const
{
    const auto lat = static_cast<std::int32_t>(static_cast<std::uint32_t>(key >> 32));
    const auto lon = static_cast<std::int32_t>(static_cast<std::uint32_t>(key & 0xffffffffu));
    return shared.keyPrefix + std::string(kind) + ":" + std::to_string(lat) + ":" + std::to_string(lon);
}

std::optional<RedisWeatherCache::Cell> RedisWeatherCache::loadCell(std::uint64_t key)
{
    const auto stored = redis.command({"GET", keyOf("cell", key)});
    if (stored.isNil())
        return std::nullopt;
    // Whatever is there came from another process: a cell that does not parse is a miss.
    const auto json = nlohmann::json::parse(stored.text, nullptr, false);
    const auto time = [&json](const char *name) -> std::optional<Clock::time_point> {
        auto found = json.find(name);
        if (found == json.end() || !found->is_number_integer())
            return std::nullopt;
        return fromEpochMilliseconds(found->get<long long>());
    };
    if (!json.is_object() || !json.contains("reading") || !time("fetched") || !time("fresh"))
        return std::nullopt;
    Cell cell;
    try {
        cell.value = json.at("reading").get<Reading>();
    } catch (const nlohmann::json::exception &) {
        return std::nullopt;
    }
    cell.fetchedAt = *time("fetched");
    cell.freshUntil = *time("fresh");
    if (now() - cell.fetchedAt > options.maxStaleAge)
        return std::nullopt;
    return cell;
}

bool RedisWeatherCache::failedRecently(std::uint64_t key)
{
    const auto failed = redis.command({"GET", keyOf("failed", key)});
    long long retryAfter = 0;
    if (failed.isNil() || std::sscanf(failed.text.c_str(), "%lld", &retryAfter) != 1)
        return false;
    return now() < fromEpochMilliseconds(retryAfter);
}

std::optional<Reading> RedisWeatherCache::fetchAndShare(std::uint64_t key)
{
    auto result = fetchCell(key);
    const auto current = now();
    try {
        if (result) {
            nlohmann::json cell{{"reading", *result},
                                {"fetched", epochMilliseconds(current)},
                                {"fresh", epochMilliseconds(freshUntil(current))}};
            // Redis drops the cell when it is too old to show.
            const auto keep = std::chrono::duration_cast<Milliseconds>(options.maxStaleAge).count();
            redis.command(
                {"SET", keyOf("cell", key), cell.dump(), "PX", std::to_string(std::max<long long>(1, keep))});
            keepFreshCopy(key, Cell{*result, current, freshUntil(current)});
        } else {
            const auto backoff = std::chrono::duration_cast<Milliseconds>(options.failureBackoff).count();
            redis.command({"SET", keyOf("failed", key),
                           std::to_string(epochMilliseconds(current + options.failureBackoff)), "PX",
                           std::to_string(std::max<long long>(1, backoff))});
        }
    } catch (const RedisFailure &) {
        // The answer still serves this caller; the other instances will ask for themselves.
    }
    return result;
}

bool RedisWeatherCache::lockCell(std::uint64_t key, const std::string &token)
{
    const auto answer =
        redis.command({"SET", keyOf("lock", key), token, "NX", "PX",
                       std::to_string(std::max(1LL, static_cast<long long>(shared.lockTime.count())))});
    return !answer.isNil();
}

void RedisWeatherCache::unlockCell(std::uint64_t key, const std::string &token)
{
    try {
        redis.command({"EVAL", unlockScript, "1", keyOf("lock", key), token});
    } catch (const RedisFailure &) {
        // It expires by itself.
    }
}

std::optional<Reading> RedisWeatherCache::fillLocked(std::uint64_t key, const std::string &token,
                                                     bool refreshing, const Admit &admit)
{
    std::optional<Cell> cell;
    try {
        // Another instance may have filled (or refreshed) the cell since this one looked.
        cell = loadCell(key);
    } catch (const RedisFailure &) {
        unlockCell(key, token);
        throw;
    }
    std::optional<Reading> result;
    if (cell && (!refreshing || now() < cell->freshUntil))
        result = cell->value;
    else if (!admit || admit())
        result = fetchAndShare(key);
    unlockCell(key, token);
    return result;
}

std::optional<Reading> RedisWeatherCache::heldValue(std::uint64_t key)
{
    auto cell = loadCell(key);
    if (!cell)
        return std::nullopt;
    if (now() >= cell->freshUntil) {
        sharedCounts.stale.add();
        queueRefresh(key);
    } else {
        sharedCounts.hits.add();
        keepFreshCopy(key, *cell);
    }
    return cell->value;
}

void RedisWeatherCache::keepFreshCopy(std::uint64_t key, const Cell &cell)
{
    std::lock_guard lock(mutex);
    freshCopies.insert_or_assign(key, cell);
    if (freshCopies.size() < sweepAt)
        return;
    const auto current = now();
    std::erase_if(freshCopies, [&](const auto &entry) { return current >= entry.second.freshUntil; });
    sweepAt = std::max<size_t>(1024, 2 * freshCopies.size());
}

std::optional<Reading> RedisWeatherCache::freshCopy(std::uint64_t key)
{
    std::lock_guard lock(mutex);
    const auto found = freshCopies.find(key);
    if (found == freshCopies.end() || now() >= found->second.freshUntil)
        return std::nullopt;
    sharedCounts.hits.add();
    return found->second.value;
}

std::optional<Reading> RedisWeatherCache::cachedReading(double latitude, double longitude)
{
    if (auto copy = freshCopy(cellKey(latitude, longitude)))
        return copy;
    if (!redis.available())
        return WeatherCache::cachedReading(latitude, longitude);
    return std::nullopt;
}

std::optional<Reading> RedisWeatherCache::readingWithoutRedis(double latitude, double longitude,
                                                              const Admit &admit)
{
    if (auto copy = freshCopy(cellKey(latitude, longitude)))
        return copy;
    return WeatherCache::reading(latitude, longitude, admit);
}

std::optional<Reading> RedisWeatherCache::reading(double latitude, double longitude, const Admit &admit)
{
    if (!redis.available())
        return readingWithoutRedis(latitude, longitude, admit);
    const auto key = cellKey(latitude, longitude);
    try {
        if (auto held = heldValue(key))
            return held;
    } catch (const RedisFailure &) {
        return readingWithoutRedis(latitude, longitude, admit);
    }
    sharedCounts.misses.add();

    // A miss: one caller of this instance fills the cell, the others here wait for that one.
    std::promise<std::optional<Reading>> promise;
    {
        std::unique_lock lock(mutex);
        if (auto found = pending.find(key); found != pending.end()) {
            auto future = found->second;
            lock.unlock();
            return future.get();
        }
        pending.emplace(key, promise.get_future().share());
    }
    std::optional<Reading> result;
    const auto deadline = SteadyClock::now() + shared.lockTime;
    try {
        result = fillCell(key, admit);
    } catch (const RedisFailure &) {
        // Redis failed while this caller waited: a fetch of its own only if it still ends in time.
        if (fetchEndsBy(deadline))
            result = readingWithoutRedis(latitude, longitude, admit);
        else if (auto copy = freshCopy(key))
            result = std::move(copy);
        else
            result = WeatherCache::cachedReading(latitude, longitude);
    } catch (...) {
        result = std::nullopt; // never leave the waiters hanging
    }
    {
        std::lock_guard lock(mutex);
        pending.erase(key);
    }
    promise.set_value(result);
    return result;
}

std::optional<Reading> RedisWeatherCache::fillCell(std::uint64_t key, const Admit &admit)
{
    const auto token = lockToken();
    Waiting waitingForOthers(mutex, waiting);
    // The request's answer is due within lockTime, whatever the fleet does: a live holder has stored
    // a value or a failure by then; a dead holder's lock is taken over only while a fetch of this
    // caller's own still ends in time, else the caller gives up at the deadline.
    const auto deadline = SteadyClock::now() + shared.lockTime;
    for (bool first = true;; first = false) {
        if (failedRecently(key))
            return std::nullopt;
        if ((first || fetchEndsBy(deadline)) && lockCell(key, token))
            return fillLocked(key, token, false, admit);
        waitingForOthers.begin();
        std::this_thread::sleep_for(shared.pollInterval);
        if (auto cell = loadCell(key))
            return cell->value;
        if (SteadyClock::now() >= deadline)
            return std::nullopt;
    }
}

bool RedisWeatherCache::fetchEndsBy(SteadyClock::time_point deadline) const
{
    return SteadyClock::now() + shared.fetchTime <= deadline;
}

void RedisWeatherCache::quiet(std::uint64_t key, Clock::duration time)
{
    std::lock_guard lock(mutex);
    const auto current = now();
    if (quietUntil.size() >= 4096)
        std::erase_if(quietUntil, [&](const auto &item) { return item.second <= current; });
    quietUntil[key] = current + time;
}

void RedisWeatherCache::queueRefresh(std::uint64_t key)
{
    {
        std::lock_guard lock(mutex);
        if (auto found = quietUntil.find(key); found != quietUntil.end()) {
            if (now() < found->second)
                return;
            quietUntil.erase(found);
        }
    }
    sharedRefreshes.push(key);
}

void RedisWeatherCache::refresh(std::uint64_t key)
{
    try {
        if (failedRecently(key))
            return quiet(key, options.failureBackoff);
        const auto token = lockToken();
        if (!lockCell(key, token))
            return quiet(key, std::chrono::seconds(1)); // another instance is at it
        if (!fillLocked(key, token, true))
            quiet(key, options.failureBackoff);
    } catch (const RedisFailure &) {
        // Redis went away: the next reading falls back to the in-process cache.
    }
}

void RedisWeatherCache::addMetrics(Metrics &metrics) const
{
    WeatherCache::addMetrics(metrics);
    addCounts(metrics, "redis", sharedCounts);
}

size_t RedisWeatherCache::sharedWaitingCount() const
{
    std::lock_guard lock(mutex);
    return waiting;
}

void RedisWeatherCache::waitForSharedRefreshes()
{
    sharedRefreshes.waitUntilIdle();
}

} // namespace nimbara::server
