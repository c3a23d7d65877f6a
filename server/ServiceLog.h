#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbara::server {

// One line to stderr (the journal under systemd), written with a single write so that lines of
// concurrent requests never interleave.
void logLine(std::string_view line);

// Collects the lines written while it lives, instead of writing them, for tests.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    std::vector<std::string> lines() const;
    bool contains(std::string_view part) const;
};

} // namespace nimbara::server
