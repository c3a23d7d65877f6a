#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace nimbara::server {

struct Feedback
{
    std::string type;
    std::string name;
    std::string email;
    std::string message;
    std::string client; // the sender's address
    std::string body;   // the raw form body, kept whole
};

// Where feedback and the machine blacklist live: SQLite on one machine, PostgreSQL for a fleet.
// Implementations are safe to use from many threads.
class Store
{
public:
    virtual ~Store() = default;

    // Stores the row unless the raw bodies stored would then pass maxBytes (false), checked and
    // stored as one step, so that every process and thread sharing the store holds to one cap.
    // Returns once the row is committed; throws std::runtime_error when it could not be.
    virtual bool addFeedback(const Feedback &feedback, std::uint64_t maxBytes = UINT64_MAX) = 0;
    // The bytes of the raw feedback bodies stored so far.
    virtual std::uint64_t feedbackBytes() = 0;

    // Answered from a copy in memory that follows the database: a change made by another process
    // (an operator's --blacklist-add, another instance) shows within the reload interval.
    virtual bool isBlacklisted(std::string_view machineFingerprint) = 0;
    // Whether the list changed.
    virtual bool addToBlacklist(std::string_view machineFingerprint) = 0;
    virtual bool removeFromBlacklist(std::string_view machineFingerprint) = 0;

    // The text form of a machine fingerprint (32 hex digits, lower-cased), or empty when it is none.
    static std::string normalizedFingerprint(std::string_view text);
};

// A PostgreSQL connection URI (postgresql://…, postgres://…) or the path of an SQLite file.
bool isPostgresLocation(std::string_view location);

// The location as a log line may show it: a URI without its password.
std::string displayedLocation(std::string_view location);

// Opens (and creates or migrates) the store at a location; throws std::runtime_error on failure.
std::unique_ptr<Store> openStore(const std::string &location);

} // namespace nimbara::server
