// The weather cells shared by a fleet through a real redis-server that the test starts itself: two
// caches stand for two instances, each with its own connections, in front of one fake upstream.

#include "EngineFixtures.h"
#include "PrometheusText.h"
#include "ServerTestSupport.h"
#include "core/Fingerprint.h"
#include "core/ServiceLog.h"
#include "weather/RedisWeatherCache.h"

#include <QTest>

#include <atomic>
#include <future>

using namespace nimbara::server;
using namespace nimbara::server::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::string)

namespace {

using Clock = WeatherCache::Clock;

// Where London's cell lives in Redis.
const std::string londonCell = "nimbara:cell:515:-1";

// One instance of the service as far as the cache goes: its own Redis connections and cache, the
// fleet's upstream and the test's clock.
struct Instance
{
    Instance(const RedisServer &server, FakeUpstream &upstream, std::atomic<long long> &seconds,
             SharedCacheOptions shared = sharedOptions())
        : redis(*RedisAddress::parse(server.url(), error), redisOptions())
        , provider(upstream.url(), "nimbara-weatherd/test", 2s)
        , cache(
              redis,
              [this](double latitude, double longitude) {
                  std::string reason;
                  return provider.currentWeather(latitude, longitude, reason);
              },
              cacheOptions(), shared,
              [&seconds] { return Clock::time_point(std::chrono::seconds(seconds.load())); })
    {}

    static RedisOptions redisOptions()
    {
        RedisOptions options;
        options.retryInterval = 1h; // the tests call retryNow()
        return options;
    }
    static CacheOptions cacheOptions()
    {
        CacheOptions options;
        options.jitterMin = 60s;
        options.jitterMax = 60s;
        return options;
    }
    static SharedCacheOptions sharedOptions()
    {
        SharedCacheOptions options;
        options.lockTime = 3s;
        options.fetchTime = 2s; // the provider's time-out
        options.pollInterval = 2ms;
        return options;
    }

    double read(double latitude = 51.5074, double longitude = -0.1278)
    {
        auto reading = cache.reading(latitude, longitude);
        return reading ? reading->celsius : -999;
    }

    // The lookups this instance's metrics count, in the shared cells ("redis") or its own ("process"),
    // as hit, stale and miss.
    std::vector<double> lookups(const std::string &where) const
    {
        Metrics metrics;
        cache.addMetrics(metrics);
        std::string error;
        const auto text = PrometheusText::parse(metrics.text(), error);
        std::vector<double> counts;
        for (const char *result : {"hit", "stale", "miss"})
            counts.push_back(text ? text->value("nimbara_weather_cache_lookups_total{cache=\"" + where +
                                                "\",result=\"" + result + "\"}")
                                  : -1);
        return counts;
    }

    std::string error;
    RedisClient redis;
    OpenMeteoProvider provider;
    RedisWeatherCache cache;
};

} // namespace

class TestServerRedisCache : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fleet_makesOneUpstreamCallPerCell();
    void missInFlight_otherInstanceWaitsForIt();
    void staleCell_servedWhileOneInstanceRefreshes();
    void answerAtOnce_fromFreshCopiesNeverFromRedis();
    void failure_rememberedForTheWholeFleet();
    void deadLockHolder_lockExpiresAndAnotherFetches();
    void waitForAnotherFetch_endsAtTheDeadline_data();
    void waitForAnotherFetch_endsAtTheDeadline();
    void storedCell_readDefensively_data();
    void storedCell_readDefensively();
    void redisDown_inProcessCacheServesThenSharedAgain();
    void address_parsed_data();
    void address_parsed();
    void executable_twoInstancesShareTheirCells();
    void executable_budgetChargedOnlyForUpstreamCalls();

private:
    void setTime(int hour, int minute, int second = 0)
    {
        seconds = 1714521600 + hour * 3600 + minute * 60 + second; // 2024-05-01 + time of day
    }

    std::unique_ptr<RedisServer> server;
    std::unique_ptr<FakeUpstream> upstream;
    std::atomic<long long> seconds{0};
    std::unique_ptr<Instance> first;
    std::unique_ptr<Instance> second;
};

void TestServerRedisCache::initTestCase()
{
    server = std::make_unique<RedisServer>();
    QVERIFY(server->isRunning());
}

