#include "HttpServer.h"

#include "RawParams.h"
#include "ServiceLog.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace nimbara::server {

namespace {

using SteadyClock = std::chrono::steady_clock;

// When the request now being served on this thread started; the access log reports the time since.
thread_local SteadyClock::time_point requestStart;
int pollFor(int fd, short events, std::chrono::milliseconds timeout);

// Set when an answer leaves the connection's bytes out of step (a broken head, an unread body).
thread_local bool closeAfterAnswer = false;

bool breaksStream(int status)
{
    return status == 400 || status == 408 || status == 411 || status == 413 || status == 414 ||
           status == 415 || status == 431 || status == 500;
}

// Close gently after an error answer: the client may still be sending, and closing a socket with
// unread bytes resets the connection, which can destroy the answer before the client reads it. So
// send FIN, then read and drop what still comes, for a moment.
void lingeringClose(int sock)
{
    ::shutdown(sock, SHUT_WR);
    char sink[4096];
    size_t drained = 0;
    const auto until = SteadyClock::now() + std::chrono::seconds(1);
    while (drained < 1024 * 1024) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - SteadyClock::now());
        if (left.count() <= 0 || pollFor(sock, POLLIN, left) <= 0)
            break;
        auto n = ::recv(sock, sink, sizeof sink, 0);
        if (n <= 0)
            break;
        drained += static_cast<size_t>(n);
    }
    ::close(sock);
}

// Head lines are capped by the library (a request line over 8 KiB is answered 414); this caps what
// a connection may send for one request in all, so that an endless line cannot fill the memory.
constexpr size_t headBudget = 256 * 1024;

void addressOf(const sockaddr_storage &address, socklen_t length, std::string &ip, int &port)
{
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr *>(&address), length, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
        ip = host;
        port = std::atoi(service);
    }
}

int pollFor(int fd, short events, std::chrono::milliseconds timeout)
{
    pollfd entry{fd, events, 0};
    int waitMs = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, timeout.count()));
    while (true) {
        int result = ::poll(&entry, 1, waitMs);
        if (result >= 0 || errno != EINTR)
            return result;
    }
}

// The connection's stream: buffered reads that fail once the request's deadline or byte budget is
// spent, and buffered writes sent in one go when the answer is complete (or before waiting for more
// input), so that head and body leave in one segment. One stream serves every request of a
// keep-alive connection, so that pipelined bytes already read stay with it.
class DeadlineStream final : public httplib::Stream
{
public:
    DeadlineStream(socket_t sock, const HttpOptions &options)
        : sock(sock)
        , options(options)
    {
        out.reserve(1024);
    }

    void beginRequest()
    {
        deadline = SteadyClock::now() + options.requestDeadline;
        budget = headBudget + options.maxBodyBytes;
    }

    bool hasBufferedData() const { return offset < filled; }

    bool is_readable() const override { return hasBufferedData() || pollFor(sock, POLLIN, readWait()) > 0; }

    bool is_writable() const override { return pollFor(sock, POLLOUT, options.writeTimeout) > 0; }

    ssize_t read(char *ptr, size_t size) override
    {
        if (!hasBufferedData()) {
            // Whatever is written so far must reach the client before we wait for it (100-continue).
            if (budget == 0 || !flush())
                return -1;
            ssize_t n = receive(MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (pollFor(sock, POLLIN, readWait()) <= 0)
                    return -1;
                n = receive(0);
            }
            if (n <= 0)
                return n;
            budget -= static_cast<size_t>(n);
            offset = 0;
            filled = static_cast<size_t>(n);
        }
        size_t count = std::min(size, filled - offset);
        std::memcpy(ptr, buffer + offset, count);
        offset += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char *ptr, size_t size) override
    {
        if (out.size() + size > maxPending && !flush())
            return -1;
        if (size > maxPending)
            return sendAll(ptr, size) ? static_cast<ssize_t>(size) : -1;
        out.append(ptr, size);
        return static_cast<ssize_t>(size);
    }

    bool flush()
    {
        bool sent = sendAll(out.data(), out.size());
        out.clear();
        return sent;
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override
    {
        if (remoteIp.empty()) {
            sockaddr_storage address{};
            socklen_t length = sizeof address;
            if (getpeername(sock, reinterpret_cast<sockaddr *>(&address), &length) == 0)
                addressOf(address, length, remoteIp, remotePort);
        }
        ip = remoteIp;
        port = remotePort;
    }

    void get_local_ip_and_port(std::string &ip, int &port) const override
    {
        if (localIp.empty()) {
            sockaddr_storage address{};
            socklen_t length = sizeof address;
            if (getsockname(sock, reinterpret_cast<sockaddr *>(&address), &length) == 0)
                addressOf(address, length, localIp, localPort);
        }
        ip = localIp;
        port = localPort;
    }

    socket_t socket() const override { return sock; }

private:
    static constexpr size_t maxPending = 16 * 1024;

    std::chrono::milliseconds readWait() const
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        return std::clamp(left, std::chrono::milliseconds(0), options.readTimeout);
    }

