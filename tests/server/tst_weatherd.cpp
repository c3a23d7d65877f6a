// The whole service over HTTP on 127.0.0.1: routes, envelopes, error codes, bad input, and the
// executable itself (durable feedback across a kill, clean stop on SIGTERM, --help).

#include "Routes.h"
#include "ServerTestSupport.h"
#include "core/Fingerprint.h"
#include "core/ServiceLog.h"
#include "http/TrustedProxies.h"
#include "store/ServiceStore.h"

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <fstream>
#include <future>

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

using namespace nimbara::server;
using namespace nimbara::server::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::string)

namespace {

const std::string currentVersion = "0.2.0";
const std::string londonQuery = "&v1=51.5074&v2=-0.1278&v3=auto&v4=en-GB&v5=" + fingerprint("machine-a") +
                                "&v6=" + fingerprint(currentVersion);

// One running service with two fake providers, rebuilt for every test.
struct Service
{
    explicit Service(const Geocoder *geocoder, HttpOptions httpOptions = testHttpOptions(),
                     std::optional<TrustedProxies> proxies = std::nullopt)
        : store(std::make_unique<ServiceStore>(dir.filePath(QStringLiteral("weatherd.sqlite")).toStdString()))
        , versions({"0.0.9", "0.1.0", currentVersion}, "0.1.0")
        , placeNames("/usr/share/locale")
        , server(httpOptions)
    {
        std::vector<std::unique_ptr<WeatherProvider>> providers;
        providers.push_back(std::make_unique<OpenMeteoProvider>(first.url(), "nimbara-weatherd/test", 1s));
        providers.push_back(std::make_unique<MetNorwayProvider>(second.url(), "nimbara-weatherd/test", 1s));
        upstream = std::make_unique<FailoverProvider>(std::move(providers));
        cache = std::make_unique<WeatherCache>([this](double latitude, double longitude) {
            std::string error;
            return upstream->currentWeather(latitude, longitude, error);
        });
        gate = std::make_unique<Gate>(*cache, *store, versions, geocoder, &placeNames);
        feedback = std::make_unique<FeedbackService>(*store);
        addRoutes(server, *gate, *feedback);
        if (proxies)
            server.setTrustedProxies(std::move(*proxies));
        port = server.bindAndListen("127.0.0.1", 0);
        thread = std::thread([this] { server.run(); });
        while (!server.isRunning())
            std::this_thread::yield();
    }

    ~Service()
    {
        first.release();
        second.release();
        server.stop();
        thread.join();
    }

    static HttpOptions testHttpOptions()
    {
        HttpOptions options;
        options.workerThreads = 8;
        options.headerTimeout = 800ms;
        options.bodyTimeout = 800ms;
        return options;
    }

    std::string databasePath() const { return dir.filePath(QStringLiteral("weatherd.sqlite")).toStdString(); }

    QTemporaryDir dir;
    FakeUpstream first;
    FakeUpstream second;
    std::unique_ptr<FailoverProvider> upstream;
    std::unique_ptr<WeatherCache> cache;
    std::unique_ptr<ServiceStore> store;
    VersionGate versions;
    PlaceNames placeNames;
    std::unique_ptr<Gate> gate;
    std::unique_ptr<FeedbackService> feedback;
    HttpServer server;
    std::thread thread;
    int port = 0;
};

nlohmann::json json(const RawResponse &response)
{
    return nlohmann::json::parse(response.body, nullptr, false);
}

// Comparable forms for QCOMPARE.
QByteArray bytes(const std::string &text)
{
    return QByteArray::fromStdString(text);
}
QByteArray text(const nlohmann::json &value)
{
    return value.is_string() ? bytes(value.get<std::string>()) : bytes(value.dump());
}
int number(const nlohmann::json &value)
{
    return value.is_number_integer() ? value.get<int>() : -9999;
}

// Rows of the feedback table, each as type, name, email, message, client.
std::vector<std::vector<std::string>> feedbackRows(const std::string &path)
{
    std::vector<std::vector<std::string>> rows;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt *statement = nullptr;
    sqlite3_prepare_v2(db, "SELECT type, name, email, message, client FROM feedback ORDER BY id", -1,
                       &statement, nullptr);
    while (statement && sqlite3_step(statement) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < 5; ++i) {
            auto text = reinterpret_cast<const char *>(sqlite3_column_text(statement, i));
            row.emplace_back(text ? text : "");
        }
        rows.push_back(row);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

} // namespace

class TestWeatherd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void check_answersJsonObject();
    void homePage_namesServiceAndDataSources();
    void gate_answersWeatherForPosition();
    void gate_roundsBothUnitsHalfAwayFromZero_data();
    void gate_roundsBothUnitsHalfAwayFromZero();
    void gate_errorCodes_data();
    void gate_errorCodes();
    void gate_secondProviderTakesOver();
    void gate_badUpstreamGivesError3AndServiceGoesOn_data();
    void gate_badUpstreamGivesError3AndServiceGoesOn();
    void gate_concurrentMissesMakeOneUpstreamCall();
    void feedback_storesRawValuesExactly();
    void feedback_bodyLimitIsTheSharedLimit();
    void badRequests_getStatusAndEnvelope_data();
    void badRequests_getStatusAndEnvelope();
    void framing_rawRequests_data();
    void framing_rawRequests();
    void slowClient_isCutOffWhileOthersAreServed();
    void stalledUpstream_holdsNoFeedback();
    void workWithoutWorkerInTime_answered503AtItsDeadline();
    void pipeliningClientThatNeverReads_holdsLittleKernelMemory();
    void connectionCaps_overCapAnsweredAtOnceWith503_data();
    void connectionCaps_overCapAnsweredAtOnceWith503();
    void connectionCaps_trustedProxyIsNotCappedPerAddress();
    void trustedProxy_everyForwardedForFieldRead();
    void idleKeepAliveConnections_holdNoOneAndCloseWhenIdle();
    void newClient_isAnsweredWhileKeptAliveOnesHoldTheLoop();
    void accessLog_lineWithoutPosition();
    void accessLog_clientBytesCannotForgeLines();

    void executable_feedbackSurvivesKillRightAfterAnswer();
    void executable_stopsCleanlyOnSigterm();
    void executable_drainsRequestsInFlightOnSigterm_data();
    void executable_drainsRequestsInFlightOnSigterm();
    void executable_stopsCleanlyWithWorkStillQueued();
    void executable_secondSigtermStopsAtOnce();
    void executable_logReaderThatStallsThenExitsHoldsNoRequest();
    void executable_helpListsEveryOption();

private:
    QProcess *startExecutable(const QTemporaryDir &dir, int &port,
                              const QString &providerUrl = QStringLiteral("http://127.0.0.1:9"),
                              const QStringList &more = {}, const QStringList &wrapper = {});
    // The executable for a current client, in front of an upstream that holds its requests.
    QProcess *startBeforeHeldUpstream(const FakeUpstream &upstream, const QTemporaryDir &dir, int &port,
                                      const QString &upstreamTimeout, const QString &drainTimeout,
                                      const QStringList &more = {}, const QStringList &wrapper = {})
    {
        return startExecutable(dir, port, QString::fromStdString(upstream.url()),
                               QStringList{QStringLiteral("--releases"),
                                           QString::fromStdString(currentVersion),
                                           QStringLiteral("--upstream-timeout"), upstreamTimeout,
                                           QStringLiteral("--drain-timeout"), drainTimeout} +
                                   more,
                               wrapper);
    }

    std::unique_ptr<Geocoder> geocoder;
    std::unique_ptr<Service> service;
};

void TestWeatherd::initTestCase()
{
    geocoder = std::make_unique<Geocoder>(NIMBARA_TEST_CITIES);
}

void TestWeatherd::init()
{
    service = std::make_unique<Service>(geocoder.get());
    QVERIFY(service->port > 0);
}

