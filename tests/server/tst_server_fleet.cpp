// The service as a fleet on one machine, every engine real and started by the test: redis-server, a
// throw-away PostgreSQL cluster, nginx with the shipped deploy/nginx configuration (only its ports
// and paths changed), two nimbara-weatherd instances behind it and a stand-in upstream provider.
// The test stands for many clients at once by connecting from many addresses of 127.0.0.0/8, so
// that nginx's and the service's per-address limits stay as shipped.

#include "EngineFixtures.h"
#include "PrometheusText.h"
#include "ServerTestSupport.h"
#include "core/Fingerprint.h"

#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <future>
#include <set>
#include <thread>

using namespace nimbara::server;
using namespace nimbara::server::test;
using namespace std::chrono_literals;

namespace {

// The weather request for one of 20 cells, 0.1° apart.
std::string gateTarget(int cell, double longitude = 10.02)
{
    char coordinates[48];
    std::snprintf(coordinates, sizeof coordinates, "v1=%.2f&v2=%.2f", 40.02 + 0.1 * (cell % 20), longitude);
    return "/api/0.5/gate?&" + std::string(coordinates) +
           "&v3=auto&v4=en&v5=&v6=" + fingerprint(NIMBARA_SERVER_VERSION);
}

bool answeredOk(const RawResponse &response)
{
    return response.status == 200 && response.body.find(R"("status":"ok")") != std::string::npos;
}

std::string clientAddress(int block, int thread, int connection)
{
    return "127." + std::to_string(block) + "." + std::to_string(thread) + "." +
           std::to_string(connection + 1);
}

struct Outcome
{
    int ok = 0;
    int failed = 0;
    std::string firstFailure;
};

// Many clients through one port at once: each thread keeps `connections` keep-alive connections,
// each from an address of its own (127.block.thread.n), sends a request on every one and then reads
// every answer, for `rounds` rounds or until `stop`. A round lasts at least `pace`, which keeps each
// address under nginx's request rate.
Outcome runClients(int port, int block, int threads, int connections, int rounds,
                   std::chrono::milliseconds pace, const std::atomic<bool> *stop = nullptr)
{
    std::atomic<int> next{0};
    std::vector<std::future<Outcome>> workers;
    for (int thread = 0; thread < threads; ++thread)
        workers.push_back(std::async(std::launch::async, [&, thread] {
            Outcome outcome;
            auto fail = [&](const std::string &why) {
                if (outcome.failed++ == 0)
                    outcome.firstFailure = why;
            };
            std::vector<int> sockets(static_cast<size_t>(connections), -1);
            for (int round = 0; round < rounds && !(stop && stop->load()); ++round) {
                const auto roundEnd = std::chrono::steady_clock::now() + pace;
                std::vector<bool> sent(sockets.size());
                for (size_t i = 0; i < sockets.size(); ++i) {
                    if (sockets[i] < 0)
                        sockets[i] = connectLoopback(port, clientAddress(block, thread, int(i)).c_str());
                    const std::string request =
                        "GET " + gateTarget(next++) + " HTTP/1.1\r\nHost: weather.example.org\r\n\r\n";
                    sent[i] = sockets[i] >= 0 && sendAll(sockets[i], request);
                    if (!sent[i])
                        fail("could not send from " + clientAddress(block, thread, int(i)));
                }
                for (size_t i = 0; i < sockets.size(); ++i) {
                    if (!sent[i])
                        continue;
                    auto response = readResponse(sockets[i], 15s);
                    if (answeredOk(response)) {
                        ++outcome.ok;
                        continue;
                    }
                    fail(response.answered ? response.head + "\n" + response.body : "no answer");
                    ::close(sockets[i]);
                    sockets[i] = -1;
                }
                std::this_thread::sleep_until(roundEnd);
            }
            for (int fd : sockets)
                if (fd >= 0)
                    ::close(fd);
            return outcome;
        }));
    Outcome total;
    for (auto &worker : workers) {
        auto outcome = worker.get();
        total.ok += outcome.ok;
        total.failed += outcome.failed;
        if (total.firstFailure.empty())
            total.firstFailure = outcome.firstFailure;
    }
    return total;
}

// One request on a connection of its own from the given client address.
RawResponse sendFrom(const std::string &source, int port, const std::string &request)
{
    int fd = connectLoopback(port, source.c_str());
    if (fd < 0)
        return {};
    sendAll(fd, request);
    auto response = parseResponse(readAll(fd));
    ::close(fd);
    return response;
}

RawResponse getFrom(const std::string &source, int port, const std::string &target)
{
    return sendFrom(source, port,
                    "GET " + target + " HTTP/1.1\r\nHost: weather.example.org\r\nConnection: close\r\n\r\n");
}

// A form POST framed as the widget frames it.
RawResponse postFrom(const std::string &source, int port, const std::string &target, const std::string &body)
{
    return sendFrom(source, port,
                    "POST " + target +
                        " HTTP/1.1\r\nHost: weather.example.org\r\nConnection: close\r\nContent-Length: " +
                        std::to_string(body.size()) +
                        "\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n" + body);
}

// The clients of the access log's gate lines ("CLIENT GET /api/0.5/gate ...").
std::vector<QString> gateClients(const QByteArray &log)
{
    static const QRegularExpression line(QStringLiteral("^(\\S+) GET /api/0\\.5/gate "),
                                         QRegularExpression::MultilineOption);
    std::vector<QString> clients;
    for (auto match = line.globalMatch(QString::fromUtf8(log)); match.hasNext();)
        clients.push_back(match.next().captured(1));
    return clients;
}

int linesContaining(const QByteArray &log, const char *text)
{
    return int(log.count(text));
}

// Replaces the one match of a pattern; false when there is none or more than one, so that a change
// of the shipped file fails the test instead of testing something else.
bool replaceOnce(QString &text, const QString &pattern, const QString &replacement)
{
    const QRegularExpression expression(pattern, QRegularExpression::MultilineOption);
    if (text.count(expression) != 1)
        return false;
    text.replace(expression, replacement);
    return true;
}

// An instance's metrics as Prometheus would read them; nothing when the scrape fails or does not parse.
std::optional<PrometheusText> scrape(const WeatherdProcess &instance, std::string &error)
{
    static const QRegularExpression served(QStringLiteral("metrics served on 127\\.0\\.0\\.1:(\\d+)"));
    const auto match = served.match(QString::fromUtf8(instance.log()));
    if (!match.hasMatch()) {
        error = "no metrics address in the log";
        return std::nullopt;
    }
    const auto answer = rawGet(match.captured(1).toInt(), "/metrics");
    if (answer.status != 200) {
        error = "scrape answered " + std::to_string(answer.status);
        return std::nullopt;
    }
    return PrometheusText::parse(answer.body, error);
}

} // namespace

