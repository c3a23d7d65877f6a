#pragma once

#include "WeatherService.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <string>

namespace nimbara::server {

struct HttpOptions
{
    unsigned threads = 0; // 0: sized for the machine
    std::chrono::milliseconds readTimeout{5000};
    std::chrono::milliseconds writeTimeout{5000};
    // A request must arrive whole within this time, however slowly its bytes trickle in.
    std::chrono::milliseconds requestDeadline{10000};
    std::chrono::milliseconds keepAliveTimeout{5000};
    size_t keepAliveMaxCount = 10000;
    size_t maxBodyBytes = 64 * 1024;
    int listenBacklog = 1024;
};

// cpp-httplib's server as Debian ships it (compiled, so its build-time macros cannot be changed),
// tuned at run time: TCP_NODELAY, a deep listen backlog, a thread pool sized for the load, and
// connections served by a loop of our own whose stream gives each request a deadline and a byte
// budget, so that a client sending a byte a second cannot hold a thread for long, and whose idle
// keep-alive connections make way for waiting ones.
class HttpServer : public httplib::Server
{
public:
    explicit HttpServer(const HttpOptions &options = {});

    // Binds and starts listening with the deep backlog; port 0 picks a free port. Returns the port,
    // or -1 when the address cannot be bound.
    int bindAndListen(const std::string &host, int port);

    const HttpOptions &options() const { return httpOptions; }

    static unsigned defaultThreadCount();

private:
    bool process_and_close_socket(socket_t sock) override;
    bool waitForRequest(socket_t sock) const;

    HttpOptions httpOptions;
    // Accepted connections waiting for a free thread; while there are any, idle keep-alive
    // connections give their threads up at once.
    std::atomic<size_t> waitingConnections{0};
};

// The routes of the service and its error and exception handlers; every request gets an access log
// line when log is true.
void addRoutes(HttpServer &server, WeatherService &service, bool accessLog = true);

// "127.0.0.1 GET /api/0.5/gate 200 143 0.21ms machine=…": the query is left out, it holds the position.
std::string accessLogLine(const httplib::Request &request, const httplib::Response &response,
                          std::chrono::steady_clock::duration elapsed);

} // namespace nimbara::server
