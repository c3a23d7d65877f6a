#include "weather/WeatherCache.h"

#include <QTest>

#include <atomic>

using namespace nimbara::server;
using namespace std::chrono_literals;

namespace {

using Clock = WeatherCache::Clock;

// A fake upstream and a clock the test moves by hand.
struct Upstream
{
    std::atomic<int> calls{0};
    std::atomic<double> celsius{10};
    std::atomic<bool> failing{false};
    std::atomic<bool> holding{false};
    std::mutex mutex;
    std::condition_variable released;
    std::pair<double, double> lastPosition;

    std::optional<Reading> fetch(double latitude, double longitude)
    {
        ++calls;
        std::unique_lock lock(mutex);
        lastPosition = {latitude, longitude};
        released.wait(lock, [this] { return !holding; });
        if (failing)
            return std::nullopt;
        return Reading{celsius, "clear"};
    }

    void release()
    {
        {
            std::lock_guard lock(mutex);
            holding = false;
        }
        released.notify_all();
    }
};

struct Fixture
{
    Upstream upstream;
    // 2024-05-01 10:07:00 UTC
    std::atomic<long long> seconds{1714558020};
    WeatherCache cache{[this](double lat, double lon) { return upstream.fetch(lat, lon); }, options(),
                       [this] {
                           return Clock::time_point(std::chrono::seconds(seconds.load()));
                       }};

    static CacheOptions options()
    {
        CacheOptions options;
        options.jitterMin = 60s;
        options.jitterMax = 60s;
        return options;
    }
    void setTime(int hour, int minute, int second = 0)
    {
        seconds = 1714521600 + hour * 3600 + minute * 60 + second; // 2024-05-01 + time of day
    }
    double read(double latitude = 51.5074, double longitude = -0.1278)
    {
        auto reading = cache.reading(latitude, longitude);
        return reading ? reading->celsius : -999;
    }
};

} // namespace

class TestServerCache : public QObject
{
    Q_OBJECT

private slots:
    void freshValue_servedWithoutUpstream();
    void staleValue_servedWhileOneRefreshRuns();
    void concurrentMisses_makeOneUpstreamCall();
    void failure_noValueMeansNothingAndBacksOff();
    void failedRefresh_keepsServingUntilTooOld();
    void cells_roundToTenthOfDegree();
    void throwingFetch_releasesWaiters();
};

void TestServerCache::freshValue_servedWithoutUpstream()
{
    Fixture f;
    f.setTime(10, 7);
    QCOMPARE(f.read(), 10.0);
    f.upstream.celsius = 20;
    // Fresh until the next quarter hour (10:15) plus the jitter (60 s here).
    for (auto [minute, second] : {std::pair{7, 1}, {14, 59}, {15, 59}}) {
        f.setTime(10, minute, second);
        QCOMPARE(f.read(), 10.0);
    }
    QCOMPARE(f.upstream.calls.load(), 1);
    QCOMPARE(f.upstream.lastPosition, std::make_pair(51.5, -0.1));
}

void TestServerCache::staleValue_servedWhileOneRefreshRuns()
{
    Fixture f;
    f.setTime(10, 7);
    QCOMPARE(f.read(), 10.0);
    f.upstream.celsius = 12;
    f.upstream.holding = true;
    f.setTime(10, 16);
    // Stale: answered at once with the old value, while a single refresh waits upstream.
    for (int i = 0; i < 20; ++i)
        QCOMPARE(f.read(), 10.0);
    QTRY_COMPARE(f.upstream.calls.load(), 2);
    f.upstream.release();
    f.cache.waitForRefreshes();
    QCOMPARE(f.read(), 12.0);
    QCOMPARE(f.upstream.calls.load(), 2);
    // The refreshed value is fresh until 10:30 plus jitter.
    f.setTime(10, 30, 59);
    QCOMPARE(f.read(), 12.0);
    QCOMPARE(f.upstream.calls.load(), 2);
}

void TestServerCache::concurrentMisses_makeOneUpstreamCall()
{
    Fixture f;
    f.upstream.holding = true;
    std::vector<double> results(50);
    std::vector<std::thread> callers;
    for (size_t i = 0; i < results.size(); ++i)
        callers.emplace_back(
            [&, i] { results[i] = f.read(51.5 + 0.001 * static_cast<double>(i % 40), -0.1); });
    QTRY_COMPARE(f.cache.waitingCount(), size_t(49));
    f.upstream.release();
    for (auto &caller : callers)
        caller.join();
    QCOMPARE(f.upstream.calls.load(), 1);
    for (double result : results)
        QCOMPARE(result, 10.0);
    QCOMPARE(f.cache.waitingCount(), size_t(0));
}

void TestServerCache::failure_noValueMeansNothingAndBacksOff()
{
    Fixture f;
    f.setTime(10, 7);
    f.upstream.failing = true;
    QCOMPARE(f.read(), -999.0);
    // Within the back-off the upstream is left alone.
    f.setTime(10, 7, 59);
    QCOMPARE(f.read(), -999.0);
    QCOMPARE(f.upstream.calls.load(), 1);
    f.upstream.failing = false;
    f.setTime(10, 8, 0);
    QCOMPARE(f.read(), 10.0);
    QCOMPARE(f.upstream.calls.load(), 2);
}

void TestServerCache::failedRefresh_keepsServingUntilTooOld()
{
    Fixture f;
    f.setTime(10, 7);
    QCOMPARE(f.read(), 10.0);
    f.upstream.failing = true;
    f.setTime(10, 20);
    QCOMPARE(f.read(), 10.0);
    f.cache.waitForRefreshes();
    QCOMPARE(f.upstream.calls.load(), 2);
    // The failed refresh backs off too.
    f.setTime(10, 20, 30);
    QCOMPARE(f.read(), 10.0);
    f.cache.waitForRefreshes();
    QCOMPARE(f.upstream.calls.load(), 2);
    f.setTime(13, 7);
    QCOMPARE(f.read(), 10.0);
    f.cache.waitForRefreshes();
    // Three hours after it was fetched, a value is too old to show.
    f.setTime(13, 7, 1);
    QCOMPARE(f.read(), -999.0);
}

void TestServerCache::cells_roundToTenthOfDegree()
{
    QCOMPARE(WeatherCache::cellCentre(51.5074, -0.1278), std::make_pair(51.5, -0.1));
    QCOMPARE(WeatherCache::cellCentre(51.549, -0.151), std::make_pair(51.5, -0.2));
    QCOMPARE(WeatherCache::cellCentre(-33.87, 151.21), std::make_pair(-33.9, 151.2));
    QCOMPARE(WeatherCache::cellCentre(0.0, 179.97), std::make_pair(0.0, -180.0));
    QCOMPARE(WeatherCache::cellCentre(0.0, -179.97), std::make_pair(0.0, -180.0));

    Fixture f;
    f.read(51.46, -0.1);
    f.read(51.54, -0.1);
    QCOMPARE(f.upstream.calls.load(), 1);
    f.read(51.56, -0.1);
    QCOMPARE(f.upstream.calls.load(), 2);
}

void TestServerCache::throwingFetch_releasesWaiters()
{
    WeatherCache cache([](double, double) -> std::optional<Reading> { throw std::runtime_error("broken"); });
    QVERIFY(!cache.reading(1, 1));
}

QTEST_APPLESS_MAIN(TestServerCache)
#include "tst_server_cache.moc"
