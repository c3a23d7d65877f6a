#include "store/PostgresStore.h"

#include "core/ServiceLog.h"
#include "core/Utf8.h"

#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>
#include <chrono>

#include <array>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace nimbara::server {

namespace {

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

// Each entry takes the schema from the version before it to its own number (entry 0 makes version 1).
// Only ever append: a database carries the number of the last one applied.
const std::array migrations{
    R"sql(
    CREATE TABLE feedback (
        id bigserial PRIMARY KEY,
        received timestamptz NOT NULL DEFAULT now(),
        type text, name text, email text, message text, client text,
        body bytea -- the raw form body, byte for byte; the columns above hold its values as text
    );
    CREATE TABLE blacklist (
        machine text PRIMARY KEY,
        added timestamptz NOT NULL DEFAULT now()
    );
    -- Bumped by every change of the blacklist, whoever makes it (the service, psql): instances
    -- compare one number instead of reading the whole list.
    CREATE TABLE blacklist_revision (revision bigint NOT NULL);
    INSERT INTO blacklist_revision VALUES (0);
    CREATE FUNCTION blacklist_changed() RETURNS trigger LANGUAGE plpgsql AS $$
    BEGIN
        UPDATE blacklist_revision SET revision = revision + 1;
        RETURN NULL;
    END $$;
    CREATE TRIGGER blacklist_changed AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON blacklist
        FOR EACH STATEMENT EXECUTE FUNCTION blacklist_changed();
    )sql",
    // The bytes of the stored bodies, kept by triggers whoever writes or deletes (an operator who
    // clears old feedback frees the room): the storage cap is read from one row, for the fleet.
    R"sql(
    CREATE TABLE feedback_usage (bytes bigint NOT NULL);
    INSERT INTO feedback_usage SELECT COALESCE(SUM(octet_length(body)), 0) FROM feedback;
    CREATE FUNCTION feedback_usage_changed() RETURNS trigger LANGUAGE plpgsql AS $$
    BEGIN
        IF TG_OP = 'INSERT' THEN
            UPDATE feedback_usage SET bytes = bytes + COALESCE(octet_length(NEW.body), 0);
        ELSIF TG_OP = 'DELETE' THEN
            UPDATE feedback_usage SET bytes = bytes - COALESCE(octet_length(OLD.body), 0);
        ELSIF TG_OP = 'UPDATE' THEN
            UPDATE feedback_usage
                SET bytes = bytes - COALESCE(octet_length(OLD.body), 0) + COALESCE(octet_length(NEW.body), 0);
        ELSE
            UPDATE feedback_usage SET bytes = 0;
        END IF;
        RETURN NULL;
    END $$;
    CREATE TRIGGER feedback_usage_changed AFTER INSERT OR UPDATE OR DELETE ON feedback
        FOR EACH ROW EXECUTE FUNCTION feedback_usage_changed();
    CREATE TRIGGER feedback_usage_truncated AFTER TRUNCATE ON feedback
        FOR EACH STATEMENT EXECUTE FUNCTION feedback_usage_changed();
    )sql",
};

// Serialises schema changes of instances that start at the same moment ("nimb" in ASCII).
constexpr const char *lockSchema = "SELECT pg_advisory_xact_lock(1852403042)";

