#include "weather/Providers.h"

#include "weather/Conditions.h"
#include "weather/Plausible.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace nimbara::server {

std::string OpenMeteoProvider::requestUrl(double latitude, double longitude) const
{
    // Eight days, so that the next 24 hours start at any hour of today and the week ahead is whole.
    return baseUrl + "/v1/forecast?latitude=" + coordinateDecimal(latitude, 4) +
           "&longitude=" + coordinateDecimal(longitude, 4) +
           "&current=temperature_2m,weather_code,apparent_temperature,relative_humidity_2m,wind_speed_10m,"
           "wind_direction_10m"
           "&hourly=temperature_2m,weather_code,precipitation,precipitation_probability,is_day"
           "&daily=temperature_2m_max,temperature_2m_min,sunrise,sunset,weather_code,precipitation_sum,"
           "precipitation_probability_max&timezone=auto&forecast_days=8";
}

namespace {

std::optional<double> numberAt(const nlohmann::json &object, std::string_view member, size_t index)
{
    const auto array = object.find(member);
    if (array == object.end() || !array->is_array() || index >= array->size() || !(*array)[index].is_number())
        return std::nullopt;
    const double value = (*array)[index].get<double>();
    return std::isfinite(value) ? std::optional(value) : std::nullopt;
}

std::string textAt(const nlohmann::json &object, std::string_view member, size_t index)
{
    const auto array = object.find(member);
    if (array == object.end() || !array->is_array() || index >= array->size() || !(*array)[index].is_string())
        return {};
    return (*array)[index].get<std::string>();
}

std::optional<std::string_view> wmoCondition(std::optional<double> code)
{
    return code && *code >= 0 && *code < 1000 && *code == std::floor(*code)
               ? conditionForWmoCode(static_cast<int>(*code))
               : std::nullopt;
}

// Open-Meteo's daily block: the rows from today's, found by the local date of the reading.
void readOpenMeteoDaily(const nlohmann::json &answer, Seconds localNow, Reading &reading)
{
    const auto daily = answer.find("daily");
    if (daily == answer.end() || !daily->is_object())
        return;
    const std::string today = localTimeText(localNow, 0).substr(0, 10);
    const auto times = daily->find("time");
    if (times == daily->end() || !times->is_array())
        return;
    for (size_t i = 0; i < times->size() && reading.daily.size() < forecastDays; ++i) {
        const std::string date = textAt(*daily, "time", i);
        if (date.size() != 10 || !parseCivilTime(date + "T00:00") || date < today ||
            (!reading.daily.empty() && date <= reading.daily.back().date))
            continue;
        DayForecast day;
        day.date = date;
        // Where the sun does not rise or set, the time given is not on this day.
        for (auto [member, text] : {std::pair{"sunrise", &day.sunrise}, std::pair{"sunset", &day.sunset}}) {
            const std::string given = textAt(*daily, member, i);
            if (given.rfind(date, 0) == 0 && parseCivilTime(given))
                *text = localClockText(*parseCivilTime(given), 0);
        }
        const auto high = plausible(numberAt(*daily, "temperature_2m_max", i));
        const auto low = plausible(numberAt(*daily, "temperature_2m_min", i));
        if (date == today) {
            reading.todayHigh = high;
            reading.todayLow = low;
            reading.sunrise = day.sunrise;
            reading.sunset = day.sunset;
        }
        const auto condition = wmoCondition(numberAt(*daily, "weather_code", i));
        if (!high || !low || *low > *high || !condition)
            continue; // a day without its range or its condition cannot be shown
        day.high = *high;
        day.low = *low;
        day.condition = *condition;
        day.precipitation = precipitationAmount(numberAt(*daily, "precipitation_sum", i));
        day.probability = percentage(numberAt(*daily, "precipitation_probability_max", i));
        reading.daily.push_back(std::move(day));
    }
}

// Open-Meteo's "current" details, in its default units (km/h, percent) and nothing in others.
void readOpenMeteoDetails(const nlohmann::json &answer, const nlohmann::json &current, Reading &reading)
{
    const auto number = [&current](const char *member) -> std::optional<double> {
        const auto found = current.find(member);
        if (found == current.end() || !found->is_number() || !std::isfinite(found->get<double>()))
            return std::nullopt;
        return found->get<double>();
    };
    const auto unitIs = [&answer](const char *member, std::string_view unit) {
        const auto units = answer.find("current_units");
        if (units == answer.end() || !units->is_object())
            return true;
        const auto given = units->find(member);
        return given == units->end() || (given->is_string() && given->get<std::string>() == unit);
    };
    if (unitIs("apparent_temperature", "°C"))
        reading.now.feelsLike = plausible(number("apparent_temperature"));
    if (unitIs("wind_speed_10m", "km/h"))
        reading.now.windKmh = windSpeed(number("wind_speed_10m"));
    reading.now.windDirection = windDirection(number("wind_direction_10m"));
    reading.now.humidity = percentage(number("relative_humidity_2m"));
}

// Open-Meteo's hourly block in local time: the hour that holds the reading and the 23 after it.
void readOpenMeteoHourly(const nlohmann::json &answer, Seconds localNow, int offset, Reading &reading)
{
    const auto hourly = answer.find("hourly");
    if (hourly == answer.end() || !hourly->is_object())
        return;
    const auto times = hourly->find("time");
    if (times == hourly->end() || !times->is_array())
        return;
    for (size_t i = 0; i < times->size() && reading.hourly.size() < forecastHours; ++i) {
        const auto local = parseCivilTime(textAt(*hourly, "time", i));
        if (!local || *local + std::chrono::hours(1) <= localNow)
            continue;
        const auto celsius = plausible(numberAt(*hourly, "temperature_2m", i));
        const auto condition = wmoCondition(numberAt(*hourly, "weather_code", i));
        if (!celsius || !condition)
            continue; // an hour without a temperature or a condition cannot be shown
        HourForecast hour;
        hour.start = *local - std::chrono::seconds(offset);
        hour.offset = offset;
        hour.celsius = *celsius;
        hour.condition = *condition;
        hour.precipitation = precipitationAmount(numberAt(*hourly, "precipitation", i)).value_or(0);
        hour.probability = percentage(numberAt(*hourly, "precipitation_probability", i));
        hour.day = numberAt(*hourly, "is_day", i).value_or(1) != 0;
        reading.hourly.push_back(std::move(hour));
    }
}

} // namespace

