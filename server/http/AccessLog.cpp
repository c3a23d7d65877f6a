#include "http/AccessLog.h"

#include "core/Utf8.h"

#include <cstdio>

namespace nimbara::server {

namespace {

// The length of the UTF-8 sequence at the start of text that the log keeps as it is, or 0: C1
// control characters (U+0080 to U+009F) are escaped like the C0 ones.
size_t keptSequenceLength(std::string_view text)
{
    const auto character = utf8CharAt(text);
    return character && character->code >= 0xA0 ? character->length : 0;
}

} // namespace

std::string escapeForLog(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\\') {
            escaped += "\\\\";
            ++i;
        } else if (c >= 0x20 && c < 0x7F) {
            escaped += static_cast<char>(c);
            ++i;
        } else if (size_t length = c >= 0x80 ? keptSequenceLength(text.substr(i)) : 0; length > 0) {
            escaped.append(text.substr(i, length));
            i += length;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            escaped += hex;
            ++i;
        }
    }
    return escaped;
}

std::string accessLogLine(const Request &request, const Reply &reply,
                          std::chrono::steady_clock::duration elapsed, std::string_view extra)
{
    auto field = [](std::string_view text) {
        return text.empty() ? std::string("-") : escapeForLog(text);
    };
    std::string line = field(request.clientAddress);
    line += ' ';
    line += field(request.method);
    line += ' ';
    line += field(request.path);
    line += ' ';
    line += std::to_string(reply.status);
    line += ' ';
    line += std::to_string(reply.body.size());
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
    line += ' ' + std::to_string(micros / 1000) + '.' + std::to_string(micros % 1000 / 100) + "ms";
    if (!extra.empty()) {
        line += ' ';
        line += extra;
    }
    return line;
}

} // namespace nimbara::server
