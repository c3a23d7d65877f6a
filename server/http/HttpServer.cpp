// Boost 1.74's Asio uses std::exchange without including <utility> under C++20.
#include <utility>

#include "http/HttpServer.h"

#include "core/ServiceLog.h"
#include "http/AccessLog.h"
#include "http/Framing.h"
#include "http/Metrics.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace nimbara::server {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using SteadyClock = std::chrono::steady_clock;

namespace {

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

std::string_view view(beast::string_view text)
{
    return {text.data(), text.size()};
}

std::string_view reasonOf(int status)
{
    return view(http::obsolete_reason(static_cast<http::status>(status)));
}

// The kernel's buffers of one connection, each way (Linux doubles the figure for its bookkeeping).
constexpr int socketBufferBytes = 128 * 1024;

// The answer to a connection over a cap, written as it is accepted: nothing is read from it.
constexpr std::string_view overCapacityBody = R"({"status":"error","error":3})";
const std::string overCapacityAnswer =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\n"
    "Content-Length: " +
    std::to_string(overCapacityBody.size()) + "\r\nRetry-After: 5\r\nConnection: close\r\n\r\n" +
    std::string(overCapacityBody);

} // namespace

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

    // Whose count a connection from an address goes to: none for a trusted proxy's.
    std::optional<std::string> countedAs(const std::string &address) const
    {
        if (trustedProxies && trustedProxies->contains(address))
            return std::nullopt;
        return clientKey(address);
    }

    // Counts a new connection from an address, or refuses it when a cap is reached.
    bool admit(const std::string &address)
    {
        const auto key = countedAs(address);
        std::lock_guard lock(clientsMutex);
        if (connections >= connectionCap)
            return false;
        if (!key) {
            ++connections;
            return true;
        }
        auto &count = perClient[*key];
        if (count >= options.maxConnectionsPerClient) {
            if (count == 0)
                perClient.erase(*key);
            return false;
        }
        ++count;
        ++connections;
        return true;
    }

    void release(const std::string &address)
    {
        const auto key = countedAs(address);
        std::lock_guard lock(clientsMutex);
        if (auto it = key ? perClient.find(*key) : perClient.end();
            it != perClient.end() && --it->second == 0)
            perClient.erase(it);
        // The last connection of a drain ends it; not while the loop is torn down.
        if (--connections == 0 && draining && !loopsStopped)
            net::post(control, [this] { drainTime.cancel(); });
    }

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

namespace {

// One connection: wait for a request, read its head within the head deadline, check it, read its
// body within the body deadline, answer (on this thread or a worker's), then loop or close. Every
// failure ends the session. Its steps run in order on its loop's one thread.
class Session : public HttpServer::Impl::Connection, public std::enable_shared_from_this<Session>
{
public:
    Session(HttpServer::Impl &server, tcp::socket socket, std::string peer)
        : server(server)
        , stream(std::move(socket))
        , buffer(server.options.maxHeadBytes + 4096)
        , peer(std::move(peer))
    {}

    // A connection handed over from the front after its first answer, with what it sent beyond.
    Session(HttpServer::Impl &server, tcp::socket socket, std::string peer, size_t served,
            net::const_buffer pending)
        : Session(server, std::move(socket), std::move(peer))
    {
        this->served = served;
        onFront = false;
        buffer.commit(net::buffer_copy(buffer.prepare(pending.size()), pending));
    }

    ~Session() override
    {
        server.leave(this);
        if (!handedOver)
            server.release(peer);
    }

    void start()
    {
        server.enter(this, weak_from_this());
        waitForRequest();
    }

    void closeWhenIdle() override
    {
        net::post(stream.get_executor(), [self = shared_from_this()] {
            if (self->waiting)
                self->closeNow();
        });
    }

private:
    enum class Ending { keepAlive, close, linger };

