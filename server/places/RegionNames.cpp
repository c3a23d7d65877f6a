#include "places/RegionNames.h"

#include "places/Geocoder.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

namespace nimbara::server {

namespace {

nlohmann::json readJson(const std::filesystem::path &path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return {};
    return nlohmann::json::parse(file, nullptr, false);
}

std::string textOf(const nlohmann::json &entry, const char *key)
{
    auto it = entry.find(key);
    return it != entry.end() && it->is_string() ? it->get<std::string>() : std::string();
}

} // namespace

RegionNames::RegionNames(const std::string &isoCodesDir, std::string localeDir)
    : localeDir(std::move(localeDir))
{
    const auto countryList = readJson(std::filesystem::path(isoCodesDir) / "iso_3166-1.json");
    if (auto list = countryList.find("3166-1"); list != countryList.end() && list->is_array()) {
        for (const auto &entry : *list) {
            // The short name people use ("Taiwan", "Bolivia") where the standard's differs.
            auto name = textOf(entry, "common_name");
            if (name.empty())
                name = textOf(entry, "name");
            if (auto code = textOf(entry, "alpha_2"); !code.empty() && !name.empty())
                countries.emplace(std::move(code), std::move(name));
        }
    }
    const auto divisionList = readJson(std::filesystem::path(isoCodesDir) / "iso_3166-2.json");
    if (auto list = divisionList.find("3166-2"); list != divisionList.end() && list->is_array()) {
        for (const auto &entry : *list) {
            // Only first-order divisions: a code with a parent is a county or a district.
            if (entry.contains("parent"))
                continue;
            auto code = textOf(entry, "code");
            auto name = textOf(entry, "name");
            if (!code.empty() && !name.empty())
                regions.emplace(std::move(code), std::move(name));
        }
    }

    // Only catalogs that exist are ever looked up, so that a client's made-up language tags cannot
    // fill the memory with empty ones.
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(this->localeDir, error)) {
        for (const char *domain : {"iso_3166-1", "iso_3166-2"}) {
            auto path = entry.path() / "LC_MESSAGES" / (std::string(domain) + ".mo");
            if (std::filesystem::exists(path, error))
                available.insert(path.string());
        }
    }
}

RegionNames::~RegionNames() = default;

std::string RegionNames::country(std::string_view countryCode, std::string_view languageTag) const
{
    auto it = countries.find(std::string(countryCode));
    return it == countries.end() ? std::string() : translated(it->second, "iso_3166-1", languageTag);
}

std::string RegionNames::region(std::string_view countryCode, std::string_view admin1,
                                std::string_view languageTag) const
{
    // Elsewhere GeoNames numbers divisions in a scheme of its own, and a number that is also an
    // ISO code names another division (Tokyo's 40 is ISO's Fukuoka).
    static const std::set<std::string_view> isoCoded{"BE", "CH", "GB", "ME", "US"};
    if (!isoCoded.contains(countryCode) || admin1.empty())
        return {};
    std::string code(countryCode);
    code += '-';
    code += admin1;
    auto it = regions.find(code);
    return it == regions.end() ? std::string() : translated(it->second, "iso_3166-2", languageTag);
}

std::string RegionNames::translated(const std::string &english, const char *domain,
                                    std::string_view languageTag) const
{
    for (const auto &language : PlaceNames::catalogCandidates(languageTag)) {
        const auto path =
            (std::filesystem::path(localeDir) / language / "LC_MESSAGES" / (std::string(domain) + ".mo"))
                .string();
        if (!available.contains(path))
            continue;
        auto names = catalog(path);
        if (auto it = names->find(english); it != names->end())
            return it->second;
    }
    return english;
}

std::shared_ptr<const RegionNames::Catalog> RegionNames::catalog(const std::string &path) const
{
    return loaded.get(path, [&path] {
        Catalog names;
        readGettextCatalog(path, [&](std::string_view original, std::string_view translation) {
            names.emplace(original, translation);
        });
        return names;
    });
}

} // namespace nimbara::server