void TestWeatherd::cleanup()
{
    service.reset();
}

void TestWeatherd::check_answersJsonObject()
{
    auto response = rawGet(service->port, "/check/");
    QCOMPARE(response.status, 200);
    auto body = json(response);
    QVERIFY(body.is_object());
    QVERIFY(!body.empty());
}

void TestWeatherd::homePage_namesServiceAndDataSources()
{
    auto response = rawGet(service->port, "/");
    QCOMPARE(response.status, 200);
    QVERIFY(response.head.find("Content-Type: text/html") != std::string::npos);
    for (const char *text : {"Nimbara", "nimbara-weatherd", "Open-Meteo", "MET Norway", "NLOD", "GeoNames",
                             "DB-IP", "CC BY 4.0"})
        QVERIFY2(response.body.find(text) != std::string::npos, text);
}

void TestWeatherd::gate_answersWeatherForPosition()
{
    service->first.answer(200, openMeteoAnswer(17.2, 61));
    auto response = rawGet(service->port, "/api/0.5/gate?" + londonQuery);
    QCOMPARE(response.status, 200);
    auto body = json(response);
    QCOMPARE(text(body["status"]), QByteArray("ok"));
    QCOMPARE(number(body["data"]["celsius"]), 17);
    QCOMPARE(number(body["data"]["temp"]), 63);
    QCOMPARE(text(body["data"]["condition"]), QByteArray("rain"));
    QCOMPARE(text(body["data"]["location"]), QByteArray("London"));
    // The upstream is asked for the centre of the 0.1-degree cell.
    auto target = service->first.target();
    QVERIFY2(target.find("latitude=51.5&longitude=-0.1&current=temperature_2m,weather_code") !=
                 std::string::npos,
             target.c_str());

    // Munich, asked in German: the place name comes from the GeoNames catalogs.
    auto munich = rawGet(service->port, "/api/0.5/gate?&v2=11.5755&v4=de-DE&v1=48.1374&v3=auto");
    QCOMPARE(text(json(munich)["data"]["location"]), QByteArray("München"));
}

void TestWeatherd::gate_roundsBothUnitsHalfAwayFromZero_data()
{
    QTest::addColumn<double>("reading");
    QTest::addColumn<int>("celsius");
    QTest::addColumn<int>("fahrenheit");
    QTest::newRow("12.5") << 12.5 << 13 << 55;    // 54.5 F
    QTest::newRow("-2.5") << -2.5 << -3 << 28;    // 27.5 F
    QTest::newRow("-0.4") << -0.4 << 0 << 31;     // 31.28 F
    QTest::newRow("-17.5") << -17.5 << -18 << 1;  // 0.5 F
    QTest::newRow("-20.3") << -20.3 << -20 << -5; // -4.54 F
    QTest::newRow("21.7") << 21.7 << 22 << 71;    // 71.06 F
}

void TestWeatherd::gate_roundsBothUnitsHalfAwayFromZero()
{
    QFETCH(double, reading);
    QFETCH(int, celsius);
    QFETCH(int, fahrenheit);
    service->first.answer(200, openMeteoAnswer(reading, 0));
    auto body = json(rawGet(service->port, "/api/0.5/gate?" + londonQuery));
    QCOMPARE(number(body["data"]["celsius"]), celsius);
    QCOMPARE(number(body["data"]["temp"]), fahrenheit);
    // Whole numbers on the wire, so the client's integer read and its cut toward zero agree.
    QVERIFY(body["data"]["celsius"].is_number_integer());
    QVERIFY(body["data"]["temp"].is_number_integer());
}

void TestWeatherd::gate_errorCodes_data()
{
    QTest::addColumn<std::string>("query");
    QTest::addColumn<bool>("upstreamUp");
    QTest::addColumn<int>("httpStatus");
    QTest::addColumn<int>("error"); // -1: weather

    const std::string position = "&v1=48.85&v2=2.35&v3=auto&v4=fr-FR";
    const std::string machine = "&v5=" + fingerprint("machine-a");
    QTest::newRow("current version") << position + machine + "&v6=" + fingerprint(currentVersion) << true
                                     << 200 << -1;
    QTest::newRow("unknown version (a development build)")
        << position + "&v6=" + fingerprint("9.9-dev") << true << 200 << -1;
    QTest::newRow("released version below the minimum: 0")
        << position + machine + "&v6=" + fingerprint("0.0.9") << true << 200 << 0;
    QTest::newRow("outdated even when malformed: 0")
        << "&v1=x&v6=" + fingerprint("0.0.9") << true << 200 << 0;
    QTest::newRow("blacklisted machine: 1") << position + "&v5=" + fingerprint("banned") << true << 200 << 1;
    QTest::newRow("blacklisted, upper-case digits: 1")
        << position + "&v5=" + QByteArray::fromStdString(fingerprint("banned")).toUpper().toStdString()
        << true << 200 << 1;
    QTest::newRow("upstream down, nothing cached: 3") << position + machine << false << 503 << 3;
    QTest::newRow("missing v1: 2") << std::string("&v2=2.35&v3=auto") << true << 400 << 2;
    QTest::newRow("missing v2: 2") << std::string("&v1=48.85") << true << 400 << 2;
    QTest::newRow("no query at all: 2") << std::string("") << true << 400 << 2;
    QTest::newRow("non-numeric v1: 2") << std::string("&v1=north&v2=2.35") << true << 400 << 2;
    QTest::newRow("trailing text: 2") << std::string("&v1=48.85km&v2=2.35") << true << 400 << 2;
    QTest::newRow("latitude out of range: 2") << std::string("&v1=90.5&v2=2.35") << true << 400 << 2;
    QTest::newRow("longitude out of range: 2") << std::string("&v1=48&v2=-180.01") << true << 400 << 2;
    QTest::newRow("overflowing number: 2") << std::string("&v1=1e999&v2=2") << true << 400 << 2;
    QTest::newRow("nan: 2") << std::string("&v1=nan&v2=2") << true << 400 << 2;
    QTest::newRow("empty value: 2") << std::string("&v1=&v2=2") << true << 400 << 2;
    QTest::newRow("edges of the range") << std::string("&v1=-90&v2=180") << true << 200 << -1;
}

void TestWeatherd::gate_errorCodes()
{
    QFETCH(std::string, query);
    QFETCH(bool, upstreamUp);
    QFETCH(int, httpStatus);
    QFETCH(int, error);
    service->store->addToBlacklist(fingerprint("banned"));
    service->first.answer(upstreamUp ? 200 : 500, openMeteoAnswer(10, 3));
    service->second.answer(upstreamUp ? 200 : 500, metNorwayAnswer(10, "cloudy"));

    auto response = rawGet(service->port, "/api/0.5/gate?" + query);
    QCOMPARE(response.status, httpStatus);
    auto body = json(response);
    QVERIFY(body.is_object());
    if (error < 0) {
        QCOMPARE(text(body["status"]), QByteArray("ok"));
        QCOMPARE(text(body["data"]["condition"]), QByteArray("cloudy"));
    } else {
        QCOMPARE(text(body["status"]), QByteArray("error"));
        QCOMPARE(number(body["error"]), error);
    }
}

void TestWeatherd::gate_secondProviderTakesOver()
{
    service->first.answer(503, "<html><body>maintenance</body></html>", "text/html");
    service->second.answer(200, metNorwayAnswer(-4.6, "heavysnowshowers_night"));
    auto body = json(rawGet(service->port, "/api/0.5/gate?" + londonQuery));
    QCOMPARE(text(body["status"]), QByteArray("ok"));
    QCOMPARE(number(body["data"]["celsius"]), -5);
    QCOMPARE(number(body["data"]["temp"]), 24);
    QCOMPARE(text(body["data"]["condition"]), QByteArray("snow"));
    QCOMPARE(service->first.calls.load(), 1);
    QCOMPARE(service->second.calls.load(), 1);
    QVERIFY(service->second.target().find("lat=51.5&lon=-0.1") != std::string::npos);
}