class TestServerFleet : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void gate_oneUpstreamCallPerCellAcrossTheFleet();
    void instanceKilledUnderLoad_noRequestFails();
    void feedback_storedWithTheClientAddressNginxSaw();
    void feedback_overLimitRefusedAndNotStored();
    void redisStopped_answersGoOnThenSharedAgain();
    void requestPastReadTimeout_leavesTheInstancesIn();
    void mainEdits_onDebiansConfiguration();

private:
    // The shipped configuration with loopback ports instead of 80 and 8471 to 8473; nothing else.
    bool shippedSite(QString &site, int nginxPort) const
    {
        QFile shipped(QStringLiteral(NIMBARA_NGINX_CONFIG));
        if (!shipped.open(QIODevice::ReadOnly))
            return false;
        site = QString::fromUtf8(shipped.readAll());
        return replaceOnce(site, QStringLiteral("^(\\s*)listen 80 "),
                           QStringLiteral("\\1listen 127.0.0.1:%1 ").arg(nginxPort)) &&
               replaceOnce(site, QStringLiteral("^\\s*listen \\[::\\]:80 .*\\n"), QString()) &&
               replaceOnce(site, QStringLiteral("server 127\\.0\\.0\\.1:8471 "),
                           QStringLiteral("server 127.0.0.1:%1 ").arg(ports[0])) &&
               replaceOnce(site, QStringLiteral("server 127\\.0\\.0\\.1:8472 "),
                           QStringLiteral("server 127.0.0.1:%1 ").arg(ports[1])) &&
               replaceOnce(site, QStringLiteral("^\\s*server 127\\.0\\.0\\.1:8473 .*\\n"), QString());
    }
    std::unique_ptr<WeatherdProcess> startInstance(int port)
    {
        auto instance =
            std::make_unique<WeatherdProcess>(QStringLiteral(NIMBARA_WEATHERD), instanceOptions, port);
        return instance->port() == port ? std::move(instance) : nullptr;
    }
    // A series summed over both instances' scrapes; NaN when a scrape fails.
    double fleetTotal(const std::string &series)
    {
        double total = 0;
        for (const auto &instance : instances) {
            std::string error;
            const auto metrics = scrape(*instance, error);
            if (!metrics) {
                qWarning("%s", error.c_str());
                return std::nan("");
            }
            total += metrics->value(series);
        }
        return total;
    }
    std::string feedbackRows(const std::string &where)
    {
        return postgres->value("SELECT count(*) FROM feedback WHERE " + where);
    }

    std::unique_ptr<PostgresCluster> postgres;
    std::unique_ptr<RedisServer> redis;
    std::unique_ptr<FakeUpstream> upstream;
    QStringList instanceOptions;
    int ports[2] = {0, 0};
    std::unique_ptr<WeatherdProcess> instances[2];
    std::unique_ptr<NginxServer> nginx;
};

