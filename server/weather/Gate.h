#pragma once

#include "core/Envelope.h"
#include "core/VersionGate.h"
#include "http/Metrics.h"
#include "limits/Limits.h"
#include "places/Geocoder.h"
#include "store/Store.h"
#include "weather/WeatherCache.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace nimbara::server {

// What one client may cost in upstream calls; a missing limiter sets no limit.
struct GateLimits
{
    std::unique_ptr<RateLimiter> newCellsPerClient; // upstream calls a client may cause, by address
    std::unique_ptr<RateLimiter> upstreamCalls;     // upstream calls all clients together may cause
};

// Gate requests refused by a limit, by limit; each refusal is also logged.
struct GateRefusals
{
    Counter newCellsPerClient;
    Counter upstreamCalls;
};

// The widget's weather request without HTTP: takes the raw text the client sent and gives the
// answer to send back.
class Gate
{
public:
    Gate(WeatherCache &cache, Store &store, const VersionGate &versions, const Geocoder *geocoder,
         const PlaceNames *placeNames, GateLimits limits = {});

    // query: the raw text after "?" of GET /api/0.5/gate?&v1=…&v6=…
    // A cell not cached costs an upstream call, which the client's and the global budgets must allow.
    Reply answer(std::string_view query, std::string_view clientAddress = {});
    // The same answer when it needs no upstream call (a cached cell, a refusal), else nothing: the
    // caller then runs answer() where waiting is allowed.
    std::optional<Reply> answerFromCache(std::string_view query);

    // The place line for a position: a place name (in the language of the tag where a catalog has
    // it) or, far from any place, the coordinates.
    std::string placeName(double latitude, double longitude, std::string_view languageTag) const;

    const GateRefusals &refusals() const { return refused; }
    // Adds the refusals of the limits above to metrics.
    void addMetrics(Metrics &metrics) const;

private:
    std::optional<Reply> reply(std::string_view query, bool mayFetch, std::string_view clientAddress);
    bool upstreamBudgetAllows(std::string_view clientAddress);

    WeatherCache &cache;
    Store &store;
    const VersionGate &versions;
    const Geocoder *geocoder;
    const PlaceNames *placeNames;
    GateLimits limits;
    GateRefusals refused;
};

} // namespace nimbara::server
