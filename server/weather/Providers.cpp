#include "weather/Providers.h"

#include "core/ServiceLog.h"
#include "http/AccessLog.h"
#include "weather/Conditions.h"
#include "weather/ForecastJson.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <array>
#include <charconv>
#include <cmath>
#include <map>
#include <mutex>

namespace nimbara::server {

namespace {

constexpr size_t maxAnswerBytes = 1 << 20;

struct Download
{
    std::string body;
    bool tooLarge = false;
};

size_t collect(char *data, size_t size, size_t count, void *user)
{
    auto *download = static_cast<Download *>(user);
    size_t bytes = size * count;
    if (download->body.size() + bytes > maxAnswerBytes) {
        download->tooLarge = true;
        return 0; // makes libcurl stop with a write error
    }
    download->body.append(data, bytes);
    return bytes;
}

// Sanity limits of a surface air temperature; anything outside is a broken answer.
bool plausibleCelsius(double celsius)
{
    return std::isfinite(celsius) && celsius > -100 && celsius < 70;
}

std::optional<nlohmann::json> parseObject(std::string_view body, std::string &error)
{
    auto json = nlohmann::json::parse(body, nullptr, false);
    if (json.is_discarded() || !json.is_object()) {
        error = "answer is not a JSON object";
        return std::nullopt;
    }
    return json;
}

} // namespace

HttpAnswer httpGet(const std::string &url, const std::string &userAgent, std::chrono::milliseconds timeout)
{
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    HttpAnswer answer;
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) {
        answer.error = "cannot create a transfer";
        return answer;
    }
    Download download;
    char errorText[CURL_ERROR_SIZE] = {};
    auto connectTimeout = std::min<long>(static_cast<long>(timeout.count()), 3000);
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_USERAGENT, userAgent.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl.get(), CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 3L);
    curl_easy_setopt(curl.get(), CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
    curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT_MS, connectTimeout);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &download);
    curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, errorText);

    CURLcode code = curl_easy_perform(curl.get());
    if (download.tooLarge) {
        answer.error = "answer larger than 1 MiB";
    } else if (code != CURLE_OK) {
        answer.error = errorText[0] ? errorText : curl_easy_strerror(code);
    } else {
        curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &answer.status);
        answer.body = std::move(download.body);
    }
    return answer;
}

double feelsLikeCelsius(double celsius, double windKmh, double humidity)
{
    const double f = celsius * 9 / 5 + 32;
    const double mph = windKmh / 1.609344;
    if (f <= 50 && mph > 3) {
        const double v = std::pow(mph, 0.16);
        const double chill = 35.74 + 0.6215 * f - 35.75 * v + 0.4275 * f * v;
        return (std::min(chill, f) - 32) * 5 / 9;
    }
    if (f < 80)
        return celsius;
    const double rh = std::clamp(humidity, 0.0, 100.0);
    double index = 0.5 * (f + 61 + (f - 68) * 1.2 + rh * 0.094);
    if ((index + f) / 2 >= 80) {
        index = -42.379 + 2.04901523 * f + 10.14333127 * rh - 0.22475541 * f * rh - 0.00683783 * f * f -
                0.05481717 * rh * rh + 0.00122874 * f * f * rh + 0.00085282 * f * rh * rh -
                0.00000199 * f * f * rh * rh;
        if (rh < 13 && f < 112)
            index -= (13 - rh) / 4 * std::sqrt((17 - std::abs(f - 95)) / 17);
        else if (rh > 85 && f < 87)
            index += (rh - 85) / 10 * (87 - f) / 5;
    }
    return (index - 32) * 5 / 9;
}

std::string coordinateDecimal(double value, int decimals)
{
    char buffer[64];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (error != std::errc())
        return "0";
    std::string text(buffer, end);
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0')
            text.pop_back();
        if (text.back() == '.')
            text.pop_back();
    }
    if (text == "-0")
        text = "0";
    return text;
}

HttpWeatherProvider::HttpWeatherProvider(std::string baseUrl, std::string userAgent,
                                         std::chrono::milliseconds timeout)
    : baseUrl(std::move(baseUrl))
    , userAgent(std::move(userAgent))
    , timeout(timeout)
{}

