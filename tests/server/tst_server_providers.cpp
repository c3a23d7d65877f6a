#include "Conditions.h"
#include "Providers.h"
#include "ServerTestSupport.h"
#include "ServiceLog.h"

#include <QTest>

using namespace nimbara::server;
using namespace nimbara::server::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::string)

namespace {

QByteArray bytes(std::string_view text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

QByteArray conditionText(std::optional<std::string_view> condition)
{
    return condition ? bytes(*condition) : QByteArray("-");
}

} // namespace

class TestServerProviders : public QObject
{
    Q_OBJECT

private slots:
    void wmoCodes_mapToConditionNames_data();
    void wmoCodes_mapToConditionNames();
    void metSymbols_mapToConditionNames_data();
    void metSymbols_mapToConditionNames();
    void openMeteo_asksCurrentValuesAndReadsThem();
    void openMeteo_refusesOtherUnits();
    void metNorway_fourDecimalsAndContactInUserAgent();
    void metNorway_symbolFromLongerPeriodWhenHourMissing();
    void httpGet_limitsSizeAndTime();
    void failover_secondAnswersWhenFirstFails();
};

void TestServerProviders::wmoCodes_mapToConditionNames_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("condition");
    const std::pair<std::vector<int>, const char *> groups[] = {
        {{0, 1}, "clear"},
        {{2}, "partly-cloudy"},
        {{3}, "cloudy"},
        {{45, 48}, "fog"},
        {{51, 53, 55}, "drizzle"},
        {{56, 57, 66, 67}, "freezing-rain"},
        {{61, 63, 65}, "rain"},
        {{80, 81, 82}, "showers"},
        {{71, 73, 75, 77, 85, 86}, "snow"},
        {{95, 96, 99}, "thunderstorm"},
        {{-1, 4, 50, 100}, "-"},
    };
    for (const auto &[codes, condition] : groups) {
        for (int code : codes)
            QTest::addRow("%d", code) << code << QByteArray(condition);
    }
}

void TestServerProviders::wmoCodes_mapToConditionNames()
{
    QFETCH(int, code);
    QFETCH(QByteArray, condition);
    QCOMPARE(conditionText(conditionForWmoCode(code)), condition);
}

void TestServerProviders::metSymbols_mapToConditionNames_data()
{
    QTest::addColumn<std::string>("symbol");
    QTest::addColumn<QByteArray>("condition");
    const std::pair<const char *, const char *> rows[] = {
        {"clearsky_day", "clear"},
        {"fair_night", "clear"},
        {"partlycloudy_polartwilight", "partly-cloudy"},
        {"cloudy", "cloudy"},
        {"fog", "fog"},
        {"lightrain", "rain"},
        {"heavyrain", "rain"},
        {"rainshowers_day", "showers"},
        {"heavyrainshowers_night", "showers"},
        {"sleet", "snow"},
        {"lightsleetshowers_day", "snow"},
        {"snow", "snow"},
        {"heavysnowshowers_polartwilight", "snow"},
        {"rainandthunder", "thunderstorm"},
        {"lightssleetshowersandthunder_day", "thunderstorm"},
        {"heavysnowandthunder", "thunderstorm"},
        {"sunny", "-"},
        {"", "-"},
    };
    for (const auto &[symbol, condition] : rows)
        QTest::newRow(*symbol ? symbol : "empty") << std::string(symbol) << QByteArray(condition);
}

void TestServerProviders::metSymbols_mapToConditionNames()
{
    QFETCH(std::string, symbol);
    QFETCH(QByteArray, condition);
    QCOMPARE(conditionText(conditionForMetSymbol(symbol)), condition);
}

void TestServerProviders::openMeteo_asksCurrentValuesAndReadsThem()
{
    FakeUpstream upstream;
    upstream.answer(200, openMeteoAnswer(-3.25, 73));
    OpenMeteoProvider provider(upstream.url(), "nimbara-weatherd/9 ops@example.org", 2s);
    std::string error;
    auto reading = provider.currentWeather(51.5, -0.1, error);
    QVERIFY2(reading, error.c_str());
    QCOMPARE(reading->celsius, -3.25);
    QCOMPARE(bytes(reading->condition), QByteArray("snow"));
    QCOMPARE(bytes(upstream.target()),
             QByteArray("/v1/forecast?latitude=51.5&longitude=-0.1&current=temperature_2m,weather_code"));
    QCOMPARE(bytes(upstream.userAgent()), QByteArray("nimbara-weatherd/9 ops@example.org"));
}

