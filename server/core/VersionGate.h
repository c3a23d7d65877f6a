#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace nimbara::server {

// Tells released client versions older than the minimum apart by their fingerprints: the client
// sends only the digest of its version text, so the gate digests every known release the same way.
// A fingerprint of no known release (a development build) is let through.
class VersionGate
{
public:
    VersionGate(const std::vector<std::string> &releases, std::string_view minimumVersion);

    bool isOutdated(std::string_view versionFingerprint) const;

    // Compares dotted version texts number by number ("0.10" is newer than "0.9"); missing parts
    // count as 0.
    static int compareVersions(std::string_view a, std::string_view b);

private:
    std::unordered_set<std::string> outdated;
};

} // namespace nimbara::server