std::optional<Reading> HttpWeatherProvider::currentWeather(double latitude, double longitude,
                                                           std::string &error)
{
    auto answer = httpGet(requestUrl(latitude, longitude), userAgent, timeout);
    if (!answer.error.empty()) {
        error = answer.error;
        return std::nullopt;
    }
    if (answer.status < 200 || answer.status > 299) {
        error = "HTTP " + std::to_string(answer.status);
        // Open-Meteo explains a refused request in "reason".
        auto json = nlohmann::json::parse(answer.body, nullptr, false);
        if (json.is_object() && json.contains("reason") && json["reason"].is_string())
            error += ": " + json["reason"].get<std::string>();
        return std::nullopt;
    }
    return parseAnswer(answer.body, latitude, longitude, error);
}

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

std::optional<double> plausible(std::optional<double> celsius)
{
    return celsius && plausibleCelsius(*celsius) ? celsius : std::nullopt;
}

// An amount of precipitation in mm, and its probability in percent; nothing for nonsense.
std::optional<double> precipitationAmount(std::optional<double> mm)
{
    return mm && *mm >= 0 && *mm < 1000 ? mm : std::nullopt;
}
std::optional<double> percentage(std::optional<double> percent)
{
    return percent && *percent >= 0 && *percent <= 100 ? percent : std::nullopt;
}
// A wind speed in km/h (the strongest gusts measured stay below 410) and a direction in degrees.
std::optional<double> windSpeed(std::optional<double> kmh)
{
    return kmh && *kmh >= 0 && *kmh < 500 ? kmh : std::nullopt;
}
std::optional<double> windDirection(std::optional<double> degrees)
{
    return degrees && *degrees >= 0 && *degrees <= 360 ? degrees : std::nullopt;
}

constexpr size_t forecastHours = 24;
// Offsets beyond ±18 hours are no place's.
constexpr int maxOffsetSeconds = 18 * 3600;

constexpr size_t forecastDays = 7;

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

namespace {

nlohmann::json optionalNumber(const std::optional<double> &value)
{
    return value ? nlohmann::json(*value) : nlohmann::json();
}

std::optional<double> optionalNumber(const nlohmann::json &json, const char *member)
{
    const auto found = json.find(member);
    if (found == json.end() || found->is_null())
        return std::nullopt;
    return found->get<double>();
}

template <typename T>
void readMember(const nlohmann::json &json, const char *member, T &value)
{
    if (const auto found = json.find(member); found != json.end())
        value = found->get<T>();
}

} // namespace

void to_json(nlohmann::json &json, const Reading &reading)
{
    nlohmann::json hours = nlohmann::json::array();
    for (const HourForecast &hour : reading.hourly)
        hours.push_back({{"start", hour.start.time_since_epoch().count()},
                         {"offset", hour.offset},
                         {"celsius", hour.celsius},
                         {"condition", hour.condition},
                         {"precipitation", hour.precipitation},
                         {"probability", optionalNumber(hour.probability)},
                         {"day", hour.day}});
    nlohmann::json days = nlohmann::json::array();
    for (const DayForecast &day : reading.daily)
        days.push_back({{"date", day.date},
                        {"high", day.high},
                        {"low", day.low},
                        {"condition", day.condition},
                        {"precipitation", optionalNumber(day.precipitation)},
                        {"probability", optionalNumber(day.probability)},
                        {"sunrise", day.sunrise},
                        {"sunset", day.sunset}});
    json = {{"celsius", reading.celsius},
            {"condition", reading.condition},
            {"provider", reading.provider},
            {"updated", reading.updated},
            {"todayHigh", optionalNumber(reading.todayHigh)},
            {"todayLow", optionalNumber(reading.todayLow)},
            {"sunrise", reading.sunrise},
            {"sunset", reading.sunset},
            {"hourly", std::move(hours)},
            {"daily", std::move(days)},
            {"now",
             {{"feelsLike", optionalNumber(reading.now.feelsLike)},
              {"windKmh", optionalNumber(reading.now.windKmh)},
              {"windDirection", optionalNumber(reading.now.windDirection)},
              {"humidity", optionalNumber(reading.now.humidity)}}}};
}

