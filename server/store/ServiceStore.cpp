#include "store/ServiceStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace nimbara::server {

namespace {

std::runtime_error failure(sqlite3 *db, const std::string &what)
{
    return std::runtime_error(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

sqlite3 *open(const std::string &path)
{
    sqlite3 *db = nullptr;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        auto error = failure(db, "cannot open " + path);
        sqlite3_close(db);
        throw error;
    }
    // Another process (an operator's --blacklist-add) may hold the write lock for a moment.
    sqlite3_busy_timeout(db, 5000);
    return db;
}

void bind(sqlite3_stmt *statement, int index, std::string_view text)
{
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

} // namespace

ServiceStore::ServiceStore(const std::string &path, std::chrono::milliseconds blacklistReload)
    : path(path)
    , blacklistReload(blacklistReload)
{
    try {
        writer = open(path);
        execute(writer, "PRAGMA journal_mode=WAL");
        execute(writer, "PRAGMA synchronous=FULL");
        execute(writer, "CREATE TABLE IF NOT EXISTS feedback ("
                        " id INTEGER PRIMARY KEY,"
                        " received TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ', 'now')),"
                        " type TEXT, name TEXT, email TEXT, message TEXT, client TEXT, body BLOB)");
        execute(writer, "CREATE TABLE IF NOT EXISTS blacklist ("
                        " machine TEXT PRIMARY KEY,"
                        " added TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ', 'now')))");
        // The bytes of the stored bodies, kept by triggers whoever writes or deletes (an operator who
        // clears old feedback frees the room): the storage cap is read from one row.
        execute(writer, "BEGIN IMMEDIATE");
        execute(writer, "CREATE TABLE IF NOT EXISTS feedback_usage (bytes INTEGER NOT NULL)");
        execute(writer, "INSERT INTO feedback_usage"
                        " SELECT COALESCE(SUM(LENGTH(CAST(body AS BLOB))), 0) FROM feedback"
                        " WHERE NOT EXISTS (SELECT 1 FROM feedback_usage)");
        execute(writer,
                "CREATE TRIGGER IF NOT EXISTS feedback_added AFTER INSERT ON feedback BEGIN"
                " UPDATE feedback_usage SET bytes = bytes + COALESCE(LENGTH(CAST(NEW.body AS BLOB)), 0);"
                " END");
        execute(writer,
                "CREATE TRIGGER IF NOT EXISTS feedback_removed AFTER DELETE ON feedback BEGIN"
                " UPDATE feedback_usage SET bytes = bytes - COALESCE(LENGTH(CAST(OLD.body AS BLOB)), 0);"
                " END");
        execute(writer,
                "CREATE TRIGGER IF NOT EXISTS feedback_changed AFTER UPDATE OF body ON feedback BEGIN"
                " UPDATE feedback_usage SET bytes = bytes - COALESCE(LENGTH(CAST(OLD.body AS BLOB)), 0)"
                " + COALESCE(LENGTH(CAST(NEW.body AS BLOB)), 0);"
                " END");
        execute(writer, "COMMIT");
        // One statement: the check and the row are one write, which SQLite serialises across processes.
        insertFeedback = prepare(writer, "INSERT INTO feedback (type, name, email, message, client, body)"
                                         " SELECT ?, ?, ?, ?, ?, ?"
                                         " WHERE (SELECT bytes FROM feedback_usage) + ? <= ?");
        reader = open(path);
        dataVersion = prepare(reader, "PRAGMA data_version");
        allMachines = prepare(reader, "SELECT machine FROM blacklist");
        reloadBlacklistIfChanged();
    } catch (...) {
        sqlite3_finalize(insertFeedback);
        sqlite3_finalize(dataVersion);
        sqlite3_finalize(allMachines);
        sqlite3_close(reader);
        sqlite3_close(writer);
        throw;
    }
}

ServiceStore::~ServiceStore()
{
    sqlite3_finalize(insertFeedback);
    sqlite3_finalize(dataVersion);
    sqlite3_finalize(allMachines);
    sqlite3_close(reader);
    sqlite3_close(writer);
}

void ServiceStore::execute(sqlite3 *db, const char *sql)
{
    char *message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : "unknown error";
        sqlite3_free(message);
        throw std::runtime_error(path + ": " + text);
    }
}

sqlite3_stmt *ServiceStore::prepare(sqlite3 *db, const char *sql)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
        throw failure(db, path);
    return statement;
}

