// The service's metrics: the exposition text itself, and a real nimbara-weatherd scraped on its
// --metrics-listen address after traffic the test sent, read by a strict parser and by promtool.

#include "EngineFixtures.h"
#include "PrometheusText.h"
#include "ServerTestSupport.h"
#include "core/Fingerprint.h"
#include "http/ListenAddress.h"
#include "http/Metrics.h"

#include <QRegularExpression>
#include <QTest>

using namespace nimbara::server;
using namespace nimbara::server::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::string)

class TestServerMetrics : public QObject
{
    Q_OBJECT

private slots:
    void exposition_familiesEscapesAndCumulativeBuckets();
    void parser_refusesWhatPrometheusWouldNot_data();
    void parser_refusesWhatPrometheusWouldNot();
    void listenAddress_parsed_data();
    void listenAddress_parsed();
    void executable_scrapeCountsWhatWasSent();
};

void TestServerMetrics::exposition_familiesEscapesAndCumulativeBuckets()
{
    Metrics metrics;
    Counter hits;
    hits.add(3);
    Histogram latency({0.001, 0.01});
    latency.observe(500us);
    latency.observe(1ms); // on a bound: counted in that bucket ("le")
    latency.observe(2s);
    metrics.addCounter("demo_hits_total", "Hits.\nBy path \\ kind.", {{"path", "a\"b\\c\nd"}},
                       [&hits] { return static_cast<double>(hits.get()); });
    metrics.add("demo_seconds", "Latency.", Metrics::Type::histogram,
                [&latency](std::vector<Sample> &samples) {
                    appendHistogram(samples, latency, {{"route", "/x"}});
                });
    metrics.addCounter("demo_hits_total", "ignored: the family has its help", {{"path", "/y"}},
                       [] { return 0.0; });
    metrics.addGauge("demo_open", "Open now.", {}, [] { return 7.0; });

    QCOMPARE(metrics.text(), std::string(R"(# HELP demo_hits_total Hits.\nBy path \\ kind.
# TYPE demo_hits_total counter
demo_hits_total{path="a\"b\\c\nd"} 3
demo_hits_total{path="/y"} 0
# HELP demo_seconds Latency.
# TYPE demo_seconds histogram
demo_seconds_bucket{route="/x",le="0.001"} 2
demo_seconds_bucket{route="/x",le="0.01"} 2
demo_seconds_bucket{route="/x",le="+Inf"} 3
demo_seconds_sum{route="/x"} 2.0015
demo_seconds_count{route="/x"} 3
# HELP demo_open Open now.
# TYPE demo_open gauge
demo_open 7
)"));
    std::string error;
    auto parsed = PrometheusText::parse(metrics.text(), error);
    QVERIFY2(parsed, error.c_str());
    QCOMPARE(parsed->value("demo_hits_total{path=\"a\"b\\c\nd\"}"), 3.0);
}

void TestServerMetrics::parser_refusesWhatPrometheusWouldNot_data()
{
    QTest::addColumn<std::string>("text");
    QTest::newRow("sample before its type") << std::string("a_total 1\n# TYPE a_total counter\n");
    QTest::newRow("bad escape") << std::string("# TYPE a counter\na{l=\"\\x\"} 1\n");
    QTest::newRow("raw quote in a value") << std::string("# TYPE a counter\na{l=\"x\"y\"} 1\n");
    QTest::newRow("series twice") << std::string("# TYPE a gauge\na{l=\"x\"} 1\na{l=\"x\"} 2\n");
    QTest::newRow("bad value") << std::string("# TYPE a gauge\na 1x\n");
    QTest::newRow("shrinking buckets") << std::string(
        "# TYPE h histogram\nh_bucket{le=\"1\"} 5\nh_bucket{le=\"+Inf\"} 4\nh_sum 1\nh_count 4\n");
    QTest::newRow("+Inf is not the count") << std::string(
        "# TYPE h histogram\nh_bucket{le=\"1\"} 1\nh_bucket{le=\"+Inf\"} 2\nh_sum 1\nh_count 3\n");
}

void TestServerMetrics::parser_refusesWhatPrometheusWouldNot()
{
    QFETCH(std::string, text);
    std::string error;
    QVERIFY(!PrometheusText::parse(text, error));
    QVERIFY(!error.empty());
}

void TestServerMetrics::listenAddress_parsed_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<std::string>("shown"); // empty: refused
    QTest::newRow("IPv4") << std::string("127.0.0.1:9470") << std::string("127.0.0.1:9470");
    QTest::newRow("any port") << std::string("10.0.0.5:0") << std::string("10.0.0.5:0");
    QTest::newRow("IPv6") << std::string("[::1]:9470") << std::string("[::1]:9470");
    QTest::newRow("IPv6 unbracketed") << std::string("::1:9470") << std::string();
    QTest::newRow("no port") << std::string("127.0.0.1") << std::string();
    QTest::newRow("port too big") << std::string("127.0.0.1:65536") << std::string();
    QTest::newRow("port text") << std::string("127.0.0.1:http") << std::string();
    QTest::newRow("host name") << std::string("localhost:9470") << std::string();
}

void TestServerMetrics::listenAddress_parsed()
{
    QFETCH(std::string, text);
    QFETCH(std::string, shown);
    std::string error;
    auto address = ListenAddress::parse(text, error);
    QCOMPARE(address ? address->text() : std::string(), shown);
    QCOMPARE(error.empty(), bool(address));
}

