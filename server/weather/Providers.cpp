#include "weather/Providers.h"

#include "weather/Plausible.h"

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

} // namespace

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

std::optional<double> plausible(std::optional<double> celsius)
{
    return celsius && plausibleCelsius(*celsius) ? celsius : std::nullopt;
}

std::optional<double> precipitationAmount(std::optional<double> mm)
{
    return mm && *mm >= 0 && *mm < 1000 ? mm : std::nullopt;
}
std::optional<double> percentage(std::optional<double> percent)
{
    return percent && *percent >= 0 && *percent <= 100 ? percent : std::nullopt;
}
std::optional<double> windSpeed(std::optional<double> kmh)
{
    return kmh && *kmh >= 0 && *kmh < 500 ? kmh : std::nullopt;
}
std::optional<double> windDirection(std::optional<double> degrees)
{
    return degrees && *degrees >= 0 && *degrees <= 360 ? degrees : std::nullopt;
}

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
