// A stranger's request, read as the service reads it: Beast's parser with the service's limits, then
// the framing check. Any input must end in a head, a refusal or a wait for more; never a crash.
#include "http/Framing.h"
#include "http/HttpServer.h"

#include <boost/beast/http.hpp>

#include <cstdint>
#include <string_view>

namespace http = boost::beast::http;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const nimbara::server::HttpOptions limits;
    http::request_parser<http::string_body> parser;
    parser.header_limit(static_cast<std::uint32_t>(limits.maxHeadBytes));
    parser.body_limit(limits.maxBodyBytes);
    parser.eager(true);

    boost::beast::error_code error;
    std::string_view rest(reinterpret_cast<const char *>(data), size);
    while (!rest.empty() && !parser.is_done()) {
        const size_t used = parser.put(boost::asio::buffer(rest.data(), rest.size()), error);
        if (error == http::error::need_more || used == 0)
            break;
        if (error)
            return 0;
        rest.remove_prefix(used);
    }
    if (!parser.is_header_done())
        return 0;

    const auto &head = parser.get();
    nimbara::server::HeadFacts facts;
    facts.version = head.version();
    facts.hostFields = head.count(http::field::host);
    facts.contentLengthFields = head.count(http::field::content_length);
    facts.transferEncodingFields = head.count(http::field::transfer_encoding);
    const auto coding = head[http::field::transfer_encoding];
    facts.transferEncoding = std::string_view(coding.data(), coding.size());
    (void)nimbara::server::checkFraming(facts);
    return 0;
}
