#include "Conditions.h"
#include "ForecastJson.h"
#include "LocalTime.h"
#include "Providers.h"
#include "ServerTestSupport.h"
#include "ServiceLog.h"

#include <QTest>

#include <nlohmann/json.hpp>

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

// Minutes since midnight of "HH:MM".
int clockMinutes(const std::string &text)
{
    return text.size() == 5 ? std::stoi(text.substr(0, 2)) * 60 + std::stoi(text.substr(3, 2)) : -1;
}

// An hour's temperature in the fixtures: falls towards the night, so that today's range is known.
double fixtureCelsius(int hour)
{
    return 20 - std::abs(hour % 24 - 14) * 0.5;
}

// Rain in the fixtures from 14:00 to 16:59 local time, dry otherwise.
bool fixtureRains(int hour)
{
    return hour % 24 >= 14 && hour % 24 <= 16;
}

std::string civil(Seconds at)
{
    return localTimeText(at, 0).substr(0, 16);
}

// An Open-Meteo answer with timezone=auto: local times, two days of hours from local midnight.
std::string openMeteoForecast(const std::string &localNow, int offsetSeconds, bool probability)
{
    const Seconds now = *parseCivilTime(localNow);
    const Seconds midnight = std::chrono::floor<std::chrono::days>(now);
    nlohmann::json hourly{{"time", nlohmann::json::array()},
                          {"temperature_2m", nlohmann::json::array()},
                          {"weather_code", nlohmann::json::array()},
                          {"precipitation", nlohmann::json::array()},
                          {"precipitation_probability", nlohmann::json::array()},
                          {"is_day", nlohmann::json::array()}};
    for (int hour = 0; hour < 48; ++hour) {
        hourly["time"].push_back(civil(midnight + std::chrono::hours(hour)));
        hourly["temperature_2m"].push_back(fixtureCelsius(hour));
        hourly["weather_code"].push_back(fixtureRains(hour) ? 61 : 2);
        hourly["precipitation"].push_back(fixtureRains(hour) ? 1.25 : 0.0);
        hourly["precipitation_probability"].push_back(
            probability ? nlohmann::json(fixtureRains(hour) ? 80 : 5) : nlohmann::json());
        hourly["is_day"].push_back(hour % 24 >= 6 && hour % 24 < 21 ? 1 : 0);
    }
    nlohmann::json daily{{"time", nlohmann::json::array()},
                         {"temperature_2m_max", {20.4, 19}},
                         {"temperature_2m_min", {12.6, 11}},
                         {"sunrise", nlohmann::json::array()},
                         {"sunset", nlohmann::json::array()}};
    for (int day = 0; day < 2; ++day) {
        const std::string date = civil(midnight + std::chrono::days(day)).substr(0, 10);
        daily["time"].push_back(date);
        daily["sunrise"].push_back(date + "T05:3" + std::to_string(day));
        daily["sunset"].push_back(date + "T20:2" + std::to_string(day));
    }
    nlohmann::json answer{{"latitude", 51.5},
                          {"longitude", -0.1},
                          {"utc_offset_seconds", offsetSeconds},
                          {"current_units", {{"temperature_2m", "°C"}}},
                          {"current", {{"time", localNow}, {"temperature_2m", 17.2}, {"weather_code", 61}}},
                          {"hourly", hourly},
                          {"daily", daily}};
    return answer.dump();
}

