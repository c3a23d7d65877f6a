#include "limits/Limits.h"

#include <algorithm>

namespace nimbara::server {

TokenBuckets::TokenBuckets(Rate rate, Now now)
    : rate(rate)
    , now(std::move(now))
{}

double TokenBuckets::refilled(const Bucket &bucket, Clock::time_point current) const
{
    const double seconds = std::chrono::duration<double>(current - bucket.updated).count();
    const double perSecond = rate.count / std::max(1.0, static_cast<double>(rate.period.count()));
    return std::min(rate.burst, bucket.tokens + std::max(0.0, seconds) * perSecond);
}

bool TokenBuckets::tryTake(std::string_view key)
{
    const auto current = now();
    std::lock_guard lock(mutex);
    auto it = buckets.find(std::string(key));
    if (it == buckets.end()) {
        if (buckets.size() >= sweepAt)
            forgetFullBuckets(current);
        it = buckets.emplace(std::string(key), Bucket{rate.burst, current}).first;
    }
    Bucket &bucket = it->second;
    bucket.tokens = refilled(bucket, current);
    bucket.updated = current;
    if (bucket.tokens < 1)
        return false;
    bucket.tokens -= 1;
    return true;
}

void TokenBuckets::forgetFullBuckets(Clock::time_point current)
{
    // A full bucket is the same as none.
    std::erase_if(buckets, [&](const auto &item) { return refilled(item.second, current) >= rate.burst; });
    sweepAt = std::max<size_t>(4096, buckets.size() * 2);
}

size_t TokenBuckets::keyCount() const
{
    std::lock_guard lock(mutex);
    return buckets.size();
}

} // namespace nimbara::server
