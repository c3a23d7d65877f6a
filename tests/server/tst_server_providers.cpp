#include "ServerTestSupport.h"
#include "core/ServiceLog.h"
#include "weather/Conditions.h"
#include "weather/ForecastJson.h"
#include "weather/LocalTime.h"
#include "weather/Providers.h"

#include <QTest>

#include <nlohmann/json.hpp>

using namespace nimbara::server;
using namespace nimbara::server::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(std::vector<double>)

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

int localHourAt(Seconds at, int offsetSeconds)
{
    const auto local = at + std::chrono::seconds(offsetSeconds);
    return static_cast<int>(
        std::chrono::floor<std::chrono::hours>(local - std::chrono::floor<std::chrono::days>(local)).count());
}

// A week of Open-Meteo with the current details: eight daily rows from the local date of localNow,
// the sun a minute later each day, the fourth day without a probability.
std::string openMeteoWeek(const std::string &localNow, int offsetSeconds, const std::string &sunrise)
{
    auto answer = nlohmann::json::parse(openMeteoForecast(localNow, offsetSeconds, true));
    answer["current"].update({{"apparent_temperature", 15.6},
                              {"relative_humidity_2m", 81},
                              {"wind_speed_10m", 14.8},
                              {"wind_direction_10m", 226}});
    answer["current_units"].update({{"apparent_temperature", "°C"}, {"wind_speed_10m", "km/h"}});
    nlohmann::json daily;
    const Seconds midnight = std::chrono::floor<std::chrono::days>(*parseCivilTime(localNow));
    for (int day = 0; day < 8; ++day) {
        const std::string date = civil(midnight + std::chrono::days(day)).substr(0, 10);
        daily["time"].push_back(date);
        daily["temperature_2m_max"].push_back(20 + day);
        daily["temperature_2m_min"].push_back(10 + day);
        daily["weather_code"].push_back(day % 2 ? 61 : 2);
        daily["precipitation_sum"].push_back(day % 2 ? 4.25 : 0.0);
        daily["precipitation_probability_max"].push_back(day == 3 ? nlohmann::json()
                                                                  : nlohmann::json(10 * day));
        daily["sunrise"].push_back(date + "T" + sunrise);
        daily["sunset"].push_back(date + "T19:5" + std::to_string(day));
    }
    answer["daily"] = daily;
    return answer.dump();
}