    ssize_t receive(int flags)
    {
        ssize_t n;
        do {
            n = ::recv(sock, buffer, std::min(sizeof buffer, budget), flags);
        } while (n < 0 && errno == EINTR);
        return n;
    }

    bool sendAll(const char *data, size_t size)
    {
        while (size > 0) {
            ssize_t n = ::send(sock, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (pollFor(sock, POLLOUT, options.writeTimeout) <= 0)
                    return false;
                continue;
            }
            if (n <= 0)
                return false;
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

    socket_t sock;
    const HttpOptions &options;
    SteadyClock::time_point deadline;
    size_t budget = 0;
    char buffer[4096];
    size_t offset = 0;
    size_t filled = 0;
    std::string out;
    mutable std::string remoteIp;
    mutable int remotePort = 0;
    mutable std::string localIp;
    mutable int localPort = 0;
};

// The library's thread pool, counting the connections that wait for a thread.
class ConnectionPool final : public httplib::TaskQueue
{
public:
    ConnectionPool(unsigned threads, std::atomic<size_t> &waiting)
        : waiting(waiting)
    {
        for (unsigned i = 0; i < threads; ++i)
            workers.emplace_back([this] { work(); });
    }

    void enqueue(std::function<void()> job) override
    {
        {
            std::lock_guard lock(mutex);
            jobs.push_back(std::move(job));
            ++waiting;
        }
        wake.notify_one();
    }

    void shutdown() override
    {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        for (auto &worker : workers)
            worker.join();
        workers.clear();
    }

private:
    void work()
    {
        while (true) {
            std::function<void()> job;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [this] { return stopping || !jobs.empty(); });
                if (jobs.empty())
                    return;
                job = std::move(jobs.front());
                jobs.pop_front();
                --waiting;
            }
            job();
        }
    }

    std::atomic<size_t> &waiting;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    std::vector<std::thread> workers;
    bool stopping = false;
};

void send(httplib::Response &response, const Reply &reply)
{
    response.status = reply.status;
    response.set_content(reply.body, reply.contentType);
}

} // namespace

HttpServer::HttpServer(const HttpOptions &options)
    : httpOptions(options)
{
    if (httpOptions.threads == 0)
        httpOptions.threads = defaultThreadCount();
    // Without TCP_NODELAY a keep-alive client waits for the delayed ACK on every answer.
    set_tcp_nodelay(true);
    // Only SO_REUSEADDR: the library's default SO_REUSEPORT would let a second instance share the port.
    set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    auto seconds = [](std::chrono::milliseconds duration) {
        return std::chrono::duration_cast<std::chrono::seconds>(duration).count();
    };
    set_read_timeout(seconds(options.readTimeout), (options.readTimeout.count() % 1000) * 1000);
    set_write_timeout(seconds(options.writeTimeout), (options.writeTimeout.count() % 1000) * 1000);
    set_keep_alive_timeout(std::max<time_t>(1, seconds(options.keepAliveTimeout)));
    set_keep_alive_max_count(options.keepAliveMaxCount);
    set_payload_max_length(options.maxBodyBytes);
    // One thread serves one connection for as long as it stays open.
    new_task_queue = [this] {
        return new ConnectionPool(httpOptions.threads, waitingConnections);
    };
}

unsigned HttpServer::defaultThreadCount()
{
    return std::max(64u, 32 * std::max(1u, std::thread::hardware_concurrency()));
}

int HttpServer::bindAndListen(const std::string &host, int port)
{
    int bound = port == 0 ? bind_to_any_port(host) : (bind_to_port(host, port) ? port : -1);
    if (bound < 0)
        return -1;
    // The library listens with a backlog of 5, which drops connections in a burst.
    ::listen(svr_sock_, httpOptions.listenBacklog);
    return bound;
}

bool HttpServer::waitForRequest(socket_t sock) const
{
    // Idle keep-alive connections wait in short slices, so that stop() is not held up by them and
    // so that they notice others waiting for a thread.
    constexpr auto slice = std::chrono::milliseconds(50);
    const auto started = SteadyClock::now();
    while (svr_sock_ != INVALID_SOCKET) {
        auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - started);
        auto limit = waitingConnections > 0 ? slice : httpOptions.keepAliveTimeout;
        if (idle >= limit)
            return false;
        int result = pollFor(sock, POLLIN, std::min(limit - idle, slice));
        if (result != 0)
            return result > 0;
    }
    return false;
}