void TestServerFleet::initTestCase()
{
    postgres = std::make_unique<PostgresCluster>();
    QVERIFY2(postgres->isReady(), postgres->error());
    redis = std::make_unique<RedisServer>();
    QVERIFY(redis->isRunning());
    upstream = std::make_unique<FakeUpstream>();
    upstream->answer(200, openMeteoAnswer(10, 0));

    // As deploy/README.md runs them; the feedback limits spelled out because the test counts on them.
    instanceOptions = {QStringLiteral("--db"),
                       QString::fromStdString(postgres->uri()),
                       QStringLiteral("--cache"),
                       QString::fromStdString(redis->url() + "/0"),
                       QStringLiteral("--trusted-proxy"),
                       QStringLiteral("127.0.0.1/32"),
                       QStringLiteral("--metrics-listen"),
                       QStringLiteral("127.0.0.1:0"),
                       QStringLiteral("--feedback-per-client"),
                       QStringLiteral("10"),
                       QStringLiteral("--feedback-burst"),
                       QStringLiteral("3"),
                       QStringLiteral("--provider-url"),
                       QString::fromStdString(upstream->url()),
                       QStringLiteral("--second-provider-url"),
                       QString()};
    for (int i = 0; i < 2; ++i) {
        ports[i] = freeLoopbackPort();
        instances[i] = startInstance(ports[i]);
        QVERIFY2(instances[i], "an instance did not start");
    }

    const int nginxPort = freeLoopbackPort();
    QString site;
    QVERIFY(shippedSite(site, nginxPort));
    nginx = std::make_unique<NginxServer>(site.toUtf8(), nginxPort, QStringLiteral(NIMBARA_NGINX_MAIN_EDITS));
    QVERIFY2(nginx->isReady(), nginx->errorLog().constData());
}

void TestServerFleet::cleanupTestCase()
{
    for (auto &instance : instances)
        if (instance)
            QVERIFY2(instance->stop(), instance->log().right(2000).constData());
}