std::string errorText(PGconn *connection)
{
    std::string text = connection ? PQerrorMessage(connection) : "out of memory";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

bool succeeded(const Result &result)
{
    const auto status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

// Text as a PostgreSQL text column takes it: UTF-8 without NUL bytes. Invalid sequences become
// U+FFFD; the raw body keeps the bytes as they came.
std::string storableText(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        if (const auto character = utf8CharAt(bytes.substr(i))) {
            if (character->code != 0)
                text.append(bytes.substr(i, character->length));
            i += character->length;
        } else {
            text += "\xef\xbf\xbd";
            ++i;
        }
    }
    return text;
}

struct Parameter
{
    std::string_view value;
    bool binary = false;
};

// Runs one statement; nothing when it failed, or when no answer came within the time (timedOut).
Result execute(PGconn *connection, const char *sql, std::initializer_list<Parameter> parameters,
               std::chrono::milliseconds within, bool &timedOut)
{
    std::vector<const char *> values;
    std::vector<int> lengths;
    std::vector<int> formats;
    for (const auto &parameter : parameters) {
        values.push_back(parameter.value.data());
        lengths.push_back(static_cast<int>(parameter.value.size()));
        formats.push_back(parameter.binary ? 1 : 0);
    }
    // Text parameters must end in NUL for libpq: copy them.
    std::vector<std::string> texts;
    texts.reserve(values.size());
    size_t index = 0;
    for (const auto &parameter : parameters) {
        if (!parameter.binary)
            values[index] = texts.emplace_back(parameter.value).c_str();
        ++index;
    }
    if (!PQsendQueryParams(connection, sql, static_cast<int>(values.size()), nullptr, values.data(),
                           lengths.data(), formats.data(), 0))
        return Result(nullptr, &PQclear);
    // Waits for the answer on this process's own clock: the database's statement_timeout cannot
    // fire when the database itself stopped.
    const auto until = std::chrono::steady_clock::now() + within;
    Result last(nullptr, &PQclear);
    while (true) {
        while (PQisBusy(connection)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            pollfd ready{PQsocket(connection), POLLIN, 0};
            const int polled = left.count() > 0 ? ::poll(&ready, 1, static_cast<int>(left.count())) : 0;
            if (polled < 0 && errno == EINTR)
                continue;
            if (polled <= 0) {
                timedOut = true;
                return Result(nullptr, &PQclear);
            }
            if (!PQconsumeInput(connection))
                return Result(nullptr, &PQclear);
        }
        PGresult *next = PQgetResult(connection);
        if (!next)
            return last;
        last.reset(next);
    }
}

// A statement the database did not answer in time: not worth a second try.
struct StatementTimeout : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

} // namespace

// A pooled connection for one piece of work; a broken one is closed instead of returned, and one left
// inside a transaction (an exception between BEGIN and COMMIT) is rolled back first.
class PostgresStore::Lease
{
public:
    explicit Lease(PostgresStore &store)
        : store(store)
        , connection(store.pool.acquire(store.clientTime()))
    {}
    ~Lease()
    {
        // A connection whose statement got no answer is closed, never asked again.
        const bool usable = !timedOut && PQstatus(connection) == CONNECTION_OK;
        if (usable && PQtransactionStatus(connection) != PQTRANS_IDLE) {
            bool ignored = false;
            execute(connection, "ROLLBACK", {}, store.clientTime(), ignored);
        }
        store.pool.release(connection, usable);
    }
    Lease(const Lease &) = delete;
    Lease &operator=(const Lease &) = delete;

    PGconn *get() const { return connection; }

    // Runs one statement; throws with the database's reason on failure, StatementTimeout when no
    // answer came in time.
    Result run(const char *sql, std::initializer_list<Parameter> parameters = {}) const
    {
        return runWithin(store.clientTime(), sql, parameters);
    }
    Result runWithin(std::chrono::milliseconds within, const char *sql,
                     std::initializer_list<Parameter> parameters = {}) const
    {
        auto result = execute(connection, sql, parameters, within, timedOut);
        if (timedOut)
            throw StatementTimeout("the database gave no answer within " + std::to_string(within.count()) +
                                   " ms");
        if (!succeeded(result))
            throw std::runtime_error(errorText(connection));
        return result;
    }

private:
    PostgresStore &store;
    PGconn *connection;
    mutable bool timedOut = false;
};

PostgresStore::PostgresStore(std::string uri, PostgresOptions options)
    : uri(std::move(uri))
    , options(options)
    , pool(
          options.connections, [this] { return connect(); }, &PQfinish)
{
    migrate();
    reloadBlacklist();
    reloader = std::jthread([this](std::stop_token stop) { reloadLoop(stop); });
}

PostgresStore::~PostgresStore()
{
    reloader.request_stop();
    if (reloader.joinable())
        reloader.join();
}

