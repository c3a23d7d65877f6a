#pragma once

#include "core/Envelope.h"
#include "places/Geocoder.h"

#include <atomic>
#include <optional>
#include <string>
#include <string_view>

namespace nimbara::server {

class AddressLocator;
class PlaceSearch;
class RegionNames;

// What the place requests draw on. Each may be null: the answers then lack what it would give.
struct PlaceSources
{
    const Geocoder *geocoder = nullptr;
    const PlaceNames *placeNames = nullptr;
    const RegionNames *regionNames = nullptr;
    const AddressLocator *addressLocator = nullptr;
};

// The place requests of the widget's location menu, without HTTP.
class PlacesService
{
public:
    static constexpr size_t maxResults = 10;
    static constexpr size_t minQueryCharacters = 2;
    static constexpr size_t maxQueryCharacters = 100;

    // Without a search (the index still being built, or no cities table) the search answers error
    // 3, as for a passing fault.
    PlacesService(const PlaceSearch *search, const PlaceSources &sources);

    // The index, once built; it must outlive the service.
    void setSearch(const PlaceSearch *search);

    // query: the raw text after "?" of GET /api/0.5/places?&q=TEXT&v4=LANG, where TEXT may be
    // percent-encoded UTF-8. Answers up to ten places, named in the language of LANG where the
    // catalogs have it; error 2 for a text under 2 or over 100 characters. A place found by another
    // name than the one shown carries that name in "matched"; places that would read the same are
    // told apart by their position in "region", or shown once when they are one place.
    Reply places(std::string_view query) const;

    // query: the raw text after "?" of GET /api/0.5/locate?&v4=LANG. Answers the place of the
    // client's network address as one entry of the kind places() lists; error 3 without an address
    // database, for non-public addresses and for addresses the database does not know.
    Reply locate(std::string_view query, std::string_view clientAddress) const;

private:
    std::string localizedName(const Place &place, std::string_view language) const;
    std::string countryName(std::string_view code, std::string_view language) const;

    std::atomic<const PlaceSearch *> search;
    const PlaceSources sources;
};

// Percent-decoding of a query value ("+" as a space, as forms send it); nothing for a broken
// escape.
std::optional<std::string> percentDecoded(std::string_view text);

} // namespace nimbara::server
