#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbara::server {

// One line to stderr (the journal under systemd). The line is queued and written by a thread of its
// own, so that a reader that stops reading holds up no request: when the queue is full the line is
// dropped and counted, and the count is logged once the reader takes lines again. A line is
// written with a single write, so that lines never interleave.
void logLine(std::string_view line);

// Lines dropped so far: the queue was full, or stderr could not be written (its reader went away).
std::uint64_t droppedLogLines();

// Waits until the queued lines are written, or until the time is up (a stalled reader); for the
// last lines before the program ends.
void flushLog(std::chrono::milliseconds within);

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
