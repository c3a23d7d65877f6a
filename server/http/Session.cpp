#include "http/ServerImpl.h"

#include "core/ServiceLog.h"
#include "http/AccessLog.h"
#include "http/Framing.h"

namespace nimbara::server {

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

} // namespace

void HttpServer::Impl::startSession(tcp::socket socket, std::string peer)
{
    std::make_shared<Session>(*this, std::move(socket), std::move(peer))->start();
}

} // namespace nimbara::server
