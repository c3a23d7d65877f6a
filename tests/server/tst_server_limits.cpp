// What one client may cost the service, with a clock the test moves: token buckets, the feedback
// limits (per address, per machine, storage) and the upstream budgets, through the service's plain
// handlers.

#include "core/Fingerprint.h"
#include "core/ServiceLog.h"
#include "feedback/Feedback.h"
#include "limits/Limits.h"
#include "store/ServiceStore.h"
#include "weather/Gate.h"

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <atomic>
#include <thread>

#include <QTemporaryDir>
#include <QTest>

using namespace nimbara::server;
using namespace std::chrono_literals;

namespace {

using Clock = TokenBuckets::Clock;

struct ManualClock
{
    Clock::time_point now = Clock::time_point(24h);
    TokenBuckets::Now function()
    {
        return [this] {
            return now;
        };
    }
};

// The limits of both requests, as a test sets them.
struct ServiceLimits
{
    GateLimits gate;
    FeedbackLimits feedback;
};

// A service whose upstream is a counter and whose limits the test sets.
struct Fixture
{
    explicit Fixture(ServiceLimits limits)
        : store(dir.filePath(QStringLiteral("weatherd.sqlite")).toStdString())
        , cache([this](double, double) {
            ++upstreamCalls;
            return std::optional<Reading>(Reading{12, "clear"});
        })
        , versions({"0.1.0"}, "0.1.0")
        , gate(cache, store, versions, nullptr, nullptr, std::move(limits.gate))
        , feedback(store, std::move(limits.feedback))
    {}

    QTemporaryDir dir;
    ServiceStore store;
    int upstreamCalls = 0;
    WeatherCache cache;
    VersionGate versions;
    Gate gate;
    FeedbackService feedback;
};

int errorOf(const Reply &reply)
{
    auto body = nlohmann::json::parse(reply.body, nullptr, false);
    return body.is_object() && body.contains("error") ? body["error"].get<int>() : -1;
}

std::string form(const std::string &message, const std::string &extra = {})
{
    return "&v1=1&v2=Ann&v3=ann@example.org&v4=" + message + extra;
}

std::string cell(int index)
{
    return "&v1=" + std::to_string(40 + index / 100) + "." + std::to_string(index % 100 / 10) +
           "&v2=" + std::to_string(index % 10) + ".0";
}

} // namespace

class TestServerLimits : public QObject
{
    Q_OBJECT

private slots:
    void buckets_burstThenRefillAtTheRate();
    void buckets_keysAreIndependentAndFullOnesForgotten();

    void feedback_perClientBurstThen429WithError4();
    void feedback_perMachineHoldsAcrossAddresses();
    void feedback_storageCapCountsWhatIsStored();
    void feedback_storageCapSharedByInstancesAndWorkers();
    void feedback_emptyMessageOrEmailRefused_data();
    void feedback_emptyMessageOrEmailRefused();

    void gate_newCellsPerClientSpentButCachedCellsServed();
    void gate_globalUpstreamCeiling();
    void perClientBudgets_keyIpv6ByItsSlash64();
};

void TestServerLimits::buckets_burstThenRefillAtTheRate()
{
    ManualClock clock;
    TokenBuckets buckets(Rate{10, 3600s, 3}, clock.function());
    for (int i = 0; i < 3; ++i)
        QVERIFY(buckets.tryTake("a"));
    QVERIFY(!buckets.tryTake("a"));
    // 10 an hour: one token every 6 minutes.
    clock.now += 5min;
    QVERIFY(!buckets.tryTake("a"));
    clock.now += 1min;
    QVERIFY(buckets.tryTake("a"));
    QVERIFY(!buckets.tryTake("a"));
    // Never more than the burst, however long the wait.
    clock.now += 48h;
    for (int i = 0; i < 3; ++i)
        QVERIFY(buckets.tryTake("a"));
    QVERIFY(!buckets.tryTake("a"));
}

void TestServerLimits::buckets_keysAreIndependentAndFullOnesForgotten()
{
    ManualClock clock;
    TokenBuckets buckets(Rate{1, 60s, 1}, clock.function());
    QVERIFY(buckets.tryTake("a"));
    QVERIFY(!buckets.tryTake("a"));
    QVERIFY(buckets.tryTake("b"));
    // Many keys once each, then long quiet: their buckets are full again and make way.
    for (int i = 0; i < 5000; ++i)
        buckets.tryTake("key" + std::to_string(i));
    clock.now += 2min;
    for (int i = 0; i < 5000; ++i)
        buckets.tryTake("later" + std::to_string(i));
    QVERIFY(buckets.keyCount() < 8000);
    QVERIFY(buckets.tryTake("later1") == false); // a key still in its bucket keeps its count
}

