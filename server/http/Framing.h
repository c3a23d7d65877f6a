#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace nimbara::server {

// What a parsed request head says about how its body is framed and whom it is for.
struct HeadFacts
{
    unsigned version = 11; // 10 for HTTP/1.0, 11 for HTTP/1.1
    size_t hostFields = 0;
    size_t contentLengthFields = 0;
    size_t transferEncodingFields = 0;
    std::string_view transferEncoding;
};

struct FramingError
{
    int status;
    const char *reason; // for the log
};

// Refuses a head whose framing two parties could read differently, which is how a second request
// is smuggled inside the first: more than one Content-Length, a length together with chunking, a
// coding other than chunked. Also an HTTP/1.1 request without exactly one Host.
std::optional<FramingError> checkFraming(const HeadFacts &head);

} // namespace nimbara::server
