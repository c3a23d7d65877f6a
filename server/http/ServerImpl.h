#pragma once

// The server's state behind HttpServer, shared by the files of the transport: the session, the loops
// and accepting, the drain, the caps. Private to http/.

// Boost 1.74's Asio uses std::exchange without including <utility> under C++20.
#include <utility>

#include "http/HttpServer.h"
#include "http/Metrics.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace nimbara::server {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using SteadyClock = std::chrono::steady_clock;

struct Route
{
    http::verb method;
    Runs runs = Runs::onLoop;
    QuickHandler quick;
    Handler handler;
};

// What the requests of one route came to: a count per status, and their latency.
struct RouteStats
{
    static constexpr int lowestStatus = 100;
    std::array<Counter, 500> byStatus; // 100 to 599
    Histogram latency{Histogram::latencyBounds()};

    void record(int status, SteadyClock::duration elapsed)
    {
        if (status >= lowestStatus && status < lowestStatus + int(byStatus.size()))
            byStatus[static_cast<size_t>(status - lowestStatus)].add();
        latency.observe(elapsed);
    }
};

// The methods of one path, and its statistics.
struct PathRoutes
{
    std::vector<Route> methods;
    std::unique_ptr<RouteStats> stats = std::make_unique<RouteStats>();
};

inline std::string_view view(beast::string_view text)
{
    return {text.data(), text.size()};
}

inline std::string_view reasonOf(int status)
{
    return view(http::obsolete_reason(static_cast<http::status>(status)));
}

struct HttpServer::Impl
{
    explicit Impl(HttpOptions options)
        : options(withDefaults(options))
    {}

    static HttpOptions withDefaults(HttpOptions options)
    {
        if (options.loopThreads == 0)
            options.loopThreads = std::max(1u, std::thread::hardware_concurrency());
        if (options.workerThreads == 0)
            options.workerThreads = HttpOptions::defaultWorkerThreads();
        if (options.storeThreads == 0)
            options.storeThreads = 1;
        if (options.computeThreads == 0)
            options.computeThreads = std::max(1u, std::thread::hardware_concurrency());
        return options;
    }

    // The caps on connections, in all and per client (Caps.cpp).
    std::optional<std::string> countedAs(const std::string &address) const;
    bool admit(const std::string &address);
    void release(const std::string &address);
    static size_t descriptorCap(const HttpOptions &options);

    // A session as the drain sees it: one that waits for a request's first byte can be closed.
    struct Connection
    {
        virtual ~Connection() = default;
        virtual void closeWhenIdle() = 0;
    };
    void enter(Connection *connection, std::weak_ptr<Connection> handle)
    {
        std::lock_guard lock(clientsMutex);
        open.emplace(connection, std::move(handle));
    }
    void leave(Connection *connection)
    {
        std::lock_guard lock(clientsMutex);
        open.erase(connection);
    }
    void drain();

    const PathRoutes *routesFor(std::string_view path) const
    {
        auto it = routes.find(std::string(path));
        return it == routes.end() ? nullptr : &it->second;
    }

    // A loop of one thread: a connection's steps run on it in order, with no hand-off between
    // threads, which would cost more than most answers.
    struct Loop
    {
        net::io_context context{1};
        // A request may wait for a worker with nothing else pending here: serve until the drain.
        net::executor_work_guard<net::io_context::executor_type> serving{context.get_executor()};
    };
    // A front loop has its own copy of the listening socket: a new connection is accepted and has
    // its first request answered on the thread that took it.
    struct FrontLoop : Loop
    {
        tcp::acceptor acceptor{context};
        tcp::endpoint peer;
        net::steady_timer acceptPause{context};
    };
    template <typename Kind>
    static std::vector<std::unique_ptr<Kind>> makeLoops(unsigned count)
    {
        std::vector<std::unique_ptr<Kind>> loops(count);
        for (auto &loop : loops)
            loop = std::make_unique<Kind>();
        return loops;
    }
    template <typename Function>
    void forEachLoop(Function &&function)
    {
        for (auto &loop : fronts)
            function(*loop);
        for (auto &loop : busy)
            function(*loop);
    }
    // Kept-alive connections are spread over the busy loops in turn.
    net::io_context &nextBusyLoop() { return busy[nextBusy++ % busy.size()]->context; }
    void accept(FrontLoop &front);
    // Serves a new connection from its first byte (Session.cpp).
    void startSession(tcp::socket socket, std::string peer);
    // Every answered request, and every malformed one, ends here: stats is its route's, or none.
    void log(const Request &request, const Reply &reply, SteadyClock::duration elapsed, RouteStats *stats)
    {
        (stats ? *stats : unrouted).record(reply.status, elapsed);
        if (accessLog)
            accessLog(request, reply, elapsed);
    }

    HttpOptions options;
    size_t connectionCap = 0;
    std::unordered_map<std::string, PathRoutes> routes;
    RouteStats unrouted;
    Counter connectionsRefused;
    Counter workRefused;
    std::function<Reply(int)> errorReply = [](int status) {
        return Reply{status, std::string(reasonOf(status)) + "\n", "text/plain"};
    };
    std::function<void(const Request &, const Reply &, SteadyClock::duration)> accessLog;
    std::function<std::string(const Request &)> clientAddressResolver;
    std::optional<TrustedProxies> trustedProxies;

    std::atomic<bool> running{false};
    std::atomic<bool> draining{false};
    // Set once the loops are told to stop: sessions then end as their loops are torn down.
    std::atomic<bool> loopsStopped{false};
    void stopLoops()
    {
        loopsStopped = true;
        forEachLoop([](Loop &loop) { loop.context.stop(); });
    }
    mutable std::mutex clientsMutex;
    size_t connections = 0;
    std::unordered_map<std::string, size_t> perClient;
    std::unordered_map<Connection *, std::weak_ptr<Connection>> open;

    // Sessions refer to what is above, so these go first.
    // Kept-alive connections live on the busy loops. A new connection is accepted and has its first
    // request answered on a front loop, whose queue holds only the new ones: with a thousand busy
    // connections, a new client would otherwise wait for a turn among all of them, twice.
    std::vector<std::unique_ptr<FrontLoop>> fronts = makeLoops<FrontLoop>(options.loopThreads);
    std::vector<std::unique_ptr<Loop>> busy = makeLoops<Loop>(options.loopThreads);
    std::atomic<size_t> nextBusy{0};
    // The drain runs on the first front loop's thread.
    net::io_context &control = fronts.front()->context;
    net::steady_timer drainTime{control};
    // Workers of one kind, and the work queued or running on them.
    struct Pool
    {
        unsigned threads = 0;
        std::unique_ptr<net::thread_pool> workers;
        std::atomic<size_t> inFlight{0};
    };
    Pool &poolFor(Runs runs) { return pools[static_cast<size_t>(runs) - 1]; }
    // Work still queued holds sessions, whose sockets belong to the loops: the workers go first.
    std::array<Pool, 3> pools;
};

} // namespace nimbara::server
