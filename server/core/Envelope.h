#pragma once

#include "core/Reply.h"

namespace nimbara::server {

// Service error codes of the envelope every JSON answer of the service's API comes in.
enum class GateError {
    outdatedVersion = 0,
    blacklisted = 1,
    malformedRequest = 2,
    upstreamFailed = 3,
    overLimit = 4,
};

// {"status":"error","error":N}, with an HTTP status.
Reply errorReply(int httpStatus, GateError error);

} // namespace nimbara::server
