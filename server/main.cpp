// nimbara-weatherd: Nimbara's weather web service.

#include "Routes.h"
#include "ServiceLog.h"

#include <getopt.h>
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
    std::string cities;
    std::string localeDir = "/usr/share/locale";
    std::string providerUrl = "https://api.open-meteo.com";
    std::string secondProviderUrl = "https://api.met.no";
    std::string contact;
    double upstreamTimeout = 5;
    std::string minVersion = NIMBARA_OLDEST_SUPPORTED_VERSION;
    std::string releases = NIMBARA_RELEASED_VERSIONS;
    unsigned threads = 0;
    bool accessLog = true;
    std::string blacklistAdd;
    std::string blacklistRemove;
};

void printHelp()
{
    std::cout
        << "Usage: nimbara-weatherd [OPTION]...\n"
           "Nimbara's weather service: answers the widget's probe (GET /check/), weather (GET\n"
           "/api/0.5/gate) and feedback (POST /api/0.5/feedback) requests, and serves the product\n"
           "page (GET /).\n"
           "\n"
           "  --listen ADDRESS            address to listen on (default 127.0.0.1)\n"
           "  --port PORT                 port to listen on (default 8470)\n"
           "  --db PATH|URI               where feedback and the machine blacklist live: an SQLite\n"
           "                              file (default $XDG_DATA_HOME/nimbara/weatherd.sqlite) or\n"
           "                              a PostgreSQL database (postgresql://user@host/database,\n"
           "                              shared by the instances of a fleet)\n"
           "  --cities PATH               GeoNames cities table (default: the installed copy in\n"
           "                              share/nimbara, else the build tree's third_party copy)\n"
           "  --locale-dir DIR            where libgeonames-common keeps its catalogs of place\n"
           "                              names (default /usr/share/locale)\n"
           "  --provider-url URL          Open-Meteo base address (default https://api.open-meteo.com)\n"
           "  --second-provider-url URL   MET Norway base address, asked when the first provider\n"
           "                              fails (default https://api.met.no)\n"
           "  --contact TEXT              e-mail or web address for the User-Agent sent upstream\n"
           "                              (MET Norway's terms ask for one)\n"
           "  --upstream-timeout SECONDS  time-out of one upstream request (default 5)\n"
           "  --min-version VERSION       oldest client version served; released versions below it\n"
           "                              get error 0 (default " NIMBARA_OLDEST_SUPPORTED_VERSION ")\n"
           "  --releases LIST             comma-separated released client versions\n"
           "                              (default " NIMBARA_RELEASED_VERSIONS ")\n"
           "  --threads N                 worker threads for upstream and database work; the\n"
           "                              probe and cached answers never wait for them (default "
        << HttpOptions::defaultWorkerThreads()
        << ")\n"
           "  --no-access-log             no log line per request\n"
           "  --blacklist-add FINGERPRINT     put a machine (its 32-digit fingerprint, as the access\n"
           "                                  log shows it) on the blacklist, then exit\n"
           "  --blacklist-remove FINGERPRINT  take a machine off the blacklist, then exit\n"
           "  --help                      show this help and exit\n"
           "  --version                   show the version and exit\n";
}

