#include "weather/Providers.h"

#include "weather/Conditions.h"
#include "weather/Plausible.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace nimbara::server {

MetNorwayProvider::MetNorwayProvider(std::string baseUrl, std::string userAgent,
                                     std::chrono::milliseconds timeout, ZoneOffsets offsets)
    : HttpWeatherProvider(std::move(baseUrl), std::move(userAgent), timeout)
    , offsets(std::move(offsets))
{}

ZoneOffsets MetNorwayProvider::nauticalOffsets()
{
    return [](double, double longitude, Seconds) {
        return nauticalOffset(longitude);
    };
}

std::string MetNorwayProvider::requestUrl(double latitude, double longitude) const
{
    return baseUrl + "/weatherapi/locationforecast/2.0/compact?lat=" + coordinateDecimal(latitude, 4) +
           "&lon=" + coordinateDecimal(longitude, 4);
}

namespace {

std::string metSymbol(const nlohmann::json &data, std::initializer_list<const char *> periods)
{
    for (const char *period : periods) {
        auto next = data.find(period);
        if (next == data.end() || !next->is_object())
            continue;
        auto code = next->value("/summary/symbol_code"_json_pointer, nlohmann::json());
        if (code.is_string())
            return code.get<std::string>();
    }
    return {};
}

std::optional<double> metNumber(const nlohmann::json &data, const nlohmann::json::json_pointer &pointer)
{
    const auto value = data.value(pointer, nlohmann::json());
    if (!value.is_number() || !std::isfinite(value.get<double>()))
        return std::nullopt;
    return value.get<double>();
}

// Whether the sun is up in an hour: from the symbol's suffix where it has one, else computed.
class Daylight
{
public:
    Daylight(double latitude, double longitude)
        : latitude(latitude)
        , longitude(longitude)
    {}

    bool isDay(std::string_view symbol, Seconds start, int offset)
    {
        if (symbol.ends_with("_day"))
            return true;
        if (symbol.ends_with("_night") || symbol.ends_with("_polartwilight"))
            return false;
        const Seconds middle = start + std::chrono::minutes(30);
        const SunTimes &sun = on(localDay(middle, offset));
        if (sun.kind != SunTimes::Kind::risesAndSets)
            return sun.kind == SunTimes::Kind::alwaysUp;
        return middle >= sun.sunrise && middle < sun.sunset;
    }

    const SunTimes &on(long day)
    {
        if (auto known = days.find(day); known != days.end())
            return known->second;
        return days.emplace(day, sunTimes(latitude, longitude, day)).first->second;
    }

private:
    double latitude;
    double longitude;
    std::map<long, SunTimes> days;
};

// One local day of MET Norway's time series as it is read: the steps that start in it.
class MetDay
{
public:
    void addCelsius(double celsius)
    {
        high = std::max(high.value_or(celsius), celsius);
        low = std::min(low.value_or(celsius), celsius);
    }

