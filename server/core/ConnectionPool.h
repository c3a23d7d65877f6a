#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace nimbara::server {

// Connections to a database server shared by many threads: at most a number open, made when needed,
// handed to one caller at a time, and closed instead of kept when the caller found them broken.
template <typename Connection>
class ConnectionPool
{
public:
    // connect opens one or throws; close frees one.
    ConnectionPool(unsigned maximum, std::function<Connection *()> connect,
                   std::function<void(Connection *)> close)
        : maximum(std::max(1u, maximum))
        , connectOne(std::move(connect))
        , closeOne(std::move(close))
    {}
    ~ConnectionPool() { dropIdle(); }
    ConnectionPool(const ConnectionPool &) = delete;
    ConnectionPool &operator=(const ConnectionPool &) = delete;

    // An idle connection or a new one; waits while all are in use, for a while at most (then
    // std::runtime_error). Throws what connect throws.
    Connection *acquire(std::chrono::milliseconds wait = std::chrono::hours(24))
    {
        std::unique_lock lock(mutex);
        if (!returned.wait_for(lock, wait, [this] { return !idle.empty() || open < maximum; }))
            throw std::runtime_error("no database connection free within " + std::to_string(wait.count()) +
                                     " ms");
        if (!idle.empty()) {
            auto *connection = idle.back();
            idle.pop_back();
            return connection;
        }
        ++open;
        lock.unlock();
        try {
            return connectOne();
        } catch (...) {
            lock.lock();
            --open;
            returned.notify_one();
            throw;
        }
    }

    // Takes a connection back from acquire(), or one opened elsewhere (adopted) into the pool.
    void release(Connection *connection, bool healthy, bool adopted = false)
    {
        {
            std::lock_guard lock(mutex);
            if (adopted)
                ++open;
            if (healthy) {
                idle.push_back(connection);
                connection = nullptr;
            } else {
                --open;
            }
        }
        returned.notify_one();
        if (connection)
            closeOne(connection);
    }

    // Closes the connections not in use: after a failure they are suspect.
    void dropIdle()
    {
        std::vector<Connection *> dropped;
        {
            std::lock_guard lock(mutex);
            dropped.swap(idle);
            open -= static_cast<unsigned>(dropped.size());
        }
        returned.notify_all();
        for (auto *connection : dropped)
            closeOne(connection);
    }

private:
    const unsigned maximum;
    std::function<Connection *()> connectOne;
    std::function<void(Connection *)> closeOne;
    std::mutex mutex;
    std::condition_variable returned;
    std::vector<Connection *> idle;
    unsigned open = 0;
};

} // namespace nimbara::server
