#include "core/Envelope.h"

#include <string>

namespace nimbara::server {

Reply errorReply(int httpStatus, GateError error)
{
    return {httpStatus, R"({"status":"error","error":)" + std::to_string(static_cast<int>(error)) + "}"};
}

} // namespace nimbara::server
