#pragma once

#include "Geocoder.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nimbara::server {

// Finds places by the beginning of a name in any language the cities table knows (its own name,
// its ASCII spelling and every alternate name), compared folded (see foldForSearch), over an index
// of all names sorted once at start.
class PlaceSearch
{
public:
    struct Place : server::Place
    {
        std::string country; // ISO 3166-1 alpha-2
        std::string admin1;  // GeoNames' code of the first-order division
    };

    // How well a name matches, best first.
    enum class Match : std::uint8_t {
        wholeName = 0,  // "paris" for Paris
        namePrefix = 1, // "par" for Paris
        wordPrefix = 2, // "york" for New York City
    };

    struct Result
    {
        const Place *place = nullptr;
        Match match = Match::wholeName;
        bool alternateName = false; // matched by a name other than the table's own (ranks after)
    };

    // Throws std::runtime_error when the table cannot be read or holds no place.
    explicit PlaceSearch(const std::string &citiesPath);
    ~PlaceSearch();
    PlaceSearch(const PlaceSearch &) = delete;
    PlaceSearch &operator=(const PlaceSearch &) = delete;

    // Up to limit places whose names begin with the folded text, best match first (then the table's
    // own name before an alternate one) and, for equal matches, the most populous first; each place
    // once.
    std::vector<Result> search(std::string_view foldedText, size_t limit) const;

    size_t size() const { return places.size(); }
    size_t nameCount() const { return entries.size(); }

private:
    enum class Kind : std::uint8_t {
        ownName,       // the table's name or its ASCII spelling
        alternateName, // a name in another language or script, a former name, a code
        laterWord,     // the tail of an own name from a word after its first
    };
    struct Entry
    {
        std::uint32_t offset; // of the folded name in keys
        std::uint32_t place;
        std::uint16_t length;
        Kind kind;
    };
    std::string_view keyOf(const Entry &entry) const
    {
        return std::string_view(keys).substr(entry.offset, entry.length);
    }

    std::vector<Place> places;
    std::string keys;
    std::vector<Entry> entries;
};

} // namespace nimbara::server