bool HttpServer::process_and_close_socket(socket_t sock)
{
    // Linux hands the listening socket's TCP_NODELAY down to accepted ones; say it anyway.
    int yes = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    DeadlineStream stream(sock, httpOptions);
    bool ok = false;
    for (size_t left = httpOptions.keepAliveMaxCount; left > 0; --left) {
        if (!stream.hasBufferedData() && !waitForRequest(sock))
            break;
        stream.beginRequest();
        requestStart = SteadyClock::now();
        bool closed = false;
        const bool last = left == 1 || svr_sock_ == INVALID_SOCKET;
        closeAfterAnswer = false;
        const bool processed = process_request(stream, last, closed, nullptr);
        ok = stream.flush() && processed;
        if (!ok || closeAfterAnswer) {
            lingeringClose(sock);
            return ok;
        }
        if (closed || last)
            break;
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
}

std::string accessLogLine(const httplib::Request &request, const httplib::Response &response,
                          std::chrono::steady_clock::duration elapsed)
{
    std::string line = request.remote_addr.empty() ? "-" : request.remote_addr;
    line += ' ';
    line += request.method.empty() ? "-" : request.method;
    line += ' ';
    line += request.path.empty() ? "-" : request.path;
    line += ' ';
    line += std::to_string(response.status);
    line += ' ';
    line += std::to_string(response.body.size());
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
    line += ' ' + std::to_string(micros / 1000) + '.' + std::to_string(micros % 1000 / 100) + "ms";
    // The machine fingerprint is what an operator needs to blacklist a machine.
    if (request.path == "/api/0.5/gate") {
        auto params = parsePairs(queryOf(request.target), {"v1", "v2", "v3", "v4", "v5", "v6"});
        if (auto machine = Store::normalizedFingerprint(params["v5"]); !machine.empty())
            line += " machine=" + machine;
    }
    return line;
}

void addRoutes(HttpServer &server, WeatherService &service, bool accessLog)
{
    server.Get("/check/",
               [&](const httplib::Request &, httplib::Response &res) { send(res, service.check()); });

    server.Get(R"(/api/0\.5/gate)", [&](const httplib::Request &req, httplib::Response &res) {
        send(res, service.gate(queryOf(req.target)));
    });

    const size_t maxBody = server.options().maxBodyBytes;
    server.Post(R"(/api/0\.5/feedback)",
                [&service, maxBody](const httplib::Request &req, httplib::Response &res,
                                    const httplib::ContentReader &content) {
                    // The widget posts a plain form; multipart is someone else's client.
                    if (req.is_multipart_form_data()) {
                        send(res, WeatherService::errorReply(415, GateError::malformedRequest));
                        return;
                    }
                    // Read the raw body ourselves: the library's form parsing decodes what the client
                    // never encoded and refuses bodies over 8 KiB.
                    std::string body;
                    bool tooLarge = false;
                    bool complete = content([&](const char *data, size_t length) {
                        if (body.size() + length > maxBody) {
                            tooLarge = true;
                            return false;
                        }
                        body.append(data, length);
                        return true;
                    });
                    if (tooLarge || res.status == 413)
                        send(res, WeatherService::errorReply(413, GateError::malformedRequest));
                    else if (!complete)
                        send(res, WeatherService::errorReply(400, GateError::malformedRequest));
                    else
                        send(res, service.feedback(body, req.remote_addr));
                });

    server.Get("/", [&](const httplib::Request &, httplib::Response &res) { send(res, service.homePage()); });

    // Whatever goes wrong still answers with an envelope the client can read and ignore (error 2),
    // or retry (error 3 for a fault of ours).
    server.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request &, httplib::Response &res) {
            if (breaksStream(res.status)) {
                closeAfterAnswer = true;
                res.set_header("Connection", "close");
            }
            if (!res.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            auto error = res.status >= 500 ? GateError::upstreamFailed : GateError::malformedRequest;
            auto reply = WeatherService::errorReply(res.status, error);
            res.set_content(reply.body, reply.contentType);
            return httplib::Server::HandlerResponse::Handled;
        }));

    server.set_exception_handler(
        [](const httplib::Request &req, httplib::Response &res, std::exception_ptr ep) {
            std::string what = "unknown exception";
            try {
                std::rethrow_exception(ep);
            } catch (const std::exception &exception) {
                what = exception.what();
            } catch (...) {
            }
            logLine("error: " + req.method + " " + req.path + ": " + what);
            send(res, WeatherService::errorReply(500, GateError::upstreamFailed));
        });

    if (accessLog) {
        server.set_logger([](const httplib::Request &req, const httplib::Response &res) {
            logLine(accessLogLine(req, res, SteadyClock::now() - requestStart));
        });
    }
}

} // namespace nimbara::server