void TestServerMetrics::executable_scrapeCountsWhatWasSent()
{
    FakeUpstream upstream;
    upstream.answer(200, openMeteoAnswer(10, 0));
    QTemporaryDir dir;
    WeatherdProcess weatherd(
        QStringLiteral(NIMBARA_WEATHERD),
        {QStringLiteral("--metrics-listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--provider-url"),
         QString::fromStdString(upstream.url()), QStringLiteral("--second-provider-url"), QString(),
         QStringLiteral("--feedback-per-client"), QStringLiteral("1"), QStringLiteral("--feedback-burst"),
         QStringLiteral("1"), QStringLiteral("--db"), dir.filePath(QStringLiteral("weatherd.sqlite"))});
    QVERIFY2(weatherd.port() > 0, weatherd.log().constData());
    const auto served = QRegularExpression(QStringLiteral("metrics served on 127\\.0\\.0\\.1:(\\d+)"))
                            .match(QString::fromUtf8(weatherd.log()));
    QVERIFY2(served.hasMatch(), weatherd.log().constData());
    const int metricsPort = served.captured(1).toInt();

    const std::string version = "&v6=" + fingerprint(NIMBARA_SERVER_VERSION);
    const std::string london = "/api/0.5/gate?&v1=51.5074&v2=-0.1278&v3=a&v4=en&v5=" + version;
    const std::string paris = "/api/0.5/gate?&v1=48.8566&v2=2.3522&v3=a&v4=en&v5=" + version;
    for (int i = 0; i < 5; ++i)
        QCOMPARE(rawGet(weatherd.port(), "/check/").status, 200);
    for (const auto &target : {london, london, london, paris})
        QCOMPARE(rawGet(weatherd.port(), target).status, 200);
    // Not on the public port: it is any unknown path there, and so is a path made up by a client.
    const auto publicMetrics = rawGet(weatherd.port(), "/metrics");
    QCOMPARE(publicMetrics.status, 404);
    QVERIFY(publicMetrics.body.find("nimbara_") == std::string::npos);
    QCOMPARE(rawGet(weatherd.port(), "/made/up/%0a\"path").status, 404);
    const std::string form = "&v1=Ann&v2=1.0&v3=ann@example.org&v4=Hello";
    QCOMPARE(rawPost(weatherd.port(), "/api/0.5/feedback?", form).status, 200);
    QCOMPARE(rawPost(weatherd.port(), "/api/0.5/feedback?", form).status, 429);

    QCOMPARE(rawGet(metricsPort, "/").status, 404); // the metrics address serves nothing else
    const auto scrape = rawGet(metricsPort, "/metrics");
    QCOMPARE(scrape.status, 200);
    QVERIFY2(scrape.head.find("Content-Type: text/plain; version=0.0.4") != std::string::npos,
             scrape.head.c_str());
    std::string error;
    const auto metrics = PrometheusText::parse(scrape.body, error);
    QVERIFY2(metrics, (error + "\n" + scrape.body).c_str());

    const std::vector<std::pair<std::string, double>> expected{
        {R"(nimbara_http_requests_total{route="/check/",status="200"})", 5},
        {R"(nimbara_http_requests_total{route="/api/0.5/gate",status="200"})", 4},
        {R"(nimbara_http_requests_total{route="/api/0.5/feedback",status="200"})", 1},
        {R"(nimbara_http_requests_total{route="/api/0.5/feedback",status="429"})", 1},
        {R"(nimbara_http_requests_total{route="other",status="404"})", 2},
        {R"(nimbara_http_request_duration_seconds_count{route="/check/"})", 5},
        {R"(nimbara_http_request_duration_seconds_bucket{le="+Inf",route="/api/0.5/gate"})", 4},
        {R"(nimbara_weather_cache_lookups_total{cache="process",result="miss"})", 2},
        {R"(nimbara_weather_cache_lookups_total{cache="process",result="hit"})", 2},
        {R"(nimbara_weather_cache_lookups_total{cache="process",result="stale"})", 0},
        {R"(nimbara_upstream_calls_total{provider="open-meteo"})", 2},
        {R"(nimbara_upstream_failures_total{provider="open-meteo"})", 0},
        {R"(nimbara_limit_refusals_total{limiter="feedback_per_client"})", 1},
        {R"(nimbara_limit_refusals_total{limiter="connections"})", 0},
    };
    for (const auto &[series, value] : expected)
        QVERIFY2(metrics->value(series) == value,
                 (series + " is " + std::to_string(metrics->value(series)) + "\n" + scrape.body).c_str());
    QCOMPARE(metrics->typeOf("nimbara_http_open_connections"), std::string("gauge"));
    QVERIFY(metrics->has("nimbara_http_open_connections"));
    QCOMPARE(upstream.calls.load(), 2);

    // Prometheus' own checker agrees, lint included.
    QProcess promtool;
    promtool.start(QStringLiteral("promtool"), {QStringLiteral("check"), QStringLiteral("metrics")});
    QVERIFY2(promtool.waitForStarted(), "promtool is missing: scripts/install-deps.sh installs it");
    promtool.write(scrape.body.data(), static_cast<qint64>(scrape.body.size()));
    promtool.closeWriteChannel();
    QVERIFY(promtool.waitForFinished(30000));
    QVERIFY2(promtool.exitCode() == 0, promtool.readAll().constData());
    QVERIFY(weatherd.stop());
}

QTEST_GUILESS_MAIN(TestServerMetrics)
#include "tst_server_metrics.moc"
