#include "http/Framing.h"

#include <algorithm>
#include <cctype>

namespace nimbara::server {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::optional<FramingError> checkFraming(const HeadFacts &head)
{
    if (head.version != 10 && head.version != 11)
        return FramingError{400, "unsupported HTTP version"};
    if (head.contentLengthFields > 1)
        return FramingError{400, "more than one Content-Length"};
    if (head.transferEncodingFields > 0 && head.contentLengthFields > 0)
        return FramingError{400, "Content-Length with Transfer-Encoding"};
    if (head.transferEncodingFields > 1 ||
        (head.transferEncodingFields == 1 && !equalsIgnoringCase(head.transferEncoding, "chunked")))
        return FramingError{400, "a transfer coding other than chunked"};
    if (head.transferEncodingFields > 0 && head.version == 10)
        return FramingError{400, "Transfer-Encoding in HTTP/1.0"};
    if (head.version == 11 && head.hostFields != 1)
        return FramingError{400, head.hostFields == 0 ? "HTTP/1.1 without Host" : "more than one Host"};
    return std::nullopt;
}

} // namespace nimbara::server
