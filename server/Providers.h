#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbara::server {

// One upstream reading: everything the gate answer is made of, except the place name.
struct Reading
{
    double celsius = 0;
    std::string condition;
};

// Its JSON form, in which instances share cells through Redis: name every member here so that it
// travels; a member missing from a cell (written by an older instance) keeps its default.
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Reading, celsius, condition)

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
    virtual std::optional<Reading> parseAnswer(std::string_view body, std::string &error) const = 0;

    std::string baseUrl;

private:
    std::string userAgent;
    std::chrono::milliseconds timeout;
};

// Open-Meteo's forecast API, "current" block (updated every 15 minutes).
class OpenMeteoProvider final : public HttpWeatherProvider
{
public:
    using HttpWeatherProvider::HttpWeatherProvider;
    std::string_view name() const override { return "open-meteo"; }
    std::string requestUrl(double latitude, double longitude) const override;
    static std::optional<Reading> parse(std::string_view body, std::string &error);

private:
    std::optional<Reading> parseAnswer(std::string_view body, std::string &error) const override
    {
        return parse(body, error);
    }
};

// MET Norway Locationforecast 2.0 (compact). Its terms ask for a User-Agent that names a contact and
// for coordinates with at most four decimals.
class MetNorwayProvider final : public HttpWeatherProvider
{
public:
    using HttpWeatherProvider::HttpWeatherProvider;
    std::string_view name() const override { return "met-norway"; }
    std::string requestUrl(double latitude, double longitude) const override;
    static std::optional<Reading> parse(std::string_view body, std::string &error);

private:
    std::optional<Reading> parseAnswer(std::string_view body, std::string &error) const override
    {
        return parse(body, error);
    }
};

// Asks each provider in turn until one answers; every failure leaves a log line.
class FailoverProvider final : public WeatherProvider
{
public:
    explicit FailoverProvider(std::vector<std::unique_ptr<WeatherProvider>> providers);
    std::string_view name() const override { return "failover"; }
    std::optional<Reading> currentWeather(double latitude, double longitude, std::string &error) override;

private:
    std::vector<std::unique_ptr<WeatherProvider>> providers;
};

// Short decimal text of a coordinate with at most the given number of decimals, locale-free.
std::string coordinateDecimal(double value, int decimals);

} // namespace nimbara::server
