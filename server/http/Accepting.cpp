#include "http/ServerImpl.h"

#include "core/ServiceLog.h"
#include "http/AccessLog.h"

#include <unistd.h>

#include <cerrno>

namespace nimbara::server {

namespace {

// The kernel's buffers of one connection, each way (Linux doubles the figure for its bookkeeping).
constexpr int socketBufferBytes = 128 * 1024;

// The answer to a connection over a cap, written as it is accepted: nothing is read from it.
constexpr std::string_view overCapacityBody = R"({"status":"error","error":3})";
const std::string overCapacityAnswer =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\n"
    "Content-Length: " +
    std::to_string(overCapacityBody.size()) + "\r\nRetry-After: 5\r\nConnection: close\r\n\r\n" +
    std::string(overCapacityBody);

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
            startSession(std::move(socket), std::move(peer));
        } else {
            connectionsRefused.add();
            refuseConnection(std::move(socket), peer);
        }
        accept(front);
    });
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
    impl->connectionCap = Impl::descriptorCap(impl->options);
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

void HttpServer::stop()
{
    impl->stopLoops();
}

} // namespace nimbara::server
