#include "PlaceSearch.h"

#include "places/TextFold.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <tuple>

namespace nimbara::server {

PlaceSearch::PlaceSearch(const std::string &citiesPath)
{
    std::vector<std::pair<std::string, Kind>> names;
    readCitiesTable(citiesPath, [&](CityRow &city) {
        const auto index = static_cast<std::uint32_t>(places.size());
        places.push_back({std::move(city.place), std::string(city.country), std::string(city.admin1)});

        names.clear();
        auto add = [&](std::string_view name, Kind kind) {
            if (auto folded = foldForSearch(name);
                folded && !folded->empty() && folded->size() <= std::numeric_limits<std::uint16_t>::max())
                names.emplace_back(std::move(*folded), kind);
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
            if (names[i].second != Kind::ownName)
                continue;
            const std::string name = names[i].first;
            for (size_t space = name.find(' '); space != std::string::npos; space = name.find(' ', space + 1))
                names.emplace_back(name.substr(space + 1), Kind::laterWord);
        }
        // Each text once per place, as its best kind.
        std::sort(names.begin(), names.end());
        names.erase(std::unique(names.begin(), names.end(),
                                [](const auto &a, const auto &b) { return a.first == b.first; }),
                    names.end());
        for (const auto &[name, kind] : names) {
            entries.push_back({static_cast<std::uint32_t>(keys.size()), index,
                               static_cast<std::uint16_t>(name.size()), kind});
            keys.append(name);
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

std::vector<PlaceSearch::Result> PlaceSearch::search(std::string_view foldedText, size_t limit) const
{
    std::vector<Result> results;
    if (foldedText.empty() || limit == 0)
        return results;
    auto first =
        std::lower_bound(entries.begin(), entries.end(), foldedText,
                         [this](const Entry &entry, std::string_view text) { return keyOf(entry) < text; });

    // The best places so far, best first: rank by match, then by population, then by table order
    // so that equal places always come in the same order.
    auto rank = [](const Result &result) {
        // A part of a town (a Berlin district) after every town of the same match: its weather is
        // the town's, and the town is what people look for.
        const std::uint32_t population = result.place->section ? 0 : result.place->population;
        return std::make_tuple(result.match, result.alternateName,
                               std::numeric_limits<std::uint32_t>::max() - population, result.place);
    };
    results.reserve(limit + 1);
    for (auto it = first; it != entries.end(); ++it) {
        const auto key = keyOf(*it);
        if (!key.starts_with(foldedText))
            break;
        const Match match = it->kind == Kind::laterWord       ? Match::wordPrefix
                            : key.size() == foldedText.size() ? Match::wholeName
                                                              : Match::namePrefix;
        const Result candidate{&places[it->place], match, it->kind == Kind::alternateName};
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
