#include "redis/RedisClient.h"

#include "core/ServiceLog.h"

#include <hiredis/hiredis.h>

#include <charconv>

namespace nimbara::server {

namespace {

timeval toTimeval(std::chrono::milliseconds time)
{
    return {static_cast<time_t>(time.count() / 1000), static_cast<suseconds_t>(time.count() % 1000 * 1000)};
}

std::optional<int> number(std::string_view text, int low, int high)
{
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low ||
        value > high)
        return std::nullopt;
    return value;
}

RedisValue toValue(const redisReply *reply)
{
    RedisValue value;
    switch (reply->type) {
    case REDIS_REPLY_STRING:
    case REDIS_REPLY_STATUS:
        value.kind = RedisValue::Kind::string;
        value.text.assign(reply->str, reply->len);
        break;
    case REDIS_REPLY_INTEGER:
        value.kind = RedisValue::Kind::integer;
        value.integer = reply->integer;
        break;
    case REDIS_REPLY_ARRAY:
        value.kind = RedisValue::Kind::array;
        for (size_t i = 0; i < reply->elements; ++i)
            value.elements.push_back(toValue(reply->element[i]));
        break;
    default:
        break;
    }
    return value;
}

// Runs a command on a context; nothing, with the reason, when it failed.
std::optional<RedisValue> run(redisContext *context, const std::vector<std::string_view> &arguments,
                              std::string &error, bool &connectionLost)
{
    std::vector<const char *> pointers;
    std::vector<size_t> lengths;
    for (auto argument : arguments) {
        pointers.push_back(argument.data());
        lengths.push_back(argument.size());
    }
    auto *reply = static_cast<redisReply *>(
        redisCommandArgv(context, static_cast<int>(pointers.size()), pointers.data(), lengths.data()));
    connectionLost = reply == nullptr;
    if (!reply) {
        error = context->errstr[0] ? context->errstr : "no answer";
        return std::nullopt;
    }
    std::optional<RedisValue> value;
    if (reply->type == REDIS_REPLY_ERROR)
        error.assign(reply->str, reply->len);
    else
        value = toValue(reply);
    freeReplyObject(reply);
    return value;
}

} // namespace

std::optional<RedisAddress> RedisAddress::parse(std::string_view url, std::string &error)
{
    constexpr std::string_view scheme = "redis://";
    if (!url.starts_with(scheme)) {
        error = "not a redis:// address";
        return std::nullopt;
    }
    url.remove_prefix(scheme.size());
    RedisAddress address;
    const auto slash = url.find('/');
    std::string_view authority = url.substr(0, slash);
    if (slash != std::string_view::npos) {
        auto database = number(url.substr(slash + 1), 0, 1 << 20);
        if (!database) {
            error = "the database is not a number";
            return std::nullopt;
        }
        address.database = *database;
    }
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        const auto userInfo = authority.substr(0, at);
        const auto colon = userInfo.find(':');
        address.password = colon == std::string_view::npos ? userInfo : userInfo.substr(colon + 1);
        authority.remove_prefix(at + 1);
    }
    std::string_view port;
    if (authority.starts_with('[')) { // [::1]:6379
        const auto close = authority.find(']');
        if (close == std::string_view::npos) {
            error = "unclosed [ in the host";
            return std::nullopt;
        }
        address.host = authority.substr(1, close - 1);
        auto rest = authority.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':')) {
            error = "text after the host";
            return std::nullopt;
        }
        port = rest.empty() ? rest : rest.substr(1);
    } else {
        const auto colon = authority.find(':');
        address.host = authority.substr(0, colon);
        if (colon != std::string_view::npos)
            port = authority.substr(colon + 1);
    }
    if (address.host.empty()) {
        error = "no host";
        return std::nullopt;
    }
    if (!port.empty()) {
        auto value = number(port, 1, 65535);
        if (!value) {
            error = "the port is not a number from 1 to 65535";
            return std::nullopt;
        }
        address.port = *value;
    }
    return address;
}

std::string RedisAddress::text() const
{
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + "/" + std::to_string(database);
}