// A MET Norway compact answer: UTC times, hourly steps for 60 hours, then six-hourly ones.
std::string metNorwayForecast(const std::string &utcNow, int offsetSeconds, bool probability)
{
    const Seconds now = *parseCivilTime(utcNow);
    nlohmann::json series = nlohmann::json::array();
    for (int step = 0; step < 72; step += step < 60 ? 1 : 6) {
        const Seconds at = now + std::chrono::hours(step);
        const int localHour = static_cast<int>(
            std::chrono::floor<std::chrono::hours>(
                at + std::chrono::seconds(offsetSeconds) -
                std::chrono::floor<std::chrono::days>(at + std::chrono::seconds(offsetSeconds)))
                .count());
        nlohmann::json details{{"precipitation_amount", fixtureRains(localHour) ? 1.25 : 0.0}};
        if (probability)
            details["probability_of_precipitation"] = fixtureRains(localHour) ? 80 : 5;
        nlohmann::json data{{"instant", {{"details", {{"air_temperature", fixtureCelsius(localHour)}}}}}};
        const nlohmann::json period{
            {"summary", {{"symbol_code", fixtureRains(localHour) ? "rain" : "cloudy"}}},
            {"details", details}};
        data[step < 60 ? "next_1_hours" : "next_6_hours"] = period;
        series.push_back({{"time", civil(at) + ":00Z"}, {"data", data}});
    }
    return nlohmann::json{{"properties", {{"timeseries", series}}}}.dump();
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
    void forecast_mapsBothProvidersToOneShape_data();
    void forecast_mapsBothProvidersToOneShape();
    void forecast_withoutBlocksKeepsCurrentWeather();
    void sunTimes_matchPublishedTables_data();
    void sunTimes_matchPublishedTables();
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

void TestServerProviders::forecast_mapsBothProvidersToOneShape_data()
{
    QTest::addColumn<QByteArray>("provider");
    QTest::addColumn<std::string>("body");
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("longitude");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("updated");
    QTest::addColumn<QByteArray>("firstHour");
    QTest::addColumn<QByteArray>("lastHour");
    QTest::addColumn<QByteArray>("sunrise");
    QTest::addColumn<QByteArray>("sunset");
    QTest::addColumn<double>("high");
    QTest::addColumn<double>("low");
    QTest::addColumn<bool>("probability");

    // Open-Meteo gives local times, today's range and the sun itself.
    QTest::newRow("open-meteo normal day")
        << QByteArray("open-meteo") << openMeteoForecast("2024-05-01T12:15", 3600, true) << 51.5 << -0.1 << 0
        << QByteArray("2024-05-01T12:15+01:00") << QByteArray("2024-05-01T12:00+01:00")
        << QByteArray("2024-05-02T11:00+01:00") << QByteArray("05:30") << QByteArray("20:20") << 20.4 << 12.6
        << true;
    QTest::newRow("open-meteo day crossing midnight")
        << QByteArray("open-meteo") << openMeteoForecast("2024-05-01T22:45", 7200, true) << 52.5 << 13.4 << 0
        << QByteArray("2024-05-01T22:45+02:00") << QByteArray("2024-05-01T22:00+02:00")
        << QByteArray("2024-05-02T21:00+02:00") << QByteArray("05:30") << QByteArray("20:20") << 20.4 << 12.6
        << true;
    QTest::newRow("open-meteo half-hour offset")
        << QByteArray("open-meteo") << openMeteoForecast("2024-05-01T17:40", 19800, true) << 28.6 << 77.2 << 0
        << QByteArray("2024-05-01T17:40+05:30") << QByteArray("2024-05-01T17:00+05:30")
        << QByteArray("2024-05-02T16:00+05:30") << QByteArray("05:30") << QByteArray("20:20") << 20.4 << 12.6
        << true;
    QTest::newRow("open-meteo missing probability")
        << QByteArray("open-meteo") << openMeteoForecast("2024-05-01T12:15", 3600, false) << 51.5 << -0.1 << 0
        << QByteArray("2024-05-01T12:15+01:00") << QByteArray("2024-05-01T12:00+01:00")
        << QByteArray("2024-05-02T11:00+01:00") << QByteArray("05:30") << QByteArray("20:20") << 20.4 << 12.6
        << false;
    // MET Norway gives UTC: the offset comes from the place, the sun is computed, today's range is
    // that of the hours left today. Sun times by NOAA's solar calculator for these places and days.
    QTest::newRow("met-norway normal day")
        << QByteArray("met-norway") << metNorwayForecast("2024-05-01T11:00:00Z", 3600, true) << 51.5 << -0.1
        << 3600 << QByteArray("2024-05-01T12:00+01:00") << QByteArray("2024-05-01T12:00+01:00")
        << QByteArray("2024-05-02T11:00+01:00") << QByteArray("05:31") << QByteArray("20:24") << 20.0 << 15.5
        << true;
    QTest::newRow("met-norway day crossing midnight")
        << QByteArray("met-norway") << metNorwayForecast("2024-05-01T20:00:00Z", 32400, true) << 35.68
        << 139.77 << 32400 << QByteArray("2024-05-02T05:00+09:00") << QByteArray("2024-05-02T05:00+09:00")
        << QByteArray("2024-05-03T04:00+09:00") << QByteArray("04:48") << QByteArray("18:28") << 20.0 << 15.5
        << true;
    QTest::newRow("met-norway half-hour offset")
        << QByteArray("met-norway") << metNorwayForecast("2024-05-01T12:00:00Z", 19800, true) << 28.61
        << 77.21 << 19800 << QByteArray("2024-05-01T17:30+05:30") << QByteArray("2024-05-01T17:30+05:30")
        << QByteArray("2024-05-02T16:30+05:30") << QByteArray("05:40") << QByteArray("18:56") << 18.5 << 15.5
        << true;
    QTest::newRow("met-norway missing probability")
        << QByteArray("met-norway") << metNorwayForecast("2024-05-01T11:00:00Z", 3600, false) << 51.5 << -0.1
        << 3600 << QByteArray("2024-05-01T12:00+01:00") << QByteArray("2024-05-01T12:00+01:00")
        << QByteArray("2024-05-02T11:00+01:00") << QByteArray("05:31") << QByteArray("20:24") << 20.0 << 15.5
        << false;
}

void TestServerProviders::forecast_mapsBothProvidersToOneShape()
{
    QFETCH(QByteArray, provider);
    QFETCH(std::string, body);
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    QFETCH(int, offset);
    QFETCH(QByteArray, updated);
    QFETCH(QByteArray, firstHour);
    QFETCH(QByteArray, lastHour);
    QFETCH(QByteArray, sunrise);
    QFETCH(QByteArray, sunset);
    QFETCH(double, high);
    QFETCH(double, low);
    QFETCH(bool, probability);

    std::string error;
    const auto fixedOffset = [offset](double, double, Seconds) {
        return offset;
    };
    const auto reading = provider == "open-meteo"
                             ? OpenMeteoProvider::parse(body, error)
                             : MetNorwayProvider::parse(body, latitude, longitude, fixedOffset, error);
    QVERIFY2(reading, error.c_str());
    QCOMPARE(bytes(reading->provider),
             provider == "open-meteo" ? QByteArray("Open-Meteo") : QByteArray("MET Norway"));
    QCOMPARE(bytes(reading->updated), updated);
    QCOMPARE(reading->todayHigh, std::optional(high));
    QCOMPARE(reading->todayLow, std::optional(low));
    // The sunrise equation and NOAA's fuller calculation differ by a minute or two.
    QVERIFY2(std::abs(clockMinutes(reading->sunrise) - clockMinutes(sunrise.toStdString())) <= 2,
             reading->sunrise.c_str());
    QVERIFY2(std::abs(clockMinutes(reading->sunset) - clockMinutes(sunset.toStdString())) <= 2,
             reading->sunset.c_str());

    QCOMPARE(reading->hourly.size(), size_t(24));
    QCOMPARE(bytes(reading->hourly.front().time()), firstHour);
    QCOMPARE(bytes(reading->hourly.back().time()), lastHour);
    const auto localHour = [](const HourForecast &hour) {
        return std::stoi(hour.time().substr(11, 2));
    };
    for (const HourForecast &hour : reading->hourly) {
        const int at = localHour(hour);
        QCOMPARE(hour.celsius, fixtureCelsius(at));
        QCOMPARE(bytes(hour.condition), fixtureRains(at)           ? QByteArray("rain")
                                        : provider == "open-meteo" ? QByteArray("partly-cloudy")
                                                                   : QByteArray("cloudy"));
        QCOMPARE(hour.precipitation, fixtureRains(at) ? 1.25 : 0.0);
        QCOMPARE(hour.probability,
                 probability ? std::optional<double>(fixtureRains(at) ? 80 : 5) : std::nullopt);
        if (at == 2 || at == 14)
            QVERIFY2(hour.day == (at == 14), hour.time().c_str());
    }
}

void TestServerProviders::forecast_withoutBlocksKeepsCurrentWeather()
{
    // An answer of the current weather only (or with broken forecast parts) is still the weather.
    std::string error;
    auto reading = OpenMeteoProvider::parse(openMeteoAnswer(12, 3), error);
    QVERIFY2(reading, error.c_str());
    QCOMPARE(bytes(reading->provider), QByteArray("Open-Meteo"));
    QCOMPARE(bytes(reading->updated), QByteArray("2024-05-01T12:00+00:00"));
    QVERIFY(reading->hourly.empty());
    QVERIFY(!reading->todayHigh);
    QVERIFY(reading->sunrise.empty());

    reading = OpenMeteoProvider::parse(
        R"({"utc_offset_seconds":99999999,"current":{"time":"2024-05-01T12:00","temperature_2m":1,"weather_code":0},)"
        R"("hourly":{"time":["2024-05-01T12:00"],"temperature_2m":[1],"weather_code":[0]}})",
        error);
    QVERIFY2(reading, error.c_str());
    QVERIFY(reading->updated.empty());
    QVERIFY(reading->hourly.empty());

    // Hours without a temperature or a known condition are left out; nonsense amounts read as none.
    reading = OpenMeteoProvider::parse(
        R"({"current":{"time":"2024-05-01T12:00","temperature_2m":1,"weather_code":0},)"
        R"("hourly":{"time":["2024-05-01T12:00","2024-05-01T13:00","2024-05-01T14:00","2024-05-01T15:00"],)"
        R"("temperature_2m":[1,null,3,4],"weather_code":[0,0,42,3],"precipitation":[-1,0,0,"x"],)"
        R"("precipitation_probability":[101,0,0,50]}})",
        error);
    QVERIFY2(reading, error.c_str());
    QCOMPARE(reading->hourly.size(), size_t(2));
    QCOMPARE(bytes(reading->hourly[1].time()), QByteArray("2024-05-01T15:00+00:00"));
    QCOMPARE(reading->hourly[0].precipitation, 0.0);
    QCOMPARE(reading->hourly[0].probability, std::nullopt);
    QCOMPARE(reading->hourly[1].probability, std::optional(50.0));

    reading = MetNorwayProvider::parse(metNorwayAnswer(4, "cloudy"), 51.5, -0.1,
                                       MetNorwayProvider::nauticalOffsets(), error);
    QVERIFY2(reading, error.c_str());
    QCOMPARE(bytes(reading->updated), QByteArray("2024-05-01T12:00+00:00"));
    QCOMPARE(reading->hourly.size(), size_t(1));
}

void TestServerProviders::sunTimes_matchPublishedTables_data()
{
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("longitude");
    QTest::addColumn<QByteArray>("date");
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QByteArray>("sunrise");
    QTest::addColumn<QByteArray>("sunset");
    QTest::newRow("London midsummer")
        << 51.5074 << -0.1278 << QByteArray("2024-06-21") << QByteArray("Europe/London")
        << QByteArray("04:43") << QByteArray("21:22");
    QTest::newRow("Sydney winter") << -33.8688 << 151.2093 << QByteArray("2024-06-21")
                                   << QByteArray("Australia/Sydney") << QByteArray("07:00")
                                   << QByteArray("16:54");
    QTest::newRow("Kathmandu") << 27.7172 << 85.3240 << QByteArray("2024-01-15")
                               << QByteArray("Asia/Kathmandu") << QByteArray("06:56") << QByteArray("17:30");
    QTest::newRow("Tromsø polar day") << 69.6492 << 18.9553 << QByteArray("2024-06-21")
                                      << QByteArray("Europe/Oslo") << QByteArray("-") << QByteArray("-");
    QTest::newRow("Tromsø polar night") << 69.6492 << 18.9553 << QByteArray("2024-12-21")
                                        << QByteArray("Europe/Oslo") << QByteArray("-") << QByteArray("-");
}

void TestServerProviders::sunTimes_matchPublishedTables()
{
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    QFETCH(QByteArray, date);
    QFETCH(QByteArray, zone);
    QFETCH(QByteArray, sunrise);
    QFETCH(QByteArray, sunset);
    const Seconds noon = *parseCivilTime(date.toStdString() + "T12:00");
    const auto offset = zoneOffset(zone.toStdString(), noon);
    QVERIFY(offset);
    const SunTimes sun = sunTimes(latitude, longitude, localDay(noon, *offset));
    if (sunrise == "-") {
        QCOMPARE(sun.kind, date.endsWith("06-21") ? SunTimes::Kind::alwaysUp : SunTimes::Kind::alwaysDown);
        return;
    }
    QCOMPARE(sun.kind, SunTimes::Kind::risesAndSets);
    const auto rise = localClockText(sun.sunrise, *offset);
    const auto set = localClockText(sun.sunset, *offset);
    QVERIFY2(std::abs(clockMinutes(rise) - clockMinutes(sunrise.toStdString())) <= 2, rise.c_str());
    QVERIFY2(std::abs(clockMinutes(set) - clockMinutes(sunset.toStdString())) <= 2, set.c_str());
    QVERIFY(!zoneOffset("Not/AZone", noon));
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
    QCOMPARE(
        bytes(upstream.target()),
        QByteArray(
            "/v1/forecast?latitude=51.5&longitude=-0.1&current=temperature_2m,weather_code"
            "&hourly=temperature_2m,weather_code,precipitation,precipitation_probability,is_day"
            "&daily=temperature_2m_max,temperature_2m_min,sunrise,sunset&timezone=auto&forecast_days=2"));
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
    const auto offsets = MetNorwayProvider::nauticalOffsets();
    auto reading = MetNorwayProvider::parse(body, 1, 2, offsets, error);
    QVERIFY2(reading, error.c_str());
    QCOMPARE(bytes(reading->condition), QByteArray("cloudy"));
    QVERIFY(!MetNorwayProvider::parse(R"({"properties":{"timeseries":[]}})", 1, 2, offsets, error));
    QVERIFY(!MetNorwayProvider::parse(R"({"properties":{"timeseries":[{"data":{"instant":7}}]}})", 1, 2,
                                      offsets, error));
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
    // The gate's forecast text is made once, here, for the cache to keep.
    QCOMPARE(bytes(reading->forecastJson), bytes(forecastJson(*reading)));
    QVERIFY(
        reading->forecastJson.starts_with(R"(,"updated":"2024-05-01T12:00+00:00","provider":"MET Norway")"));
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