void TestServerLimits::feedback_perClientBurstThen429WithError4()
{
    ManualClock clock;
    ServiceLimits limits;
    limits.feedback.perClient = std::make_unique<TokenBuckets>(Rate{10, 3600s, 3}, clock.function());
    Fixture fixture(std::move(limits));
    LogCapture log;
    for (int i = 0; i < 3; ++i)
        QCOMPARE(fixture.feedback.post(form("hello"), "192.0.2.1").status, 200);
    auto refused = fixture.feedback.post(form("hello"), "192.0.2.1");
    QCOMPARE(refused.status, 429);
    QVERIFY(nlohmann::json::parse(refused.body) == nlohmann::json::parse(R"({"status":"error","error":4})"));
    QVERIFY(log.contains("limit: feedback from 192.0.2.1 refused"));
    QCOMPARE(fixture.feedback.refusals().perClient.get(), 1u);
    // Another address is not held back; the first one is served again once its bucket refills.
    QCOMPARE(fixture.feedback.post(form("hello"), "192.0.2.2").status, 200);
    clock.now += 6min;
    QCOMPARE(fixture.feedback.post(form("hello"), "192.0.2.1").status, 200);
    QCOMPARE(fixture.store.feedbackBytes(), 5 * form("hello").size());
}

void TestServerLimits::feedback_perMachineHoldsAcrossAddresses()
{
    ManualClock clock;
    ServiceLimits limits;
    limits.feedback.perMachine = std::make_unique<TokenBuckets>(Rate{10, 3600s, 2}, clock.function());
    Fixture fixture(std::move(limits));
    const std::string machine = "&v5=" + fingerprint("machine-a");
    QCOMPARE(fixture.feedback.post(form("one", machine), "192.0.2.1").status, 200);
    QCOMPARE(fixture.feedback.post(form("two", machine), "198.51.100.7").status, 200);
    auto refused = fixture.feedback.post(form("three", machine), "203.0.113.9");
    QCOMPARE(refused.status, 429);
    QCOMPARE(errorOf(refused), 4);
    QCOMPARE(fixture.feedback.refusals().perMachine.get(), 1u);
    // Another machine, and a form without one, go on.
    QCOMPARE(fixture.feedback.post(form("four", "&v5=" + fingerprint("machine-b")), "203.0.113.9").status,
             200);
    QCOMPARE(fixture.feedback.post(form("five"), "203.0.113.9").status, 200);
}

void TestServerLimits::feedback_storageCapCountsWhatIsStored()
{
    const std::string body = form(std::string(1000, 'm'));
    QTemporaryDir dir;
    const auto path = dir.filePath(QStringLiteral("weatherd.sqlite")).toStdString();
    {
        // Bodies stored before this start count too.
        ServiceStore earlier(path);
        earlier.addFeedback({"1", "a", "a@b", "m", "192.0.2.1", body});
    }
    ServiceStore store(path);
    FeedbackLimits limits;
    limits.maxBytes = 3 * body.size();
    FeedbackService service(store, std::move(limits));
    QCOMPARE(service.post(body, "192.0.2.1").status, 200);
    QCOMPARE(service.post(body, "192.0.2.2").status, 200);
    auto refused = service.post(body, "192.0.2.3");
    QCOMPARE(refused.status, 429);
    QCOMPARE(errorOf(refused), 4);
    QCOMPARE(service.refusals().storageFull.get(), 1u);
    QCOMPARE(store.feedbackBytes(), 3 * body.size());
}

// Two instances on one database, each with workers storing at once: the cap holds for all of them
// together, and room freed by an operator is taken again.
void TestServerLimits::feedback_storageCapSharedByInstancesAndWorkers()
{
    const std::string body = form(std::string(1000, 'm'));
    QTemporaryDir dir;
    const auto path = dir.filePath(QStringLiteral("weatherd.sqlite")).toStdString();
    std::vector<std::unique_ptr<ServiceStore>> stores;
    std::vector<std::unique_ptr<FeedbackService>> instances;
    for (int i = 0; i < 2; ++i) {
        stores.push_back(std::make_unique<ServiceStore>(path));
        FeedbackLimits limits;
        limits.maxBytes = 5 * body.size();
        instances.push_back(std::make_unique<FeedbackService>(*stores.back(), std::move(limits)));
    }
    std::atomic<int> stored{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 8; ++i)
        workers.emplace_back([&, i] {
            for (int k = 0; k < 3; ++k)
                stored += instances[static_cast<size_t>(i % 2)]->post(body, "192.0.2.1").status == 200;
        });
    for (auto &worker : workers)
        worker.join();
    QCOMPARE(stored.load(), 5);
    QCOMPARE(stores[0]->feedbackBytes(), 5 * body.size());
    QCOMPARE(instances[0]->refusals().storageFull.get() + instances[1]->refusals().storageFull.get(), 19u);

    // An operator clears old feedback from another process.
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);
    QCOMPARE(sqlite3_exec(db, "DELETE FROM feedback WHERE id IN (SELECT id FROM feedback LIMIT 2)", nullptr,
                          nullptr, nullptr),
             SQLITE_OK);
    sqlite3_close(db);
    QCOMPARE(instances[1]->post(body, "192.0.2.1").status, 200);
    QCOMPARE(instances[0]->post(body, "192.0.2.1").status, 200);
    QCOMPARE(instances[1]->post(body, "192.0.2.1").status, 429);
    QCOMPARE(stores[1]->feedbackBytes(), 5 * body.size());
}

