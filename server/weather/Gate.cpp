#include "WeatherService.h"

#include "ForecastJson.h"
#include "RawParams.h"
#include "ServiceLog.h"
#include "http/AccessLog.h"
#include "http/TrustedProxies.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>

namespace nimbara::server {

namespace {

// A coordinate as the client writes a double: plain decimal text, nothing around it.
std::optional<double> coordinate(const Params &params, std::string_view key, double limit)
{
    auto it = params.find(key);
    if (it == params.end())
        return std::nullopt;
    const std::string &text = it->second;
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        std::fabs(value) > limit)
        return std::nullopt;
    return value;
}

std::string valueOf(const Params &params, std::string_view key)
{
    auto it = params.find(key);
    return it == params.end() ? std::string() : it->second;
}

const std::vector<std::string_view> gateKeys{"v1", "v2", "v3", "v4", "v5", "v6"};
const std::vector<std::string_view> feedbackKeys{"v1", "v2", "v3", "v4"};
const std::vector<std::string_view> fingerprintKeys{"v1", "v2", "v3", "v4", "v5"};

} // namespace

long wholeDegrees(double value)
{
    return std::lround(value);
}

double fahrenheit(double celsius)
{
    return celsius * 9 / 5 + 32;
}

WeatherService::WeatherService(WeatherCache &cache, Store &store, const VersionGate &versions,
                               const Geocoder *geocoder, const PlaceNames *placeNames, ServiceLimits limits)
    : cache(cache)
    , store(store)
    , versions(versions)
    , geocoder(geocoder)
    , placeNames(placeNames)
    , limits(std::move(limits))
{}

Reply WeatherService::errorReply(int httpStatus, GateError error)
{
    nlohmann::ordered_json body{{"status", "error"}, {"error", static_cast<int>(error)}};
    return {httpStatus, body.dump()};
}

Reply WeatherService::check() const
{
    return {200, R"({"status":"ok"})"};
}

Reply WeatherService::gate(std::string_view query, std::string_view clientAddress)
{
    return *gateReply(query, true, clientAddress);
}

std::optional<Reply> WeatherService::gateFromCache(std::string_view query)
{
    return gateReply(query, false, {});
}

std::optional<Reply> WeatherService::gateReply(std::string_view query, bool mayFetch,
                                               std::string_view clientAddress)
{
    const Params params = parsePairs(query, gateKeys);

    // The version comes first: an old client may not even send what a current one sends.
    if (versions.isOutdated(valueOf(params, "v6")))
        return errorReply(200, GateError::outdatedVersion);
    if (auto machine = Store::normalizedFingerprint(valueOf(params, "v5"));
        !machine.empty() && store.isBlacklisted(machine))
        return errorReply(200, GateError::blacklisted);

    const auto latitude = coordinate(params, "v1", 90);
    const auto longitude = coordinate(params, "v2", 180);
    if (!latitude || !longitude)
        return errorReply(400, GateError::malformedRequest);

    // A cell held anywhere (fresh or stale, here or in Redis) costs nothing: the budgets are asked
    // only where this request itself makes the upstream call.
    auto reading = cache.cachedReading(*latitude, *longitude);
    if (!reading && !mayFetch)
        return std::nullopt;
    if (!reading)
        reading = cache.reading(*latitude, *longitude,
                                [this, clientAddress] { return upstreamBudgetAllows(clientAddress); });
    if (!reading)
        return errorReply(503, GateError::upstreamFailed);

    nlohmann::ordered_json data{
        {"temp", wholeDegrees(fahrenheit(reading->celsius))},
        {"celsius", wholeDegrees(reading->celsius)},
        {"condition", reading->condition},
        {"location", placeName(*latitude, *longitude, valueOf(params, "v4"))},
    };
    // The three lines' members first, then the forecast's inside the same "data" object.
    std::string body = R"({"status":"ok","data":)";
    body += data.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    body.pop_back();
    // Made once per upstream answer; a reading from elsewhere (a test's) is written here.
    body += reading->forecastJson.empty() ? forecastJson(*reading) : reading->forecastJson;
    body += "}}";
    return Reply{200, std::move(body)};
}

std::string WeatherService::placeName(double latitude, double longitude, std::string_view languageTag) const
{
    const Place *place = geocoder ? geocoder->placeAt(latitude, longitude) : nullptr;
    if (!place)
        return coordinateText(latitude, longitude);
    if (placeNames) {
        if (auto name = placeNames->localizedName(place->geonameId, languageTag); !name.empty())
            return name;
    }
    return place->name;
}

bool WeatherService::upstreamBudgetAllows(std::string_view clientAddress)
{
    if (limits.newCellsPerClient && !limits.newCellsPerClient->tryTake(clientKey(clientAddress))) {
        refused.newCellsPerClient.add();
        logLine("limit: " + escapeForLog(clientAddress) + " asked for too many new cells; error 3");
        return false;
    }
    if (limits.upstreamCalls && !limits.upstreamCalls->tryTake({})) {
        refused.upstreamCalls.add();
        logLine("limit: the upstream budget is spent; " + escapeForLog(clientAddress) + " gets error 3");
        return false;
    }
    return true;
}

