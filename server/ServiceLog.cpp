#include "ServiceLog.h"

#include <unistd.h>

#include <atomic>
#include <mutex>

namespace nimbara::server {

namespace {

std::atomic<bool> capturing{false};
std::mutex captureMutex;
std::vector<std::string> captured;

} // namespace

void logLine(std::string_view line)
{
    if (capturing.load(std::memory_order_relaxed)) {
        std::lock_guard lock(captureMutex);
        if (capturing.load())
            captured.emplace_back(line);
        return;
    }
    std::string text;
    text.reserve(line.size() + 1);
    text.append(line).push_back('\n');
    size_t done = 0;
    while (done < text.size()) {
        auto n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

LogCapture::LogCapture()
{
    std::lock_guard lock(captureMutex);
    captured.clear();
    capturing = true;
}

LogCapture::~LogCapture()
{
    std::lock_guard lock(captureMutex);
    capturing = false;
    captured.clear();
}

std::vector<std::string> LogCapture::lines() const
{
    std::lock_guard lock(captureMutex);
    return captured;
}

bool LogCapture::contains(std::string_view part) const
{
    std::lock_guard lock(captureMutex);
    for (const auto &line : captured) {
        if (line.find(part) != std::string::npos)
            return true;
    }
    return false;
}

} // namespace nimbara::server
