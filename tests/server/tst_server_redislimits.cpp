// The limits of a fleet in a real redis-server that the test starts itself: two limiters stand for
// two instances, each with its own Redis connections; with Redis stopped each holds its limits in
// process, and shares them again once Redis is back.

#include "EngineFixtures.h"
#include "ServerTestSupport.h"
#include "core/Fingerprint.h"
#include "core/ServiceLog.h"
#include "limits/RedisRateLimiter.h"
#include "redis/RedisClient.h"

#include <QTest>

using namespace nimbara::server;
using namespace nimbara::server::test;
using namespace std::chrono_literals;

namespace {

// One instance as far as the limits go: its own Redis connections and one limiter, on the test's
// clock (the buckets in Redis) and a still one (its own buckets).
struct Instance
{
    Instance(const RedisServer &server, Rate rate, std::atomic<long long> &milliseconds)
        : redis(*RedisAddress::parse(server.url(), error), redisOptions())
        , limiter(
              redis, "feedback-per-client", rate,
              [&milliseconds] {
                  return std::chrono::system_clock::time_point(
                      std::chrono::milliseconds(milliseconds.load()));
              },
              [] { return TokenBuckets::Clock::time_point(1h); })
    {}

    static RedisOptions redisOptions()
    {
        RedisOptions options;
        options.retryInterval = 1h; // the tests call retryNow()
        return options;
    }

    // How many of n takes for a key succeed.
    int take(int n, std::string_view key = "203.0.113.7")
    {
        int taken = 0;
        for (int i = 0; i < n; ++i)
            taken += limiter.tryTake(key);
        return taken;
    }

    std::string error;
    RedisClient redis;
    RedisRateLimiter limiter;
};

} // namespace

class TestServerRedisLimits : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void twoInstances_shareOneBudget();
    void budget_refillsAtTheRatesPace();
    void keys_boundedDigestsWithATimeToLive();
    void redisDown_limitsHoldInProcessThenSharedAgain();
    void executable_feedbackLimitHoldsAcrossInstances();

private:
    std::unique_ptr<RedisServer> server;
    std::atomic<long long> milliseconds{1714521600000};
    // 10 an hour, 3 at once: the feedback's default.
    const Rate rate{10, 3600s, 3};
    std::unique_ptr<Instance> first;
    std::unique_ptr<Instance> second;
};

void TestServerRedisLimits::initTestCase()
{
    server = std::make_unique<RedisServer>();
    QVERIFY(server->isRunning());
}

void TestServerRedisLimits::init()
{
    if (!server->isRunning())
        QVERIFY(server->start());
    QCOMPARE(server->command({"FLUSHALL"}), std::string("OK"));
    first = std::make_unique<Instance>(*server, rate, milliseconds);
    second = std::make_unique<Instance>(*server, rate, milliseconds);
}

void TestServerRedisLimits::cleanup()
{
    first.reset();
    second.reset();
}

void TestServerRedisLimits::twoInstances_shareOneBudget()
{
    QCOMPARE(first->take(2), 2);
    QCOMPARE(second->take(5), 1); // the burst of 3 is the fleet's, not each instance's
    QCOMPARE(first->take(1), 0);
    // Another client has a budget of its own.
    QCOMPARE(second->take(5, "198.51.100.1"), 3);
}

void TestServerRedisLimits::budget_refillsAtTheRatesPace()
{
    QCOMPARE(first->take(5), 3);
    milliseconds += 359'000; // 10 an hour: a token every 360 s
    QCOMPARE(second->take(1), 0);
    milliseconds += 1'000;
    QCOMPARE(second->take(2), 1);
    milliseconds += 10 * 3600'000; // a long quiet time fills no more than the burst
    QCOMPARE(first->take(5), 3);
}

void TestServerRedisLimits::keys_boundedDigestsWithATimeToLive()
{
    // Whatever a client's key holds, Redis sees a fixed-size digest under the limiter's name.
    const std::string hostile = "1.2.3.4\r\nFLUSHALL\r\n*1\r\n$4\r\nQUIT " + std::string(10000, 'x');
    QCOMPARE(first->take(1, hostile), 1);
    QCOMPARE(first->take(1, "203.0.113.7"), 1);
    const std::string key = first->limiter.keyOf(hostile);
    QCOMPARE(key.size(), std::string("nimbara:limit:feedback-per-client:").size() + 32);
    QVERIFY(key.starts_with("nimbara:limit:feedback-per-client:"));
    QCOMPARE(server->command({"DBSIZE"}), std::string("2"));
    QCOMPARE(server->command({"EXISTS", key}), std::string("1"));
    // Gone once it would be full again: 3 tokens at 10 an hour is 1,080 s.
    const auto ttl = std::stoll(server->command({"PTTL", key}));
    QVERIFY2(ttl > 1'000'000 && ttl <= 1'081'000, std::to_string(ttl).c_str());
}

void TestServerRedisLimits::redisDown_limitsHoldInProcessThenSharedAgain()
{
    QCOMPARE(first->take(1), 1);
    LogCapture log;
    server->stop();
    // Each instance holds the limit on its own: its own burst, no more.
    QCOMPARE(first->take(5), 3);
    QCOMPARE(second->take(5), 3);
    QVERIFY(!first->redis.available());
    QVERIFY(!second->redis.available());

    QVERIFY(server->start());
    QVERIFY(first->redis.retryNow());
    QVERIFY(second->redis.retryNow());
    QCOMPARE(first->take(2), 2); // the restarted Redis has a fresh budget, shared again
    QCOMPARE(second->take(5), 1);

    int down = 0;
    int back = 0;
    for (const auto &line : log.lines()) {
        down += line.find("unavailable") != std::string::npos;
        back += line.find("available again") != std::string::npos;
    }
    QCOMPARE(down, 2); // once for each instance, each way
    QCOMPARE(back, 2);
}

void TestServerRedisLimits::executable_feedbackLimitHoldsAcrossInstances()
{
    const QStringList options{QStringLiteral("--cache"),
                              QString::fromStdString(server->url()),
                              QStringLiteral("--feedback-per-client"),
                              QStringLiteral("2"),
                              QStringLiteral("--feedback-burst"),
                              QStringLiteral("2"),
                              QStringLiteral("--no-access-log")};
    TwoInstances fleet(QStringLiteral(NIMBARA_WEATHERD), options);
    QVERIFY2(fleet.started(), fleet.one.log() + fleet.two.log());
    auto &one = fleet.one;
    auto &two = fleet.two;
    const std::string form = "&v1=Ann&v2=1.0&v3=ann@example.org&v4=Hello";
    QCOMPARE(rawPost(one.port(), "/api/0.5/feedback?", form).status, 200);
    QCOMPARE(rawPost(two.port(), "/api/0.5/feedback?", form).status, 200);
    const auto over = rawPost(one.port(), "/api/0.5/feedback?", form);
    QCOMPARE(over.status, 429);
    QCOMPARE(over.body, std::string(R"({"status":"error","error":4})"));
    QCOMPARE(rawPost(two.port(), "/api/0.5/feedback?", form).status, 429);
    QVERIFY(one.stop());
    QVERIFY(two.stop());
}

QTEST_GUILESS_MAIN(TestServerRedisLimits)
#include "tst_server_redislimits.moc"
