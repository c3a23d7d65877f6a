#pragma once

#include "places/GettextCatalog.h"

#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

namespace nimbara::server {

// Names of countries (ISO 3166-1) and of their first-order divisions (ISO 3166-2) from Debian's
// iso-codes, in other languages from its gettext catalogs (<localeDir>/<lang>/LC_MESSAGES/
// iso_3166-1.mo and iso_3166-2.mo, msgid = the English name). Catalogs load on first use.
class RegionNames
{
public:
    // isoCodesDir holds iso_3166-1.json and iso_3166-2.json; a missing or unreadable one leaves its
    // names empty.
    RegionNames(const std::string &isoCodesDir, std::string localeDir);
    ~RegionNames();
    RegionNames(const RegionNames &) = delete;
    RegionNames &operator=(const RegionNames &) = delete;

    // The country of a two-letter code, or an empty text.
    std::string country(std::string_view countryCode, std::string_view languageTag) const;
    // The first-order division of a place in the countries where GeoNames' code for it is its ISO
    // code (US states, Swiss cantons, the nations of the United Kingdom, Belgian regions,
    // Montenegrin municipalities), or an empty text.
    std::string region(std::string_view countryCode, std::string_view admin1,
                       std::string_view languageTag) const;

    size_t countryCount() const { return countries.size(); }

private:
    using Catalog = std::unordered_map<std::string, std::string>;
    std::string translated(const std::string &english, const char *domain,
                           std::string_view languageTag) const;
    std::shared_ptr<const Catalog> catalog(const std::string &path) const;

    std::string localeDir;
    std::unordered_map<std::string, std::string> countries; // "DE" → "Germany"
    std::unordered_map<std::string, std::string> regions;   // "US-TX" → "Texas"
    std::set<std::string, std::less<>> available;           // catalog paths that exist
    LoadedOnce<Catalog> loaded;
};

} // namespace nimbara::server