void TestServerLimits::feedback_emptyMessageOrEmailRefused_data()
{
    QTest::addColumn<std::string>("body");
    QTest::newRow("empty message") << std::string("&v1=1&v2=Ann&v3=ann@example.org&v4=");
    QTest::newRow("blank message") << std::string("&v1=1&v2=Ann&v3=ann@example.org&v4= \r\n\t ");
    QTest::newRow("no message") << std::string("&v1=1&v2=Ann&v3=ann@example.org");
    QTest::newRow("empty e-mail") << std::string("&v1=1&v2=Ann&v3=&v4=hello");
    QTest::newRow("no e-mail") << std::string("&v1=1&v2=Ann&v4=hello");
}

void TestServerLimits::feedback_emptyMessageOrEmailRefused()
{
    QFETCH(std::string, body);
    Fixture fixture({});
    auto reply = fixture.feedback.post(body, "192.0.2.1");
    QCOMPARE(reply.status, 400);
    QCOMPARE(errorOf(reply), 2);
    QCOMPARE(fixture.store.feedbackBytes(), 0u);
}

void TestServerLimits::gate_newCellsPerClientSpentButCachedCellsServed()
{
    ManualClock clock;
    ServiceLimits limits;
    limits.gate.newCellsPerClient = std::make_unique<TokenBuckets>(Rate{30, 60s, 30}, clock.function());
    Fixture fixture(std::move(limits));
    LogCapture log;
    // A scan of distinct cells: 30 reach the upstream, the rest get error 3 at once.
    int served = 0;
    for (int i = 0; i < 100; ++i) {
        auto reply = fixture.gate.answer(cell(i), "192.0.2.1");
        if (reply.status == 200)
            ++served;
        else
            QCOMPARE(errorOf(reply), 3);
    }
    QCOMPARE(served, 30);
    QCOMPARE(fixture.upstreamCalls, 30);
    QCOMPARE(fixture.gate.refusals().newCellsPerClient.get(), 70u);
    QVERIFY(log.contains("limit: 192.0.2.1 asked for too many new cells"));
    // The cells already cached are still served to the scanner, on the quick path too.
    QCOMPARE(fixture.gate.answer(cell(5), "192.0.2.1").status, 200);
    QVERIFY(fixture.gate.answerFromCache(cell(5)).has_value());
    QCOMPARE(fixture.upstreamCalls, 30);
    // Another client has its own budget; the scanner's comes back with time.
    QCOMPARE(fixture.gate.answer(cell(99), "192.0.2.2").status, 200);
    clock.now += 2s;
    QCOMPARE(fixture.gate.answer(cell(98), "192.0.2.1").status, 200);
}

// One host holds a whole /64: a new address from it is the same client.
void TestServerLimits::perClientBudgets_keyIpv6ByItsSlash64()
{
    ManualClock clock;
    ServiceLimits limits;
    limits.gate.newCellsPerClient = std::make_unique<TokenBuckets>(Rate{1, 60s, 1}, clock.function());
    limits.feedback.perClient = std::make_unique<TokenBuckets>(Rate{1, 3600s, 1}, clock.function());
    Fixture fixture(std::move(limits));
    QCOMPARE(fixture.gate.answer(cell(1), "2001:db8:1:2::1").status, 200);
    QCOMPARE(errorOf(fixture.gate.answer(cell(2), "2001:db8:1:2:dead:beef:0:7")), 3);
    QCOMPARE(fixture.gate.answer(cell(3), "2001:db8:1:3::1").status, 200);
    QCOMPARE(fixture.feedback.post(form("one"), "2001:db8:1:2::1").status, 200);
    QCOMPARE(fixture.feedback.post(form("two"), "2001:db8:1:2::2").status, 429);
    QCOMPARE(fixture.upstreamCalls, 2);
}

void TestServerLimits::gate_globalUpstreamCeiling()
{
    ManualClock clock;
    ServiceLimits limits;
    limits.gate.upstreamCalls = std::make_unique<TokenBuckets>(Rate{600, 60s, 600}, clock.function());
    Fixture fixture(std::move(limits));
    // Many clients, a cell each: the ceiling holds in all.
    int refused = 0;
    for (int i = 0; i < 700; ++i)
        refused +=
            fixture.gate.answer(cell(i), "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250))
                .status == 503;
    QCOMPARE(fixture.upstreamCalls, 600);
    QCOMPARE(refused, 100);
    QCOMPARE(fixture.gate.refusals().upstreamCalls.get(), 100u);
    QCOMPARE(fixture.gate.answer(cell(0), "192.0.2.1").status, 200); // cached
    clock.now += 1s;
    QCOMPARE(fixture.gate.answer(cell(650), "192.0.2.1").status, 200);
}

QTEST_GUILESS_MAIN(TestServerLimits)
#include "tst_server_limits.moc"
