#include "Routes.h"

#include "HomePage.h"
#include "core/RawParams.h"
#include "core/ServiceLog.h"
#include "http/AccessLog.h"
#include "places/PlacesService.h"

#include <algorithm>
#include <cctype>

namespace nimbara::server {

namespace {

// The machine fingerprint of a gate request: what an operator needs to blacklist a machine.
std::string machineOf(const Request &request)
{
    if (request.path != "/api/0.5/gate")
        return {};
    auto params = parsePairs(request.query, {"v1", "v2", "v3", "v4", "v5", "v6"});
    auto machine = Store::normalizedFingerprint(params["v5"]);
    return machine.empty() ? std::string() : "machine=" + machine;
}

bool isMultipart(std::string_view contentType)
{
    constexpr std::string_view multipart = "multipart/";
    return contentType.size() >= multipart.size() &&
           std::equal(multipart.begin(), multipart.end(), contentType.begin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

} // namespace

void addRoutes(HttpServer &server, Gate &gate, FeedbackService &feedback, bool accessLog)
{
    server.get("/check/", Runs::onLoop, [](const Request &) { return Reply{200, R"({"status":"ok"})"}; });
    server.get("/", Runs::onLoop, [](const Request &) { return homePage(); });

    // A cached cell is answered at once; a miss waits for the upstream on a worker.
    server.get(
        "/api/0.5/gate", [&](const Request &request) { return gate.answerFromCache(request.query); },
        [&](const Request &request) { return gate.answer(request.query, request.clientAddress); });

    server.post("/api/0.5/feedback", Runs::onStoreWorker, [&](const Request &request) {
        // The widget posts a plain form; multipart is someone else's client.
        if (isMultipart(request.header("Content-Type")))
            return errorReply(415, GateError::malformedRequest);
        return feedback.post(request.body, request.clientAddress);
    });

    // Whatever goes wrong still answers with an envelope the client can read and ignore (error 2),
    // or retry (error 3 for a fault of ours).
    server.setErrorReply([](int status) {
        return errorReply(status, status >= 500 ? GateError::upstreamFailed : GateError::malformedRequest);
    });

    if (accessLog) {
        server.setAccessLog(
            [](const Request &request, const Reply &reply, std::chrono::steady_clock::duration elapsed) {
                logLine(accessLogLine(request, reply, elapsed, machineOf(request)));
            });
    }
}

void addPlaceRoutes(HttpServer &server, const PlacesService &places)
{
    // A short text can match many names: the search runs where a slow one holds up no other client,
    // and waits for nothing but a core.
    server.get("/api/0.5/places", Runs::onComputeWorker,
               [&places](const Request &request) { return places.places(request.query); });
    server.get("/api/0.5/locate", Runs::onComputeWorker, [&places](const Request &request) {
        return places.locate(request.query, request.clientAddress);
    });
}

} // namespace nimbara::server