void TestWeatherd::gate_badUpstreamGivesError3AndServiceGoesOn_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<std::string>("body");
    QTest::addColumn<bool>("silent"); // the provider never answers
    QTest::newRow("html page") << 200 << std::string("<!DOCTYPE html><html><body>Sign in</body></html>")
                               << false;
    QTest::newRow("429") << 429 << std::string(R"({"error":true,"reason":"Too many requests"})") << false;
    QTest::newRow("500") << 500 << std::string("Internal Server Error") << false;
    QTest::newRow("invalid json") << 200 << std::string(R"({"current":{"temperature_2m":12,)") << false;
    QTest::newRow("json without the values") << 200 << std::string(R"({"current":{}})") << false;
    QTest::newRow("impossible temperature") << 200 << openMeteoAnswer(4000, 0) << false;
    QTest::newRow("no answer") << 200 << std::string() << true;
}

void TestWeatherd::gate_badUpstreamGivesError3AndServiceGoesOn()
{
    QFETCH(int, status);
    QFETCH(std::string, body);
    QFETCH(bool, silent);
    for (auto *provider : {&service->first, &service->second}) {
        provider->answer(status, body);
        if (silent)
            provider->hold(); // answers after the 1 s upstream time-out, at teardown
    }
    int probeStatus = 0;
    std::thread probe([&] {
        // Others are served while the upstream calls hang.
        probeStatus = rawGet(service->port, "/check/").status;
    });
    auto response = rawGet(service->port, "/api/0.5/gate?" + londonQuery);
    probe.join();
    QCOMPARE(probeStatus, 200);
    QCOMPARE(response.status, 503);
    QVERIFY(json(response) == nlohmann::json::parse(R"({"status":"error","error":3})"));
    QCOMPARE(rawGet(service->port, "/check/").status, 200);
}

