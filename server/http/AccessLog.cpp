#include "http/AccessLog.h"

#include <cstdio>

namespace nimbara::server {

namespace {

// The length of the valid UTF-8 sequence at the start of text (2 to 4 bytes), or 0.
size_t utf8SequenceLength(std::string_view text)
{
    auto byte = [&](size_t i) {
        return static_cast<unsigned char>(text[i]);
    };
    auto continuation = [&](size_t i) {
        return i < text.size() && (byte(i) & 0xC0) == 0x80;
    };
    const unsigned char lead = byte(0);
    // C1 control characters (U+0080 to U+009F) are escaped like the C0 ones.
    if (lead == 0xC2)
        return continuation(1) && byte(1) >= 0xA0 ? 2 : 0;
    if (lead >= 0xC3 && lead <= 0xDF)
        return continuation(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!continuation(1) || !continuation(2))
            return 0;
        // No overlong forms, no UTF-16 surrogates.
        if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) > 0x9F))
            return 0;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3))
            return 0;
        if ((lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) > 0x8F))
            return 0;
        return 4;
    }
    return 0;
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
        } else if (size_t length = c >= 0x80 ? utf8SequenceLength(text.substr(i)) : 0; length > 0) {
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
