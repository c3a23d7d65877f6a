#pragma once

#include "places/GettextCatalog.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace nimbara::server {

struct Place
{
    std::uint32_t geonameId = 0;
    std::string name;
    double latitude = 0;
    double longitude = 0;
    std::uint32_t population = 0;
    bool capital = false;
    bool section = false;      // a part of a larger place (GeoNames PPLX)
    std::string_view timeZone; // IANA name ("Europe/London"), empty where the table has none
};

// One row of a GeoNames cities table (tab-separated: geonameid, name, asciiname, alternatenames,
// latitude, longitude, feature class, feature code, country, cc2, admin1-4, population, ...): the
// place, and the columns that only the place search reads. The views live for the call back only.
struct CityRow
{
    Place place;
    std::string_view asciiName;
    std::string_view alternateNames; // comma-separated, any script
    std::string_view country;        // ISO 3166-1 alpha-2
    std::string_view admin1;         // the first-order division's code, in GeoNames' own scheme
    std::string_view timeZone;       // IANA name
};

// Calls back once for each current populated place of the table (historical and abandoned places
// are left out). Throws std::runtime_error when the table cannot be read.
void readCitiesTable(const std::string &citiesPath, const std::function<void(CityRow &)> &row);

// Offline reverse geocoding over a GeoNames cities table, held in k-d trees of points on the unit sphere.
class Geocoder
{
public:
    static constexpr double maxDistanceKm = 50;

    // Throws std::runtime_error when the table cannot be read or holds no place.
    explicit Geocoder(const std::string &citiesPath);
    ~Geocoder();
    Geocoder(const Geocoder &) = delete;
    Geocoder &operator=(const Geocoder &) = delete;

    // The place a person at this position would name: among the places whose area reaches the
    // position the capital or else the most populous (central London is London, not one of its
    // boroughs), otherwise the nearest place; none beyond 50 km.
    const Place *placeAt(double latitude, double longitude) const;

    size_t size() const { return places.size(); }

    static double distanceKm(double latitude1, double longitude1, double latitude2, double longitude2);

private:
    struct Tree;
    std::vector<Place> places;
    std::set<std::string, std::less<>> timeZones; // the places' zone names, each kept once
    std::unique_ptr<Tree> allPlaces;
    std::unique_ptr<Tree> largePlaces; // populous places, so that a city's area is never missed
};

// Place names in other languages from the gettext catalogs of Debian's libgeonames-common
// (<localeDir>/<lang>/LC_MESSAGES/geonames.mo, msgid = GeoNames id). Catalogs load on first use.
class PlaceNames
{
public:
    explicit PlaceNames(std::string localeDir);

    // The name of the place in the language of a tag such as "de-DE", "pt_BR" or "zh-Hant-TW", or
    // an empty text when no catalog has it.
    std::string localizedName(std::uint32_t geonameId, std::string_view languageTag) const;

    // Catalog directories to try for a tag, most specific first.
    static std::vector<std::string> catalogCandidates(std::string_view languageTag);

private:
    using Catalog = std::unordered_map<std::uint32_t, std::string>;
    std::shared_ptr<const Catalog> catalog(const std::string &language) const;

    std::string localeDir;
    std::set<std::string, std::less<>> available;
    LoadedOnce<Catalog> loaded;
};

// A short readable position for places far from any town: "51.51°N 0.13°W".
std::string coordinateText(double latitude, double longitude);

} // namespace nimbara::server