void TestWeatherd::gate_concurrentMissesMakeOneUpstreamCall()
{
    service->first.answer(200, openMeteoAnswer(8, 45));
    service->first.hold();
    std::vector<RawResponse> responses(50);
    std::vector<std::thread> clients;
    for (size_t i = 0; i < responses.size(); ++i) {
        clients.emplace_back([this, &responses, i] {
            // Different positions in the same cell, different languages.
            std::string query =
                "&v1=51.50" + std::to_string(i % 10) + "&v2=-0.12&v4=" + (i % 2 ? "de" : "en");
            responses[i] = rawGet(service->port, "/api/0.5/gate?" + query);
        });
    }
    // Every worker but the one calling waits for the one call in flight; the rest queue for a worker.
    const size_t workers = service->server.options().workerThreads;
    QTRY_COMPARE_WITH_TIMEOUT(service->cache->waitingCount(), workers - 1, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(service->server.workInFlight(), responses.size(), 10000);
    service->first.release();
    for (auto &client : clients)
        client.join();
    QCOMPARE(service->first.calls.load(), 1);
    for (const auto &response : responses) {
        QCOMPARE(response.status, 200);
        QCOMPARE(text(json(response)["data"]["condition"]), QByteArray("fog"));
    }
}

void TestWeatherd::feedback_storesRawValuesExactly()
{
    const std::string message = "Line one & two = three\r\nA+B 100% %41 done\n\tÜmlaut, ёлка, 雨";
    const std::string body = "&v4=" + message + "&v1=2&v3=zoë+tag@example.org&v2=Zoë & Bob";
    auto response = rawPost(service->port, "/api/0.5/feedback?", body);
    QCOMPARE(response.status, 200);
    QVERIFY(json(response).is_object() && !json(response).empty());
    auto rows = feedbackRows(service->databasePath());
    QCOMPARE(rows.size(), size_t(1));
    QCOMPARE(bytes(rows[0][0]), QByteArray("2"));
    QCOMPARE(bytes(rows[0][1]), QByteArray("Zoë & Bob"));
    QCOMPARE(bytes(rows[0][2]), QByteArray("zoë+tag@example.org"));
    QCOMPARE(bytes(rows[0][3]), bytes(message));
    QCOMPARE(bytes(rows[0][4]), QByteArray("127.0.0.1"));

    // A body the library would have refused as a form (over 8 KiB) is a message like any other.
    const std::string longMessage(20000, 'x');
    QCOMPARE(rawPost(service->port, "/api/0.5/feedback?", "&v1=0&v2=&v3=a@b&v4=" + longMessage).status, 200);
    QCOMPARE(bytes(feedbackRows(service->databasePath()).at(1)[3]), bytes(longMessage));

    // A client that asks before sending its body hears "100 Continue" first.
    int fd = connectLoopback(service->port);
    QVERIFY(sendAll(fd, "POST /api/0.5/feedback? HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                        "Expect: 100-continue\r\nContent-Length: 19\r\n\r\n"));
    char interim[64] = {};
    QVERIFY(::recv(fd, interim, sizeof interim - 1, 0) > 0);
    QVERIFY2(std::string_view(interim).starts_with("HTTP/1.1 100 Continue"), interim);
    QVERIFY(sendAll(fd, "&v3=a@b&v4=expected"));
    auto answer = parseResponse(readAll(fd));
    ::close(fd);
    QCOMPARE(answer.status, 200);
    QCOMPARE(bytes(feedbackRows(service->databasePath()).at(2)[3]), QByteArray("expected"));
}

void TestWeatherd::feedback_bodyLimitIsTheSharedLimit()
{
    const std::string prefix = "&v1=1&v2=n&v3=e&v4=";
    const std::string fits = prefix + std::string(NIMBARA_FEEDBACK_MAX_BYTES - prefix.size(), 'a');
    QCOMPARE(rawPost(service->port, "/api/0.5/feedback?", fits).status, 200);

    auto response = rawPost(service->port, "/api/0.5/feedback?", fits + "b");
    QCOMPARE(response.status, 413);
    QCOMPARE(text(json(response)["status"]), QByteArray("error"));

    // Announced far larger than the limit: refused without reading it all.
    auto announced =
        sendRaw(service->port, "POST /api/0.5/feedback? HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                               "Content-Length: 100000000\r\n\r\n&v1=1&v4=abc");
    QCOMPARE(announced.status, 413);

    // Chunked, so that no length is announced: the limit holds while reading.
    std::string chunked = "POST /api/0.5/feedback? HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                          "Transfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 20; ++i)
        chunked += "1000\r\n" + std::string(0x1000, 'c') + "\r\n";
    chunked += "0\r\n\r\n";
    QCOMPARE(sendRaw(service->port, chunked).status, 413);

    QCOMPARE(feedbackRows(service->databasePath()).size(), size_t(1));
    QCOMPARE(rawPost(service->port, "/api/0.5/feedback?", "").status, 400);
}

void TestWeatherd::badRequests_getStatusAndEnvelope_data()
{
    QTest::addColumn<std::string>("request");
    QTest::addColumn<int>("status");
    auto get = [](const std::string &target) {
        return "GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    };
    QTest::newRow("unknown path") << get("/api/0.5/weather") << 404;
    QTest::newRow("old api version") << get("/api/0.4/gate?&v1=1&v2=2") << 404;
    QTest::newRow("query of 9 KiB") << get("/api/0.5/gate?&v1=1&v2=2&v4=" + std::string(9 * 1024, 'q'))
                                    << 414;
    QTest::newRow("query of 200 KiB") << get("/api/0.5/gate?&v4=" + std::string(200 * 1024, 'q')) << 414;
    QTest::newRow("not http") << std::string("HELLO\r\n\r\n") << 400;
    QTest::newRow("multipart feedback")
        << std::string("POST /api/0.5/feedback? HTTP/1.1\r\nHost: x\r\n"
                       "Content-Type: multipart/form-data; boundary=b\r\n"
                       "Content-Length: 58\r\n\r\n--b\r\nContent-Disposition: "
                       "form-data; name=\"v4\"\r\n\r\nhi\r\n--b--\r\n")
        << 415;
    QTest::newRow("header of 100 KiB")
        << "GET /check/ HTTP/1.1\r\nX-Big: " + std::string(100 * 1024, 'h') + "\r\nConnection: close\r\n\r\n"
        << 431;
}

void TestWeatherd::badRequests_getStatusAndEnvelope()
{
    QFETCH(std::string, request);
    QFETCH(int, status);
    auto response = sendRaw(service->port, request);
    QCOMPARE(response.status, status);
    auto body = json(response);
    QCOMPARE(text(body["status"]), QByteArray("error"));
    QCOMPARE(number(body["error"]), 2);
    QCOMPARE(rawGet(service->port, "/check/").status, 200);
}

void TestWeatherd::framing_rawRequests_data()
{
    QTest::addColumn<std::string>("request");
    QTest::addColumn<int>("status"); // 0: no answer
    QTest::addColumn<int>("next");   // the answer to a request sent next on the connection: 0 when closed
    QTest::addColumn<std::string>("inHead");

    const std::string feedback = "POST /api/0.5/feedback? HTTP/1.1\r\nHost: x\r\n";
    const std::string form = "Content-Type: application/x-www-form-urlencoded\r\n";
    const std::string gate = "/api/0.5/gate?" + londonQuery;
    QTest::newRow("plain keep-alive get")
        << std::string("GET /check/ HTTP/1.1\r\nHost: x\r\n\r\n") << 200 << 200 << std::string();
    QTest::newRow("two different lengths")
        << feedback + form + "Content-Length: 5\r\nContent-Length: 11\r\n\r\n&v4=x&v4=yz" << 400 << 0
        << std::string();
    QTest::newRow("the same length twice")
        << feedback + form + "Content-Length: 5\r\nContent-Length: 5\r\n\r\n&v4=x" << 400 << 0
        << std::string();
    QTest::newRow("length with chunked")
        << feedback + form + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n&v4=x\r\n0\r\n\r\n"
        << 400 << 0 << std::string();
    QTest::newRow("chunked with length")
        << feedback + form + "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n5\r\n&v4=x\r\n0\r\n\r\n"
        << 400 << 0 << std::string();
    QTest::newRow("a coding other than chunked")
        << feedback + form + "Transfer-Encoding: gzip\r\n\r\n&v4=x" << 400 << 0 << std::string();
    QTest::newRow("negative length") << feedback + form + "Content-Length: -5\r\n\r\n&v4=x" << 400 << 0
                                     << std::string();
    QTest::newRow("length of 20 digits")
        << feedback + form + "Content-Length: 99999999999999999999\r\n\r\n&v4=x" << 400 << 0 << std::string();
    QTest::newRow("length with a sign")
        << feedback + form + "Content-Length: +5\r\n\r\n&v4=x" << 400 << 0 << std::string();
    QTest::newRow("body longer than its length: the rest is a broken request")
        << feedback + form + "Content-Length: 10\r\n\r\n&v3=e&v4=xGET /smuggled" << 200 << 400
        << std::string();
    QTest::newRow("body shorter than its length: cut at the body deadline")
        << feedback + form + "Content-Length: 100\r\n\r\n&v4=x" << 0 << 0 << std::string();
    QTest::newRow("head never ends: cut at the head deadline")
        << std::string("GET /check/ HTTP/1.1\r\nHost: x\r\n") << 0 << 0 << std::string();
    QTest::newRow("put on the gate") << "PUT " + gate + " HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n"
                                     << 405 << 200 << std::string("Allow: GET, HEAD");
    QTest::newRow("delete on the feedback")
        << std::string("DELETE /api/0.5/feedback? HTTP/1.1\r\nHost: x\r\n\r\n") << 405 << 200
        << std::string("Allow: POST");
    QTest::newRow("put with a body it will not read")
        << std::string("PUT /check/ HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc") << 405 << 0
        << std::string("Allow: GET, HEAD");
    QTest::newRow("http/1.1 without host")
        << std::string("GET /check/ HTTP/1.1\r\n\r\n") << 400 << 0 << std::string();
    QTest::newRow("two hosts") << std::string("GET /check/ HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n") << 400
                               << 0 << std::string();
    QTest::newRow("http/1.0 without host, closed after")
        << std::string("GET /check/ HTTP/1.0\r\n\r\n") << 200 << 0 << std::string();
    QTest::newRow("http/1.0 keep-alive, told it stays open")
        << std::string("GET /check/ HTTP/1.0\r\nConnection: keep-alive\r\n\r\n") << 200 << 200
        << std::string("Connection: keep-alive");
    QTest::newRow("range ignored on the gate")
        << "GET " + gate + " HTTP/1.1\r\nHost: x\r\nRange: bytes=0-4\r\n\r\n"
        << 200 << 200 << std::string();
    QTest::newRow("request line over the limit")
        << "GET /check/?" + std::string(20 * 1024, 'q') + " HTTP/1.1\r\nHost: x\r\n\r\n"
        << 414 << 0 << std::string();
    QTest::newRow("head over the limit")
        << "GET /check/ HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(20 * 1024, 'h') + "\r\n\r\n"
        << 431 << 0 << std::string();
    QTest::newRow("unknown version") << std::string("GET /check/ HTTP/2.0\r\nHost: x\r\n\r\n") << 400 << 0
                                     << std::string();
}

void TestWeatherd::framing_rawRequests()
{
    QFETCH(std::string, request);
    QFETCH(int, status);
    QFETCH(int, next);
    QFETCH(std::string, inHead);
    service->first.answer(200, openMeteoAnswer(12, 3));

    int fd = connectLoopback(service->port);
    QVERIFY(fd >= 0);
    QVERIFY(sendAll(fd, request));
    auto response = readResponse(fd);
    QCOMPARE(response.status, status);
    if (status != 0)
        QVERIFY2(response.head.find(inHead) != std::string::npos, response.head.c_str());
    if (status == 200)
        QVERIFY2(!json(response).is_discarded(), response.body.c_str()); // whole, not a range of it
    // A connection that stays open serves the next request on it; a closed one answers nothing; after
    // a body longer than its length, the rest is read as the next request, and refused.
    sendAll(fd, "GET /check/ HTTP/1.1\r\nHost: x\r\n\r\n");
    auto nextResponse = readResponse(fd, 3s);
    ::close(fd);
    QCOMPARE(nextResponse.status, next);
    QCOMPARE(rawGet(service->port, "/check/").status, 200);
}

void TestWeatherd::connectionCaps_overCapAnsweredAtOnceWith503_data()
{
    QTest::addColumn<size_t>("inAll");
    QTest::addColumn<size_t>("perClient");
    QTest::newRow("per client address") << size_t(1000) << size_t(3);
    QTest::newRow("in all") << size_t(3) << size_t(1000);
}

void TestWeatherd::connectionCaps_overCapAnsweredAtOnceWith503()
{
    QFETCH(size_t, inAll);
    QFETCH(size_t, perClient);
    HttpOptions options = Service::testHttpOptions();
    options.maxConnections = inAll;
    options.maxConnectionsPerClient = perClient;
    service = std::make_unique<Service>(geocoder.get(), options);
    // Three keep-alive clients take every place.
    std::vector<int> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(connectLoopback(service->port));
        QVERIFY(sendAll(held.back(), "GET /check/ HTTP/1.1\r\nHost: x\r\n\r\n"));
        QCOMPARE(readResponse(held.back()).status, 200);
    }
    // A fourth hears at once that the service is busy (error 3: the widget retries), and is closed.
    LogCapture log;
    auto started = std::chrono::steady_clock::now();
    auto refused = rawGet(service->port, "/check/");
    QVERIFY(std::chrono::steady_clock::now() - started < 1s);
    QCOMPARE(refused.status, 503);
    QVERIFY(json(refused) == nlohmann::json::parse(R"({"status":"error","error":3})"));
    QVERIFY(log.contains("refused: 127.0.0.1 503: too many connections"));
    // A place that frees up is taken again.
    ::close(held.back());
    held.pop_back();
    QTRY_COMPARE(service->server.connectionCount(), size_t(2));
    QCOMPARE(rawGet(service->port, "/check/").status, 200);
    for (int fd : held)
        ::close(fd);
}

void TestWeatherd::connectionCaps_trustedProxyIsNotCappedPerAddress()
{
    HttpOptions options = Service::testHttpOptions();
    options.maxConnections = 8;
    options.maxConnectionsPerClient = 2;
    std::string error;
    auto proxies = TrustedProxies::parse("127.0.0.1/32", error);
    QVERIFY2(proxies, error.c_str());
    service = std::make_unique<Service>(geocoder.get(), options, std::move(proxies));

    // A proxy carries many clients: past the cap per address, each of its connections is served.
    std::vector<int> held;
    for (int i = 0; i < 5; ++i) {
        held.push_back(connectLoopback(service->port, "127.0.0.1"));
        QVERIFY(sendAll(held.back(), "GET /check/ HTTP/1.1\r\nHost: x\r\nX-Forwarded-For: 192.0.2." +
                                         std::to_string(i) + "\r\n\r\n"));
        QCOMPARE(readResponse(held.back()).status, 200);
    }
    // Any other address is held to it.
    for (int i = 0; i < 2; ++i) {
        held.push_back(connectLoopback(service->port, "127.0.0.2"));
        QVERIFY(sendAll(held.back(), "GET /check/ HTTP/1.1\r\nHost: x\r\n\r\n"));
        QCOMPARE(readResponse(held.back()).status, 200);
    }
    int over = connectLoopback(service->port, "127.0.0.2");
    QVERIFY(over >= 0);
    QCOMPARE(readResponse(over).status, 503);
    ::close(over);
    // The cap in all still counts the proxy's connections: seven are open, one more place is left.
    int last = connectLoopback(service->port, "127.0.0.1");
    QVERIFY(sendAll(last, "GET /check/ HTTP/1.1\r\nHost: x\r\n\r\n"));
    QCOMPARE(readResponse(last).status, 200);
    int full = connectLoopback(service->port, "127.0.0.1");
    QCOMPARE(readResponse(full).status, 503);
    ::close(full);
    ::close(last);
    for (int fd : held)
        ::close(fd);
}

// A proxy that appends a field of its own: the client's forged first field must not be believed.
void TestWeatherd::trustedProxy_everyForwardedForFieldRead()
{
    std::string error;
    auto proxies = TrustedProxies::parse("127.0.0.1/32", error);
    QVERIFY2(proxies, error.c_str());
    service = std::make_unique<Service>(geocoder.get(), Service::testHttpOptions(), std::move(proxies));
    LogCapture log;
    auto response = sendRaw(service->port, "GET /check/ HTTP/1.1\r\nHost: x\r\nX-Forwarded-For: 6.6.6.6\r\n"
                                           "X-Forwarded-For: 203.0.113.7\r\nConnection: close\r\n\r\n");
    QCOMPARE(response.status, 200);
    auto lines = log.lines();
    QVERIFY(!lines.empty());
    QVERIFY2(lines.back().rfind("203.0.113.7 GET /check/ 200 ", 0) == 0, lines.back().c_str());
}

namespace {

// The bytes the kernel holds for the server's end of a loopback connection, waiting to be sent
// and waiting to be read (tx_queue and rx_queue of /proc/net/tcp), or -1 when it is not listed.
long serverSocketQueues(int serverPort, int clientPort)
{
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        unsigned localAddress = 0, localPort = 0, remoteAddress = 0, remotePort = 0, state = 0;
        unsigned long sendQueue = 0, receiveQueue = 0;
        if (std::sscanf(line.c_str(), " %*d: %x:%x %x:%x %x %lx:%lx", &localAddress, &localPort,
                        &remoteAddress, &remotePort, &state, &sendQueue, &receiveQueue) == 7 &&
            int(localPort) == serverPort && int(remotePort) == clientPort)
            return static_cast<long>(sendQueue + receiveQueue);
    }
    return -1;
}

} // namespace

// A client that pipelines requests and reads no answer: the answers wait in the kernel within a
// small bound, not the megabytes it would grow to by itself.
void TestWeatherd::pipeliningClientThatNeverReads_holdsLittleKernelMemory()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(service->port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    pollfd writable{fd, POLLOUT, 0};
    QCOMPARE(::poll(&writable, 1, 2000), 1);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length);

    // Send until the server stops taking requests for a while.
    std::string requests;
    for (int i = 0; i < 1000; ++i)
        requests += "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
    size_t sent = 0;
    while (sent < 200 * requests.size()) {
        pollfd entry{fd, POLLOUT, 0};
        if (::poll(&entry, 1, 1000) <= 0)
            break;
        auto n = ::send(fd, requests.data(), requests.size(), MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<size_t>(n);
    }
    const long held = serverSocketQueues(service->port, ntohs(local.sin_port));
    ::close(fd);
    QVERIFY2(held >= 0, "the server's end is not listed");
    QVERIFY2(held <= 1024 * 1024, std::to_string(held).c_str());
    QCOMPARE(rawGet(service->port, "/check/").status, 200);
}

// Every upstream worker and its whole queue taken by requests for new cells while the upstream
// stalls: feedback, which waits for the database only, is stored and answered all the same.
void TestWeatherd::stalledUpstream_holdsNoFeedback()
{
    HttpOptions options = Service::testHttpOptions();
    options.workerThreads = 2;
    options.maxQueuedWork = 4;
    service = std::make_unique<Service>(geocoder.get(), options);
    service->first.hold();
    service->second.hold();
    LogCapture log;
    std::vector<int> waiting;
    for (int i = 0; i < 7; ++i) {
        waiting.push_back(connectLoopback(service->port));
        const std::string cell = "&v1=" + std::to_string(10 + i) +
                                 ".05&v2=20.05&v3=auto&v4=en-GB&v5=" + fingerprint("machine-a") +
                                 "&v6=" + fingerprint(currentVersion);
        QVERIFY(sendAll(waiting.back(), "GET /api/0.5/gate?" + cell + " HTTP/1.1\r\nHost: x\r\n\r\n"));
    }
    // One of them, whichever came last, is over the upstream workers' bound.
    QTRY_COMPARE(service->server.workInFlight(), size_t(6));
    QTRY_VERIFY(log.contains("busy: 127.0.0.1 GET /api/0.5/gate"));
    QCOMPARE(rawPost(service->port, "/api/0.5/feedback?", "&v1=1&v2=A&v3=a@b&v4=still heard").status, 200);
    QCOMPARE(feedbackRows(service->databasePath()).size(), size_t(1));
    service->first.release();
    service->second.release();
    for (int fd : waiting)
        ::close(fd);
}

// The one worker held by a stalled upstream: a request queued behind it hears 503 (error 3) at its
// queue deadline, not once the worker is free, and is not fetched after all.
void TestWeatherd::workWithoutWorkerInTime_answered503AtItsDeadline()
{
    HttpOptions options = Service::testHttpOptions();
    options.workerThreads = 1;
    options.maxQueueWait = 300ms;
    service = std::make_unique<Service>(geocoder.get(), options);
    service->first.hold();
    service->second.hold();
    auto cellRequest = [](int i) {
        return "GET /api/0.5/gate?&v1=" + std::to_string(10 + i) +
               ".05&v2=20.05&v3=auto&v4=en-GB&v5=" + fingerprint("machine-a") +
               "&v6=" + fingerprint(currentVersion) + " HTTP/1.1\r\nHost: x\r\n\r\n";
    };
    int running = connectLoopback(service->port);
    QVERIFY(sendAll(running, cellRequest(0)));
    QTRY_COMPARE(service->first.calls.load(), 1);
    int queued = connectLoopback(service->port);
    const auto sent = std::chrono::steady_clock::now();
    QVERIFY(sendAll(queued, cellRequest(1)));
    const auto answer = readResponse(queued, 5s);
    const auto waited = std::chrono::steady_clock::now() - sent;
    QCOMPARE(answer.status, 503);
    QVERIFY(json(answer) == nlohmann::json::parse(R"({"status":"error","error":3})"));
    QVERIFY2(waited < 900ms, std::to_string(waited.count()).c_str());
    // The request given up is never fetched, also once the worker is free again.
    QVERIFY(readResponse(running, 5s).answered);
    QTRY_COMPARE(service->server.workInFlight(), size_t(0));
    QCOMPARE(service->first.calls.load(), 1);
    service->first.release();
    service->second.release();
    ::close(running);
    ::close(queued);
}

void TestWeatherd::slowClient_isCutOffWhileOthersAreServed()
{
    // The fixture gives a request head 800 ms to arrive; this client sends a byte every 100 ms,
    // forever.
    int fd = connectLoopback(service->port);
    QVERIFY(fd >= 0);
    std::atomic<bool> cutOff{false};
    std::thread slow([&] {
        const std::string endless = "GET /check/ HTTP/1.1\r\nX-Slow: " + std::string(1000, 's');
        for (char byte : endless) {
            if (!sendAll(fd, std::string_view(&byte, 1)))
                break;
            std::this_thread::sleep_for(100ms);
            char peek;
            if (::recv(fd, &peek, 1, MSG_PEEK | MSG_DONTWAIT) == 0) {
                cutOff = true;
                break;
            }
        }
    });
    auto started = std::chrono::steady_clock::now();
    while (!cutOff && std::chrono::steady_clock::now() - started < 10s)
        QCOMPARE(rawGet(service->port, "/check/").status, 200);
    slow.join();
    ::close(fd);
    QVERIFY(cutOff);
    QVERIFY(std::chrono::steady_clock::now() - started < 5s);
}

void TestWeatherd::idleKeepAliveConnections_holdNoOneAndCloseWhenIdle()
{
    HttpOptions options = Service::testHttpOptions();
    options.loopThreads = 1;
    options.idleTimeout = 500ms;
    service = std::make_unique<Service>(geocoder.get(), options);
    // Many keep-alive clients are answered once and then go quiet.
    std::vector<int> idle(200);
    for (int &fd : idle) {
        fd = connectLoopback(service->port);
        QVERIFY(sendAll(fd, "GET /check/ HTTP/1.1\r\nHost: x\r\n\r\n"));
    }
    for (int fd : idle) {
        char buffer[512];
        QVERIFY(::recv(fd, buffer, sizeof buffer, 0) > 0);
    }
    // A new client is served at once, on the one loop thread.
    auto started = std::chrono::steady_clock::now();
    QCOMPARE(rawGet(service->port, "/check/").status, 200);
    QVERIFY(std::chrono::steady_clock::now() - started < 1s);
    // The quiet ones are closed once idle for the time-out.
    QTRY_COMPARE_WITH_TIMEOUT(service->server.connectionCount(), size_t(0), 5000);
    for (int fd : idle)
        ::close(fd);
}

void TestWeatherd::newClient_isAnsweredWhileKeptAliveOnesHoldTheLoop()
{
    // One loop thread, and a route that holds it until the test lets go: the stand-in for a
    // thousand busy keep-alive connections.
    HttpOptions options = Service::testHttpOptions();
    options.loopThreads = 1;
    HttpServer server(options);
    std::promise<void> letGo;
    std::shared_future<void> released = letGo.get_future().share();
    server.get("/check/", Runs::onLoop, [](const Request &) { return Reply{200, R"({"status":"ok"})"}; });
    server.get("/hold", Runs::onLoop, [released](const Request &) {
        released.wait();
        return Reply{200, "{}"};
    });
    const int port = server.bindAndListen("127.0.0.1", 0);
    std::thread loop([&] { server.run(); });
    std::once_flag once;
    auto release = [&] {
        std::call_once(once, [&] { letGo.set_value(); });
    };
    auto stopped = std::shared_ptr<void>(nullptr, [&](void *) {
        release();
        server.stop();
        loop.join();
    });

    int busy = connectLoopback(port);
    QVERIFY(sendAll(busy, "GET /check/ HTTP/1.1\r\nHost: x\r\n\r\n"));
    QCOMPARE(readResponse(busy).status, 200);
    QVERIFY(sendAll(busy, "GET /hold HTTP/1.1\r\nHost: x\r\n\r\n"));
    QVERIFY(!readResponse(busy, 300ms).answered);
    // A new connection is accepted and answered beside them, and kept alive for a second request
    // the loop can answer only once it is free again.
    int fresh = connectLoopback(port);
    QVERIFY(sendAll(fresh, "GET /check/ HTTP/1.1\r\nHost: x\r\n\r\n"));
    QCOMPARE(readResponse(fresh, 2s).status, 200);
    QVERIFY(sendAll(fresh, "GET /check/ HTTP/1.1\r\nHost: x\r\n\r\n"));
    release();
    QCOMPARE(readResponse(busy).status, 200);
    QCOMPARE(readResponse(fresh).status, 200);
    ::close(busy);
    ::close(fresh);
}

void TestWeatherd::accessLog_lineWithoutPosition()
{
    service->first.answer(200, openMeteoAnswer(3, 2));
    LogCapture log;
    QCOMPARE(rawGet(service->port, "/api/0.5/gate?" + londonQuery).status, 200);
    auto lines = log.lines();
    QVERIFY(!lines.empty());
    const auto &line = lines.back();
    QVERIFY2(line.rfind("127.0.0.1 GET /api/0.5/gate 200 ", 0) == 0, line.c_str());
    QVERIFY2(line.find("machine=" + fingerprint("machine-a")) != std::string::npos, line.c_str());
    QVERIFY2(line.find("51.5") == std::string::npos, line.c_str());
}

void TestWeatherd::accessLog_clientBytesCannotForgeLines()
{
    LogCapture log;
    // A path that decoded would end the line and forge another; raw bytes no terminal should see.
    QCOMPARE(rawGet(service->port, "/check/%0a6.6.6.6%20GET%20/api/0.5/gate%20200%20machine=0").status, 404);
    sendRaw(service->port, "GET /\x1b[2J\xff HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    sendRaw(service->port, "\x01\x02 garbage\r\n\r\n");
    auto lines = log.lines();
    QVERIFY(lines.size() >= 3);
    for (const auto &line : lines) {
        QVERIFY2(line.rfind("127.0.0.1 ", 0) == 0 || line.rfind("refused: 127.0.0.1 ", 0) == 0, line.c_str());
        for (unsigned char c : line)
            QVERIFY2(c >= 0x20 && c < 0x7f, line.c_str());
    }
    QVERIFY(log.contains("127.0.0.1 GET /check/%0a6.6.6.6%20GET%20/api/0.5/gate%20200%20machine=0 404 "));
}

QProcess *TestWeatherd::startExecutable(const QTemporaryDir &dir, int &port, const QString &providerUrl,
                                        const QStringList &more, const QStringList &wrapper)
{
    auto *process = new QProcess(this);
    // A wrapper (valgrind and its options) runs the executable in its turn.
    process->setProgram(wrapper.isEmpty() ? QStringLiteral(NIMBARA_WEATHERD) : wrapper.front());
    process->setArguments(
        wrapper.mid(1) + (wrapper.isEmpty() ? QStringList() : QStringList{QStringLiteral(NIMBARA_WEATHERD)}) +
        QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"),
                    dir.filePath(QStringLiteral("weatherd.sqlite")), QStringLiteral("--cities"),
                    dir.filePath(QStringLiteral("none.txt")), QStringLiteral("--provider-url"), providerUrl,
                    QStringLiteral("--second-provider-url"), QStringLiteral("http://127.0.0.1:9"),
                    QStringLiteral("--feedback-per-client"), QStringLiteral("0")} +
        more);
    process->start();
    port = 0;
    QByteArray output;
    static const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    process->setReadChannel(QProcess::StandardError);
    while (port == 0 && process->waitForReadyRead(wrapper.isEmpty() ? 10000 : 60000)) {
        output += process->readAllStandardError();
        auto match = listening.match(QString::fromUtf8(output));
        if (match.hasMatch())
            port = match.captured(1).toInt();
    }
    return process;
}

void TestWeatherd::executable_feedbackSurvivesKillRightAfterAnswer()
{
    QTemporaryDir dir;
    int port = 0;
    QProcess *process = startExecutable(dir, port);
    QVERIFY(port > 0);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(
            rawPost(port, "/api/0.5/feedback?", "&v1=1&v2=A&v3=a@b&v4=message " + std::to_string(i)).status,
            200);
    ::kill(static_cast<pid_t>(process->processId()), SIGKILL);
    QVERIFY(process->waitForFinished(5000));
    QCOMPARE(process->exitStatus(), QProcess::CrashExit);

    auto rows = feedbackRows(dir.filePath(QStringLiteral("weatherd.sqlite")).toStdString());
    QCOMPARE(rows.size(), size_t(5));
    QCOMPARE(bytes(rows[4][3]), QByteArray("message 4"));
}

void TestWeatherd::executable_stopsCleanlyOnSigterm()
{
    QTemporaryDir dir;
    int port = 0;
    QProcess *process = startExecutable(dir, port);
    QVERIFY(port > 0);
    QCOMPARE(rawGet(port, "/check/").status, 200);
    // An idle keep-alive connection must not hold up the stop.
    int idle = connectLoopback(port);
    sendAll(idle, "GET /check/ HTTP/1.1\r\nHost: x\r\n\r\n");
    process->terminate();
    QVERIFY(process->waitForFinished(3000));
    ::close(idle);
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 0);
    QVERIFY(process->readAllStandardError().contains("nimbara-weatherd stopped"));
}

void TestWeatherd::executable_drainsRequestsInFlightOnSigterm_data()
{
    QTest::addColumn<bool>("upstreamAnswers");
    QTest::addColumn<QString>("drainTimeout");
    QTest::addColumn<int>("status");
    QTest::newRow("in flight: answered whole") << true << QStringLiteral("10") << 200;
    QTest::newRow("past the drain time: cut") << false << QStringLiteral("0.5") << 0;
}

void TestWeatherd::executable_drainsRequestsInFlightOnSigterm()
{
    QFETCH(bool, upstreamAnswers);
    QFETCH(QString, drainTimeout);
    QFETCH(int, status);
    FakeUpstream upstream;
    upstream.answer(200, openMeteoAnswer(12, 3));
    upstream.hold();
    QTemporaryDir dir;
    int port = 0;
    QProcess *process = startBeforeHeldUpstream(upstream, dir, port, QStringLiteral("3"), drainTimeout);
    QVERIFY(port > 0);
    // A keep-alive client between requests, and a gate request waiting for the upstream.
    int idle = connectLoopback(port);
    QVERIFY(sendAll(idle, "GET /check/ HTTP/1.1\r\nHost: x\r\n\r\n"));
    QCOMPARE(readResponse(idle).status, 200);
    int inFlight = connectLoopback(port);
    QVERIFY(sendAll(inFlight, "GET /api/0.5/gate?" + londonQuery + " HTTP/1.1\r\nHost: x\r\n\r\n"));
    QTRY_COMPARE(upstream.calls.load(), 1);

    process->terminate();
    // New connections are refused, the idle one is closed, the request in flight still waits.
    auto refused = [port] {
        int fd = connectLoopback(port);
        if (fd >= 0)
            ::close(fd);
        return fd < 0;
    };
    QTRY_VERIFY(refused());
    pollfd closed{idle, POLLIN, 0};
    QCOMPARE(::poll(&closed, 1, 3000), 1);
    char byte;
    QCOMPARE(::recv(idle, &byte, 1, 0), ssize_t(0));
    ::close(idle);
    QCOMPARE(process->state(), QProcess::Running);

    if (upstreamAnswers)
        upstream.release();
    auto response = readResponse(inFlight, 8s);
    ::close(inFlight);
    QCOMPARE(response.status, status);
    if (status == 200) {
        QCOMPARE(text(json(response)["status"]), QByteArray("ok"));
        QVERIFY2(response.head.find("Connection: close") != std::string::npos, response.head.c_str());
    }
    QVERIFY(process->waitForFinished(10000));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 0);
    const QByteArray log = process->readAllStandardError();
    QVERIFY2(log.contains("nimbara-weatherd stopped"), log.constData());
    QCOMPARE(log.contains("drain time over"), !upstreamAnswers);
}

