#pragma once

#include "core/ConnectionPool.h"
#include "store/Store.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

struct pg_conn;

namespace nimbara::server {

struct PostgresOptions
{
    // How often the blacklist copy in memory is compared with the database.
    std::chrono::milliseconds blacklistReload{1000};
    // Connections kept open at most; a caller waits for one when all are busy, up to statementTime.
    unsigned connections = 4;
    // The longest one statement may take, measured by the database (statement_timeout) and, with a
    // margin, by this process, so that a database that stopped answering (hung, its host gone)
    // holds no caller longer; such a connection is closed.
    std::chrono::milliseconds statementTime{10000};
};

// Feedback and the machine blacklist in a PostgreSQL database shared by every instance of the
// service. The schema is created, or migrated from an older version, when the store opens (under an
// advisory lock, so that instances starting together do not race). A feedback row is committed
// before addFeedback returns. The blacklist is looked up in a copy in memory that a background thread
// reloads when the table's revision (bumped by a trigger on every change, whoever makes it) moved;
// while the database is unreachable the last copy stays in use.
class PostgresStore final : public Store
{
public:
    // uri: a libpq connection URI (postgresql://user@host:port/database?…); throws
    // std::runtime_error when the database cannot be reached or its schema is newer than this code.
    explicit PostgresStore(std::string uri, PostgresOptions options = {});
    ~PostgresStore() override;
    PostgresStore(const PostgresStore &) = delete;
    PostgresStore &operator=(const PostgresStore &) = delete;

    bool addFeedback(const Feedback &feedback, std::uint64_t maxBytes = UINT64_MAX) override;

    std::uint64_t feedbackBytes() override;
    bool isBlacklisted(std::string_view machineFingerprint) override;
    bool addToBlacklist(std::string_view machineFingerprint) override;
    bool removeFromBlacklist(std::string_view machineFingerprint) override;

    // What the background thread does at every interval; tests call it instead of waiting.
    void reloadBlacklist();

    // The schema version this code creates and migrates to.
    static int schemaVersion();

private:
    class Lease;
    // The longest this process waits for a statement's answer or a free connection.
    std::chrono::milliseconds clientTime() const { return options.statementTime + std::chrono::seconds(2); }
    pg_conn *connect();
    template <typename Work>
    auto withConnection(Work work);
    void migrate();
    bool changeBlacklist(const char *sql, std::string_view machineFingerprint);
    void reloadLoop(std::stop_token stop);

    std::string uri;
    PostgresOptions options;

    ConnectionPool<pg_conn> pool;

    std::shared_mutex blacklistMutex;
    std::unordered_set<std::string> blacklist;
    std::int64_t seenRevision = -1;
    bool reloadFailing = false;

    std::mutex reloadMutex; // one reload at a time
    std::condition_variable_any reloadWake;
    std::jthread reloader; // last: stops and joins before the members it uses go away
};

} // namespace nimbara::server