int PostgresStore::schemaVersion()
{
    return static_cast<int>(migrations.size());
}

PGconn *PostgresStore::connect()
{
    // Defaults the URI may override, then what this code relies on (UTF-8 text), which it may not.
    // A connection that goes quiet over TCP (the database's host gone) is given up within seconds.
    static const char *const keywords[] = {
        "connect_timeout",  "application_name", "options", "keepalives_idle", "keepalives_interval",
        "keepalives_count", "tcp_user_timeout", "dbname",  "client_encoding", nullptr};
    const std::string statementTimeout =
        "-c statement_timeout=" + std::to_string(options.statementTime.count());
    const std::string userTimeout = std::to_string(clientTime().count());
    const char *const values[] = {"5",
                                  "nimbara-weatherd",
                                  statementTimeout.c_str(),
                                  "5",
                                  "2",
                                  "3",
                                  userTimeout.c_str(),
                                  uri.c_str(),
                                  "UTF8",
                                  nullptr};
    PGconn *connection = PQconnectdbParams(keywords, values, 1);
    if (PQstatus(connection) != CONNECTION_OK) {
        auto error =
            std::runtime_error("cannot connect to " + displayedLocation(uri) + ": " + errorText(connection));
        PQfinish(connection);
        throw error;
    }
    // Notices ("already exists, skipping") are no news for the service's log.
    PQsetNoticeProcessor(
        connection, [](void *, const char *) {}, nullptr);
    return connection;
}

void PostgresStore::migrate()
{
    Lease lease(*this);
    try {
        lease.run("BEGIN");
        lease.run("SET LOCAL statement_timeout = 0"); // another instance may be migrating
        lease.runWithin(std::chrono::hours(1), lockSchema);
        lease.run("CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL)");
        auto found = lease.run("SELECT max(version) FROM schema_version");
        const int version = PQgetisnull(found.get(), 0, 0) ? 0 : std::atoi(PQgetvalue(found.get(), 0, 0));
        if (version > schemaVersion())
            throw std::runtime_error("schema version " + std::to_string(version) +
                                     " is newer than this nimbara-weatherd knows (" +
                                     std::to_string(schemaVersion()) + ")");
        for (int next = version; next < schemaVersion(); ++next) {
            Result applied(PQexec(lease.get(), migrations[static_cast<size_t>(next)]), &PQclear);
            if (!succeeded(applied))
                throw std::runtime_error("migration to schema version " + std::to_string(next + 1) +
                                         " failed: " + errorText(lease.get()));
        }
        if (version < schemaVersion()) {
            lease.run("DELETE FROM schema_version");
            lease.run("INSERT INTO schema_version VALUES ($1)", {{std::to_string(schemaVersion())}});
        }
        lease.run("COMMIT");
        if (version < schemaVersion())
            logLine("database " + displayedLocation(uri) + ": schema " +
                    (version == 0 ? "created" : "migrated from version " + std::to_string(version)) +
                    " (version " + std::to_string(schemaVersion()) + ")");
    } catch (const std::runtime_error &error) {
        throw std::runtime_error(displayedLocation(uri) + ": " + error.what());
    }
}

template <typename Work>
auto PostgresStore::withConnection(Work work)
{
    // A connection the server closed since its last use (a restart, an idle time-out) fails at once;
    // one more try on a fresh connection. A failure of that one goes to the caller.
    for (int attempt = 0;; ++attempt) {
        Lease lease(*this);
        try {
            return work(lease);
        } catch (const StatementTimeout &) {
            throw;
        } catch (const std::runtime_error &) {
            if (attempt == 0 && PQstatus(lease.get()) != CONNECTION_OK)
                continue;
            throw;
        }
    }
}