void TestServerFleet::gate_oneUpstreamCallPerCellAcrossTheFleet()
{
    // 2,000 requests for 20 cells from 200 clients at once, 10 each (within nginx's burst).
    const auto outcome = runClients(nginx->port(), 1, 8, 25, 10, 0ms);
    QVERIFY2(outcome.failed == 0, outcome.firstFailure.c_str());
    QCOMPARE(outcome.ok, 2000);
    QCOMPARE(upstream->calls.load(), 20);

    // Both instances served, each request once, and each saw the client, not nginx.
    const auto first = gateClients(instances[0]->log());
    const auto second = gateClients(instances[1]->log());
    QVERIFY(!first.empty() && !second.empty());
    QCOMPARE(int(first.size() + second.size()), 2000);
    for (const auto &clients : {first, second})
        for (const auto &client : clients)
            QVERIFY2(client.startsWith(QStringLiteral("127.1.")), qPrintable(client));

    // Each instance's metrics count what it served, and the fleet's what the test sent.
    for (int i = 0; i < 2; ++i) {
        std::string error;
        const auto metrics = scrape(*instances[i], error);
        QVERIFY2(metrics, error.c_str());
        QCOMPARE(metrics->value(R"(nimbara_http_requests_total{route="/api/0.5/gate",status="200"})"),
                 double(gateClients(instances[i]->log()).size()));
    }
    QCOMPARE(fleetTotal(R"(nimbara_http_request_duration_seconds_count{route="/api/0.5/gate"})"), 2000.0);
    QCOMPARE(fleetTotal(R"(nimbara_upstream_calls_total{provider="open-meteo"})"), 20.0);
}

void TestServerFleet::instanceKilledUnderLoad_noRequestFails()
{
    // The probe from wrk, the gate from 256 clients at 4 requests a second each.
    QProcess wrk;
    wrk.start(QStringLiteral("wrk"), {QStringLiteral("-t1"), QStringLiteral("-c32"), QStringLiteral("-d3s"),
                                      QStringLiteral("http://127.0.0.1:%1/check/").arg(nginx->port())});
    QVERIFY(wrk.waitForStarted());
    std::atomic<bool> stop{false};
    auto load = std::async(std::launch::async,
                           [&] { return runClients(nginx->port(), 3, 4, 64, 1000000, 250ms, &stop); });

    QTest::qWait(500);
    const auto servedBefore = gateClients(instances[0]->log()).size();
    instances[0]->kill();
    QVERIFY(servedBefore > 0);
    instances[0] = startInstance(ports[0]);
    QVERIFY2(instances[0], "the instance did not start again on its port");
    // Back in nginx's rotation once its fail_timeout has passed.
    QTRY_VERIFY_WITH_TIMEOUT(!gateClients(instances[0]->log()).empty(), 20000);

    stop = true;
    const auto outcome = load.get();
    QVERIFY2(outcome.failed == 0, outcome.firstFailure.c_str());
    QVERIFY(outcome.ok > 0);
    QVERIFY(wrk.state() == QProcess::NotRunning || wrk.waitForFinished(20000));
    const QByteArray report = wrk.readAllStandardOutput();
    QVERIFY2(wrk.exitCode() == 0 && report.contains("requests in") && !report.contains("Non-2xx") &&
                 !report.contains("Socket errors"),
             report.constData());
    QCOMPARE(upstream->calls.load(), 20); // all from the shared cells
    // nginx answered every probe itself: the instance that lived through it never saw one.
    std::string error;
    const auto survivor = scrape(*instances[1], error);
    QVERIFY2(survivor, error.c_str());
    QCOMPARE(survivor->value(R"(nimbara_http_request_duration_seconds_count{route="/check/"})"), 0.0);
}

