#pragma once

#include "core/ConnectionPool.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct redisContext;

namespace nimbara::server {

// Where Redis listens: redis://[:password@]host[:port][/database]
struct RedisAddress
{
    std::string host;
    int port = 6379;
    int database = 0;
    std::string password;

    // Nothing, with the reason in error, when the text is no such address.
    static std::optional<RedisAddress> parse(std::string_view url, std::string &error);
    // host:port/database, without the password: for log lines.
    std::string text() const;
};

struct RedisOptions
{
    // Short: a request that finds Redis slow falls back to in-process state instead of waiting.
    std::chrono::milliseconds connectTimeout{250};
    std::chrono::milliseconds commandTimeout{250};
    // While Redis is unreachable, how often a background thread tries it again.
    std::chrono::milliseconds retryInterval{1000};
    // Connections kept open at most; a caller waits for one when all are busy, for commandTimeout
    // at most.
    unsigned connections = 16;
};

// One answer of Redis: nil, a string (bulk or status), an integer or an array of these.
struct RedisValue
{
    enum class Kind { nil, string, integer, array };
    Kind kind = Kind::nil;
    std::string text;
    long long integer = 0;
    std::vector<RedisValue> elements;

    bool isNil() const { return kind == Kind::nil; }
};

class RedisFailure : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A pool of synchronous hiredis connections shared by many threads. A failed command (no connection,
// a time-out, an error answer) throws RedisFailure and marks Redis unavailable, with one log line;
// from then on callers see available() false and use their own in-process state, while a background
// thread tries Redis again every retryInterval and, once it answers, marks it available again (one
// more log line).
class RedisClient
{
public:
    explicit RedisClient(RedisAddress address, RedisOptions options = {});
    ~RedisClient();
    RedisClient(const RedisClient &) = delete;
    RedisClient &operator=(const RedisClient &) = delete;

    bool available() const;
    // Runs one command; the arguments go as they are (binary-safe).
    RedisValue command(std::initializer_list<std::string_view> arguments);
    // What the background thread does every retryInterval while Redis is unavailable; tests call it
    // instead of waiting. Whether Redis is available now.
    bool retryNow();

    const RedisAddress &address() const { return where; }

private:
    redisContext *connect();
    redisContext *acquire();
    void markUnavailable(const std::string &reason);
    void retryLoop(std::stop_token stop);

    RedisAddress where;
    RedisOptions options;

    ConnectionPool<redisContext> pool;
    mutable std::mutex mutex;
    bool up = true;
    std::condition_variable_any wentDown;
    std::jthread retrier; // last: stops before the members it uses go away
};

} // namespace nimbara::server