void TestServerRedisCache::init()
{
    if (!server->isRunning())
        QVERIFY(server->start());
    QCOMPARE(server->command({"FLUSHALL"}), std::string("OK"));
    upstream = std::make_unique<FakeUpstream>();
    upstream->answer(200, openMeteoAnswer(10, 0));
    setTime(10, 7);
    first = std::make_unique<Instance>(*server, *upstream, seconds);
    second = std::make_unique<Instance>(*server, *upstream, seconds);
}

void TestServerRedisCache::cleanup()
{
    upstream->release();
    first.reset();
    second.reset();
    upstream.reset();
}

void TestServerRedisCache::fleet_makesOneUpstreamCallPerCell()
{
    // 20 cells, asked 50 times each by 8 threads on each instance, all at once.
    std::vector<std::future<int>> callers;
    std::atomic<int> wrong{0};
    for (int thread = 0; thread < 16; ++thread)
        callers.push_back(std::async(std::launch::async, [&, thread] {
            Instance &instance = thread % 2 ? *first : *second;
            for (int i = 0; i < 125; ++i)
                if (instance.read(40 + 0.1 * ((i + thread) % 20), 10) != 10)
                    ++wrong;
            return 0;
        }));
    for (auto &caller : callers)
        caller.get();
    QCOMPARE(wrong.load(), 0);
    QCOMPARE(upstream->calls.load(), 20);
    QCOMPARE(server->command({"DBSIZE"}), std::string("20")); // the cells; no lock left behind
}

void TestServerRedisCache::missInFlight_otherInstanceWaitsForIt()
{
    upstream->hold();
    auto fromFirst = std::async(std::launch::async, [this] { return first->read(); });
    QTRY_COMPARE(upstream->calls.load(), 1);
    auto fromSecond = std::async(std::launch::async, [this] { return second->read(); });
    QTRY_COMPARE(second->cache.sharedWaitingCount(), size_t(1));
    upstream->answer(200, openMeteoAnswer(7, 0));
    upstream->release();
    QCOMPARE(fromFirst.get(), 7.0);
    QCOMPARE(fromSecond.get(), 7.0);
    QCOMPARE(upstream->calls.load(), 1);
    QCOMPARE(second->cache.sharedWaitingCount(), size_t(0));
}

void TestServerRedisCache::staleCell_servedWhileOneInstanceRefreshes()
{
    QCOMPARE(first->read(), 10.0);
    upstream->answer(200, openMeteoAnswer(12, 0));
    // Fresh until the next quarter hour (10:15) and the jitter (60 s), for every instance.
    setTime(10, 15, 59);
    QCOMPARE(second->read(), 10.0);
    QCOMPARE(upstream->calls.load(), 1);

    setTime(10, 16);
    upstream->hold();
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(first->read(), 10.0);
        QCOMPARE(second->read(), 10.0);
    }
    upstream->release();
    first->cache.waitForSharedRefreshes();
    second->cache.waitForSharedRefreshes();
    QCOMPARE(upstream->calls.load(), 2);
    QCOMPARE(first->read(), 12.0);
    QCOMPARE(second->read(), 12.0);
    QCOMPARE(first->lookups("redis"), (std::vector<double>{1, 10, 1}));
    QCOMPARE(second->lookups("redis"), (std::vector<double>{2, 10, 0}));
    QCOMPARE(first->lookups("process"), (std::vector<double>{0, 0, 0}));
}

void TestServerRedisCache::answerAtOnce_fromFreshCopiesNeverFromRedis()
{
    const double latitude = 51.5074, longitude = -0.1278;
    // The first instance fetched the cell; the second has never read it, so its answer at once has
    // nothing and the request goes where a Redis round trip may wait.
    QCOMPARE(first->read(), 10.0);
    QVERIFY(!second->cache.cachedReading(latitude, longitude));
    QCOMPARE(second->read(), 10.0);

    // Both hold a copy now: with the shared cells gone, they still answer from it, until the cell's
    // fresh-until time (10:15 and the 60 s jitter).
    QCOMPARE(server->command({"FLUSHALL"}), std::string("OK"));
    setTime(10, 15, 59);
    for (Instance *instance : {first.get(), second.get()}) {
        const auto reading = instance->cache.cachedReading(latitude, longitude);
        QVERIFY(reading);
        QCOMPARE(reading->celsius, 10.0);
    }
    QCOMPARE(second->lookups("redis")[0], 2.0); // its read from Redis and the copy's answer
    setTime(10, 16);
    QVERIFY(!first->cache.cachedReading(latitude, longitude));
    QVERIFY(!second->cache.cachedReading(latitude, longitude));
    QCOMPARE(upstream->calls.load(), 1);
}