// A MET Norway week: hourly steps for the first two days, then six-hourly ones at 00, 06, 12 and 18
// UTC for a week more. Local hours (by offsets) decide the values: rain from 14:00 to 16:59 (0.5 mm an
// hour, 3 mm in a six-hour period that starts in it), temperatures as fixtureCelsius plus the day
// after today. Every hourly step also carries a six-hour period, which must not be counted twice.
std::string metNorwayWeek(const std::string &utcNow, const ZoneOffsets &offsets, bool probability)
{
    const Seconds now = *parseCivilTime(utcNow);
    const long today = localDay(now, offsets(0, 0, now));
    std::vector<Seconds> steps;
    for (int hour = 0; hour < 48; ++hour)
        steps.push_back(now + std::chrono::hours(hour));
    Seconds later = steps.back() + std::chrono::hours(1);
    while (localHourAt(later, 0) % 6 != 0)
        later += std::chrono::hours(1);
    for (; later < now + std::chrono::days(9); later += std::chrono::hours(6))
        steps.push_back(later);
    nlohmann::json series = nlohmann::json::array();
    for (const Seconds at : steps) {
        const bool hourly = at < now + std::chrono::hours(48);
        const int offset = offsets(0, 0, at);
        const int hour = localHourAt(at, offset);
        const bool sixHoursRain = hour <= 16 && hour + 6 > 14;
        const nlohmann::json sixHours{{"summary", {{"symbol_code", sixHoursRain ? "rain" : "cloudy"}}},
                                      {"details", {{"precipitation_amount", sixHoursRain ? 3.0 : 0.0}}}};
        nlohmann::json data{
            {"instant",
             {{"details",
               {{"air_temperature", fixtureCelsius(hour) + static_cast<double>(localDay(at, offset) - today)},
                {"wind_speed", 4.2},
                {"wind_from_direction", 315},
                {"relative_humidity", 60}}}}},
            {"next_6_hours", sixHours}};
        if (hourly) {
            nlohmann::json details{{"precipitation_amount", fixtureRains(hour) ? 0.5 : 0.0}};
            if (probability)
                details["probability_of_precipitation"] = fixtureRains(hour) ? 80 : 5;
            data["next_1_hours"] = {{"summary", {{"symbol_code", fixtureRains(hour) ? "rain" : "cloudy"}}},
                                    {"details", details}};
        }
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
    void feelsLike_matchesNwsTables_data();
    void feelsLike_matchesNwsTables();
    void week_openMeteoDailyRowsFromToday_data();
    void week_openMeteoDailyRowsFromToday();
    void week_metNorwayFromHoursThenSixHours_data();
    void week_metNorwayFromHoursThenSixHours();
    void week_travelsThroughCacheAndGateJson();
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

void TestServerProviders::feelsLike_matchesNwsTables_data()
{
    QTest::addColumn<double>("fahrenheit");
    QTest::addColumn<double>("mph");
    QTest::addColumn<double>("humidity");
    QTest::addColumn<int>("feelsLike");

    // The NWS wind chill chart (2001).
    QTest::newRow("chill 40F 5mph") << 40.0 << 5.0 << 50.0 << 36;
    QTest::newRow("chill 30F 10mph") << 30.0 << 10.0 << 50.0 << 21;
    QTest::newRow("chill 20F 30mph") << 20.0 << 30.0 << 50.0 << 1;
    QTest::newRow("chill 0F 15mph") << 0.0 << 15.0 << 50.0 << -19;
    QTest::newRow("chill -10F 20mph") << -10.0 << 20.0 << 50.0 << -35;
    // Still air has no chill; mild air is what it is.
    QTest::newRow("calm 30F") << 30.0 << 2.0 << 50.0 << 30;
    QTest::newRow("mild 65F") << 65.0 << 20.0 << 90.0 << 65;
    // The NWS heat index chart.
    QTest::newRow("heat 80F 40%") << 80.0 << 5.0 << 40.0 << 80;
    QTest::newRow("heat 90F 50%") << 90.0 << 5.0 << 50.0 << 95;
    QTest::newRow("heat 100F 40%") << 100.0 << 5.0 << 40.0 << 109;
    QTest::newRow("heat 96F 65%") << 96.0 << 5.0 << 65.0 << 121;
    QTest::newRow("heat 86F 90% (humid adjustment)") << 86.0 << 5.0 << 90.0 << 105;
    QTest::newRow("heat 104F 10% (dry adjustment)") << 104.0 << 5.0 << 10.0 << 98;
}

void TestServerProviders::feelsLike_matchesNwsTables()
{
    QFETCH(double, fahrenheit);
    QFETCH(double, mph);
    QFETCH(double, humidity);
    QFETCH(int, feelsLike);
    const double celsius = feelsLikeCelsius((fahrenheit - 32) * 5 / 9, mph * 1.609344, humidity);
    QCOMPARE(std::lround(celsius * 9 / 5 + 32), long(feelsLike));
}

void TestServerProviders::week_openMeteoDailyRowsFromToday_data()
{
    QTest::addColumn<std::string>("localNow");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("firstDate");
    QTest::addColumn<QByteArray>("lastDate");

    // Daylight saving begins on the 31st: the dates and times are the place's own either side.
    QTest::newRow("across daylight saving")
        << std::string("2024-03-29T12:00") << 3600 << QByteArray("2024-03-29") << QByteArray("2024-04-04");
    QTest::newRow("+05:45 just after midnight")
        << std::string("2024-05-01T00:10") << 20700 << QByteArray("2024-05-01") << QByteArray("2024-05-07");
}

void TestServerProviders::week_openMeteoDailyRowsFromToday()
{
    QFETCH(std::string, localNow);
    QFETCH(int, offset);
    QFETCH(QByteArray, firstDate);
    QFETCH(QByteArray, lastDate);

    std::string error;
    const auto reading = OpenMeteoProvider::parse(openMeteoWeek(localNow, offset, "06:45"), error);
    QVERIFY2(reading, error.c_str());
    QCOMPARE(reading->daily.size(), size_t(7));
    QCOMPARE(bytes(reading->daily.front().date), firstDate);
    QCOMPARE(bytes(reading->daily.back().date), lastDate);
    for (size_t i = 0; i < reading->daily.size(); ++i) {
        const DayForecast &day = reading->daily[i];
        QCOMPARE(day.high, 20.0 + static_cast<double>(i));
        QCOMPARE(day.low, 10.0 + static_cast<double>(i));
        QCOMPARE(bytes(day.condition), i % 2 ? QByteArray("rain") : QByteArray("partly-cloudy"));
        QCOMPARE(day.precipitation, std::optional(i % 2 ? 4.25 : 0.0));
        QCOMPARE(day.probability, i == 3 ? std::nullopt : std::optional(10.0 * static_cast<double>(i)));
        QCOMPARE(bytes(day.sunrise), QByteArray("06:45"));
        QCOMPARE(bytes(day.sunset), QByteArray("19:5") + QByteArray::number(static_cast<int>(i)));
    }
    QCOMPARE(reading->todayHigh, std::optional(20.0));
    QCOMPARE(reading->now.feelsLike, std::optional(15.6));
    QCOMPARE(reading->now.windKmh, std::optional(14.8));
    QCOMPARE(reading->now.windDirection, std::optional(226.0));
    QCOMPARE(reading->now.humidity, std::optional(81.0));

    // Another wind unit than asked for is left out rather than mislabelled; a day without its
    // condition cannot be shown; an impossible humidity is none.
    auto json = nlohmann::json::parse(openMeteoWeek(localNow, offset, "06:45"));
    json["current_units"]["wind_speed_10m"] = "mp/h";
    json["current"]["relative_humidity_2m"] = 140;
    json["daily"]["weather_code"][2] = nullptr;
    const auto other = OpenMeteoProvider::parse(json.dump(), error);
    QVERIFY2(other, error.c_str());
    QVERIFY(!other->now.windKmh);
    QVERIFY(!other->now.humidity);
    QCOMPARE(other->now.feelsLike, std::optional(15.6));
    QCOMPARE(other->daily.size(), size_t(7));
    QCOMPARE(bytes(other->daily[2].date), bytes(reading->daily[3].date));
}

void TestServerProviders::week_metNorwayFromHoursThenSixHours_data()
{
    QTest::addColumn<std::string>("utcNow");
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("longitude");
    QTest::addColumn<bool>("probability");
    QTest::addColumn<QByteArray>("firstDate");
    QTest::addColumn<std::vector<double>>("highs");
    QTest::addColumn<std::vector<double>>("lows");
    QTest::addColumn<std::vector<double>>("precipitation");
    QTest::addColumn<QByteArray>("conditions"); // r(ain) or c(loudy) a day

    // Six-hourly steps from 14:00 and 20:00 local on the 31st, then 02, 08, 14, 20 in summer time.
    QTest::newRow("Berlin across daylight saving")
        << std::string("2024-03-29T11:00:00Z") << QByteArray("Europe/Berlin") << 52.52 << 13.405 << true
        << QByteArray("2024-03-29") << std::vector<double>{20, 21, 22, 23, 24, 25, 26}
        << std::vector<double>{15.5, 14, 15, 17, 18, 19, 20} << std::vector<double>{1.5, 1.5, 3, 3, 3, 3, 3}
        << QByteArray("crrcccc");
    // Six-hourly steps at 05:45, 11:45, 17:45 and 23:45 local; the compact form has no probability.
    QTest::newRow("Kathmandu at +05:45")
        << std::string("2024-05-01T06:00:00Z") << QByteArray("Asia/Kathmandu") << 27.7172 << 85.324 << true
        << QByteArray("2024-05-01") << std::vector<double>{20, 21, 20.5, 21.5, 22.5, 23.5, 24.5}
        << std::vector<double>{15.5, 14, 15, 18.5, 19.5, 20.5, 21.5}
        << std::vector<double>{1.5, 1.5, 3, 3, 3, 3, 3} << QByteArray("cccrrrr");
    QTest::newRow("no probability at all")
        << std::string("2024-05-01T06:00:00Z") << QByteArray("Asia/Kathmandu") << 27.7172 << 85.324 << false
        << QByteArray("2024-05-01") << std::vector<double>{20, 21, 20.5, 21.5, 22.5, 23.5, 24.5}
        << std::vector<double>{15.5, 14, 15, 18.5, 19.5, 20.5, 21.5}
        << std::vector<double>{1.5, 1.5, 3, 3, 3, 3, 3} << QByteArray("cccrrrr");
}

void TestServerProviders::week_metNorwayFromHoursThenSixHours()
{
    QFETCH(std::string, utcNow);
    QFETCH(QByteArray, zone);
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    QFETCH(bool, probability);
    QFETCH(QByteArray, firstDate);
    QFETCH(std::vector<double>, highs);
    QFETCH(std::vector<double>, lows);
    QFETCH(std::vector<double>, precipitation);
    QFETCH(QByteArray, conditions);

    const ZoneOffsets offsets = [zone](double, double, Seconds at) {
        return zoneOffset(zone.toStdString(), at).value_or(0);
    };
    std::string error;
    const auto reading = MetNorwayProvider::parse(metNorwayWeek(utcNow, offsets, probability), latitude,
                                                  longitude, offsets, error);
    QVERIFY2(reading, error.c_str());
    QCOMPARE(reading->daily.size(), size_t(7));
    QCOMPARE(bytes(reading->daily.front().date), firstDate);
    for (size_t i = 0; i < reading->daily.size(); ++i) {
        const DayForecast &day = reading->daily[i];
        QCOMPARE(day.high, highs[i]);
        QCOMPARE(day.low, lows[i]);
        QCOMPARE(day.precipitation, std::optional(precipitation[i]));
        QCOMPARE(bytes(day.condition),
                 conditions[static_cast<qsizetype>(i)] == 'r' ? QByteArray("rain") : QByteArray("cloudy"));
        // Hours carry a probability; six-hour periods of the compact form do not.
        const std::optional<double> chance = !probability || i > 2 ? std::nullopt
                                             : i < 2               ? std::optional(80.0)
                                                                   : std::optional(5.0);
        QCOMPARE(day.probability, chance);
        QVERIFY(!day.sunrise.empty() && !day.sunset.empty());
        if (i > 0)
            QCOMPARE(localDay(*parseCivilTime(day.date + "T00:00"), 0),
                     localDay(*parseCivilTime(reading->daily[i - 1].date + "T00:00"), 0) + 1);
    }
    QCOMPARE(bytes(reading->daily.front().sunrise), bytes(reading->sunrise));
    QCOMPARE(reading->todayHigh, std::optional(highs.front()));
    QCOMPARE(reading->todayLow, std::optional(lows.front()));
    if (zone == "Europe/Berlin") {
        // The sun rises an hour later by the clock once summer time begins.
        const int shift = clockMinutes(reading->daily[2].sunrise) - clockMinutes(reading->daily[1].sunrise);
        QVERIFY2(shift >= 55 && shift <= 60, reading->daily[2].sunrise.c_str());
    }

    // Today's details from the first step: m/s become km/h, the feels-like is computed.
    QCOMPARE(reading->now.windKmh, std::optional(4.2 * 3.6));
    QCOMPARE(reading->now.windDirection, std::optional(315.0));
    QCOMPARE(reading->now.humidity, std::optional(60.0));
    QCOMPARE(reading->now.feelsLike, std::optional(feelsLikeCelsius(reading->celsius, 4.2 * 3.6, 60)));
}

void TestServerProviders::week_travelsThroughCacheAndGateJson()
{
    std::string error;
    auto reading = OpenMeteoProvider::parse(openMeteoWeek("2024-03-29T12:00", 3600, "06:45"), error);
    QVERIFY2(reading, error.c_str());
    reading->daily[1].precipitation.reset();
    reading->forecastJson = forecastJson(*reading);

    // Through the shared cache: the same gate text.
    const Reading back = nlohmann::json(*reading).get<Reading>();
    QCOMPARE(bytes(back.forecastJson), bytes(reading->forecastJson));
    QCOMPARE(back.daily.size(), size_t(7));

    const auto gate = nlohmann::json::parse("{\"x\":0" + reading->forecastJson + "}");
    const auto expectedNow = nlohmann::json::parse(R"({"feelsLike":{"celsius":16,"temp":60},)"
                                                   R"("wind":{"kmh":15,"mph":9,"ms":4,"direction":226},)"
                                                   R"("humidity":81})");
    QVERIFY2(gate["now"] == expectedNow, gate["now"].dump().c_str());
    QCOMPARE(gate["daily"].size(), size_t(7));
    const auto expectedDay = nlohmann::json::parse(
        R"({"date":"2024-03-29","high":{"celsius":20,"temp":68},"low":{"celsius":10,"temp":50},)"
        R"("condition":"partly-cloudy","precipitation":0,"probability":0,"sunrise":"06:45","sunset":"19:50"})");
    QVERIFY2(gate["daily"][0] == expectedDay, gate["daily"][0].dump().c_str());
    QVERIFY(!gate["daily"][1].contains("precipitation"));
    QVERIFY(!gate["daily"][3].contains("probability"));

    // An older cell without the new members still reads, without them.
    nlohmann::json old = *reading;
    old.erase("daily");
    old.erase("now");
    const Reading older = old.get<Reading>();
    QVERIFY(older.daily.empty());
    QVERIFY(older.forecastJson.find("\"now\"") == std::string::npos);
    QVERIFY(older.forecastJson.find("\"hourly\"") != std::string::npos);
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
             QByteArray(
                 "/v1/forecast?latitude=51.5&longitude=-0.1&current=temperature_2m,weather_code,"
                 "apparent_temperature,relative_humidity_2m,wind_speed_10m,wind_direction_10m"
                 "&hourly=temperature_2m,weather_code,precipitation,precipitation_probability,is_day"
                 "&daily=temperature_2m_max,temperature_2m_min,sunrise,sunset,weather_code,precipitation_sum,"
                 "precipitation_probability_max&timezone=auto&forecast_days=8"));
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
