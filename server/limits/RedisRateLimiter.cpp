#include "limits/RedisRateLimiter.h"

#include "redis/RedisClient.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace nimbara::server {

namespace {

// KEYS[1]: the bucket; ARGV: tokens a millisecond, burst, time to live in ms, now in ms (empty:
// Redis' clock). Answers 1 when a token was taken, else 0.
constexpr std::string_view takeScript = R"(
local rate = tonumber(ARGV[1])
local burst = tonumber(ARGV[2])
local now = tonumber(ARGV[4])
if not now then
  if redis.replicate_commands then redis.replicate_commands() end
  local time = redis.call('TIME')
  now = tonumber(time[1]) * 1000 + math.floor(tonumber(time[2]) / 1000)
end
local state = redis.call('HMGET', KEYS[1], 'tokens', 'at')
local tokens = tonumber(state[1])
local at = tonumber(state[2])
if not tokens or not at then
  tokens = burst
  at = now
elseif now > at then
  tokens = math.min(burst, tokens + (now - at) * rate)
  at = now
end
local taken = 0
if tokens >= 1 then
  tokens = tokens - 1
  taken = 1
end
redis.call('HSET', KEYS[1], 'tokens', string.format('%.17g', tokens), 'at', string.format('%d', at))
redis.call('PEXPIRE', KEYS[1], ARGV[3])
return taken
)";

std::string hexDigest(const EVP_MD *type, std::string_view text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest, &size, type, nullptr);
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

const std::string &takeScriptSha()
{
    static const std::string sha = hexDigest(EVP_sha1(), takeScript);
    return sha;
}

std::string decimal(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

} // namespace

RedisRateLimiter::RedisRateLimiter(RedisClient &redis, std::string name, Rate rate, Now now,
                                   TokenBuckets::Now localNow)
    : redis(redis)
    , prefix("nimbara:limit:" + name + ":")
    , now(std::move(now))
    , local(rate, std::move(localNow))
{
    const double periodMs = std::max(1.0, static_cast<double>(rate.period.count())) * 1000;
    const double perMs = rate.count / periodMs;
    perMillisecond = decimal(perMs);
    burst = decimal(rate.burst);
    timeToLive = std::to_string(static_cast<long long>(std::ceil(rate.burst / perMs)) + 1000);
}

std::string RedisRateLimiter::keyOf(std::string_view key) const
{
    // 128 bits of SHA-256: no two clients meet by chance, and nobody can aim at another's bucket.
    return prefix + hexDigest(EVP_sha256(), key).substr(0, 32);
}

bool RedisRateLimiter::tryTake(std::string_view key)
{
    if (redis.available()) {
        const std::string bucket = keyOf(key);
        const std::string at =
            now ? std::to_string(
                      std::chrono::duration_cast<std::chrono::milliseconds>(now().time_since_epoch()).count())
                : std::string();
        try {
            RedisValue answer;
            try {
                answer = redis.command(
                    {"EVALSHA", takeScriptSha(), "1", bucket, perMillisecond, burst, timeToLive, at});
            } catch (const RedisFailure &failure) {
                // A Redis that restarted has forgotten the script: send it whole once.
                if (std::string_view(failure.what()).find("NOSCRIPT") == std::string_view::npos)
                    throw;
                answer =
                    redis.command({"EVAL", takeScript, "1", bucket, perMillisecond, burst, timeToLive, at});
            }
            if (answer.kind == RedisValue::Kind::integer)
                return answer.integer == 1;
        } catch (const RedisFailure &) {
            // This instance's own buckets answer below.
        }
    }
    return local.tryTake(key);
}

} // namespace nimbara::server