std::optional<Reply> WeatherService::feedbackRefusal(std::string_view body, std::string_view clientAddress)
{
    const Reply overLimit = errorReply(429, GateError::overLimit);
    if (limits.feedbackPerClient && !limits.feedbackPerClient->tryTake(clientKey(clientAddress))) {
        refused.feedbackPerClient.add();
        logLine("limit: feedback from " + escapeForLog(clientAddress) +
                " refused: too many from this address");
        return overLimit;
    }
    // The widget's form has no machine fingerprint; a client that sends one is held to it as well.
    auto machine = Store::normalizedFingerprint(valueOf(parsePairs(body, fingerprintKeys), "v5"));
    if (!machine.empty() && limits.feedbackPerMachine && !limits.feedbackPerMachine->tryTake(machine)) {
        refused.feedbackPerMachine.add();
        logLine("limit: feedback from " + escapeForLog(clientAddress) +
                " refused: too many from machine=" + machine);
        return overLimit;
    }
    return std::nullopt;
}

Reply WeatherService::feedback(std::string_view body, std::string_view clientAddress)
{
    const Params params = parsePairs(body, feedbackKeys);
    // Nobody can answer feedback without an address, nor read one without a message.
    auto blank = [&](std::string_view key) {
        return valueOf(params, key).find_first_not_of(" \t\r\n") == std::string::npos;
    };
    if (params.empty() || blank("v3") || blank("v4"))
        return errorReply(400, GateError::malformedRequest);
    if (auto refusal = feedbackRefusal(body, clientAddress))
        return *refusal;
    Feedback feedback{valueOf(params, "v1"), valueOf(params, "v2"),      valueOf(params, "v3"),
                      valueOf(params, "v4"), std::string(clientAddress), std::string(body)};
    // Throws when it could not be stored: the sender must not hear "ok". The storage cap is checked
    // in the store, where every instance and worker sees the same count.
    if (!store.addFeedback(feedback, limits.feedbackMaxBytes)) {
        refused.feedbackStorageFull.add();
        logLine("limit: feedback from " + escapeForLog(clientAddress) +
                " refused: the feedback storage is full");
        return errorReply(429, GateError::overLimit);
    }
    return {200, R"({"status":"ok"})"};
}

void WeatherService::addMetrics(Metrics &metrics) const
{
    addLimitRefusals(metrics, "feedback_per_client", refused.feedbackPerClient);
    addLimitRefusals(metrics, "feedback_per_machine", refused.feedbackPerMachine);
    addLimitRefusals(metrics, "feedback_storage", refused.feedbackStorageFull);
    addLimitRefusals(metrics, "new_cells_per_client", refused.newCellsPerClient);
    addLimitRefusals(metrics, "upstream_calls", refused.upstreamCalls);
}

Reply WeatherService::homePage() const
{
    static const std::string page = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Nimbara</title>
<style>
body { font-family: sans-serif; max-width: 40em; margin: 3em auto; padding: 0 1em; line-height: 1.5; color: #222; }
h1 { font-weight: 300; }
footer { margin-top: 3em; font-size: 0.9em; color: #555; }
</style>
</head>
<body>
<h1>Nimbara</h1>
<p>Nimbara is a desktop weather widget for Linux. It sits on your desktop below your windows and shows
the time, the current weather and the name of the place you are in.</p>
<p>This is <code>nimbara-weatherd</code>, Nimbara's weather service. The widget asks it for the weather at
its position; the service answers from its cache or from its weather providers, names the place from an
offline table of cities, and keeps the feedback that users send from the widget.</p>
<footer>
<h2>Data sources</h2>
<ul>
<li>Weather data by <a href="https://open-meteo.com/">Open-Meteo.com</a>, licensed under
<a href="https://creativecommons.org/licenses/by/4.0/">CC BY 4.0</a>.</li>
<li>Weather data from <a href="https://www.met.no/">MET Norway</a>
(<a href="https://api.met.no/">api.met.no</a>), licensed under
<a href="https://creativecommons.org/licenses/by/4.0/">CC BY 4.0</a> and the
<a href="https://data.norge.no/nlod/en/2.0">Norwegian Licence for Open Government Data (NLOD) 2.0</a>.</li>
<li>Place names from <a href="https://www.geonames.org/">GeoNames</a>, licensed under
<a href="https://creativecommons.org/licenses/by/4.0/">CC BY 4.0</a>.</li>
<li><a href="https://db-ip.com/">IP Geolocation by DB-IP</a>, licensed under
<a href="https://creativecommons.org/licenses/by/4.0/">CC BY 4.0</a>.</li>
</ul>
</footer>
</body>
</html>
)";
    return {200, page, "text/html; charset=utf-8"};
}

} // namespace nimbara::server