    void waitForRequest()
    {
        request = {};
        stats = nullptr;
        request.peerAddress = peer;
        request.clientAddress = peer;
        // A new connection has the head deadline from its start; a kept-alive one from its next
        // request's first byte.
        if (buffer.size() > 0) {
            headDeadline = SteadyClock::now() + server.options.headerTimeout;
            return readHead();
        }
        if (server.draining)
            return closeNow();
        // Until a request's first byte the connection is idle, and a drain closes it.
        waiting = true;
        if (served == 0)
            stream.expires_at(accepted + server.options.headerTimeout);
        else
            stream.expires_after(server.options.idleTimeout);
        stream.async_read_some(buffer.prepare(1024), [self = shared_from_this()](beast::error_code error,
                                                                                 size_t n) {
            self->waiting = false;
            if (error == beast::error::timeout && self->served == 0)
                return self->refuseUnanswerable("request head not complete in time");
            if (error)
                return self->closeNow();
            self->buffer.commit(n);
            self->headDeadline = self->served == 0 ? self->accepted + self->server.options.headerTimeout
                                                   : SteadyClock::now() + self->server.options.headerTimeout;
            self->readHead();
        });
    }

    void readHead()
    {
        started = SteadyClock::now();
        parser.emplace();
        parser->header_limit(static_cast<std::uint32_t>(server.options.maxHeadBytes));
        parser->body_limit(server.options.maxBodyBytes);
        stream.expires_at(headDeadline);
        http::async_read_header(
            stream, buffer, *parser,
            [self = shared_from_this()](beast::error_code error, size_t) { self->onHead(error); });
    }

    void onHead(beast::error_code error)
    {
        if (error == beast::error::timeout)
            return refuseUnanswerable("request head not complete in time");
        if (error == http::error::end_of_stream || error == net::error::eof ||
            error == net::error::connection_reset)
            return closeNow();
        if (error == http::error::header_limit)
            // Beast has taken the request line once it was whole: before that it was the line that was too
            // long.
            return refuse(parser->get().target().empty() ? 414 : 431, "request head too large");
        if (error == http::error::body_limit)
            return refuse(413, "announced body too large");
        if (error == http::error::buffer_overflow)
            return refuse(parser->get().target().empty() ? 414 : 431, "request head too large");
        if (error && error.category() == make_error_code(http::error::bad_target).category())
            return refuse(400, error.message().c_str());
        if (error)
            return closeNow();

        const auto &head = parser->get();
        request.method = std::string(view(head.method_string()));
        request.target = std::string(view(head.target()));
        auto question = request.target.find('?');
        request.path = request.target.substr(0, question);
        if (question != std::string::npos)
            request.query = request.target.substr(question + 1);
        if (request.target.size() > server.options.maxTargetBytes)
            return refuse(414, "request target too long");

        HeadFacts facts;
        facts.version = head.version();
        facts.hostFields = head.count(http::field::host);
        facts.contentLengthFields = head.count(http::field::content_length);
        facts.transferEncodingFields = head.count(http::field::transfer_encoding);
        facts.transferEncoding = view(head[http::field::transfer_encoding]);
        if (auto framing = checkFraming(facts))
            return refuse(framing->status, framing->reason);

        request.header = [this](std::string_view name) -> std::string_view {
            auto it = parser->get().find(beast::string_view(name.data(), name.size()));
            return it == parser->get().end() ? std::string_view() : view(it->value());
        };
        request.headerList = [this](std::string_view name) {
            std::string list;
            for (auto [it, end] = parser->get().equal_range(beast::string_view(name.data(), name.size()));
                 it != end; ++it) {
                if (!list.empty())
                    list += ", ";
                list += view(it->value());
            }
            return list;
        };
        if (server.clientAddressResolver)
            request.clientAddress = server.clientAddressResolver(request);

        const auto *paths = server.routesFor(request.path);
        if (!paths)
            return answerWithoutBody(server.errorReply(404));
        stats = paths->stats.get();
        const auto *routes = &paths->methods;
        auto method = head.method() == http::verb::head ? http::verb::get : head.method();
        auto route =
            std::find_if(routes->begin(), routes->end(), [&](const Route &r) { return r.method == method; });
        if (route == routes->end()) {
            Reply reply = server.errorReply(405);
            std::string allow;
            for (const auto &r : *routes)
                allow += std::string(allow.empty() ? "" : ", ") +
                         std::string(view(http::to_string(r.method))) +
                         (r.method == http::verb::get ? ", HEAD" : "");
            reply.headers.emplace_back("Allow", allow);
            return answerWithoutBody(std::move(reply));
        }
        this->route = &*route;

        if (parser->is_done())
            return dispatch();
        auto expect = head[http::field::expect];
        if (beast::iequals(expect, "100-continue")) {
            static const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
            stream.expires_after(server.options.writeTimeout);
            return net::async_write(stream, net::buffer(interim),
                                    [self = shared_from_this()](beast::error_code error, size_t) {
                                        if (error)
                                            return self->closeNow();
                                        self->readBody();
                                    });
        }
        readBody();
    }

