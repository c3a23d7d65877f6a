#include "core/ServiceLog.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace nimbara::server {

namespace {

std::atomic<bool> capturing{false};
std::mutex captureMutex;
std::vector<std::string> captured;

// Writes the queued lines to stderr on its own thread. It is never destroyed: at exit its thread
// may still be blocked on a reader that does not read, and must not hold the exit up.
class LogWriter
{
public:
    // About a minute of a busy service's access lines, a few megabytes at most.
    static constexpr size_t maxQueuedLines = 8192;

    static LogWriter &instance()
    {
        static auto *writer = new LogWriter;
        return *writer;
    }

    void add(std::string_view line)
    {
        std::lock_guard lock(mutex);
        if (queue.size() >= maxQueuedLines) {
            ++dropped;
            ++unreported;
            return;
        }
        queue.emplace_back(line).push_back('\n');
        wake.notify_one();
    }

    std::uint64_t droppedCount() const
    {
        std::lock_guard lock(mutex);
        return dropped;
    }

    void flush(std::chrono::milliseconds within)
    {
        std::unique_lock lock(mutex);
        idle.wait_for(lock, within, [this] { return queue.empty() && !writing; });
    }

private:
    LogWriter()
    {
        std::thread([this] { run(); }).detach();
    }

    void run()
    {
        std::unique_lock lock(mutex);
        while (true) {
            wake.wait(lock, [this] { return !queue.empty(); });
            std::deque<std::string> lines;
            lines.swap(queue);
            const auto lost = unreported;
            unreported = 0;
            writing = true;
            lock.unlock();
            // Said first: the lines that follow came after the gap. Untold, it is told with the next.
            std::uint64_t untold = 0;
            if (lost > 0 &&
                !writeAll("log: " + std::to_string(lost) + " lines dropped while the log was not read\n"))
                untold = lost;
            std::uint64_t failed = 0;
            for (const auto &line : lines)
                if (!writeAll(line))
                    ++failed;
            lock.lock();
            writing = false;
            dropped += failed;
            unreported += untold + failed;
            if (queue.empty())
                idle.notify_all();
        }
    }

    // A reader that went away (EPIPE, with SIGPIPE ignored) or any other error loses the line.
    static bool writeAll(std::string_view text)
    {
        while (!text.empty()) {
            auto n = ::write(STDERR_FILENO, text.data(), text.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            text.remove_prefix(static_cast<size_t>(n));
        }
        return true;
    }

    mutable std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::deque<std::string> queue;
    std::uint64_t dropped = 0;
    std::uint64_t unreported = 0;
    bool writing = false;
};

} // namespace

void logLine(std::string_view line)
{
    if (capturing.load(std::memory_order_relaxed)) {
        std::lock_guard lock(captureMutex);
        if (capturing.load())
            captured.emplace_back(line);
        return;
    }
    LogWriter::instance().add(line);
}

std::uint64_t droppedLogLines()
{
    return LogWriter::instance().droppedCount();
}

void flushLog(std::chrono::milliseconds within)
{
    LogWriter::instance().flush(within);
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
