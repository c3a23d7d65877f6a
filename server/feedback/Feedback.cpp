#include "feedback/Feedback.h"

#include "core/RawParams.h"
#include "core/ServiceLog.h"
#include "http/AccessLog.h"
#include "http/TrustedProxies.h"

namespace nimbara::server {

namespace {

const std::vector<std::string_view> feedbackKeys{"v1", "v2", "v3", "v4"};
const std::vector<std::string_view> fingerprintKeys{"v1", "v2", "v3", "v4", "v5"};

} // namespace

FeedbackService::FeedbackService(Store &store, FeedbackLimits limits)
    : store(store)
    , limits(std::move(limits))
{}

std::optional<Reply> FeedbackService::refusal(std::string_view body, std::string_view clientAddress)
{
    const Reply overLimit = errorReply(429, GateError::overLimit);
    if (limits.perClient && !limits.perClient->tryTake(clientKey(clientAddress))) {
        refused.perClient.add();
        logLine("limit: feedback from " + escapeForLog(clientAddress) +
                " refused: too many from this address");
        return overLimit;
    }
    // The widget's form has no machine fingerprint; a client that sends one is held to it as well.
    auto machine = Store::normalizedFingerprint(valueOf(parsePairs(body, fingerprintKeys), "v5"));
    if (!machine.empty() && limits.perMachine && !limits.perMachine->tryTake(machine)) {
        refused.perMachine.add();
        logLine("limit: feedback from " + escapeForLog(clientAddress) +
                " refused: too many from machine=" + machine);
        return overLimit;
    }
    return std::nullopt;
}

Reply FeedbackService::post(std::string_view body, std::string_view clientAddress)
{
    const Params params = parsePairs(body, feedbackKeys);
    // Nobody can answer feedback without an address, nor read one without a message.
    auto blank = [&](std::string_view key) {
        return valueOf(params, key).find_first_not_of(" \t\r\n") == std::string::npos;
    };
    if (params.empty() || blank("v3") || blank("v4"))
        return errorReply(400, GateError::malformedRequest);
    if (auto refusing = refusal(body, clientAddress))
        return *refusing;
    Feedback feedback{valueOf(params, "v1"), valueOf(params, "v2"),      valueOf(params, "v3"),
                      valueOf(params, "v4"), std::string(clientAddress), std::string(body)};
    // Throws when it could not be stored: the sender must not hear "ok". The storage cap is checked
    // in the store, where every instance and worker sees the same count.
    if (!store.addFeedback(feedback, limits.maxBytes)) {
        refused.storageFull.add();
        logLine("limit: feedback from " + escapeForLog(clientAddress) +
                " refused: the feedback storage is full");
        return errorReply(429, GateError::overLimit);
    }
    return {200, R"({"status":"ok"})"};
}

void FeedbackService::addMetrics(Metrics &metrics) const
{
    addLimitRefusals(metrics, "feedback_per_client", refused.perClient);
    addLimitRefusals(metrics, "feedback_per_machine", refused.perMachine);
    addLimitRefusals(metrics, "feedback_storage", refused.storageFull);
}

} // namespace nimbara::server
