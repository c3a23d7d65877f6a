// The gate's weather data as the widget reads it, from a reading in the cache: the three lines'
// members and the forecast members beside them.

#include "core/Fingerprint.h"
#include "store/ServiceStore.h"
#include "weather/ForecastJson.h"
#include "weather/Gate.h"

#include <nlohmann/json.hpp>

#include <QTemporaryDir>
#include <QTest>

using namespace nimbara::server;

namespace {

const std::string query = "&v1=51.5074&v2=-0.1278&v3=auto&v4=en-GB&v5=&v6=" + fingerprint("1.0.0");

Reading forecastReading()
{
    Reading reading{17.5, "rain"};
    reading.provider = "MET Norway";
    reading.updated = "2024-05-01T17:30+05:30";
    reading.todayHigh = 21.5;
    reading.todayLow = -0.5;
    reading.sunrise = "05:40";
    reading.sunset = "18:56";
    const Seconds first = *parseCivilTime("2024-05-01T12:00");
    reading.hourly.push_back({first, 19800, 17.5, "rain", 1.26, 80.4, true});
    reading.hourly.push_back({first + std::chrono::hours(1), 19800, -2.5, "cloudy", 0, std::nullopt, false});
    return reading;
}

// Comparable text of a JSON value, its keys sorted.
QByteArray text(const nlohmann::ordered_json &value)
{
    return QByteArray::fromStdString(nlohmann::json::parse(value.dump()).dump());
}

struct GateFixture
{
    explicit GateFixture(Reading reading)
        : cache([reading](double, double) { return std::optional(reading); })
        , store(dir.filePath(QStringLiteral("gate.sqlite")).toStdString())
        , service(cache, store, versions, nullptr, nullptr)
    {}

    // In the order sent.
    nlohmann::ordered_json data()
    {
        auto reply = service.answer(query);
        auto body = nlohmann::ordered_json::parse(reply.body, nullptr, false);
        return reply.status == 200 && body.is_object() ? body["data"] : nlohmann::ordered_json();
    }

    QTemporaryDir dir;
    WeatherCache cache;
    ServiceStore store;
    VersionGate versions{{"1.0.0"}, "1.0.0"};
    nimbara::server::Gate service;
};

} // namespace

class TestServerGate : public QObject
{
    Q_OBJECT

private slots:
    void forecastMembers_inBothUnitsBesideTheLines();
    void readingWithoutForecast_answersTheLinesOnly();
    void reading_travelsThroughItsJsonForm();
};

void TestServerGate::forecastMembers_inBothUnitsBesideTheLines()
{
    GateFixture gate(forecastReading());
    const auto data = gate.data();
    QVERIFY(data.is_object());
    // The members of the three lines come first, as before.
    std::vector<std::string> keys;
    for (const auto &item : data.items())
        keys.push_back(item.key());
    const std::vector<std::string> expectedKeys{"temp",     "celsius", "condition", "location", "updated",
                                                "provider", "today",   "sunrise",   "sunset",   "hourly"};
    QVERIFY(keys == expectedKeys);
    QCOMPARE(text(data["celsius"]), QByteArray("18"));
    QCOMPARE(text(data["temp"]), QByteArray("64"));
    QCOMPARE(text(data["updated"]), QByteArray(R"("2024-05-01T17:30+05:30")"));
    QCOMPARE(text(data["provider"]), QByteArray(R"("MET Norway")"));
    QCOMPARE(text(data["today"]),
             QByteArray(R"({"high":{"celsius":22,"temp":71},"low":{"celsius":-1,"temp":31}})"));
    QCOMPARE(text(data["sunrise"]), QByteArray(R"("05:40")"));
    QCOMPARE(text(data["sunset"]), QByteArray(R"("18:56")"));
    const auto expectedHours = nlohmann::ordered_json::parse(R"([
        {"time":"2024-05-01T17:30+05:30","celsius":18,"temp":64,"condition":"rain","precipitation":1.3,
         "probability":80,"day":true},
        {"time":"2024-05-01T18:30+05:30","celsius":-3,"temp":28,"condition":"cloudy","precipitation":0,
         "day":false}])");
    QCOMPARE(text(data["hourly"]), text(expectedHours));
}

void TestServerGate::readingWithoutForecast_answersTheLinesOnly()
{
    GateFixture gate(Reading{-3.5, "snow"});
    const auto data = gate.data();
    QCOMPARE(text(data), text(nlohmann::ordered_json::parse(
                             R"({"temp":26,"celsius":-4,"condition":"snow","location":"51.51°N 0.13°W"})")));
}

void TestServerGate::reading_travelsThroughItsJsonForm()
{
    // As instances share cells: what comes back answers the same gate data.
    Reading original = forecastReading();
    original.forecastJson = forecastJson(original);
    const nlohmann::json stored = original;
    QVERIFY(!stored.contains("forecastJson"));
    const auto back = nlohmann::json::parse(stored.dump()).get<Reading>();
    QCOMPARE(QByteArray::fromStdString(back.forecastJson), QByteArray::fromStdString(original.forecastJson));
    QCOMPARE(back.hourly.size(), size_t(2));
    QCOMPARE(back.hourly[1].probability, std::nullopt);
    QCOMPARE(back.todayLow, std::optional(-0.5));

    // A cell of an older instance, with the lines' members only; one of the wrong type is refused.
    const auto older = nlohmann::json::parse(R"({"celsius":3.5,"condition":"fog"})").get<Reading>();
    QCOMPARE(older.celsius, 3.5);
    QVERIFY(older.hourly.empty() && older.forecastJson.empty());
    QVERIFY_THROWS_EXCEPTION(nlohmann::json::exception,
                             nlohmann::json::parse(R"({"hourly":[{"start":"noon"}]})").get<Reading>());
}

QTEST_APPLESS_MAIN(TestServerGate)
#include "tst_server_gate.moc"
