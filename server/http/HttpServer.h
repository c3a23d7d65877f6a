#pragma once

#include "core/Reply.h"
#include "http/TrustedProxies.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace nimbara::server {

struct HttpOptions
{
    // Threads that read, parse and answer, for the kept-alive connections and as many again for the
    // new ones; 0: one per core.
    unsigned loopThreads = 0;
    unsigned workerThreads = 0;  // threads for work that waits for an upstream; 0: the default
    unsigned storeThreads = 8;   // threads for work that waits for the database
    unsigned computeThreads = 0; // threads for work that only computes; 0: one per core
    size_t maxQueuedWork = 1024; // work waiting for a worker of a kind beyond this is refused with 503
    // Work that has no worker yet this long after its request's first byte is answered 503 and
    // dropped, so that what runs late still ends within a proxy's read time-out; 0: no bound.
    std::chrono::milliseconds maxQueueWait{0};
    std::chrono::milliseconds headerTimeout{10000}; // a request's head must arrive whole within this
    std::chrono::milliseconds bodyTimeout{10000};
    std::chrono::milliseconds idleTimeout{60000}; // between the requests of a keep-alive connection
    std::chrono::milliseconds writeTimeout{10000};
    size_t maxTargetBytes = 8 * 1024;
    size_t maxHeadBytes = 16 * 1024;
    // The feedback form holds its fields within the same number.
    size_t maxBodyBytes = NIMBARA_FEEDBACK_MAX_BYTES;
    size_t maxConnections = 20000;
    size_t maxConnectionsPerClient = 256;
    size_t maxRequestsPerConnection = 10000;
    int listenBacklog = 1024;
    std::chrono::milliseconds drainTimeout{10000}; // on shutdown(), for the requests in flight

    static unsigned defaultWorkerThreads() { return 32; }
};

// One request as a route handler sees it: the raw target split at "?", the raw body, and who sent it.
struct Request
{
    std::string method;
    std::string target;
    std::string path;
    std::string query; // after "?", as sent
    std::string body;
    std::string peerAddress;   // the other end of the connection
    std::string clientAddress; // whom limits and logs name: the peer, unless a resolver says otherwise
    std::function<std::string_view(std::string_view name)> header; // a field's value, or empty
    // The values of every field of that name, in order, joined with ", " (a list field that a proxy
    // may have extended with a field of its own), or empty.
    std::function<std::string(std::string_view name)> headerList;
};

// Where a route's handler runs: on the threads that answer every connection (it must never block),
// or on a bounded pool of workers of its kind, so that one stalled dependency holds up no other:
// onWorker may wait for an upstream, onStoreWorker for the database, onComputeWorker only computes.
enum class Runs { onLoop, onWorker, onStoreWorker, onComputeWorker };

using Handler = std::function<Reply(const Request &)>;
// Answers on the loop when it can do so without blocking, or gives nothing and the slow handler then
// runs on a worker.
using QuickHandler = std::function<std::optional<Reply>(const Request &)>;

// The service's HTTP/1.1 core on Boost.Beast and Asio: a few event-loop threads serve any number of
// connections, each as a small session (read the head with a deadline, check its framing strictly,
// read the body, answer, loop or close); work that may block goes to a bounded worker pool, so that
// no slow client, busy client or stalled upstream holds back another.
class Metrics;

class HttpServer
{
public:
    explicit HttpServer(HttpOptions options = {});
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Routes are exact paths; register them all before run().
    void get(std::string path, Runs runs, Handler handler);
    void get(std::string path, QuickHandler quick, Handler slow);
    void post(std::string path, Runs runs, Handler handler);

    // The envelope of an answer the core gives itself (400, 404, 405, 413, 414, 431, 500, 503).
    void setErrorReply(std::function<Reply(int status)> errorReply);
    // Called once per answered request, and for malformed ones with what could be read.
    void setAccessLog(
        std::function<void(const Request &, const Reply &, std::chrono::steady_clock::duration)> log);
    // Who the client is (for a trusted proxy's forwarded address); the peer address by default.
    void setClientAddressResolver(std::function<std::string(const Request &)> resolver);
    // Believes these proxies' X-Forwarded-For, and exempts their connections from the cap per
    // address: every client behind nginx comes from nginx's address, and nginx limits each of them
    // itself. The cap on connections in all still holds for them.
    void setTrustedProxies(TrustedProxies proxies);

    // Binds and listens; port 0 picks a free port. Returns the port, or -1 when the address cannot be bound.
    int bindAndListen(const std::string &host, int port);
    // Serves until stop(); the calling thread is one of the loop threads.
    void run();
    // From any thread: stops accepting (new connections are refused), closes the connections that
    // wait for a request, answers the requests in flight with "Connection: close", and ends run()
    // once they are all answered, or when options().drainTimeout has passed.
    void shutdown();
    // From any thread, also before run(): ends run() soon after, cutting what is in flight.
    void stop();
    // After run(): drops the work not yet started and waits for the work under way (an upstream or
    // a database call), which ends within its own time-out. The destructor does it otherwise.
    void finish();
    bool isRunning() const;

    const HttpOptions &options() const;

    // Adds this server's families to metrics: requests by route and status, their latency, open
    // connections and the connections and work refused over a cap. A path that is no route counts as
    // "other", so that no client can make a series of its own.
    void addMetrics(Metrics &metrics) const;

    // Seams for tests: open connections; work queued or running on the workers.
    size_t connectionCount() const;
    size_t workInFlight() const;

    struct Impl; // opaque: keeps Asio out of the includers

private:
    std::unique_ptr<Impl> impl;
};

} // namespace nimbara::server
