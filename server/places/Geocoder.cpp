#include "places/Geocoder.h"

#include <nanoflann.hpp>

#include <array>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace nimbara::server {

namespace {

constexpr double earthRadiusKm = 6371.0088;
constexpr std::uint32_t largePopulation = 50000;
constexpr size_t neighbours = 16;
// The squared straight-line distance through the unit sphere of two points 50 km apart.
const double maxChordSquared = std::pow(2 * std::sin(Geocoder::maxDistanceKm / earthRadiusKm / 2), 2);

// How far from its point a place's area reaches: about 16 km for London, 6 km for a city of a
// million, 2 km for 100,000 people.
double reachKm(std::uint32_t population)
{
    return 0.006 * std::sqrt(static_cast<double>(population));
}

std::array<double, 3> unitVector(double latitude, double longitude)
{
    const double lat = latitude * std::numbers::pi / 180;
    const double lon = longitude * std::numbers::pi / 180;
    return {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
}

double chordToKm(double chordSquared)
{
    return 2 * std::asin(std::min(1.0, std::sqrt(chordSquared) / 2)) * earthRadiusKm;
}

std::vector<std::string_view> splitTabs(std::string_view line)
{
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (true) {
        auto tab = line.find('\t', start);
        fields.push_back(
            line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos)
            return fields;
        start = tab + 1;
    }
}

template <typename Number>
bool parseNumber(std::string_view text, Number &value)
{
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

struct PointCloud
{
    std::vector<std::array<double, 3>> points;
    size_t kdtree_get_point_count() const { return points.size(); }
    double kdtree_get_pt(size_t index, size_t dimension) const { return points[index][dimension]; }
    template <class BoundingBox>
    bool kdtree_get_bbox(BoundingBox &) const
    {
        return false;
    }
};

using KdTree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, PointCloud>,
                                                   PointCloud, 3, std::uint32_t>;

} // namespace

struct Geocoder::Tree
{
    PointCloud cloud;
    std::vector<std::uint32_t> placeIndex;
    std::unique_ptr<KdTree> index;

    void add(std::uint32_t place, const Place &where)
    {
        cloud.points.push_back(unitVector(where.latitude, where.longitude));
        placeIndex.push_back(place);
    }

    void build()
    {
        if (!cloud.points.empty())
            index = std::make_unique<KdTree>(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10));
    }

    size_t nearest(const std::array<double, 3> &query, std::uint32_t *indices, double *distances) const
    {
        if (!index)
            return 0;
        // Nothing beyond 50 km counts: bounding the search keeps queries far out at sea as cheap as
        // those in a town.
        nanoflann::KNNResultSet<double, std::uint32_t> result(neighbours);
        result.init(indices, distances);
        distances[neighbours - 1] = maxChordSquared;
        index->findNeighbors(result, query.data(), nanoflann::SearchParams());
        size_t found = result.size();
        for (size_t i = 0; i < found; ++i)
            indices[i] = placeIndex[indices[i]];
        return found;
    }
};

void readCitiesTable(const std::string &citiesPath, const std::function<void(CityRow &)> &row)
{
    std::ifstream file(citiesPath, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot read the cities table " + citiesPath);
    std::stringstream buffer;
    buffer << file.rdbuf();
    const std::string text = buffer.str();

    std::string_view rest(text);
    while (!rest.empty()) {
        auto newline = rest.find('\n');
        auto line = rest.substr(0, newline);
        rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
        auto fields = splitTabs(line);
        if (fields.size() < 15)
            continue;
        const auto code = fields[7];
        // Historical, abandoned and destroyed places are nobody's current address.
        if (code == "PPLH" || code == "PPLQ" || code == "PPLW" || code == "PPLCH")
            continue;
        CityRow city;
        Place &place = city.place;
        if (!parseNumber(fields[0], place.geonameId) || !parseNumber(fields[4], place.latitude) ||
            !parseNumber(fields[5], place.longitude) || fields[1].empty())
            continue;
        if (!parseNumber(fields[14], place.population))
            place.population = 0;
        place.name = fields[1];
        place.capital = code == "PPLC";
        place.section = code == "PPLX";
        city.asciiName = fields[2];
        city.alternateNames = fields[3];
        city.country = fields[8];
        city.admin1 = fields[10];
        if (fields.size() > 17)
            city.timeZone = fields[17];
        row(city);
    }
}

Geocoder::Geocoder(const std::string &citiesPath)
    : allPlaces(std::make_unique<Tree>())
    , largePlaces(std::make_unique<Tree>())
{
    readCitiesTable(citiesPath, [this](CityRow &city) {
        if (!city.timeZone.empty())
            city.place.timeZone = *timeZones.emplace(city.timeZone).first;
        places.push_back(std::move(city.place));
    });
    if (places.empty())
        throw std::runtime_error("no places in the cities table " + citiesPath);

    for (std::uint32_t i = 0; i < places.size(); ++i) {
        allPlaces->add(i, places[i]);
        if (places[i].population >= largePopulation && !places[i].section)
            largePlaces->add(i, places[i]);
    }
    allPlaces->build();
    largePlaces->build();
}

Geocoder::~Geocoder() = default;

const Place *Geocoder::placeAt(double latitude, double longitude) const
{
    const auto query = unitVector(latitude, longitude);
    std::array<std::uint32_t, 2 * neighbours> indices{};
    std::array<double, 2 * neighbours> distances{};
    size_t found = allPlaces->nearest(query, indices.data(), distances.data());
    found += largePlaces->nearest(query, indices.data() + found, distances.data() + found);

    const Place *nearest = nullptr;
    double nearestKm = maxDistanceKm;
    const Place *reaching = nullptr;
    double reachingKm = 0;
    for (size_t i = 0; i < found; ++i) {
        const Place &place = places[indices[i]];
        const double km = chordToKm(distances[i]);
        if (km > maxDistanceKm)
            continue;
        if (km <= nearestKm) {
            nearest = &place;
            nearestKm = km;
        }
        if (place.section || km > reachKm(place.population))
            continue;
        auto rank = [](const Place &p, double distance) {
            return std::make_tuple(p.capital, p.population, -distance);
        };
        if (!reaching || rank(place, km) > rank(*reaching, reachingKm)) {
            reaching = &place;
            reachingKm = km;
        }
    }
    return reaching ? reaching : nearest;
}

double Geocoder::distanceKm(double latitude1, double longitude1, double latitude2, double longitude2)
{
    const auto a = unitVector(latitude1, longitude1);
    const auto b = unitVector(latitude2, longitude2);
    double chordSquared = 0;
    for (size_t i = 0; i < 3; ++i)
        chordSquared += (a[i] - b[i]) * (a[i] - b[i]);
    return chordToKm(chordSquared);
}

namespace {

std::unordered_map<std::uint32_t, std::string> readCatalog(const std::filesystem::path &path)
{
    std::unordered_map<std::uint32_t, std::string> names;
    readGettextCatalog(path, [&](std::string_view original, std::string_view translation) {
        std::uint32_t id = 0;
        if (parseNumber(original, id))
            names.emplace(id, std::string(translation));
    });
    return names;
}

} // namespace

PlaceNames::PlaceNames(std::string localeDir)
    : localeDir(std::move(localeDir))
{
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(this->localeDir, error)) {
        if (std::filesystem::exists(entry.path() / "LC_MESSAGES" / "geonames.mo", error))
            available.insert(entry.path().filename().string());
    }
}

std::vector<std::string> PlaceNames::catalogCandidates(std::string_view languageTag)
{
    // "de-DE", "de_DE.UTF-8", "zh-Hant-TW", "sr@latin": language, script, region; the rest is noise.
    languageTag = languageTag.substr(0, languageTag.find_first_of(".@"));
    std::vector<std::string> subtags;
    size_t start = 0;
    while (start <= languageTag.size()) {
        auto end = languageTag.find_first_of("-_", start);
        subtags.emplace_back(languageTag.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    for (const auto &subtag : subtags) {
        for (char c : subtag) {
            if (!std::isalnum(static_cast<unsigned char>(c)))
                return {};
        }
    }
    if (subtags.empty() || subtags[0].size() < 2 || subtags[0].size() > 3)
        return {};

    std::string language = subtags[0];
    for (auto &c : language)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string script;
    std::string region;
    for (size_t i = 1; i < subtags.size(); ++i) {
        if (subtags[i].size() == 4 && script.empty()) {
            script = subtags[i];
            for (auto &c : script)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else if ((subtags[i].size() == 2 || subtags[i].size() == 3) && region.empty()) {
            region = subtags[i];
            for (auto &c : region)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }

    std::vector<std::string> candidates;
    if (!region.empty())
        candidates.push_back(language + "_" + region);
    if (language == "zh" && script == "hant")
        candidates.emplace_back("zh_TW");
    if (language == "zh" && script == "hans")
        candidates.emplace_back("zh_CN");
    candidates.push_back(language);
    if (language == "no")
        candidates.emplace_back("nb");
    return candidates;
}

std::shared_ptr<const PlaceNames::Catalog> PlaceNames::catalog(const std::string &language) const
{
    return loaded.get(language, [this, &language] {
        return readCatalog(std::filesystem::path(localeDir) / language / "LC_MESSAGES" / "geonames.mo");
    });
}

std::string PlaceNames::localizedName(std::uint32_t geonameId, std::string_view languageTag) const
{
    for (const auto &language : catalogCandidates(languageTag)) {
        if (!available.contains(language))
            continue;
        auto names = catalog(language);
        if (auto it = names->find(geonameId); it != names->end())
            return it->second;
    }
    return {};
}

std::string coordinateText(double latitude, double longitude)
{
    auto part = [](double value, char positive, char negative) {
        char buffer[32];
        double rounded = std::round(std::fabs(value) * 100) / 100;
        auto [end, error] =
            std::to_chars(buffer, buffer + sizeof buffer, rounded, std::chars_format::fixed, 2);
        (void)error;
        std::string text(buffer, end);
        text += "\u00b0";
        text += value < 0 && rounded != 0 ? negative : positive;
        return text;
    };
    return part(latitude, 'N', 'S') + " " + part(longitude, 'E', 'W');
}

} // namespace nimbara::server