    void readBody()
    {
        stream.expires_after(server.options.bodyTimeout);
        http::async_read(stream, buffer, *parser,
                         [self = shared_from_this()](beast::error_code error, size_t) {
                             if (error == http::error::body_limit)
                                 return self->refuse(413, "body too large");
                             if (error == beast::error::timeout)
                                 return self->refuseUnanswerable("request body not complete in time");
                             if (error == http::error::end_of_stream || error == net::error::eof ||
                                 error == net::error::connection_reset)
                                 return self->closeNow();
                             if (error)
                                 return self->refuse(400, error.message().c_str());
                             self->dispatch();
                         });
    }

    void dispatch()
    {
        request.body = std::move(parser->get().body());
        if (route->quick) {
            if (auto reply = call([&] { return route->quick(request); }))
                return answer(std::move(*reply));
        } else if (route->runs == Runs::onLoop) {
            return answer(*call([&] { return std::optional<Reply>(route->handler(request)); }));
        }
        // Work that may block waits for a worker of its kind, within a bound: beyond it the client
        // hears at once that the service is busy.
        auto &pool = server.poolFor(route->runs);
        if (pool.inFlight.fetch_add(1) >= pool.threads + server.options.maxQueuedWork) {
            --pool.inFlight;
            server.workRefused.add();
            logLine("busy: " + escapeForLog(request.clientAddress) + " " + escapeForLog(request.method) +
                    " " + escapeForLog(request.path) + ": every worker taken");
            return answer(server.errorReply(503));
        }
        // Queued, then taken by a worker or given up at the queue's deadline: whichever comes first.
        enum Turn { queued, taken, givenUp };
        auto turn = std::make_shared<std::atomic<int>>(queued);
        std::shared_ptr<net::steady_timer> deadline;
        if (server.options.maxQueueWait.count() > 0) {
            deadline = std::make_shared<net::steady_timer>(stream.get_executor(),
                                                           started + server.options.maxQueueWait);
            deadline->async_wait([self = shared_from_this(), &pool, turn](beast::error_code error) {
                int expected = queued;
                if (error || !turn->compare_exchange_strong(expected, givenUp))
                    return;
                --pool.inFlight;
                self->server.workRefused.add();
                logLine("busy: " + escapeForLog(self->request.clientAddress) + " " +
                        escapeForLog(self->request.method) + " " + escapeForLog(self->request.path) +
                        ": no worker free in time");
                self->answer(self->server.errorReply(503));
            });
        }
        net::post(*pool.workers, [self = shared_from_this(), &pool, turn, deadline] {
            int expected = queued;
            if (!turn->compare_exchange_strong(expected, taken))
                return;
            auto reply =
                self->call([&] { return std::optional<Reply>(self->route->handler(self->request)); });
            net::post(self->stream.get_executor(),
                      [self, &pool, deadline, reply = std::move(*reply)]() mutable {
                          if (deadline)
                              deadline->cancel();
                          --pool.inFlight;
                          self->answer(std::move(reply));
                      });
        });
    }