void TestServerRedisCache::failure_rememberedForTheWholeFleet()
{
    upstream->answer(500, "{}");
    QCOMPARE(first->read(), -999.0);
    QCOMPARE(upstream->calls.load(), 1);
    // Within the back-off (60 s) no instance asks the upstream for that cell.
    setTime(10, 7, 59);
    QCOMPARE(second->read(), -999.0);
    QCOMPARE(upstream->calls.load(), 1);
    upstream->answer(200, openMeteoAnswer(9, 0));
    setTime(10, 8);
    QCOMPARE(second->read(), 9.0);
    QCOMPARE(first->read(), 9.0);
    QCOMPARE(upstream->calls.load(), 2);
}

void TestServerRedisCache::deadLockHolder_lockExpiresAndAnotherFetches()
{
    // An instance took the lock and died before it stored anything.
    QCOMPARE(server->command({"SET", "nimbara:lock:515:-1", "gone", "PX", "300"}), std::string("OK"));
    QCOMPARE(first->read(), 10.0);
    QCOMPARE(upstream->calls.load(), 1);
}

void TestServerRedisCache::waitForAnotherFetch_endsAtTheDeadline_data()
{
    QTest::addColumn<int>("lockMilliseconds");
    QTest::addColumn<int>("fetchMilliseconds");
    QTest::addColumn<bool>("redisStops");
    // The holder's fetch outlasts its lock: the lock is free again before the waiter's deadline,
    // but a fetch of the waiter's own would end past it.
    QTest::newRow("holder outlasts its lock") << 300 << 100 << false;
    // Redis goes away while the waiter waits: a fetch of its own would end past the deadline.
    QTest::newRow("redis fails during the wait") << 1000 << 1000 << true;
}

void TestServerRedisCache::waitForAnotherFetch_endsAtTheDeadline()
{
    QFETCH(int, lockMilliseconds);
    QFETCH(int, fetchMilliseconds);
    QFETCH(bool, redisStops);
    auto shared = Instance::sharedOptions();
    shared.lockTime = std::chrono::milliseconds(lockMilliseconds);
    shared.fetchTime = std::chrono::milliseconds(fetchMilliseconds);
    first = std::make_unique<Instance>(*server, *upstream, seconds, shared);
    second = std::make_unique<Instance>(*server, *upstream, seconds, shared);

    upstream->hold();
    auto fromFirst = std::async(std::launch::async, [this] { return first->read(); });
    QTRY_COMPARE(upstream->calls.load(), 1);
    auto fromSecond = std::async(std::launch::async, [this] { return second->read(); });
    QTRY_COMPARE(second->cache.sharedWaitingCount(), size_t(1));
    if (redisStops)
        server->stop();
    // The waiter answers nothing while the upstream still holds the first fetch, having asked
    // nothing itself.
    QCOMPARE(fromSecond.get(), -999.0);
    QCOMPARE(upstream->calls.load(), 1);
    upstream->release();
    fromFirst.get();
}

