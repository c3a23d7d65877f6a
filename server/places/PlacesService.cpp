#include "places/PlacesService.h"

#include "core/RawParams.h"
#include "places/AddressLocator.h"
#include "places/PlaceSearch.h"
#include "places/RegionNames.h"
#include "places/TextFold.h"

#include <nlohmann/json.hpp>

namespace nimbara::server {

namespace {

const std::vector<std::string_view> placesKeys{"q", "v4"};

// Rows of the same name closer than this are one place twice.
constexpr double samePlaceKm = 20;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

nlohmann::ordered_json placeEntry(std::string name, std::string region, std::string country, double latitude,
                                  double longitude)
{
    return {
        {"name", std::move(name)},
        {"region", std::move(region)},
        {"country", std::move(country)},
        {"lat", latitude},
        {"lon", longitude},
    };
}

std::string dump(const nlohmann::ordered_json &value)
{
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace

std::optional<std::string> percentDecoded(std::string_view text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            decoded += ' ';
        } else if (text[i] == '%') {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int high = hexDigit(text[i + 1]);
            const int low = hexDigit(text[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

PlacesService::PlacesService(const PlaceSearch *search, const PlaceSources &sources)
    : search(search)
    , sources(sources)
{}

void PlacesService::setSearch(const PlaceSearch *newSearch)
{
    search = newSearch;
}

Reply PlacesService::places(std::string_view query) const
{
    const Params params = parsePairs(query, placesKeys);
    const auto text = percentDecoded(valueOf(params, "q"));
    if (!text)
        return errorReply(400, GateError::malformedRequest);
    // The longest text is counted as typed, before folding costs anything; the shortest as searched,
    // after it: "a" and a combining accent are one letter, which would match a vast part of the index.
    if (characterCount(*text) > maxQueryCharacters)
        return errorReply(400, GateError::malformedRequest);
    const auto folded = foldForSearch(*text);
    if (!folded || characterCount(*folded) < minQueryCharacters)
        return errorReply(400, GateError::malformedRequest);

    const PlaceSearch *index = search;
    if (!index)
        return errorReply(503, GateError::upstreamFailed);
    const std::string language = valueOf(params, "v4");
    // A place is shown by its name in the asker's language: a match by that name is a direct one.
    const PlaceSearch::ShownNameMatch shownName =
        [&](const PlaceSearch::Place &place) -> std::optional<PlaceSearch::Match> {
        const auto shown = foldForSearch(localizedName(place, language));
        if (!shown || !shown->starts_with(*folded))
            return std::nullopt;
        return shown->size() == folded->size() ? PlaceSearch::Match::wholeName
                                               : PlaceSearch::Match::namePrefix;
    };
    struct Row
    {
        const PlaceSearch::Place *place;
        std::string name;
        std::string region;
        std::string country;
        std::string matched;
        std::string reading; // region as it would read, before places apart are told apart
    };
    std::vector<Row> rows;
    // A few more than shown, as rows of the same place twice are left out.
    for (const auto &result : index->search(*folded, maxResults + maxResults / 2, shownName)) {
        const auto &place = *result.place;
        Row row{&place,
                localizedName(place, language),
                sources.regionNames ? sources.regionNames->region(place.country, place.admin1, language)
                                    : std::string(),
                countryName(place.country, language),
                std::string(result.matchedName),
                std::string()};
        row.reading = row.region;
        if (foldForSearch(row.matched) == foldForSearch(row.name))
            row.matched.clear();
        // Rows that would read the same: one place twice (GeoNames has a town and its seat, or a
        // village entered twice) is shown once; places apart are told apart by where they are.
        bool shownAlready = false;
        for (Row &earlier : rows) {
            if (earlier.name != row.name || earlier.reading != row.reading || earlier.country != row.country)
                continue;
            if (Geocoder::distanceKm(earlier.place->latitude, earlier.place->longitude, place.latitude,
                                     place.longitude) < samePlaceKm) {
                shownAlready = true;
                break;
            }
            for (Row *apart : {&earlier, &row})
                apart->region = coordinateText(apart->place->latitude, apart->place->longitude);
        }
        if (!shownAlready && rows.size() < maxResults)
            rows.push_back(std::move(row));
    }
    auto found = nlohmann::ordered_json::array();
    for (Row &row : rows) {
        auto entry = placeEntry(std::move(row.name), std::move(row.region), std::move(row.country),
                                row.place->latitude, row.place->longitude);
        if (!row.matched.empty())
            entry["matched"] = std::move(row.matched);
        found.push_back(std::move(entry));
    }
    nlohmann::ordered_json envelope{{"status", "ok"}, {"data", {{"places", std::move(found)}}}};
    return {200, dump(envelope)};
}

Reply PlacesService::locate(std::string_view query, std::string_view clientAddress) const
{
    const auto *locator = sources.addressLocator;
    const auto location = locator ? locator->locate(clientAddress) : std::nullopt;
    if (!location)
        return errorReply(200, GateError::upstreamFailed);

    const std::string language = valueOf(parsePairs(query, placesKeys), "v4");
    // The name the place line would give the position, in the user's language; the database's
    // own (English, sometimes a district) only far from any town in the table.
    std::string name;
    if (const Place *place =
            sources.geocoder ? sources.geocoder->placeAt(location->latitude, location->longitude) : nullptr)
        name = localizedName(*place, language);
    if (name.empty())
        name =
            location->city.empty() ? coordinateText(location->latitude, location->longitude) : location->city;
    nlohmann::ordered_json data =
        placeEntry(std::move(name), location->region, countryName(location->countryCode, language),
                   location->latitude, location->longitude);
    nlohmann::ordered_json envelope{{"status", "ok"}, {"data", std::move(data)}};
    return {200, dump(envelope)};
}

std::string PlacesService::localizedName(const Place &place, std::string_view language) const
{
    if (sources.placeNames) {
        if (auto name = sources.placeNames->localizedName(place.geonameId, language); !name.empty())
            return name;
    }
    return place.name;
}

std::string PlacesService::countryName(std::string_view code, std::string_view language) const
{
    auto name = sources.regionNames ? sources.regionNames->country(code, language) : std::string();
    return name.empty() ? std::string(code) : name;
}

} // namespace nimbara::server