    // Runs a handler; an exception becomes a 500 answer and a log line.
    template <typename Function>
    std::optional<Reply> call(Function &&function)
    {
        try {
            return function();
        } catch (const std::exception &exception) {
            logLine("error: " + escapeForLog(request.method) + " " + escapeForLog(request.path) + ": " +
                    escapeForLog(exception.what()));
        } catch (...) {
            logLine("error: " + escapeForLog(request.method) + " " + escapeForLog(request.path) +
                    ": unknown exception");
        }
        return server.errorReply(500);
    }

    void answer(Reply reply)
    {
        const auto &head = parser->get();
        Ending ending = Ending::keepAlive;
        if (!head.keep_alive() || ++served >= server.options.maxRequestsPerConnection)
            ending = Ending::close;
        write(std::move(reply), ending, head.method() == http::verb::head);
    }

    // Answers before the body was read: the connection cannot go on when there was one.
    void answerWithoutBody(Reply reply)
    {
        const auto &head = parser->get();
        const bool bodyAhead = !parser->is_done();
        Ending ending = bodyAhead ? Ending::linger : Ending::keepAlive;
        if (!bodyAhead && (!head.keep_alive() || ++served >= server.options.maxRequestsPerConnection))
            ending = Ending::close;
        write(std::move(reply), ending, head.method() == http::verb::head);
    }

    // A request the connection cannot recover from: answer, log with what was read, and close.
    void refuse(int status, const char *reason)
    {
        logLine("refused: " + escapeForLog(peer) + " " + std::to_string(status) + ": " + reason);
        write(server.errorReply(status), Ending::linger, false);
    }

    // The deadline passed: Beast has closed the socket already, so there is nobody to answer.
    void refuseUnanswerable(const char *reason)
    {
        logLine("cut: " + escapeForLog(peer) + ": " + reason);
        Reply reply{408, {}};
        server.log(request, reply, SteadyClock::now() - started, stats);
        closeNow();
    }

    void write(Reply reply, Ending ending, bool headOnly)
    {
        if (ending == Ending::keepAlive && server.draining)
            ending = Ending::close;
        server.log(request, reply, SteadyClock::now() - started, stats);
        response.emplace(static_cast<http::status>(reply.status), 11);
        response->set(http::field::content_type, reply.contentType);
        for (const auto &[name, value] : reply.headers)
            response->set(name, value);
        response->content_length(reply.body.size());
        if (ending != Ending::keepAlive)
            response->set(http::field::connection, "close");
        else if (parser && parser->get().version() == 10)
            // An HTTP/1.0 client closes unless it hears that the connection stays.
            response->set(http::field::connection, "keep-alive");
        if (!headOnly)
            response->body() = std::move(reply.body);
        stream.expires_after(server.options.writeTimeout);
        http::async_write(stream, *response,
                          [self = shared_from_this(), ending](beast::error_code error, size_t) {
                              self->response.reset();
                              if (error)
                                  return self->closeNow();
                              switch (ending) {
                              case Ending::keepAlive:
                                  self->parser.reset();
                                  if (self->onFront)
                                      return self->handOver();
                                  return self->waitForRequest();
                              case Ending::close:
                                  return self->closeNow();
                              case Ending::linger:
                                  return self->linger();
                              }
                          });
    }

    // After an error answer the client may still be sending: closing a socket with unread bytes
    // resets the connection and can destroy the answer before it is read. So send FIN, then read
    // and drop what still comes, for a moment.
    void linger()
    {
        beast::error_code ignored;
        stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream.expires_after(std::chrono::seconds(2));
        drain();
    }

