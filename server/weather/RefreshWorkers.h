#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <unordered_set>
#include <vector>

namespace nimbara::server {

// Background threads that refresh cells: each queued cell key is handed to the work once, and a key
// already queued or in work is not queued twice. Stops and joins when destroyed, so declare it after
// whatever the work uses.
class RefreshWorkers
{
public:
    using Work = std::function<void(std::uint64_t key)>;

    RefreshWorkers(unsigned threads, Work work);
    ~RefreshWorkers();
    RefreshWorkers(const RefreshWorkers &) = delete;
    RefreshWorkers &operator=(const RefreshWorkers &) = delete;

    // Whether the key was queued: false when it is queued or in work already.
    bool push(std::uint64_t key);
    // Blocks until nothing is queued or in work: a seam for tests.
    void waitUntilIdle();

private:
    void loop(std::stop_token stop);

    Work work;
    std::mutex mutex;
    std::condition_variable_any wake;
    std::condition_variable idle;
    std::deque<std::uint64_t> queue;
    std::unordered_set<std::uint64_t> keys; // queued or in work
    size_t running = 0;
    std::vector<std::jthread> threads; // last: joined before the rest goes away
};

} // namespace nimbara::server