void TestServerProviders::openMeteo_refusesOtherUnits()
{
    std::string body = openMeteoAnswer(50, 0);
    body.replace(body.find("°C"), 3, "°F");
    std::string error;
    QVERIFY(!OpenMeteoProvider::parse(body, error));
    QCOMPARE(bytes(error), QByteArray("temperature not in Celsius"));
    QVERIFY(!OpenMeteoProvider::parse(R"({"current":{"temperature_2m":"12","weather_code":3}})", error));
    QVERIFY(!OpenMeteoProvider::parse(R"({"current":{"temperature_2m":12,"weather_code":3.5}})", error));
    QVERIFY(!OpenMeteoProvider::parse(R"([{"current":{}}])", error));
    QVERIFY(OpenMeteoProvider::parse(R"({"current":{"temperature_2m":12,"weather_code":3}})", error));
}

void TestServerProviders::metNorway_fourDecimalsAndContactInUserAgent()
{
    FakeUpstream upstream;
    upstream.answer(200, metNorwayAnswer(21.5, "fair_day"));
    MetNorwayProvider provider(upstream.url(), "nimbara-weatherd/9 ops@example.org", 2s);
    QCOMPARE(bytes(provider.requestUrl(59.912345678, -10.00004)),
             bytes(upstream.url() + "/weatherapi/locationforecast/2.0/compact?lat=59.9123&lon=-10"));
    std::string error;
    auto reading = provider.currentWeather(59.9, 10.8, error);
    QVERIFY2(reading, error.c_str());
    QCOMPARE(reading->celsius, 21.5);
    QCOMPARE(bytes(reading->condition), QByteArray("clear"));
    QCOMPARE(bytes(upstream.userAgent()), QByteArray("nimbara-weatherd/9 ops@example.org"));
}

void TestServerProviders::metNorway_symbolFromLongerPeriodWhenHourMissing()
{
    std::string body = metNorwayAnswer(4, "cloudy");
    body.replace(body.find("next_1_hours"), 12, "next_6_hours");
    std::string error;
    auto reading = MetNorwayProvider::parse(body, error);
    QVERIFY2(reading, error.c_str());
    QCOMPARE(bytes(reading->condition), QByteArray("cloudy"));
    QVERIFY(!MetNorwayProvider::parse(R"({"properties":{"timeseries":[]}})", error));
    QVERIFY(!MetNorwayProvider::parse(R"({"properties":{"timeseries":[{"data":{"instant":7}}]}})", error));
}

void TestServerProviders::httpGet_limitsSizeAndTime()
{
    FakeUpstream upstream;
    upstream.answer(200, std::string(2 * 1024 * 1024, ' '));
    auto large = httpGet(upstream.url() + "/", "test", 2s);
    QCOMPARE(bytes(large.error), QByteArray("answer larger than 1 MiB"));

    upstream.hold();
    auto started = std::chrono::steady_clock::now();
    auto silent = httpGet(upstream.url() + "/", "test", 300ms);
    QVERIFY(!silent.error.empty());
    QVERIFY(std::chrono::steady_clock::now() - started < 2s);
    upstream.release();

    auto refused = httpGet("file:///etc/passwd", "test", 1s);
    QVERIFY(!refused.error.empty());
    QVERIFY(refused.body.empty());
}

void TestServerProviders::failover_secondAnswersWhenFirstFails()
{
    FakeUpstream first;
    FakeUpstream second;
    first.answer(429, R"({"error":true,"reason":"Daily API request limit exceeded"})");
    second.answer(200, metNorwayAnswer(7, "lightrainshowers_day"));
    std::vector<std::unique_ptr<WeatherProvider>> providers;
    providers.push_back(std::make_unique<OpenMeteoProvider>(first.url(), "test", 1s));
    providers.push_back(std::make_unique<MetNorwayProvider>(second.url(), "test", 1s));
    FailoverProvider failover(std::move(providers));

    LogCapture log;
    std::string error;
    auto reading = failover.currentWeather(1, 2, error);
    QVERIFY(reading);
    QCOMPARE(bytes(reading->condition), QByteArray("showers"));
    QVERIFY(log.contains("upstream open-meteo failed for 1,2: HTTP 429: Daily API request limit exceeded"));

    first.answer(200, openMeteoAnswer(1, 0));
    QVERIFY(failover.currentWeather(1, 2, error));
    QCOMPARE(second.calls.load(), 1);

    // An upstream's own text cannot add a line to the log.
    first.answer(429, R"({"error":true,"reason":"slow\n6.6.6.6 GET /api/0.5/gate 200 2 0.1ms machine=0"})");
    QVERIFY(failover.currentWeather(1, 2, error));
    QVERIFY(log.contains("HTTP 429: slow\\x0A6.6.6.6 GET"));
    for (const auto &line : log.lines())
        QVERIFY2(line.find('\n') == std::string::npos, line.c_str());

    first.answer(500, "oops");
    second.answer(200, "<html></html>", "text/html");
    QVERIFY(!failover.currentWeather(1, 2, error));
    QCOMPARE(bytes(error), QByteArray("open-meteo: HTTP 500; met-norway: answer is not a JSON object"));
}

QTEST_APPLESS_MAIN(TestServerProviders)
#include "tst_server_providers.moc"
