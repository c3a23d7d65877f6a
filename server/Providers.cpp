#include "Providers.h"

#include "Conditions.h"
#include "ServiceLog.h"
#include "http/AccessLog.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
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
    return parseAnswer(answer.body, error);
}

std::string OpenMeteoProvider::requestUrl(double latitude, double longitude) const
{
    return baseUrl + "/v1/forecast?latitude=" + coordinateDecimal(latitude, 4) +
           "&longitude=" + coordinateDecimal(longitude, 4) + "&current=temperature_2m,weather_code";
}

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
    return reading;
}

std::string MetNorwayProvider::requestUrl(double latitude, double longitude) const
{
    return baseUrl + "/weatherapi/locationforecast/2.0/compact?lat=" + coordinateDecimal(latitude, 4) +
           "&lon=" + coordinateDecimal(longitude, 4);
}

std::optional<Reading> MetNorwayProvider::parse(std::string_view body, std::string &error)
{
    auto json = parseObject(body, error);
    if (!json)
        return std::nullopt;
    // The first step of the time series is the current hour.
    const nlohmann::json *step = nullptr;
    if (auto properties = json->find("properties"); properties != json->end() && properties->is_object()) {
        if (auto series = properties->find("timeseries");
            series != properties->end() && series->is_array() && !series->empty())
            step = &series->front();
    }
    if (!step || !step->is_object()) {
        error = "no time series";
        return std::nullopt;
    }
    const auto data = step->find("data");
    if (data == step->end() || !data->is_object()) {
        error = "no data in the first step";
        return std::nullopt;
    }
    const auto temperature = data->value("/instant/details/air_temperature"_json_pointer, nlohmann::json());
    if (!temperature.is_number()) {
        error = "no air_temperature";
        return std::nullopt;
    }
    std::string symbol;
    for (const char *period : {"next_1_hours", "next_6_hours", "next_12_hours"}) {
        auto next = data->find(period);
        if (next == data->end() || !next->is_object())
            continue;
        auto code = next->value("/summary/symbol_code"_json_pointer, nlohmann::json());
        if (code.is_string()) {
            symbol = code.get<std::string>();
            break;
        }
    }
    Reading reading;
    reading.celsius = temperature.get<double>();
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
    return reading;
}

FailoverProvider::FailoverProvider(std::vector<std::unique_ptr<WeatherProvider>> providers)
    : providers(std::move(providers))
{}

std::optional<Reading> FailoverProvider::currentWeather(double latitude, double longitude, std::string &error)
{
    error.clear();
    for (const auto &provider : providers) {
        std::string reason;
        try {
            if (auto reading = provider->currentWeather(latitude, longitude, reason))
                return reading;
        } catch (const std::exception &exception) {
            reason = exception.what();
        }
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