    // A step's periods. The day's condition is the summary of the period whose middle is nearest
    // local noon; its precipitation the sum of the periods that follow each other without overlap
    // (hours first, six hours later), each counted on the day it starts.
    void addStep(const nlohmann::json &data, Seconds start, int offset, Seconds &precipitationUntil)
    {
        static const std::array<std::pair<const char *, int>, 3> periods{
            {{"next_1_hours", 1}, {"next_6_hours", 6}, {"next_12_hours", 12}}};
        const Seconds noon = Seconds(std::chrono::days(localDay(start, offset))) + std::chrono::hours(12) -
                             std::chrono::seconds(offset);
        for (const auto &[period, hours] : periods) {
            const auto found = data.find(period);
            if (found == data.end() || !found->is_object())
                continue;
            const auto symbol = found->value("/summary/symbol_code"_json_pointer, nlohmann::json());
            const auto named =
                symbol.is_string() ? conditionForMetSymbol(symbol.get<std::string>()) : std::nullopt;
            const auto distance = std::chrono::abs(start + std::chrono::minutes(30 * hours) - noon);
            if (named && (condition.empty() || distance < conditionDistance)) {
                condition = *named;
                conditionDistance = distance;
            }
            const auto chance =
                percentage(metNumber(*found, "/details/probability_of_precipitation"_json_pointer));
            if (chance)
                probability = std::max(probability.value_or(0), *chance);
            // The complete form gives each six hours' range: it counts where it lies within the day.
            if (localDay(start + std::chrono::hours(hours) - std::chrono::seconds(1), offset) ==
                localDay(start, offset)) {
                for (const auto &member : {"/details/air_temperature_max", "/details/air_temperature_min"}) {
                    if (const auto celsius =
                            plausible(metNumber(*found, nlohmann::json::json_pointer(member))))
                        addCelsius(*celsius);
                }
            }
            const auto amount =
                precipitationAmount(metNumber(*found, "/details/precipitation_amount"_json_pointer));
            if (amount && start >= precipitationUntil) {
                precipitation = precipitation.value_or(0) + *amount;
                precipitationUntil = start + std::chrono::hours(hours);
            }
        }
    }

    std::optional<double> high;
    std::optional<double> low;
    std::string condition;
    std::chrono::seconds conditionDistance{};
    std::optional<double> precipitation;
    std::optional<double> probability;
};

} // namespace