// Work still queued for the one worker when the drain time is over holds sessions whose sockets
// belong to the loops: it must go before them, and the place index after the workers. Under
// valgrind (in sanitizer builds, the sanitizer), whose report fails the run: a use after free at
// exit seldom crashes by itself.
void TestWeatherd::executable_stopsCleanlyWithWorkStillQueued()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // A sanitizer build checks the executable itself, which valgrind cannot run.
    const QStringList checker;
#else
    if (QStandardPaths::findExecutable(QStringLiteral("valgrind")).isEmpty())
        QSKIP("valgrind is not installed (scripts/install-deps.sh installs it)");
    const QStringList checker{QStringLiteral("valgrind"), QStringLiteral("--quiet"),
                              QStringLiteral("--error-exitcode=99")};
#endif
    FakeUpstream upstream;
    upstream.answer(200, openMeteoAnswer(12, 3));
    upstream.hold();
    QTemporaryDir dir;
    int port = 0;
    // Without the data it need not load, it starts within seconds under valgrind.
    QProcess *process =
        startBeforeHeldUpstream(upstream, dir, port, QStringLiteral("1"), QStringLiteral("0.5"),
                                {QStringLiteral("--threads"), QStringLiteral("1"), QStringLiteral("--ip-db"),
                                 dir.filePath(QStringLiteral("none")), QStringLiteral("--locale-dir"),
                                 dir.filePath(QStringLiteral("none"))},
                                checker);
    QVERIFY(port > 0);
    std::vector<int> waiting;
    for (int i = 0; i < 3; ++i) {
        waiting.push_back(connectLoopback(port));
        const std::string cell = "&v1=" + std::to_string(10 + i) +
                                 ".05&v2=20.05&v3=auto&v4=en-GB&v5=" + fingerprint("machine-a") +
                                 "&v6=" + fingerprint(currentVersion);
        QVERIFY(sendAll(waiting.back(), "GET /api/0.5/gate?" + cell + " HTTP/1.1\r\nHost: x\r\n\r\n"));
    }
    QTRY_COMPARE(upstream.calls.load(), 1);
    process->terminate();
    QVERIFY(process->waitForFinished(30000));
    for (int fd : waiting)
        ::close(fd);
    const QByteArray log = process->readAllStandardError();
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QVERIFY2(process->exitCode() == 0, log.constData());
    QVERIFY2(log.contains("nimbara-weatherd stopped"), log.constData());
}

