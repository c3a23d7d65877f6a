#include "Providers.h"

#include "Conditions.h"
#include "ForecastJson.h"
#include "ServiceLog.h"
#include "http/AccessLog.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

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
    // Two days of hours, so that the next 24 start at any hour of today.
    return baseUrl + "/v1/forecast?latitude=" + coordinateDecimal(latitude, 4) +
           "&longitude=" + coordinateDecimal(longitude, 4) +
           "&current=temperature_2m,weather_code"
           "&hourly=temperature_2m,weather_code,precipitation,precipitation_probability,is_day"
           "&daily=temperature_2m_max,temperature_2m_min,sunrise,sunset&timezone=auto&forecast_days=2";
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

constexpr size_t forecastHours = 24;
// Offsets beyond ±18 hours are no place's.
constexpr int maxOffsetSeconds = 18 * 3600;

// Open-Meteo's daily block: today's row, found by the local date of the reading.
void readOpenMeteoDaily(const nlohmann::json &answer, Seconds localNow, Reading &reading)
{
    const auto daily = answer.find("daily");
    if (daily == answer.end() || !daily->is_object())
        return;
    const std::string today = localTimeText(localNow, 0).substr(0, 10);
    const auto times = daily->find("time");
    if (times == daily->end() || !times->is_array())
        return;
    for (size_t i = 0; i < times->size(); ++i) {
        if (textAt(*daily, "time", i) != today)
            continue;
        reading.todayHigh = plausible(numberAt(*daily, "temperature_2m_max", i));
        reading.todayLow = plausible(numberAt(*daily, "temperature_2m_min", i));
        // Where the sun does not rise or set, the time given is not on this day.
        for (auto [member, text] :
             {std::pair{"sunrise", &reading.sunrise}, std::pair{"sunset", &reading.sunset}}) {
            const std::string given = textAt(*daily, member, i);
            if (given.rfind(today, 0) == 0 && parseCivilTime(given))
                *text = localClockText(*parseCivilTime(given), 0);
        }
        return;
    }
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
        const auto code = numberAt(*hourly, "weather_code", i);
        const auto condition = code && *code >= 0 && *code < 1000 && *code == std::floor(*code)
                                   ? conditionForWmoCode(static_cast<int>(*code))
                                   : std::nullopt;
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
    for (const auto &entry : *series) {
        const auto start = timeOf(entry);
        if (!start || (previous && *start <= *previous))
            continue;
        previous = start;
        const int offset = offsetAt(*start);
        if (localDay(*start, offset) > today && reading.hourly.size() >= forecastHours)
            break;
        const auto stepData = entry.find("data");
        if (stepData == entry.end() || !stepData->is_object())
            continue;
        const auto celsius = plausible(metNumber(*stepData, "/instant/details/air_temperature"_json_pointer));
        if (!celsius)
            continue;
        if (localDay(*start, offset) == today) {
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
    json = {{"celsius", reading.celsius},
            {"condition", reading.condition},
            {"provider", reading.provider},
            {"updated", reading.updated},
            {"todayHigh", optionalNumber(reading.todayHigh)},
            {"todayLow", optionalNumber(reading.todayLow)},
            {"sunrise", reading.sunrise},
            {"sunset", reading.sunset},
            {"hourly", std::move(hours)}};
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
