#pragma once

#include "core/Envelope.h"
#include "http/Metrics.h"
#include "limits/Limits.h"
#include "store/Store.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace nimbara::server {

// What one client may cost in feedback; a missing limiter sets no limit.
struct FeedbackLimits
{
    std::unique_ptr<RateLimiter> perClient;          // keyed by client address
    std::unique_ptr<RateLimiter> perMachine;         // keyed by machine fingerprint, when the form has one
    std::uint64_t maxBytes = std::uint64_t(1) << 30; // all stored feedback bodies together
};

// Feedback refused by a limit, by limit; each refusal is also logged.
struct FeedbackRefusals
{
    Counter perClient;
    Counter perMachine;
    Counter storageFull;
};

// The widget's feedback form without HTTP: stored, or refused with the reason in the envelope.
class FeedbackService
{
public:
    explicit FeedbackService(Store &store, FeedbackLimits limits = {});

    // body: the raw form body of POST /api/0.5/feedback?
    Reply post(std::string_view body, std::string_view clientAddress);

    const FeedbackRefusals &refusals() const { return refused; }
    // Adds the refusals of the limits above to metrics.
    void addMetrics(Metrics &metrics) const;

private:
    std::optional<Reply> refusal(std::string_view body, std::string_view clientAddress);

    Store &store;
    FeedbackLimits limits;
    FeedbackRefusals refused;
};

} // namespace nimbara::server