// An operator's second SIGTERM ends the service now, even with a request waiting for an upstream
// that does not answer.
void TestWeatherd::executable_secondSigtermStopsAtOnce()
{
    FakeUpstream upstream;
    upstream.answer(200, openMeteoAnswer(12, 3));
    upstream.hold();
    QTemporaryDir dir;
    int port = 0;
    QProcess *process =
        startBeforeHeldUpstream(upstream, dir, port, QStringLiteral("60"), QStringLiteral("60"));
    QVERIFY(port > 0);
    int inFlight = connectLoopback(port);
    QVERIFY(sendAll(inFlight, "GET /api/0.5/gate?" + londonQuery + " HTTP/1.1\r\nHost: x\r\n\r\n"));
    QTRY_COMPARE(upstream.calls.load(), 1);
    QByteArray log;
    process->terminate();
    QTRY_VERIFY((log += process->readAllStandardError()).contains("stopping: no new connections"));
    process->terminate();
    QVERIFY(process->waitForFinished(5000));
    ::close(inFlight);
    log += process->readAllStandardError();
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 0);
    QVERIFY2(log.contains("stopping at once: 1 requests cut"), log.constData());
}

namespace {

// The service with its stderr on a pipe that the test reads, or stops reading, or closes.
struct PipedService
{
    explicit PipedService(const QTemporaryDir &dir)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        logReader = fds[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> arguments{NIMBARA_WEATHERD,
                                           "--port",
                                           "0",
                                           "--metrics-listen",
                                           "127.0.0.1:0",
                                           "--db",
                                           dir.filePath(QStringLiteral("weatherd.sqlite")).toStdString(),
                                           "--cities",
                                           dir.filePath(QStringLiteral("none.txt")).toStdString(),
                                           "--provider-url",
                                           "http://127.0.0.1:9",
                                           "--second-provider-url",
                                           "http://127.0.0.1:9"};
        std::vector<char *> argv;
        for (auto &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        // As systemd starts it: SIGPIPE as the default has it, whatever this test process does with it.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        if (posix_spawn(&pid, NIMBARA_WEATHERD, &actions, &attributes, argv.data(), environ) != 0)
            pid = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        static const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
        static const QRegularExpression metrics(QStringLiteral("metrics served on 127\\.0\\.0\\.1:(\\d+)"));
        while (pid > 0 && (port == 0 || metricsPort == 0) && readLog(std::chrono::seconds(10))) {
            const auto text = QString::fromStdString(log);
            if (auto match = listening.match(text); match.hasMatch())
                port = match.captured(1).toInt();
            if (auto match = metrics.match(text); match.hasMatch())
                metricsPort = match.captured(1).toInt();
        }
    }

    ~PipedService()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (logReader >= 0)
            ::close(logReader);
    }

