#include "weather/RefreshWorkers.h"

namespace nimbara::server {

RefreshWorkers::RefreshWorkers(unsigned threadCount, Work work)
    : work(std::move(work))
{
    for (unsigned i = 0; i < std::max(1u, threadCount); ++i)
        threads.emplace_back([this](std::stop_token stop) { loop(stop); });
}

RefreshWorkers::~RefreshWorkers()
{
    for (auto &thread : threads)
        thread.request_stop();
    threads.clear(); // joins
}

bool RefreshWorkers::push(std::uint64_t key)
{
    std::lock_guard lock(mutex);
    if (!keys.insert(key).second)
        return false;
    queue.push_back(key);
    wake.notify_one();
    return true;
}

void RefreshWorkers::waitUntilIdle()
{
    std::unique_lock lock(mutex);
    idle.wait(lock, [this] { return queue.empty() && running == 0; });
}

void RefreshWorkers::loop(std::stop_token stop)
{
    std::unique_lock lock(mutex);
    while (true) {
        wake.wait(lock, stop, [this] { return !queue.empty(); });
        if (stop.stop_requested())
            return;
        const auto key = queue.front();
        queue.pop_front();
        ++running;
        lock.unlock();
        work(key);
        lock.lock();
        keys.erase(key);
        --running;
        if (queue.empty() && running == 0)
            idle.notify_all();
    }
}

} // namespace nimbara::server
