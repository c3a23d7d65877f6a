#include "core/VersionGate.h"

#include "core/Fingerprint.h"

#include <charconv>

namespace nimbara::server {

VersionGate::VersionGate(const std::vector<std::string> &releases, std::string_view minimumVersion)
{
    for (const auto &release : releases) {
        if (compareVersions(release, minimumVersion) < 0)
            outdated.insert(fingerprint(release));
    }
}

bool VersionGate::isOutdated(std::string_view versionFingerprint) const
{
    return !outdated.empty() && outdated.contains(std::string(versionFingerprint));
}

int VersionGate::compareVersions(std::string_view a, std::string_view b)
{
    auto next = [](std::string_view &text) {
        unsigned long number = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        (void)error;
        auto dot = text.find('.', static_cast<size_t>(end - text.data()));
        text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
        return number;
    };
    while (!a.empty() || !b.empty()) {
        auto left = next(a);
        auto right = next(b);
        if (left != right)
            return left < right ? -1 : 1;
    }
    return 0;
}

} // namespace nimbara::server