    void drain()
    {
        buffer.clear();
        stream.async_read_some(buffer.prepare(4096),
                               [self = shared_from_this()](beast::error_code error, size_t n) {
                                   self->drained += n;
                                   if (error || self->drained > 1024 * 1024)
                                       return self->closeNow();
                                   self->drain();
                               });
    }

    // Moves a kept-alive connection from the front to the loop of the busy ones, as a new session
    // that goes on where this one ends.
    void handOver()
    {
        beast::error_code error;
        tcp::socket socket = stream.release_socket();
        const auto protocol = socket.local_endpoint(error).protocol();
        if (error)
            return;
        const auto handle = socket.release(error);
        if (error)
            return;
        tcp::socket moved(server.nextBusyLoop());
        moved.assign(protocol, handle, error);
        if (error) {
            ::close(handle);
            return;
        }
        auto next = std::make_shared<Session>(server, std::move(moved), peer, served, buffer.data());
        handedOver = true;
        next->start();
    }

    // Nothing else holds the descriptor, so closing it is enough: no shutdown call first.
    void closeNow()
    {
        beast::error_code ignored;
        stream.socket().close(ignored);
    }

    HttpServer::Impl &server;
    beast::tcp_stream stream;
    beast::flat_buffer buffer;
    std::string peer;
    std::optional<http::request_parser<http::string_body>> parser;
    std::optional<http::response<http::string_body>> response;
    const Route *route = nullptr;
    RouteStats *stats = nullptr;
    Request request;
    const SteadyClock::time_point accepted = SteadyClock::now();
    SteadyClock::time_point headDeadline;
    SteadyClock::time_point started = accepted;
    size_t served = 0;
    size_t drained = 0;
    bool waiting = false;
    bool onFront = true;
    bool handedOver = false;
};

// Tells a connection over a cap so at once, without reading from it, and closes it.
void refuseConnection(tcp::socket socket, const std::string &peer)
{
    logLine("refused: " + escapeForLog(peer) + " 503: too many connections");
    auto stream = std::make_shared<beast::tcp_stream>(std::move(socket));
    stream->expires_after(std::chrono::seconds(1));
    net::async_write(*stream, net::buffer(overCapacityAnswer), [stream](beast::error_code, size_t) {
        beast::error_code ignored;
        stream->socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream->socket().close(ignored);
    });
}

} // namespace

void HttpServer::Impl::accept(FrontLoop &front)
{
    front.acceptor.async_accept(front.peer, [this, &front](beast::error_code error, tcp::socket socket) {
        if (error == net::error::operation_aborted || !front.acceptor.is_open())
            return;
        if (error) {
            // Out of file descriptors, most likely: pause rather than spin, and let connections end.
            logLine("accept failed: " + error.message());
            front.acceptPause.expires_after(std::chrono::milliseconds(50));
            front.acceptPause.async_wait([this, &front](beast::error_code) { accept(front); });
            return;
        }
        beast::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        // The kernel would grow a connection's buffers to megabytes for a client that pipelines and
        // never reads: every answer and request fits these many times over.
        socket.set_option(net::socket_base::send_buffer_size(socketBufferBytes), ignored);
        socket.set_option(net::socket_base::receive_buffer_size(socketBufferBytes), ignored);
        std::string peer = front.peer.address().to_string();
        if (admit(peer)) {
            std::make_shared<Session>(*this, std::move(socket), std::move(peer))->start();
        } else {
            connectionsRefused.add();
            refuseConnection(std::move(socket), peer);
        }
        accept(front);
    });
}

