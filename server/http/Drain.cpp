#include "http/ServerImpl.h"

#include "core/ServiceLog.h"

namespace nimbara::server {

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

void HttpServer::shutdown()
{
    net::post(impl->control, [impl = impl.get()] { impl->drain(); });
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

} // namespace nimbara::server