bool PostgresStore::addFeedback(const Feedback &feedback, std::uint64_t maxBytes)
{
    // Returns once the INSERT (its own transaction) is committed: nothing is acknowledged that is
    // not. A connection lost during the commit is reported as a failure, so the retry above can at
    // worst store a row twice, never lose one. The usage row is locked from the check to the commit,
    // so that instances and workers storing at once cannot pass the cap together.
    const auto bodyBytes = std::to_string(feedback.body.size());
    const auto cap = std::to_string(std::min<std::uint64_t>(maxBytes, INT64_MAX));
    try {
        return withConnection([&](const Lease &lease) {
            auto inserted = lease.run("INSERT INTO feedback (type, name, email, message, client, body)"
                                      " SELECT $1::text, $2::text, $3::text, $4::text, $5::text, $6::bytea"
                                      " WHERE (SELECT bytes FROM feedback_usage FOR UPDATE) + $7::bigint"
                                      " <= $8::bigint",
                                      {{storableText(feedback.type)},
                                       {storableText(feedback.name)},
                                       {storableText(feedback.email)},
                                       {storableText(feedback.message)},
                                       {storableText(feedback.client)},
                                       {feedback.body, true},
                                       {bodyBytes},
                                       {cap}});
            return std::string_view(PQcmdTuples(inserted.get())) == "1";
        });
    } catch (const std::runtime_error &error) {
        throw std::runtime_error(std::string("cannot store feedback: ") + error.what());
    }
}

std::uint64_t PostgresStore::feedbackBytes()
{
    return withConnection([](const Lease &lease) {
        auto found = lease.run("SELECT bytes FROM feedback_usage");
        return static_cast<std::uint64_t>(std::strtoull(PQgetvalue(found.get(), 0, 0), nullptr, 10));
    });
}

bool PostgresStore::isBlacklisted(std::string_view machineFingerprint)
{
    std::shared_lock lock(blacklistMutex);
    return blacklist.contains(std::string(machineFingerprint));
}

bool PostgresStore::changeBlacklist(const char *sql, std::string_view machineFingerprint)
{
    const bool changed = withConnection([&](const Lease &lease) {
        return std::string_view(PQcmdTuples(lease.run(sql, {{machineFingerprint}}).get())) != "0";
    });
    reloadBlacklist(); // our own change counts from the next look-up on
    return changed;
}

bool PostgresStore::addToBlacklist(std::string_view machineFingerprint)
{
    return changeBlacklist("INSERT INTO blacklist (machine) VALUES ($1) ON CONFLICT DO NOTHING",
                           machineFingerprint);
}

bool PostgresStore::removeFromBlacklist(std::string_view machineFingerprint)
{
    return changeBlacklist("DELETE FROM blacklist WHERE machine = $1", machineFingerprint);
}

void PostgresStore::reloadBlacklist()
{
    std::lock_guard reloading(reloadMutex);
    try {
        withConnection([this](const Lease &lease) {
            // The revision first: a change between the two reads leaves a list newer than its
            // revision, which the next reload corrects; never the other way round.
            auto found = lease.run("SELECT revision FROM blacklist_revision");
            const std::int64_t revision = std::atoll(PQgetvalue(found.get(), 0, 0));
            {
                std::shared_lock lock(blacklistMutex);
                if (revision == seenRevision)
                    return;
            }
            auto rows = lease.run("SELECT machine FROM blacklist");
            std::unordered_set<std::string> machines;
            for (int row = 0; row < PQntuples(rows.get()); ++row)
                machines.emplace(PQgetvalue(rows.get(), row, 0));
            std::unique_lock lock(blacklistMutex);
            blacklist = std::move(machines);
            seenRevision = revision;
        });
        if (reloadFailing)
            logLine("database " + displayedLocation(uri) + ": the blacklist is read again");
        reloadFailing = false;
    } catch (const std::exception &error) {
        if (!reloadFailing)
            logLine("database " + displayedLocation(uri) + ": cannot read the blacklist (" + error.what() +
                    "); the last copy stays in use");
        reloadFailing = true;
    }
}

void PostgresStore::reloadLoop(std::stop_token stop)
{
    std::mutex waitMutex;
    std::unique_lock lock(waitMutex);
    while (!reloadWake.wait_for(lock, stop, options.blacklistReload, [] { return false; }) &&
           !stop.stop_requested()) {
        lock.unlock();
        reloadBlacklist();
        lock.lock();
    }
}

} // namespace nimbara::server