void HttpServer::Impl::drain()
{
    if (draining.exchange(true))
        return;
    for (auto &front : fronts)
        net::post(front->context, [&front = *front] {
            beast::error_code ignored;
            front.acceptor.close(ignored);
            front.acceptPause.cancel();
        });
    std::vector<std::shared_ptr<Connection>> sessions;
    {
        std::lock_guard lock(clientsMutex);
        for (const auto &[connection, handle] : open)
            if (auto session = handle.lock())
                sessions.push_back(std::move(session));
    }
    logLine("stopping: no new connections; " + std::to_string(sessions.size()) +
            " open, idle ones closed, the requests in flight finish within " +
            std::to_string(options.drainTimeout.count()) + " ms");
    for (const auto &session : sessions)
        session->closeWhenIdle();
    sessions.clear();
    // The timer also keeps the loop running while only workers are busy.
    drainTime.expires_after(options.drainTimeout);
    drainTime.async_wait([this](beast::error_code error) {
        forEachLoop([](Loop &loop) { loop.serving.reset(); });
        if (error)
            return;
        std::lock_guard lock(clientsMutex);
        logLine("stopping: drain time over, " + std::to_string(connections) + " connections cut");
        stopLoops();
    });
    std::lock_guard lock(clientsMutex);
    if (connections == 0)
        drainTime.cancel();
}

HttpServer::HttpServer(HttpOptions options)
    : impl(std::make_unique<Impl>(options))
{}

HttpServer::~HttpServer()
{
    stop();
    finish();
}

void HttpServer::finish()
{
    // Work not yet started is dropped; work under way (an upstream call) ends within its time-out.
    for (auto &pool : impl->pools) {
        if (pool.workers) {
            pool.workers->stop();
            pool.workers->join();
            pool.workers.reset();
        }
    }
}

void HttpServer::get(std::string path, Runs runs, Handler handler)
{
    impl->routes[std::move(path)].methods.push_back(Route{http::verb::get, runs, {}, std::move(handler)});
}

void HttpServer::get(std::string path, QuickHandler quick, Handler slow)
{
    impl->routes[std::move(path)].methods.push_back(
        Route{http::verb::get, Runs::onWorker, std::move(quick), std::move(slow)});
}

void HttpServer::post(std::string path, Runs runs, Handler handler)
{
    impl->routes[std::move(path)].methods.push_back(Route{http::verb::post, runs, {}, std::move(handler)});
}

void HttpServer::setErrorReply(std::function<Reply(int)> errorReply)
{
    impl->errorReply = std::move(errorReply);
}

void HttpServer::setAccessLog(std::function<void(const Request &, const Reply &, SteadyClock::duration)> log)
{
    impl->accessLog = std::move(log);
}

void HttpServer::setClientAddressResolver(std::function<std::string(const Request &)> resolver)
{
    impl->clientAddressResolver = std::move(resolver);
}

void HttpServer::setTrustedProxies(TrustedProxies proxies)
{
    impl->trustedProxies = std::move(proxies);
    impl->clientAddressResolver = [this](const Request &request) {
        return impl->trustedProxies->clientAddress(request.peerAddress,
                                                   request.headerList("X-Forwarded-For"));
    };
}

int HttpServer::bindAndListen(const std::string &host, int port)
{
    beast::error_code error;
    auto address = net::ip::make_address(host, error);
    if (error)
        return -1;
    tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
    auto &acceptor = impl->fronts.front()->acceptor;
    acceptor.open(endpoint.protocol(), error);
    if (!error)
        acceptor.set_option(net::socket_base::reuse_address(true), error);
    if (!error)
        acceptor.bind(endpoint, error);
    if (!error)
        acceptor.listen(impl->options.listenBacklog, error);
    // Every front loop waits on the same listening socket; the kernel wakes them in turn.
    for (size_t i = 1; i < impl->fronts.size() && !error; ++i) {
        const int copy = ::dup(acceptor.native_handle());
        if (copy < 0) {
            error.assign(errno, beast::system_category());
            break;
        }
        impl->fronts[i]->acceptor.assign(endpoint.protocol(), copy, error);
        if (error)
            ::close(copy);
    }
    if (error) {
        beast::error_code ignored;
        for (auto &front : impl->fronts)
            front->acceptor.close(ignored);
        return -1;
    }
    // Every connection holds a descriptor: take what the system allows, and keep some for the
    // database, the log and the upstream calls.
    rlimit limit{};
    size_t cap = impl->options.maxConnections;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        if (limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = limit.rlim_max;
            setrlimit(RLIMIT_NOFILE, &limit);
            getrlimit(RLIMIT_NOFILE, &limit);
        }
        const size_t reserve = 64 + 2 * (impl->options.workerThreads + impl->options.storeThreads);
        if (limit.rlim_cur != RLIM_INFINITY)
            cap = std::min(cap, limit.rlim_cur > reserve ? static_cast<size_t>(limit.rlim_cur) - reserve : 1);
    }
    impl->connectionCap = cap;
    return acceptor.local_endpoint().port();
}

