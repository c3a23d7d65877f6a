#include "weather/Gate.h"

#include "core/RawParams.h"
#include "core/ServiceLog.h"
#include "http/AccessLog.h"
#include "http/TrustedProxies.h"
#include "weather/ForecastJson.h"

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

const std::vector<std::string_view> gateKeys{"v1", "v2", "v3", "v4", "v5", "v6"};

} // namespace

Gate::Gate(WeatherCache &cache, Store &store, const VersionGate &versions, const Geocoder *geocoder,
           const PlaceNames *placeNames, GateLimits limits)
    : cache(cache)
    , store(store)
    , versions(versions)
    , geocoder(geocoder)
    , placeNames(placeNames)
    , limits(std::move(limits))
{}

Reply Gate::answer(std::string_view query, std::string_view clientAddress)
{
    return *reply(query, true, clientAddress);
}

std::optional<Reply> Gate::answerFromCache(std::string_view query)
{
    return reply(query, false, {});
}

std::optional<Reply> Gate::reply(std::string_view query, bool mayFetch, std::string_view clientAddress)
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

std::string Gate::placeName(double latitude, double longitude, std::string_view languageTag) const
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

bool Gate::upstreamBudgetAllows(std::string_view clientAddress)
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

void Gate::addMetrics(Metrics &metrics) const
{
    addLimitRefusals(metrics, "new_cells_per_client", refused.newCellsPerClient);
    addLimitRefusals(metrics, "upstream_calls", refused.upstreamCalls);
}

} // namespace nimbara::server