bool ServiceStore::addFeedback(const Feedback &feedback, std::uint64_t maxBytes)
{
    std::lock_guard lock(writeMutex);
    sqlite3_reset(insertFeedback);
    bind(insertFeedback, 1, feedback.type);
    bind(insertFeedback, 2, feedback.name);
    bind(insertFeedback, 3, feedback.email);
    bind(insertFeedback, 4, feedback.message);
    bind(insertFeedback, 5, feedback.client);
    sqlite3_bind_blob(insertFeedback, 6, feedback.body.data(), static_cast<int>(feedback.body.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_int64(insertFeedback, 7, static_cast<sqlite3_int64>(feedback.body.size()));
    sqlite3_bind_int64(insertFeedback, 8,
                       static_cast<sqlite3_int64>(std::min<std::uint64_t>(maxBytes, INT64_MAX)));
    int result = sqlite3_step(insertFeedback);
    sqlite3_clear_bindings(insertFeedback);
    sqlite3_reset(insertFeedback);
    if (result != SQLITE_DONE)
        throw failure(writer, "cannot store feedback");
    return sqlite3_changes(writer) == 1;
}

std::uint64_t ServiceStore::feedbackBytes()
{
    std::lock_guard lock(writeMutex);
    sqlite3_stmt *statement = prepare(writer, "SELECT bytes FROM feedback_usage");
    const bool found = sqlite3_step(statement) == SQLITE_ROW;
    const auto bytes = found ? sqlite3_column_int64(statement, 0) : 0;
    sqlite3_finalize(statement);
    if (!found)
        throw failure(writer, "cannot measure the feedback");
    return static_cast<std::uint64_t>(bytes);
}

bool ServiceStore::isBlacklisted(std::string_view machineFingerprint)
{
    const std::string machine(machineFingerprint);
    {
        std::shared_lock lock(readMutex);
        if (std::chrono::steady_clock::now() < nextReload)
            return blacklist.contains(machine);
    }
    std::unique_lock lock(readMutex);
    if (std::chrono::steady_clock::now() >= nextReload)
        reloadBlacklistIfChanged();
    return blacklist.contains(machine);
}

// Called with readMutex held for writing.
void ServiceStore::reloadBlacklistIfChanged()
{
    nextReload = std::chrono::steady_clock::now() + blacklistReload;
    sqlite3_reset(dataVersion);
    if (sqlite3_step(dataVersion) != SQLITE_ROW)
        return; // keep what we have; the next look-up tries again
    const long long version = sqlite3_column_int64(dataVersion, 0);
    sqlite3_reset(dataVersion);
    if (version == seenVersion)
        return;
    std::unordered_set<std::string> machines;
    sqlite3_reset(allMachines);
    int result;
    while ((result = sqlite3_step(allMachines)) == SQLITE_ROW) {
        auto text = reinterpret_cast<const char *>(sqlite3_column_text(allMachines, 0));
        machines.emplace(text ? text : "");
    }
    sqlite3_reset(allMachines);
    if (result != SQLITE_DONE)
        return;
    blacklist = std::move(machines);
    seenVersion = version;
}

bool ServiceStore::changeBlacklist(const char *sql, std::string_view machineFingerprint)
{
    std::lock_guard lock(writeMutex);
    sqlite3_stmt *statement = prepare(writer, sql);
    bind(statement, 1, machineFingerprint);
    int result = sqlite3_step(statement);
    sqlite3_finalize(statement);
    if (result != SQLITE_DONE)
        throw failure(writer, "cannot change the blacklist");
    return sqlite3_changes(writer) > 0;
}

bool ServiceStore::addToBlacklist(std::string_view machineFingerprint)
{
    bool changed =
        changeBlacklist("INSERT OR IGNORE INTO blacklist (machine) VALUES (?)", machineFingerprint);
    std::unique_lock lock(readMutex);
    nextReload = {}; // our own change counts from the next look-up on
    return changed;
}

bool ServiceStore::removeFromBlacklist(std::string_view machineFingerprint)
{
    bool changed = changeBlacklist("DELETE FROM blacklist WHERE machine = ?", machineFingerprint);
    std::unique_lock lock(readMutex);
    nextReload = {};
    return changed;
}

} // namespace nimbara::server