std::optional<Reading> OpenMeteoProvider::parse(std::string_view body, std::string &error)
{
    auto json = parseObject(body, error);
    if (!json)
        return std::nullopt;
    const auto current = json->find("current");
    if (current == json->end() || !current->is_object()) {
        error = "no \"current\" block";
        return std::nullopt;
    }
    const auto temperature = current->find("temperature_2m");
    const auto code = current->find("weather_code");
    if (temperature == current->end() || !temperature->is_number() || code == current->end() ||
        !code->is_number()) {
        error = "no temperature_2m or weather_code";
        return std::nullopt;
    }
    // Celsius is the default unit; refuse anything else rather than mislabel it.
    if (auto units = json->find("current_units"); units != json->end() && units->is_object()) {
        auto unit = units->find("temperature_2m");
        if (unit != units->end() && unit->is_string() && unit->get<std::string>() != "°C") {
            error = "temperature not in Celsius";
            return std::nullopt;
        }
    }
    Reading reading;
    reading.celsius = temperature->get<double>();
    if (!plausibleCelsius(reading.celsius)) {
        error = "implausible temperature";
        return std::nullopt;
    }
    double wmo = code->get<double>();
    auto condition = std::isfinite(wmo) && wmo >= 0 && wmo < 1000 && wmo == std::floor(wmo)
                         ? conditionForWmoCode(static_cast<int>(wmo))
                         : std::nullopt;
    if (!condition) {
        error = "unknown weather code " + code->dump();
        return std::nullopt;
    }
    reading.condition = *condition;
    reading.provider = "Open-Meteo";
    readOpenMeteoDetails(*json, *current, reading);

    // The forecast needs the reading's local time; without it the current weather still stands.
    int offset = 0;
    if (auto given = json->find("utc_offset_seconds"); given != json->end() && given->is_number_integer()) {
        const auto seconds = given->get<long long>();
        if (seconds % 60 != 0 || std::llabs(seconds) > maxOffsetSeconds)
            return reading;
        offset = static_cast<int>(seconds);
    }
    const auto time = current->find("time");
    const auto localNow =
        time != current->end() && time->is_string() ? parseCivilTime(time->get<std::string>()) : std::nullopt;
    if (!localNow)
        return reading;
    reading.updated = localTimeText(*localNow - std::chrono::seconds(offset), offset);
    readOpenMeteoDaily(*json, *localNow, reading);
    readOpenMeteoHourly(*json, *localNow, offset, reading);
    return reading;
}

} // namespace nimbara::server
