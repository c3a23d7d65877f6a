#pragma once

#include "Geocoder.h"
#include "VersionGate.h"
#include "WeatherCache.h"
#include "http/Reply.h"
#include "store/Store.h"

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
};

// The three requests of the widget and the product page, without HTTP: each takes the raw text the
// client sent and gives the answer to send back.
class WeatherService
{
public:
    WeatherService(WeatherCache &cache, Store &store, const VersionGate &versions, const Geocoder *geocoder,
                   const PlaceNames *placeNames);

    Reply check() const;
    // query: the raw text after "?" of GET /api/0.5/gate?&v1=…&v6=…
    Reply gate(std::string_view query);
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

private:
    std::optional<Reply> gateReply(std::string_view query, bool mayFetch);

    WeatherCache &cache;
    Store &store;
    const VersionGate &versions;
    const Geocoder *geocoder;
    const PlaceNames *placeNames;
};

// Whole degrees rounded half away from zero, so that the client's integer read and its cut toward
// zero agree.
long wholeDegrees(double value);
double fahrenheit(double celsius);

} // namespace nimbara::server