void TestServerFleet::feedback_storedWithTheClientAddressNginxSaw()
{
    std::set<std::pair<std::string, std::string>> sent;
    for (int i = 1; i <= 200; ++i) {
        const std::string client = "127.2.0." + std::to_string(i);
        const std::string message = "note-" + std::to_string(i);
        const auto response = postFrom(client, nginx->port(), "/api/0.5/feedback",
                                       "&v1=1&v2=Ann&v3=ann@example.org&v4=" + message);
        QVERIFY2(answeredOk(response), (response.head + response.body).c_str());
        sent.emplace(client, message);
    }
    std::set<std::pair<std::string, std::string>> stored;
    for (const auto &row :
         postgres->rows("SELECT client, message FROM feedback WHERE client LIKE '127.2.0.%'"))
        stored.emplace(row.at(0), row.at(1));
    QCOMPARE(stored.size(), size_t(200));
    QVERIFY(stored == sent);
}

void TestServerFleet::feedback_overLimitRefusedAndNotStored()
{
    // One client at once: 3 at a time, then 10 an hour, spread by nginx over both instances.
    int accepted = 0;
    int refused = 0;
    for (int i = 0; i < 8; ++i) {
        const auto response = postFrom("127.2.1.1", nginx->port(), "/api/0.5/feedback",
                                       "&v1=1&v2=Bo&v3=bo@example.org&v4=again");
        if (answeredOk(response)) {
            ++accepted;
            continue;
        }
        QCOMPARE(response.status, 429);
        QCOMPARE(response.body, std::string(R"({"status":"error","error":4})"));
        ++refused;
    }
    // The limit holds across the fleet (it is kept in Redis), whichever instance nginx picks.
    QCOMPARE(accepted, 3);
    QCOMPARE(feedbackRows("client = '127.2.1.1'"), std::string("3"));
    QCOMPARE(fleetTotal(R"(nimbara_http_requests_total{route="/api/0.5/feedback",status="200"})"), 203.0);
    QCOMPARE(fleetTotal(R"(nimbara_http_requests_total{route="/api/0.5/feedback",status="429"})"), 5.0);
    QCOMPARE(fleetTotal(R"(nimbara_limit_refusals_total{limiter="feedback_per_client"})"), double(refused));
}

void TestServerFleet::redisStopped_answersGoOnThenSharedAgain()
{
    const int callsBefore = upstream->calls.load();
    redis->stop();
    // Four cells no instance holds yet (those it read from Redis it answers from its own fresh copy,
    // without asking Redis): each instance finds Redis gone, fetches each once for its own cache,
    // then serves them from there.
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 16; ++i) {
            const auto response =
                getFrom(clientAddress(4, round, i), nginx->port(), gateTarget(i % 4, 11.02));
            QVERIFY2(answeredOk(response), (response.head + response.body).c_str());
        }
        QVERIFY(upstream->calls.load() - callsBefore <= 8);
    }
    for (const auto &instance : instances)
        QCOMPARE(linesContaining(instance->log(), "unavailable ("), 1);

    const int port = redis->port();
    QVERIFY(redis->start());
    QCOMPARE(redis->port(), port);
    for (const auto &instance : instances)
        QTRY_COMPARE_WITH_TIMEOUT(linesContaining(instance->log(), "available again"), 1, 10000);
    // A new cell through one instance is in Redis, and the other takes it from there.
    const int callsShared = upstream->calls.load();
    const std::string newCell =
        "/api/0.5/gate?&v1=30.02&v2=20.02&v3=auto&v4=en&v5=&v6=" + fingerprint(NIMBARA_SERVER_VERSION);
    QVERIFY(answeredOk(rawGet(ports[0], newCell)));
    QCOMPARE(upstream->calls.load(), callsShared + 1);
    QCOMPARE(redis->command({"EXISTS", "nimbara:cell:300:200"}), std::string("1"));
    QVERIFY(answeredOk(rawGet(ports[1], newCell)));
    QCOMPARE(upstream->calls.load(), callsShared + 1);
}