    // Reads what the service has logged within the wait; false when nothing came.
    bool readLog(std::chrono::milliseconds wait)
    {
        pollfd entry{logReader, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(wait.count())) <= 0)
            return false;
        char buffer[65536];
        auto n = ::read(logReader, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        log.append(buffer, static_cast<size_t>(n));
        return true;
    }

    // The exit status after SIGTERM, or -1 when it does not end within the wait.
    int terminate(std::chrono::milliseconds wait)
    {
        ::kill(pid, SIGTERM);
        const auto until = std::chrono::steady_clock::now() + wait;
        int status = 0;
        while (std::chrono::steady_clock::now() < until) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

    pid_t pid = -1;
    int logReader = -1;
    int port = 0;
    int metricsPort = 0;
    std::string log;
};

// Sends count probes on a kept-alive connection, a batch at a time; false unless every one is
// answered within a few seconds.
bool probesAnswered(int port, int count)
{
    const int fd = connectLoopback(port);
    const auto closed = std::shared_ptr<void>(nullptr, [fd](void *) { ::close(fd); });
    const int batch = 200;
    std::string requests;
    for (int i = 0; i < batch; ++i)
        requests += "GET /check/ HTTP/1.1\r\nHost: x\r\n\r\n";
    for (int sent = 0; sent < count; sent += batch) {
        if (!sendAll(fd, requests))
            return false;
        std::string answers;
        int answered = 0;
        while (answered < batch) {
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, 5000) <= 0)
                return false;
            char buffer[65536];
            auto n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return false;
            answers.append(buffer, static_cast<size_t>(n));
            for (size_t at; (at = answers.find("{\"status\":\"ok\"}")) != std::string::npos;) {
                ++answered;
                answers.erase(0, at + 1);
            }
        }
    }
    return true;
}