std::optional<Reading> MetNorwayProvider::parse(std::string_view body, double latitude, double longitude,
                                                const ZoneOffsets &offsets, std::string &error)
{
    auto json = parseObject(body, error);
    if (!json)
        return std::nullopt;
    // The first step of the time series is the current hour.
    const nlohmann::json *series = nullptr;
    if (auto properties = json->find("properties"); properties != json->end() && properties->is_object()) {
        if (auto found = properties->find("timeseries");
            found != properties->end() && found->is_array() && !found->empty())
            series = &*found;
    }
    const nlohmann::json *step = series ? &series->front() : nullptr;
    if (!step || !step->is_object()) {
        error = "no time series";
        return std::nullopt;
    }
    const auto data = step->find("data");
    if (data == step->end() || !data->is_object()) {
        error = "no data in the first step";
        return std::nullopt;
    }
    const auto temperature = metNumber(*data, "/instant/details/air_temperature"_json_pointer);
    if (!temperature) {
        error = "no air_temperature";
        return std::nullopt;
    }
    const std::string symbol = metSymbol(*data, {"next_1_hours", "next_6_hours", "next_12_hours"});
    Reading reading;
    reading.celsius = *temperature;
    if (!plausibleCelsius(reading.celsius)) {
        error = "implausible temperature";
        return std::nullopt;
    }
    auto condition = conditionForMetSymbol(symbol);
    if (!condition) {
        error = "unknown symbol code \"" + symbol + "\"";
        return std::nullopt;
    }
    reading.condition = *condition;
    reading.provider = "MET Norway";
    // Its wind comes in m/s; the feels-like is not given and is computed.
    const auto windMs = metNumber(*data, "/instant/details/wind_speed"_json_pointer);
    reading.now.windKmh = windSpeed(windMs ? std::optional(*windMs * 3.6) : std::nullopt);
    reading.now.windDirection =
        windDirection(metNumber(*data, "/instant/details/wind_from_direction"_json_pointer));
    reading.now.humidity = percentage(metNumber(*data, "/instant/details/relative_humidity"_json_pointer));
    if (reading.now.windKmh && reading.now.humidity)
        reading.now.feelsLike =
            feelsLikeCelsius(reading.celsius, *reading.now.windKmh, *reading.now.humidity);

    // The forecast, in the place's local time; without the first step's time the current weather
    // still stands.
    const auto timeOf = [](const nlohmann::json &entry) {
        const auto time = entry.is_object() ? entry.find("time") : entry.end();
        return time != entry.end() && time->is_string() && time->get<std::string>().ends_with('Z')
                   ? parseCivilTime(time->get<std::string>())
                   : std::nullopt;
    };
    const auto now = timeOf(*step);
    if (!now)
        return reading;
    const auto offsetAt = [&](Seconds at) {
        const int offset = offsets ? offsets(latitude, longitude, at) : 0;
        return std::abs(offset) <= maxOffsetSeconds ? offset : 0;
    };
    const int offsetNow = offsetAt(*now);
    reading.updated = localTimeText(*now, offsetNow);
    const long today = localDay(*now, offsetNow);
    Daylight daylight(latitude, longitude);
    if (const SunTimes &sun = daylight.on(today); sun.kind == SunTimes::Kind::risesAndSets) {
        reading.sunrise = localClockText(sun.sunrise, offsetAt(sun.sunrise));
        reading.sunset = localClockText(sun.sunset, offsetAt(sun.sunset));
    }

    std::optional<Seconds> previous;
    std::array<MetDay, forecastDays> days;
    Seconds precipitationUntil{};
    for (const auto &entry : *series) {
        const auto start = timeOf(entry);
        if (!start || (previous && *start <= *previous))
            continue;
        previous = start;
        const int offset = offsetAt(*start);
        const long day = localDay(*start, offset);
        if (day >= today + static_cast<long>(forecastDays))
            break;
        const auto stepData = entry.find("data");
        if (day < today || stepData == entry.end() || !stepData->is_object())
            continue;
        MetDay &metDay = days[static_cast<size_t>(day - today)];
        metDay.addStep(*stepData, *start, offset, precipitationUntil);
        const auto celsius = plausible(metNumber(*stepData, "/instant/details/air_temperature"_json_pointer));
        if (!celsius)
            continue;
        metDay.addCelsius(*celsius);
        if (day == today) {
            reading.todayHigh = std::max(reading.todayHigh.value_or(*celsius), *celsius);
            reading.todayLow = std::min(reading.todayLow.value_or(*celsius), *celsius);
        }
        // Hours only: further out the series steps by six hours.
        const std::string hourSymbol = metSymbol(*stepData, {"next_1_hours"});
        const auto hourCondition = conditionForMetSymbol(hourSymbol);
        if (reading.hourly.size() >= forecastHours || !hourCondition)
            continue;
        HourForecast hour;
        hour.start = *start;
        hour.offset = offset;
        hour.celsius = *celsius;
        hour.condition = *hourCondition;
        hour.precipitation =
            precipitationAmount(
                metNumber(*stepData, "/next_1_hours/details/precipitation_amount"_json_pointer))
                .value_or(0);
        hour.probability = percentage(
            metNumber(*stepData, "/next_1_hours/details/probability_of_precipitation"_json_pointer));
        hour.day = daylight.isDay(hourSymbol, *start, offset);
        reading.hourly.push_back(std::move(hour));
    }
    for (size_t i = 0; i < days.size(); ++i) {
        const MetDay &metDay = days[i];
        if (!metDay.high || !metDay.low || metDay.condition.empty())
            continue;
        DayForecast day;
        const long date = today + static_cast<long>(i);
        day.date = localTimeText(Seconds(std::chrono::days(date)), 0).substr(0, 10);
        day.high = *metDay.high;
        day.low = *metDay.low;
        day.condition = metDay.condition;
        day.precipitation = metDay.precipitation;
        day.probability = metDay.probability;
        if (const SunTimes &sun = daylight.on(date); sun.kind == SunTimes::Kind::risesAndSets) {
            day.sunrise = localClockText(sun.sunrise, offsetAt(sun.sunrise));
            day.sunset = localClockText(sun.sunset, offsetAt(sun.sunset));
        }
        reading.daily.push_back(std::move(day));
    }
    return reading;
}

} // namespace nimbara::server