void from_json(const nlohmann::json &json, Reading &reading)
{
    reading = Reading();
    readMember(json, "celsius", reading.celsius);
    readMember(json, "condition", reading.condition);
    readMember(json, "provider", reading.provider);
    readMember(json, "updated", reading.updated);
    reading.todayHigh = optionalNumber(json, "todayHigh");
    reading.todayLow = optionalNumber(json, "todayLow");
    readMember(json, "sunrise", reading.sunrise);
    readMember(json, "sunset", reading.sunset);
    if (const auto hours = json.find("hourly"); hours != json.end()) {
        for (const auto &entry : hours->get<std::vector<nlohmann::json>>()) {
            HourForecast hour;
            std::int64_t start = 0;
            readMember(entry, "start", start);
            hour.start = Seconds(std::chrono::seconds(start));
            readMember(entry, "offset", hour.offset);
            readMember(entry, "celsius", hour.celsius);
            readMember(entry, "condition", hour.condition);
            readMember(entry, "precipitation", hour.precipitation);
            hour.probability = optionalNumber(entry, "probability");
            readMember(entry, "day", hour.day);
            reading.hourly.push_back(std::move(hour));
        }
    }
    if (const auto days = json.find("daily"); days != json.end()) {
        for (const auto &entry : days->get<std::vector<nlohmann::json>>()) {
            DayForecast day;
            readMember(entry, "date", day.date);
            readMember(entry, "high", day.high);
            readMember(entry, "low", day.low);
            readMember(entry, "condition", day.condition);
            day.precipitation = optionalNumber(entry, "precipitation");
            day.probability = optionalNumber(entry, "probability");
            readMember(entry, "sunrise", day.sunrise);
            readMember(entry, "sunset", day.sunset);
            reading.daily.push_back(std::move(day));
        }
    }
    if (const auto now = json.find("now"); now != json.end()) {
        reading.now.feelsLike = optionalNumber(*now, "feelsLike");
        reading.now.windKmh = optionalNumber(*now, "windKmh");
        reading.now.windDirection = optionalNumber(*now, "windDirection");
        reading.now.humidity = optionalNumber(*now, "humidity");
    }
    reading.forecastJson = forecastJson(reading);
}

FailoverProvider::FailoverProvider(std::vector<std::unique_ptr<WeatherProvider>> providers)
    : providers(std::move(providers))
    , calls(std::make_unique<Calls[]>(this->providers.size()))
{}

void FailoverProvider::addMetrics(Metrics &metrics) const
{
    for (size_t i = 0; i < providers.size(); ++i) {
        const Labels labels{{"provider", std::string(providers[i]->name())}};
        const Calls *counts = &calls[i];
        metrics.addCounter("nimbara_upstream_calls_total", "Calls to a weather provider, by provider.",
                           labels, [counts] { return static_cast<double>(counts->made.get()); });
        metrics.addCounter("nimbara_upstream_failures_total",
                           "Calls to a weather provider that brought no reading, by provider.", labels,
                           [counts] { return static_cast<double>(counts->failed.get()); });
    }
}

std::optional<Reading> FailoverProvider::currentWeather(double latitude, double longitude, std::string &error)
{
    error.clear();
    for (size_t i = 0; i < providers.size(); ++i) {
        const auto &provider = providers[i];
        std::string reason;
        calls[i].made.add();
        try {
            if (auto reading = provider->currentWeather(latitude, longitude, reason)) {
                reading->forecastJson = forecastJson(*reading);
                return reading;
            }
        } catch (const std::exception &exception) {
            reason = exception.what();
        }
        calls[i].failed.add();
        logLine("upstream " + std::string(provider->name()) + " failed for " +
                coordinateDecimal(latitude, 4) + "," + coordinateDecimal(longitude, 4) + ": " +
                escapeForLog(reason)); // upstream text
        if (!error.empty())
            error += "; ";
        error += std::string(provider->name()) + ": " + reason;
    }
    if (providers.empty())
        error = "no provider";
    return std::nullopt;
}

} // namespace nimbara::server
