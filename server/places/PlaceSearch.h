#pragma once

#include "places/Geocoder.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
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
        bool alternateName = false;     // matched by a name other than the shown one (ranks after)
        std::string_view matchedName{}; // that name as the table writes it
    };

    // How the name a place is shown by (in the asker's language) matches the text, if it does: a
    // match by it counts as one by the place's own name.
    using ShownNameMatch = std::function<std::optional<Match>(const Place &)>;

    // Throws std::runtime_error when the table cannot be read or holds no place.
    explicit PlaceSearch(const std::string &citiesPath);
    ~PlaceSearch();
    PlaceSearch(const PlaceSearch &) = delete;
    PlaceSearch &operator=(const PlaceSearch &) = delete;

    // Up to limit places whose names begin with the folded text, each place once: those matched by
    // their own (or shown) name before those matched only by another, and among them the larger
    // place first, a match of the whole name counting as a hundred times the people, a later word
    // as a tenth; parts of towns last.
    std::vector<Result> search(std::string_view foldedText, size_t limit,
                               const ShownNameMatch &shownName = {}) const;

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
        std::uint32_t original; // of an alternate name as written, in originals; noOriginal for others
        std::uint16_t length;
        Kind kind;
    };
    static constexpr std::uint32_t noOriginal = std::numeric_limits<std::uint32_t>::max();
    std::string_view keyOf(const Entry &entry) const
    {
        return std::string_view(keys).substr(entry.offset, entry.length);
    }

    std::vector<Place> places;
    std::string keys;
    std::string originals; // alternate names as written, each ended by a NUL
    std::vector<Entry> entries;
};

} // namespace nimbara::server
