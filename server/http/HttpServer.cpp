#include "http/ServerImpl.h"

#include <map>

namespace nimbara::server {

HttpServer::HttpServer(HttpOptions options)
    : impl(std::make_unique<Impl>(options))
{}

HttpServer::~HttpServer()
{
    stop();
    finish();
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
