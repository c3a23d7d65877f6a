#pragma once

#include "http/HttpServer.h"

#include <cstdint>
#include <optional>
#include <string>

namespace nimbara::server {

// What the command line sets, with the defaults of a service run by hand.
struct Options
{
    std::string listen = "127.0.0.1";
    int port = 8470;
    std::string db;
    std::string cache;
    std::string trustedProxies;
    std::string metricsListen;
    std::string cities;
    std::string localeDir = "/usr/share/locale";
    std::string ipDb;
    std::string providerUrl = "https://api.open-meteo.com";
    std::string secondProviderUrl = "https://api.met.no";
    std::string contact;
    double upstreamTimeout = 5;
    double drainTimeout = 10;
    std::string minVersion = NIMBARA_OLDEST_SUPPORTED_VERSION;
    std::string releases = NIMBARA_RELEASED_VERSIONS;
    HttpOptions http;
    size_t feedbackPerClient = 10;
    size_t feedbackPerMachine = 10;
    size_t feedbackBurst = 3;
    std::uint64_t feedbackMaxBytes = std::uint64_t(1) << 30;
    size_t newCellsPerClient = 30;
    size_t upstreamCalls = 600;
    bool accessLog = true;
    std::string blacklistAdd;
    std::string blacklistRemove;
};

// Fills the options from the command line, with the data files' defaults; an exit code when the
// program should end at once (0 after --help or --version, 2 for a bad option, with a message naming it).
std::optional<int> parseOptions(int argc, char **argv, Options &options);

// Where the database lives without --db: $XDG_DATA_HOME/nimbara/weatherd.sqlite.
std::string defaultDatabasePath();

} // namespace nimbara::server