void TestServerRedisCache::storedCell_readDefensively_data()
{
    QTest::addColumn<std::string>("stored");
    QTest::addColumn<double>("expected");
    QTest::addColumn<int>("upstreamCalls");
    // 2024-05-01 10:07:00 is 1714558020000 ms.
    QTest::newRow("whole") << std::string(R"({"reading":{"celsius":3.5,"condition":"rain"},)"
                                          R"("fetched":1714558000000,"fresh":1714558560000})")
                           << 3.5 << 0;
    QTest::newRow("member of a newer instance")
        << std::string(
               R"({"reading":{"celsius":4,"condition":"rain","uv":3},"fetched":1714558000000,"fresh":1714558560000})")
        << 4.0 << 0;
    QTest::newRow("member missing")
        << std::string(R"({"reading":{"celsius":5},"fetched":1714558000000,"fresh":1714558560000})") << 5.0
        << 0;
    QTest::newRow("not JSON") << std::string("\x01garbage") << 10.0 << 1;
    QTest::newRow("wrong types")
        << std::string(R"({"reading":{"celsius":"warm"},"fetched":1714558000000,"fresh":1714558560000})")
        << 10.0 << 1;
    QTest::newRow("no times") << std::string(R"({"reading":{"celsius":6}})") << 10.0 << 1;
    QTest::newRow("too old to show") << std::string(R"({"reading":{"celsius":6},"fetched":1714540000000,)"
                                                    R"("fresh":1714541000000})")
                                     << 10.0 << 1;
}

void TestServerRedisCache::storedCell_readDefensively()
{
    QFETCH(std::string, stored);
    QFETCH(double, expected);
    QFETCH(int, upstreamCalls);
    QCOMPARE(server->command({"SET", londonCell, stored}), std::string("OK"));
    QCOMPARE(first->read(), expected);
    QCOMPARE(upstream->calls.load(), upstreamCalls);
}

void TestServerRedisCache::redisDown_inProcessCacheServesThenSharedAgain()
{
    QCOMPARE(first->read(), 10.0);
    LogCapture log;
    server->stop();
    // Answers go on from this instance's copies of shared cells, and its own cache for new ones.
    QCOMPARE(first->read(), 10.0);
    QCOMPARE(first->read(), 10.0);
    QCOMPARE(first->read(40, 10), 10.0);
    QCOMPARE(first->read(40, 10), 10.0);
    QCOMPARE(upstream->calls.load(), 2);
    QVERIFY(!first->redis.available());
    QVERIFY(!first->redis.retryNow());

    QVERIFY(server->start());
    QVERIFY(first->redis.retryNow());
    QCOMPARE(first->read(41, 10), 10.0);
    QCOMPARE(second->read(41, 10), 10.0); // from the shared cell
    QCOMPARE(upstream->calls.load(), 3);
    QVERIFY(!server->command({"GET", "nimbara:cell:410:100"}).empty());
    QCOMPARE(first->lookups("process"), (std::vector<double>{1, 0, 1}));
    QCOMPARE(first->lookups("redis"), (std::vector<double>{2, 0, 2}));

    int down = 0;
    int back = 0;
    for (const auto &line : log.lines()) {
        down += line.find("unavailable") != std::string::npos;
        back += line.find("available again") != std::string::npos;
    }
    QCOMPARE(down, 1);
    QCOMPARE(back, 1);
}

void TestServerRedisCache::address_parsed_data()
{
    QTest::addColumn<std::string>("url");
    QTest::addColumn<std::string>("shown"); // empty: refused
    QTest::addColumn<std::string>("password");
    QTest::newRow("host only") << std::string("redis://cache.example.org")
                               << std::string("cache.example.org:6379/0") << std::string();
    QTest::newRow("port and database")
        << std::string("redis://127.0.0.1:6380/2") << std::string("127.0.0.1:6380/2") << std::string();
    QTest::newRow("password") << std::string("redis://:s3cret@10.0.0.5/1") << std::string("10.0.0.5:6379/1")
                              << std::string("s3cret");
    QTest::newRow("IPv6") << std::string("redis://[::1]:6379") << std::string("[::1]:6379/0")
                          << std::string();
    QTest::newRow("other scheme") << std::string("http://127.0.0.1:6379") << std::string() << std::string();
    QTest::newRow("no host") << std::string("redis://:6379") << std::string() << std::string();
    QTest::newRow("port 0") << std::string("redis://h:0") << std::string() << std::string();
    QTest::newRow("port text") << std::string("redis://h:http") << std::string() << std::string();
    QTest::newRow("database text") << std::string("redis://h/x") << std::string() << std::string();
}

void TestServerRedisCache::address_parsed()
{
    QFETCH(std::string, url);
    QFETCH(std::string, shown);
    QFETCH(std::string, password);
    std::string error;
    auto address = RedisAddress::parse(url, error);
    QCOMPARE(address ? address->text() : std::string(), shown);
    QCOMPARE(address ? address->password : std::string(), password);
    QCOMPARE(error.empty(), bool(address));
}

