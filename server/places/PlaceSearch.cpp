#include "places/PlaceSearch.h"

#include "places/TextFold.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <tuple>

namespace nimbara::server {

PlaceSearch::PlaceSearch(const std::string &citiesPath)
{
    struct Name
    {
        std::string folded;
        Kind kind;
        std::string_view original;
        bool operator<(const Name &other) const
        {
            return std::tie(folded, kind) < std::tie(other.folded, other.kind);
        }
    };
    std::vector<Name> names;
    readCitiesTable(citiesPath, [&](CityRow &city) {
        const auto index = static_cast<std::uint32_t>(places.size());
        places.push_back({std::move(city.place), std::string(city.country), std::string(city.admin1)});

        names.clear();
        auto add = [&](std::string_view name, Kind kind) {
            if (auto folded = foldForSearch(name);
                folded && !folded->empty() && folded->size() <= std::numeric_limits<std::uint16_t>::max())
                names.push_back({std::move(*folded), kind, name});
        };
        add(places.back().name, Kind::ownName);
        add(city.asciiName, Kind::ownName);
        for (size_t start = 0; start < city.alternateNames.size();) {
            auto comma = city.alternateNames.find(',', start);
            if (comma == std::string_view::npos)
                comma = city.alternateNames.size();
            add(city.alternateNames.substr(start, comma - start), Kind::alternateName);
            start = comma + 1;
        }
        // Later words of the place's own names ("york" in "new york city"); alternate names only as
        // a whole, or the index would grow by half for little.
        const size_t own = std::min<size_t>(names.size(), 2);
        for (size_t i = 0; i < own; ++i) {
            if (names[i].kind != Kind::ownName)
                continue;
            const std::string name = names[i].folded;
            for (size_t space = name.find(' '); space != std::string::npos; space = name.find(' ', space + 1))
                names.push_back({name.substr(space + 1), Kind::laterWord, {}});
        }
        // Each text once per place, as its best kind.
        std::sort(names.begin(), names.end());
        names.erase(std::unique(names.begin(), names.end(),
                                [](const auto &a, const auto &b) { return a.folded == b.folded; }),
                    names.end());
        for (const auto &name : names) {
            std::uint32_t original = noOriginal;
            if (name.kind == Kind::alternateName && originals.size() < noOriginal) {
                original = static_cast<std::uint32_t>(originals.size());
                originals.append(name.original);
                originals += '\0';
            }
            entries.push_back({static_cast<std::uint32_t>(keys.size()), index, original,
                               static_cast<std::uint16_t>(name.folded.size()), name.kind});
            keys.append(name.folded);
        }
    });
    if (places.empty())
        throw std::runtime_error("no places in the cities table " + citiesPath);
    if (keys.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::runtime_error("too many place names in " + citiesPath);

    std::sort(entries.begin(), entries.end(), [this](const Entry &a, const Entry &b) {
        return std::make_tuple(keyOf(a), a.kind, a.place) < std::make_tuple(keyOf(b), b.kind, b.place);
    });
}

PlaceSearch::~PlaceSearch() = default;

std::vector<PlaceSearch::Result> PlaceSearch::search(std::string_view foldedText, size_t limit,
                                                     const ShownNameMatch &shownName) const
{
    std::vector<Result> results;
    if (foldedText.empty() || limit == 0)
        return results;
    auto first =
        std::lower_bound(entries.begin(), entries.end(), foldedText,
                         [this](const Entry &entry, std::string_view text) { return keyOf(entry) < text; });

    // The best places so far, best first: direct matches first, then by size as the match weighs
    // it, then by table order so that equal places always come in the same order.
    const auto weight = [](const Place &place, Match match) {
        // A part of a town (a Berlin district) after every town: its weather is the town's, and
        // the town is what people look for.
        const std::uint32_t population = place.section ? 0 : place.population;
        const int bonus = match == Match::wholeName ? 200 : match == Match::namePrefix ? 0 : -100;
        return static_cast<int>(std::lround(std::log10(population + 1.0) * 100)) + bonus;
    };
    const auto rank = [&](const Result &result) {
        return std::make_tuple(result.alternateName, -weight(*result.place, result.match), result.place);
    };
    results.reserve(limit + 1);
    for (auto it = first; it != entries.end(); ++it) {
        const auto key = keyOf(*it);
        if (!key.starts_with(foldedText))
            break;
        const Match match = it->kind == Kind::laterWord       ? Match::wordPrefix
                            : key.size() == foldedText.size() ? Match::wholeName
                                                              : Match::namePrefix;
        Result candidate{&places[it->place], match, it->kind == Kind::alternateName};
        // Nothing it could be makes the list: no need to ask for the shown name.
        const Result best{candidate.place, Match::wholeName, false};
        if (results.size() == limit && rank(best) >= rank(results.back()))
            continue;
        if (candidate.alternateName) {
            if (const auto shown = shownName ? shownName(*candidate.place) : std::nullopt) {
                candidate.match = *shown;
                candidate.alternateName = false;
            } else if (it->original != noOriginal) {
                candidate.matchedName = std::string_view(originals.data() + it->original);
            }
        }
        if (results.size() == limit && rank(candidate) >= rank(results.back()))
            continue;
        auto same = std::find_if(results.begin(), results.end(),
                                 [&](const Result &result) { return result.place == candidate.place; });
        if (same != results.end()) {
            if (rank(candidate) >= rank(*same))
                continue;
            results.erase(same);
        }
        auto at = std::upper_bound(results.begin(), results.end(), candidate,
                                   [&](const Result &a, const Result &b) { return rank(a) < rank(b); });
        results.insert(at, candidate);
        if (results.size() > limit)
            results.pop_back();
    }
    return results;
}

} // namespace nimbara::server