double droppedLines(int metricsPort)
{
    static const QRegularExpression dropped(QStringLiteral("nimbara_log_lines_dropped_total (\\d+)"));
    auto match = dropped.match(QString::fromStdString(rawGet(metricsPort, "/metrics").body));
    return match.hasMatch() ? match.captured(1).toDouble() : -1;
}

} // namespace

// The access log is the journal's pipe: a reader that stops reading must hold up no request (the
// lines beyond a bound are dropped, counted and reported), and one that exits must not end the
// service (SIGPIPE).
void TestWeatherd::executable_logReaderThatStallsThenExitsHoldsNoRequest()
{
    QTemporaryDir dir;
    PipedService service(dir);
    QVERIFY(service.port > 0 && service.metricsPort > 0);

    // Far more lines than the pipe and the queue hold, while nobody reads.
    int sent = 0;
    while (droppedLines(service.metricsPort) <= 0 && sent < 60000) {
        QVERIFY2(probesAnswered(service.port, 2000), std::to_string(sent).c_str());
        sent += 2000;
    }
    QVERIFY2(droppedLines(service.metricsPort) > 0, std::to_string(sent).c_str());

    // Read again: what was dropped is told.
    while (service.log.find("lines dropped while the log was not read") == std::string::npos &&
           service.readLog(std::chrono::seconds(5))) {
    }
    QVERIFY(service.log.find("lines dropped while the log was not read") != std::string::npos);

    // The reader goes away: the service goes on, and stops cleanly.
    ::close(service.logReader);
    service.logReader = -1;
    QVERIFY(probesAnswered(service.port, 400));
    QCOMPARE(rawGet(service.port, "/check/").status, 200);
    const int status = service.terminate(std::chrono::seconds(15));
    QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, std::to_string(status).c_str());
}

void TestWeatherd::executable_helpListsEveryOption()
{
    QProcess process;
    process.start(QStringLiteral(NIMBARA_WEATHERD), {QStringLiteral("--help")});
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 0);
    const QByteArray help = process.readAllStandardOutput();
    for (const char *option : {"--listen",
                               "--port",
                               "--db",
                               "--cities",
                               "--locale-dir",
                               "--ip-db",
                               "--provider-url",
                               "--second-provider-url",
                               "--contact",
                               "--upstream-timeout",
                               "--drain-timeout",
                               "--min-version",
                               "--releases",
                               "--threads",
                               "--max-connections",
                               "--max-connections-per-client",
                               "--feedback-per-client",
                               "--feedback-per-machine",
                               "--feedback-burst",
                               "--feedback-max-bytes",
                               "--new-cells-per-client",
                               "--upstream-calls",
                               "--no-access-log",
                               "--blacklist-add",
                               "--blacklist-remove",
                               "--help",
                               "--version"})
        QVERIFY2(help.contains(option), option);

    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("b.sqlite"));
    const QString machine = QString::fromStdString(fingerprint("machine-b"));
    process.start(QStringLiteral(NIMBARA_WEATHERD),
                  {QStringLiteral("--db"), db, QStringLiteral("--blacklist-add"), machine});
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(ServiceStore(db.toStdString()).isBlacklisted(machine.toStdString()));
    process.start(
        QStringLiteral(NIMBARA_WEATHERD),
        {QStringLiteral("--db"), db, QStringLiteral("--blacklist-add"), QStringLiteral("not-a-fingerprint")});
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 2);
}

QTEST_GUILESS_MAIN(TestWeatherd)
#include "tst_weatherd.moc"