void TestServerRedisCache::executable_twoInstancesShareTheirCells()
{
    const QStringList options{QStringLiteral("--cache"),
                              QString::fromStdString(server->url() + "/3"),
                              QStringLiteral("--provider-url"),
                              QString::fromStdString(upstream->url()),
                              QStringLiteral("--second-provider-url"),
                              QString(),
                              QStringLiteral("--no-access-log")};
    TwoInstances fleet(QStringLiteral(NIMBARA_WEATHERD), options);
    QVERIFY2(fleet.started(), fleet.one.log() + fleet.two.log());
    auto &one = fleet.one;
    auto &two = fleet.two;
    QVERIFY2(one.log().contains(("cache redis 127.0.0.1:" + std::to_string(server->port()) + "/3").c_str()),
             one.log().constData());
    const std::string gate =
        "/api/0.5/gate?&v1=51.5074&v2=-0.1278&v3=auto&v4=en&v5=&v6=" + fingerprint(NIMBARA_SERVER_VERSION);
    for (int i = 0; i < 10; ++i) {
        const auto answer = rawGet(i % 2 ? one.port() : two.port(), gate);
        QCOMPARE(answer.status, 200);
        QVERIFY2(answer.body.find(R"("celsius":10)") != std::string::npos, answer.body.c_str());
    }
    QCOMPARE(upstream->calls.load(), 1);
    QCOMPARE(server->command({"DBSIZE"}), std::string("0")); // the cells went to database 3
    QVERIFY(one.stop());
    QVERIFY(two.stop());
}

// A client with a budget of one new cell: a cell that another instance fetched, or that this one
// holds while Redis is down, costs nothing; only its upstream calls do.
void TestServerRedisCache::executable_budgetChargedOnlyForUpstreamCalls()
{
    const QStringList options{QStringLiteral("--cache"),
                              QString::fromStdString(server->url()),
                              QStringLiteral("--provider-url"),
                              QString::fromStdString(upstream->url()),
                              QStringLiteral("--second-provider-url"),
                              QString(),
                              QStringLiteral("--new-cells-per-client"),
                              QStringLiteral("1"),
                              QStringLiteral("--no-access-log")};
    TwoInstances fleet(QStringLiteral(NIMBARA_WEATHERD), options);
    QVERIFY2(fleet.started(), fleet.one.log() + fleet.two.log());
    auto &one = fleet.one;
    auto &two = fleet.two;
    auto gate = [](int port, const char *latitude) {
        return rawGet(port, std::string("/api/0.5/gate?&v1=") + latitude +
                                "&v2=-0.1278&v3=auto&v4=en&v5=&v6=" + fingerprint(NIMBARA_SERVER_VERSION));
    };
    auto answered = [](const RawResponse &answer) {
        return answer.status == 200 && answer.body.find(R"("celsius":10)") != std::string::npos;
    };

    QVERIFY(answered(gate(one.port(), "51.5")));
    QCOMPARE(upstream->calls.load(), 1);
    // In Redis, fetched by the other instance.
    auto fromRedis = gate(two.port(), "51.5");
    QVERIFY2(answered(fromRedis), fromRedis.body.c_str());
    // A new cell is what the budget is for, and it is spent for the whole fleet.
    auto overBudget = gate(two.port(), "40.1");
    QCOMPARE(overBudget.status, 503);
    QVERIFY2(overBudget.body.find(R"("error":3)") != std::string::npos, overBudget.body.c_str());
    QCOMPARE(upstream->calls.load(), 1);

    // Redis goes: a new cell comes from the upstream on this instance's own budget, and the cell it
    // holds a fresh copy of is answered from that copy.
    server->stop();
    QVERIFY(answered(gate(one.port(), "30.1")));
    QCOMPARE(upstream->calls.load(), 2);
    auto fromCopy = gate(one.port(), "51.5");
    QVERIFY2(answered(fromCopy), fromCopy.body.c_str());
    QCOMPARE(upstream->calls.load(), 2);
    QVERIFY(one.stop());
    QVERIFY(two.stop());
}

QTEST_GUILESS_MAIN(TestServerRedisCache)
#include "tst_server_rediscache.moc"