RedisClient::RedisClient(RedisAddress address, RedisOptions options)
    : where(std::move(address))
    , options(options)
    , pool(
          options.connections, [this] { return connect(); }, &redisFree)
{
    try {
        pool.release(acquire(), true);
    } catch (const RedisFailure &) {
        // logged; the retry thread takes over
    }
    retrier = std::jthread([this](std::stop_token stop) { retryLoop(stop); });
}

RedisClient::~RedisClient()
{
    retrier.request_stop();
    if (retrier.joinable())
        retrier.join();
}

bool RedisClient::available() const
{
    std::lock_guard lock(mutex);
    return up;
}

redisContext *RedisClient::connect()
{
    redisContext *context =
        redisConnectWithTimeout(where.host.c_str(), where.port, toTimeval(options.connectTimeout));
    std::string error = !context ? "out of memory" : context->err ? context->errstr : "";
    if (error.empty() && redisSetTimeout(context, toTimeval(options.commandTimeout)) != REDIS_OK)
        error = context->errstr;
    bool lost = false;
    if (error.empty() && !where.password.empty())
        run(context, {"AUTH", where.password}, error, lost);
    if (error.empty() && where.database != 0)
        run(context, {"SELECT", std::to_string(where.database)}, error, lost);
    if (error.empty())
        return context;
    if (context)
        redisFree(context);
    throw RedisFailure(error);
}

redisContext *RedisClient::acquire()
{
    try {
        return pool.acquire(options.commandTimeout);
    } catch (const RedisFailure &failure) {
        markUnavailable(failure.what());
        throw;
    } catch (const std::runtime_error &) {
        // Every connection busy for a whole command's time: this caller falls back like one whose
        // command timed out, instead of queueing behind a slow Redis without end.
        throw RedisFailure("no redis connection free within " +
                           std::to_string(options.commandTimeout.count()) + " ms");
    }
}

RedisValue RedisClient::command(std::initializer_list<std::string_view> arguments)
{
    if (!available())
        throw RedisFailure("redis " + where.text() + " is unavailable");
    std::string error;
    bool lost = false;
    std::optional<RedisValue> value;
    // A pooled connection may have died with a Redis restart since its last use: then the others
    // are suspect too, and one more try on a fresh connection tells whether Redis is really gone.
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto *context = acquire();
        value = run(context, arguments, error, lost);
        pool.release(context, !lost);
        if (!lost)
            break;
        pool.dropIdle();
    }
    if (lost)
        markUnavailable(error);
    // An error answer (a full memory, a read-only replica) fails this command only.
    if (!value)
        throw RedisFailure("redis " + where.text() + ": " + error);
    return *value;
}

void RedisClient::markUnavailable(const std::string &reason)
{
    {
        std::lock_guard lock(mutex);
        if (!up)
            return;
        up = false;
    }
    wentDown.notify_all();
    pool.dropIdle();
    logLine("redis " + where.text() + " unavailable (" + reason +
            "): in-process state serves until it is back");
}

bool RedisClient::retryNow()
{
    if (available())
        return true;
    redisContext *context = nullptr;
    try {
        context = connect();
    } catch (const RedisFailure &) {
        return false;
    }
    std::string error;
    bool lost = false;
    if (!run(context, {"PING"}, error, lost)) {
        redisFree(context);
        return false;
    }
    {
        std::lock_guard lock(mutex);
        if (up) { // another caller got there first
            redisFree(context);
            return true;
        }
        up = true;
    }
    pool.release(context, true, true);
    logLine("redis " + where.text() + " available again: shared state serves");
    return true;
}

void RedisClient::retryLoop(std::stop_token stop)
{
    std::unique_lock lock(mutex);
    while (true) {
        wentDown.wait(lock, stop, [this] { return !up; });
        // Wait an interval first: what just failed will not answer at once.
        wentDown.wait_for(lock, stop, options.retryInterval, [] { return false; });
        if (stop.stop_requested())
            return;
        lock.unlock();
        retryNow();
        lock.lock();
    }
}

} // namespace nimbara::server