std::optional<Options> parseOptions(int argc, char **argv)
{
    enum {
        listenOption = 1000,
        portOption,
        dbOption,
        citiesOption,
        localeDirOption,
        providerOption,
        secondProviderOption,
        contactOption,
        timeoutOption,
        minVersionOption,
        releasesOption,
        threadsOption,
        noAccessLogOption,
        blacklistAddOption,
        blacklistRemoveOption,
        helpOption,
        versionOption,
    };
    static const option longOptions[] = {
        {"listen", required_argument, nullptr, listenOption},
        {"port", required_argument, nullptr, portOption},
        {"db", required_argument, nullptr, dbOption},
        {"cities", required_argument, nullptr, citiesOption},
        {"locale-dir", required_argument, nullptr, localeDirOption},
        {"provider-url", required_argument, nullptr, providerOption},
        {"second-provider-url", required_argument, nullptr, secondProviderOption},
        {"contact", required_argument, nullptr, contactOption},
        {"upstream-timeout", required_argument, nullptr, timeoutOption},
        {"min-version", required_argument, nullptr, minVersionOption},
        {"releases", required_argument, nullptr, releasesOption},
        {"threads", required_argument, nullptr, threadsOption},
        {"no-access-log", no_argument, nullptr, noAccessLogOption},
        {"blacklist-add", required_argument, nullptr, blacklistAddOption},
        {"blacklist-remove", required_argument, nullptr, blacklistRemoveOption},
        {"help", no_argument, nullptr, helpOption},
        {"version", no_argument, nullptr, versionOption},
        {nullptr, 0, nullptr, 0},
    };
    auto number = [](const char *text, double low, double high) -> std::optional<double> {
        char *end = nullptr;
        double value = std::strtod(text, &end);
        if (end == text || *end != '\0' || value < low || value > high)
            return std::nullopt;
        return value;
    };

    Options options;
    int option;
    while ((option = getopt_long(argc, argv, "", longOptions, nullptr)) != -1) {
        switch (option) {
        case listenOption:
            options.listen = optarg;
            break;
        case portOption:
            if (auto port = number(optarg, 0, 65535); port && *port == static_cast<int>(*port)) {
                options.port = static_cast<int>(*port);
                break;
            }
            std::cerr << "nimbara-weatherd: invalid port " << optarg << "\n";
            return std::nullopt;
        case dbOption:
            options.db = optarg;
            break;
        case citiesOption:
            options.cities = optarg;
            break;
        case localeDirOption:
            options.localeDir = optarg;
            break;
        case providerOption:
            options.providerUrl = optarg;
            break;
        case secondProviderOption:
            options.secondProviderUrl = optarg;
            break;
        case contactOption:
            options.contact = optarg;
            break;
        case timeoutOption:
            if (auto seconds = number(optarg, 0.05, 120)) {
                options.upstreamTimeout = *seconds;
                break;
            }
            std::cerr << "nimbara-weatherd: invalid upstream time-out " << optarg << "\n";
            return std::nullopt;
        case minVersionOption:
            options.minVersion = optarg;
            break;
        case releasesOption:
            options.releases = optarg;
            break;
        case threadsOption:
            if (auto threads = number(optarg, 1, 100000)) {
                options.threads = static_cast<unsigned>(*threads);
                break;
            }
            std::cerr << "nimbara-weatherd: invalid thread count " << optarg << "\n";
            return std::nullopt;
        case noAccessLogOption:
            options.accessLog = false;
            break;
        case blacklistAddOption:
            options.blacklistAdd = optarg;
            break;
        case blacklistRemoveOption:
            options.blacklistRemove = optarg;
            break;
        case helpOption:
            printHelp();
            std::exit(0);
        case versionOption:
            std::cout << "nimbara-weatherd " NIMBARA_SERVER_VERSION "\n";
            std::exit(0);
        default:
            std::cerr << "Try 'nimbara-weatherd --help' for more information.\n";
            return std::nullopt;
        }
    }
    if (optind < argc) {
        std::cerr << "nimbara-weatherd: unexpected argument " << argv[optind] << "\n";
        return std::nullopt;
    }
    return options;
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

// The cities table installed beside the executable (share/nimbara), else the build tree's copy.
std::string defaultCitiesPath()
{
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        auto installed = executable.parent_path().parent_path() / "share" / "nimbara" / "cities1000.txt";
        if (std::filesystem::exists(installed, error))
            return installed.string();
    }
    return NIMBARA_CITIES_BUILD_PATH;
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
    auto options = parseOptions(argc, argv);
    if (!options)
        return 2;

    // SIGTERM and SIGINT are taken by one thread that stops the server; block them everywhere else
    // before any thread starts.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    if (options->db.empty())
        options->db = defaultDatabasePath();
    std::unique_ptr<Store> store;
    try {
        if (!isPostgresLocation(options->db)) {
            std::error_code ignored;
            std::filesystem::create_directories(std::filesystem::path(options->db).parent_path(), ignored);
        }
        store = openStore(options->db);
    } catch (const std::exception &exception) {
        std::cerr << "nimbara-weatherd: " << exception.what() << "\n";
        return 1;
    }
    if (!options->blacklistAdd.empty() || !options->blacklistRemove.empty()) {
        try {
            int status = 0;
            if (!options->blacklistAdd.empty())
                status = changeBlacklist(*store, options->blacklistAdd, true);
            if (status == 0 && !options->blacklistRemove.empty())
                status = changeBlacklist(*store, options->blacklistRemove, false);
            return status;
        } catch (const std::exception &exception) {
            std::cerr << "nimbara-weatherd: " << exception.what() << "\n";
            return 1;
        }
    }

    if (options->cities.empty())
        options->cities = defaultCitiesPath();
    std::unique_ptr<Geocoder> geocoder;
    try {
        geocoder = std::make_unique<Geocoder>(options->cities);
    } catch (const std::exception &exception) {
        logLine(std::string(exception.what()) + "; place lines show coordinates");
    }
    PlaceNames placeNames(options->localeDir);

    std::string userAgent = "nimbara-weatherd/" NIMBARA_SERVER_VERSION;
    if (!options->contact.empty())
        userAgent += " " + options->contact;
    else
        logLine("no --contact given: MET Norway asks for one in the User-Agent");
    const auto timeout = std::chrono::milliseconds(static_cast<long>(options->upstreamTimeout * 1000));
    std::vector<std::unique_ptr<WeatherProvider>> providers;
    providers.push_back(std::make_unique<OpenMeteoProvider>(options->providerUrl, userAgent, timeout));
    if (!options->secondProviderUrl.empty())
        providers.push_back(
            std::make_unique<MetNorwayProvider>(options->secondProviderUrl, userAgent, timeout));
    FailoverProvider upstream(std::move(providers));
    WeatherCache cache([&](double latitude, double longitude) {
        std::string error;
        return upstream.currentWeather(latitude, longitude, error);
    });
    VersionGate versions(splitList(options->releases), options->minVersion);
    WeatherService service(cache, *store, versions, geocoder.get(), &placeNames);

    HttpOptions httpOptions;
    httpOptions.workerThreads = options->threads;
    HttpServer server(httpOptions);
    addRoutes(server, service, options->accessLog);

    int port = server.bindAndListen(options->listen, options->port);
    if (port < 0) {
        std::cerr << "nimbara-weatherd: cannot listen on " << options->listen << ":" << options->port << "\n";
        return 1;
    }

    std::atomic<bool> stopping{false};
    std::thread signalWaiter([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        stopping = true;
        server.stop();
    });

    logLine("nimbara-weatherd " NIMBARA_SERVER_VERSION " listening on " + options->listen + ":" +
            std::to_string(port) + " (" + std::to_string(server.options().workerThreads) +
            " worker threads, " + std::to_string(geocoder ? geocoder->size() : 0) + " places, database " +
            displayedLocation(options->db) + ")");
    bool ok = true;
    try {
        server.run();
    } catch (const std::exception &exception) {
        logLine(std::string("nimbara-weatherd: ") + exception.what());
        ok = false;
    }
    if (!stopping) // the server ended on its own: wake the signal thread
        pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    logLine(ok ? "nimbara-weatherd stopped" : "nimbara-weatherd: the server failed");
    return ok ? 0 : 1;
}
