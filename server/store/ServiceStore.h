#pragma once

#include "store/Store.h"

#include <chrono>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_set>

struct sqlite3;
struct sqlite3_stmt;

namespace nimbara::server {

// Feedback and the machine blacklist in one SQLite database (WAL, synchronous FULL: a feedback row
// is on disk before its answer goes out). The blacklist is looked up in memory, reloaded when the
// database changed (an operator's --blacklist-add from another process shows within the reload
// interval); a read costs a gate request microseconds, not a query. Safe to use from many threads.
class ServiceStore final : public Store
{
public:
    // Creates the database and its tables when missing; throws std::runtime_error on failure.
    explicit ServiceStore(const std::string &path,
                          std::chrono::milliseconds blacklistReload = std::chrono::milliseconds(1000));
    ~ServiceStore() override;
    ServiceStore(const ServiceStore &) = delete;
    ServiceStore &operator=(const ServiceStore &) = delete;

    bool addFeedback(const Feedback &feedback, std::uint64_t maxBytes = UINT64_MAX) override;
    std::uint64_t feedbackBytes() override;
    bool isBlacklisted(std::string_view machineFingerprint) override;
    bool addToBlacklist(std::string_view machineFingerprint) override;
    bool removeFromBlacklist(std::string_view machineFingerprint) override;

private:
    void execute(sqlite3 *db, const char *sql);
    sqlite3_stmt *prepare(sqlite3 *db, const char *sql);
    bool changeBlacklist(const char *sql, std::string_view machineFingerprint);
    void reloadBlacklistIfChanged();

    std::string path;
    std::mutex writeMutex;
    sqlite3 *writer = nullptr;
    sqlite3_stmt *insertFeedback = nullptr;
    std::shared_mutex readMutex;
    sqlite3 *reader = nullptr;
    sqlite3_stmt *dataVersion = nullptr;
    sqlite3_stmt *allMachines = nullptr;
    std::chrono::milliseconds blacklistReload;
    std::chrono::steady_clock::time_point nextReload;
    long long seenVersion = -1;
    std::unordered_set<std::string> blacklist;
};

} // namespace nimbara::server