void HttpServer::run()
{
    const auto &options = impl->options;
    impl->poolFor(Runs::onWorker).threads = options.workerThreads;
    impl->poolFor(Runs::onStoreWorker).threads = options.storeThreads;
    impl->poolFor(Runs::onComputeWorker).threads = options.computeThreads;
    for (auto &pool : impl->pools)
        pool.workers = std::make_unique<net::thread_pool>(pool.threads);
    for (auto &front : impl->fronts)
        impl->accept(*front);
    impl->running = true;
    std::vector<std::thread> loops;
    impl->forEachLoop([&](Impl::Loop &loop) {
        if (&loop != impl->fronts.front().get())
            loops.emplace_back([&loop] { loop.context.run(); });
    });
    impl->fronts.front()->context.run();
    for (auto &loop : loops)
        loop.join();
    impl->running = false;
    impl->loopsStopped = true;
    beast::error_code ignored;
    for (auto &front : impl->fronts)
        front->acceptor.close(ignored);
}

void HttpServer::shutdown()
{
    net::post(impl->control, [impl = impl.get()] { impl->drain(); });
}

void HttpServer::stop()
{
    impl->stopLoops();
}

bool HttpServer::isRunning() const
{
    return impl->running;
}

const HttpOptions &HttpServer::options() const
{
    return impl->options;
}

void HttpServer::addMetrics(Metrics &metrics) const
{
    // Routes are all registered before serving, so the table is read without a lock.
    std::map<std::string, const RouteStats *> byRoute;
    for (const auto &[path, paths] : impl->routes)
        byRoute.emplace(path, paths.stats.get());
    byRoute.emplace("other", &impl->unrouted);

    metrics.add("nimbara_http_requests_total", "HTTP requests answered, by route and status.",
                Metrics::Type::counter, [byRoute](std::vector<Sample> &samples) {
                    for (const auto &[route, stats] : byRoute)
                        for (size_t i = 0; i < stats->byStatus.size(); ++i)
                            if (auto count = stats->byStatus[i].get())
                                samples.push_back({"",
                                                   {{"route", route},
                                                    {"status", std::to_string(RouteStats::lowestStatus + i)}},
                                                   static_cast<double>(count)});
                });
    metrics.add("nimbara_http_request_duration_seconds",
                "Time from a request's first byte to its answer being handed to the socket, by route.",
                Metrics::Type::histogram, [byRoute](std::vector<Sample> &samples) {
                    for (const auto &[route, stats] : byRoute)
                        appendHistogram(samples, stats->latency, {{"route", route}});
                });
    metrics.addGauge("nimbara_http_open_connections", "Client connections open now.", {},
                     [this] { return static_cast<double>(connectionCount()); });
    const Impl *state = impl.get();
    addLimitRefusals(metrics, "connections", state->connectionsRefused);
    addLimitRefusals(metrics, "workers", state->workRefused);
}

size_t HttpServer::connectionCount() const
{
    std::lock_guard lock(impl->clientsMutex);
    return impl->connections;
}

size_t HttpServer::workInFlight() const
{
    size_t total = 0;
    for (const auto &pool : impl->pools)
        total += pool.inFlight;
    return total;
}

} // namespace nimbara::server
