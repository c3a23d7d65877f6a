// nimbara-weatherd: Nimbara's weather web service.

#include "Options.h"
#include "Routes.h"
#include "Wiring.h"
#include "core/ServiceLog.h"
#include "http/Metrics.h"
#include "places/AddressLocator.h"
#include "places/PlaceSearch.h"
#include "places/PlacesService.h"
#include "places/RegionNames.h"
#include "store/PrivateFiles.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

using namespace nimbara::server;

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
    if (auto exitCode = parseOptions(argc, argv, options))
        return *exitCode;

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
    if (!options.blacklistAdd.empty() || !options.blacklistRemove.empty())
        return changeBlacklist(*store, options);

    std::unique_ptr<Geocoder> geocoder;
    try {
        geocoder = std::make_unique<Geocoder>(options.cities);
    } catch (const std::exception &exception) {
        logLine(std::string(exception.what()) + "; place lines show coordinates");
    }
    PlaceNames placeNames(options.localeDir);

    // Without the optional address database the service runs as before and /locate cannot tell.
    std::unique_ptr<AddressLocator> addressLocator;
    try {
        addressLocator = std::make_unique<AddressLocator>(options.ipDb);
    } catch (const std::exception &exception) {
        logLine(std::string(exception.what()) + "; /api/0.5/locate answers error 3");
    }

    auto providers = providersOf(options, geocoder.get());
    const auto providerCount = providers.size();
    FailoverProvider upstream(std::move(providers));
    auto fetch = [&](double latitude, double longitude) {
        std::string error;
        return upstream.currentWeather(latitude, longitude, error);
    };
    std::string ignored;
    const auto redisAddress = RedisAddress::parse(options.cache, ignored);
    auto redis = redisAddress ? std::make_unique<RedisClient>(*redisAddress) : nullptr;
    auto cache = cacheOf(options, redis.get(), fetch, providerCount);
    VersionGate versions(splitList(options.releases), options.minVersion);
    Gate gate(*cache, *store, versions, geocoder.get(), &placeNames, gateLimitsOf(options, redis.get()));
    FeedbackService feedback(*store, feedbackLimitsOf(options, redis.get()));

    // The place search's index takes a second or two to build: the service answers at once, and
    // the search answers error 3 until the index is there.
    RegionNames regionNames("/usr/share/iso-codes/json", options.localeDir);
    PlacesService places(nullptr, {geocoder.get(), &placeNames, &regionNames, addressLocator.get()});

    // The server's workers may be searching until it is gone: the index outlives it.
    std::unique_ptr<PlaceSearch> placeSearch;
    HttpServer server(options.http);
    addRoutes(server, gate, feedback, options.accessLog);
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
    feedback.addMetrics(metrics);
    gate.addMetrics(metrics);
    cache->addMetrics(metrics);
    upstream.addMetrics(metrics);
    metrics.add("nimbara_log_lines_dropped_total",
                "Log lines dropped because the log's reader fell behind or went away.",
                Metrics::Type::counter, [](std::vector<Sample> &samples) {
                    samples.push_back({"", {}, static_cast<double>(droppedLogLines())});
                });
    std::optional<ListenAddress> metricsAddress;
    auto metricsServer = metricsServerOf(options, metrics, metricsAddress);
    if (metricsServer) {
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
