#pragma once

#include "http/Metrics.h"
#include "weather/LocalTime.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbara::server {

// One hour of the forecast.
struct HourForecast
{
    Seconds start{}; // the hour's start
    int offset = 0;  // the place's offset from UTC then, in seconds
    double celsius = 0;
    std::string condition{};
    double precipitation = 0;            // mm in the hour
    std::optional<double> probability{}; // of precipitation, percent, where the provider gives one
    bool day = true;                     // the sun is up: the day or the night icon

    // The hour's start in the place's local time with its offset: "2024-05-01T13:00+01:00".
    std::string time() const { return localTimeText(start, offset); }
};

// One day of the week ahead, in the place's local time.
struct DayForecast
{
    std::string date{}; // "2024-05-01"
    double high = 0;
    double low = 0;
    std::string condition{};
    std::optional<double> precipitation{}; // mm over the day, where the provider gives amounts
    std::optional<double> probability{};   // of precipitation, percent, the day's highest
    std::string sunrise{};                 // "06:12"; empty when the sun does not rise that day
    std::string sunset{};
};

// The details of the weather now, each where the provider gives it.
struct NowDetails
{
    std::optional<double> feelsLike{};     // Celsius
    std::optional<double> windKmh{};       // mean wind at 10 m
    std::optional<double> windDirection{}; // degrees the wind comes from, 0 = north
    std::optional<double> humidity{};      // relative, percent

    bool empty() const { return !feelsLike && !windKmh && !humidity; }
};

// One upstream reading: everything the gate answer is made of, except the place name. The forecast
// members come from the same upstream answer and stay empty where it had none.
struct Reading
{
    double celsius = 0;
    std::string condition;
    std::string provider{}; // "Open-Meteo", "MET Norway"
    std::string updated{};  // the reading's time, ISO 8601 with the place's offset
    std::optional<double> todayHigh{};
    std::optional<double> todayLow{};
    std::string sunrise{}; // "06:12", local time of the place; empty when the sun does not rise that day
    std::string sunset{};
    std::vector<HourForecast> hourly{}; // the next 24 hours, the current one first
    std::vector<DayForecast> daily{};   // the next 7 days, today first
    NowDetails now{};
    // The forecast members above as the gate writes them, made once per upstream answer so that
    // every answer from the cache only copies them.
    std::string forecastJson{};
};

// Its JSON form, in which instances share cells through Redis: every member travels but
// forecastJson, which is made again from the others when a reading is read back; a member missing
// from a cell (written by an older instance) keeps its default. Reading a member of the wrong type
// throws nlohmann::json::exception.
void to_json(nlohmann::json &json, const Reading &reading);
void from_json(const nlohmann::json &json, Reading &reading);

struct HttpAnswer
{
    long status = 0;
    std::string body;
    std::string error; // set when no answer came (transport failure, time-out, too large)
};

// A blocking GET through libcurl: http and https only, a time-out for the whole exchange, answers
// capped at 1 MiB.
HttpAnswer httpGet(const std::string &url, const std::string &userAgent, std::chrono::milliseconds timeout);

class WeatherProvider
{
public:
    virtual ~WeatherProvider() = default;
    virtual std::string_view name() const = 0;
    // The current weather at a position, or nothing with the reason in error.
    virtual std::optional<Reading> currentWeather(double latitude, double longitude, std::string &error) = 0;
};

// A provider reached with one GET: the answer must come with a 2xx status and parse.
class HttpWeatherProvider : public WeatherProvider
{
public:
    HttpWeatherProvider(std::string baseUrl, std::string userAgent, std::chrono::milliseconds timeout);
    std::optional<Reading> currentWeather(double latitude, double longitude, std::string &error) override;

    virtual std::string requestUrl(double latitude, double longitude) const = 0;

protected:
    virtual std::optional<Reading> parseAnswer(std::string_view body, double latitude, double longitude,
                                               std::string &error) const = 0;

    std::string baseUrl;

private:
    std::string userAgent;
    std::chrono::milliseconds timeout;
};

// Open-Meteo's forecast API: the "current" block (updated every 15 minutes) with the hourly and daily
// forecast of the same request, in the place's time zone.
class OpenMeteoProvider final : public HttpWeatherProvider
{
public:
    using HttpWeatherProvider::HttpWeatherProvider;
    std::string_view name() const override { return "open-meteo"; }
    std::string requestUrl(double latitude, double longitude) const override;
    static std::optional<Reading> parse(std::string_view body, std::string &error);

private:
    std::optional<Reading> parseAnswer(std::string_view body, double, double,
                                       std::string &error) const override
    {
        return parse(body, error);
    }
};

// MET Norway Locationforecast 2.0 (compact). Its terms ask for a User-Agent that names a contact and
// for coordinates with at most four decimals. Its times are UTC and it names no time zone, so the
// place's offsets come from elsewhere; sunrise and sunset are computed.
class MetNorwayProvider final : public HttpWeatherProvider
{
public:
    MetNorwayProvider(std::string baseUrl, std::string userAgent, std::chrono::milliseconds timeout,
                      ZoneOffsets offsets = nauticalOffsets());
    std::string_view name() const override { return "met-norway"; }
    std::string requestUrl(double latitude, double longitude) const override;
    static std::optional<Reading> parse(std::string_view body, double latitude, double longitude,
                                        const ZoneOffsets &offsets, std::string &error);
    static ZoneOffsets nauticalOffsets();

private:
    std::optional<Reading> parseAnswer(std::string_view body, double latitude, double longitude,
                                       std::string &error) const override
    {
        return parse(body, latitude, longitude, offsets, error);
    }

    ZoneOffsets offsets;
};

// Asks each provider in turn until one answers; every failure leaves a log line.
class FailoverProvider final : public WeatherProvider
{
public:
    explicit FailoverProvider(std::vector<std::unique_ptr<WeatherProvider>> providers);
    std::string_view name() const override { return "failover"; }
    std::optional<Reading> currentWeather(double latitude, double longitude, std::string &error) override;

    // Adds the calls to each provider, and their failures, to metrics.
    void addMetrics(Metrics &metrics) const;

private:
    struct Calls
    {
        Counter made;
        Counter failed;
    };

    std::vector<std::unique_ptr<WeatherProvider>> providers;
    std::unique_ptr<Calls[]> calls; // one per provider
};

// The temperature the air feels like by the US National Weather Service's rules: the wind chill
// (NWS 2001) at or below 10 °C with wind above 4.8 km/h, the heat index (Rothfusz's regression with
// its adjustments) from 26.7 °C, else the air temperature itself.
double feelsLikeCelsius(double celsius, double windKmh, double humidity);

// Short decimal text of a coordinate with at most the given number of decimals, locale-free.
std::string coordinateDecimal(double value, int decimals);

} // namespace nimbara::server