// Requests that outlast nginx's read time-out (new cells while the upstream stalls) get their 504,
// and the instances stay in: what they hold is still answered, not a fleet-wide 502. The shipped
// configuration with only its read time-out cut to 1 s, so that the test need not wait 15 s.
void TestServerFleet::requestPastReadTimeout_leavesTheInstancesIn()
{
    const int port = freeLoopbackPort();
    QString site;
    QVERIFY(shippedSite(site, port));
    QVERIFY(replaceOnce(site, QStringLiteral("proxy_read_timeout 15s;"),
                        QStringLiteral("proxy_read_timeout 1s;")));
    NginxServer impatient(site.toUtf8(), port, QStringLiteral(NIMBARA_NGINX_MAIN_EDITS));
    QVERIFY2(impatient.isReady(), impatient.errorLog().constData());
    const std::string held = gateTarget(7, 11.02);
    for (int instance : ports)
        QVERIFY(answeredOk(getFrom("127.9.0.1", instance, held)));

    upstream->hold();
    const auto released = std::shared_ptr<void>(nullptr, [this](void *) { upstream->release(); });
    std::vector<std::future<RawResponse>> slow;
    for (int i = 0; i < 2; ++i)
        slow.push_back(std::async(std::launch::async, [port, i] {
            return getFrom("127.9.1." + std::to_string(i + 1), port, gateTarget(i, 12.02));
        }));
    for (auto &request : slow)
        QCOMPARE(request.get().status, 504);
    for (int i = 0; i < 20; ++i) {
        const auto answer = getFrom("127.9.2." + std::to_string(i + 1), port, held);
        QVERIFY2(answeredOk(answer), (answer.head + "\n" + answer.body).c_str());
    }
}

// The edits deploy/README.md makes to Debian's main configuration (every test above runs with them on
// a configuration of its shape): what they set, once however often they run, and nginx takes it.
void TestServerFleet::mainEdits_onDebiansConfiguration()
{
    const QString stockPath = QStringLiteral("/etc/nginx/nginx.conf");
    QFile stock(stockPath);
    if (!stock.open(QIODevice::ReadOnly))
        QSKIP("Debian's /etc/nginx/nginx.conf is not installed here");
    const QString stockText = QString::fromUtf8(stock.readAll());
    QTemporaryDir dir;
    const QString edited = dir.filePath(QStringLiteral("nginx.conf"));
    QVERIFY(QFile::copy(stockPath, edited));
    for (int run = 0; run < 2; ++run)
        QVERIFY(editWithSed(QStringLiteral(NIMBARA_NGINX_MAIN_EDITS), edited));

    QFile editedFile(edited);
    QVERIFY(editedFile.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(editedFile.readAll());
    const auto lines = [&](const QString &pattern) {
        return text.count(QRegularExpression(QStringLiteral("^[ \\t]*") + pattern + QStringLiteral(";$"),
                                             QRegularExpression::MultilineOption));
    };
    QCOMPARE(lines(QStringLiteral("worker_rlimit_nofile 20000")), 1);
    QCOMPARE(lines(QStringLiteral("worker_connections 8192")), 1);
    QCOMPARE(lines(QStringLiteral("worker_connections \\d+")), 1);
    QCOMPARE(lines(QStringLiteral("multi_accept on")), 1);
    // Nothing else changed: one line more than Debian's, the rest as it was.
    QCOMPARE(text.count(QLatin1Char('\n')), stockText.count(QLatin1Char('\n')) + 1);

    // nginx reads the machine's own logs and sites with it: only root may ask it.
    if (::geteuid() != 0)
        QSKIP("nginx -t on the machine's configuration needs root");
    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    check.start(QStringLiteral("/usr/sbin/nginx"), {QStringLiteral("-t"), QStringLiteral("-c"), edited});
    QVERIFY(check.waitForFinished(10000));
    QVERIFY2(check.exitCode() == 0, check.readAll().constData());
}

QTEST_GUILESS_MAIN(TestServerFleet)
#include "tst_server_fleet.moc"
