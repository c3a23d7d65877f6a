#pragma once

#include "http/HttpServer.h"

#include <chrono>
#include <string>
#include <string_view>

namespace nimbara::server {

// Client bytes made safe for a log line: printable ASCII and valid UTF-8 stay, a backslash is doubled,
// and every other byte (a newline, a control character, a byte of invalid UTF-8) becomes \xNN, so
// that no client can end a line or forge another.
std::string escapeForLog(std::string_view text);

// "127.0.0.1 GET /api/0.5/gate 200 143 0.21ms machine=…": the query is left out, it holds the
// position; extra (already escaped) follows when it is not empty.
std::string accessLogLine(const Request &request, const Reply &reply,
                          std::chrono::steady_clock::duration elapsed, std::string_view extra = {});

} // namespace nimbara::server
