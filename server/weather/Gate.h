#pragma once

#include "Geocoder.h"
#include "VersionGate.h"
#include "WeatherCache.h"
#include "http/Limits.h"
#include "http/Metrics.h"
#include "http/Reply.h"
#include "store/Store.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace nimbara::server {

// Service error codes of the gate envelope.
enum class GateError {
    outdatedVersion = 0,
    blacklisted = 1,
    malformedRequest = 2,
    upstreamFailed = 3,
    overLimit = 4,
};

// What one client may cost the service; a missing limiter sets no limit.
struct ServiceLimits
{
    std::unique_ptr<RateLimiter> feedbackPerClient;  // keyed by client address
    std::unique_ptr<RateLimiter> feedbackPerMachine; // keyed by machine fingerprint, when the form has one
    std::uint64_t feedbackMaxBytes = std::uint64_t(1) << 30; // all stored feedback bodies together
    std::unique_ptr<RateLimiter> newCellsPerClient;          // upstream calls a client may cause, by address
    std::unique_ptr<RateLimiter> upstreamCalls;              // upstream calls all clients together may cause
};

// Requests refused by a limit, by limit; each refusal is also logged.
struct Refusals
{
    Counter feedbackPerClient;
    Counter feedbackPerMachine;
    Counter feedbackStorageFull;
    Counter newCellsPerClient;
    Counter upstreamCalls;
};

// The three requests of the widget and the product page, without HTTP: each takes the raw text the
// client sent and gives the answer to send back.
class WeatherService
{
public:
    WeatherService(WeatherCache &cache, Store &store, const VersionGate &versions, const Geocoder *geocoder,
                   const PlaceNames *placeNames, ServiceLimits limits = {});

    Reply check() const;
    // query: the raw text after "?" of GET /api/0.5/gate?&v1=…&v6=…
    // A cell not cached costs an upstream call, which the client's and the global budgets must allow.
    Reply gate(std::string_view query, std::string_view clientAddress = {});
    // The same answer when it needs no upstream call (a cached cell, a refusal), else nothing: the
    // caller then runs gate() where waiting is allowed.
    std::optional<Reply> gateFromCache(std::string_view query);
    // body: the raw form body of POST /api/0.5/feedback?
    Reply feedback(std::string_view body, std::string_view clientAddress);
    Reply homePage() const;

    // The place line for a position: a place name (in the language of the tag where a catalog has
    // it) or, far from any place, the coordinates.
    std::string placeName(double latitude, double longitude, std::string_view languageTag) const;

    static Reply errorReply(int httpStatus, GateError error);

    const Refusals &refusals() const { return refused; }
    // Adds the refusals of the limits above to metrics.
    void addMetrics(Metrics &metrics) const;

private:
    std::optional<Reply> gateReply(std::string_view query, bool mayFetch, std::string_view clientAddress);
    bool upstreamBudgetAllows(std::string_view clientAddress);
    std::optional<Reply> feedbackRefusal(std::string_view body, std::string_view clientAddress);

    WeatherCache &cache;
    Store &store;
    const VersionGate &versions;
    const Geocoder *geocoder;
    const PlaceNames *placeNames;
    ServiceLimits limits;
    Refusals refused;
};

// Whole degrees rounded half away from zero, so that the client's integer read and its cut toward
// zero agree.
long wholeDegrees(double value);
double fahrenheit(double celsius);

} // namespace nimbara::server
