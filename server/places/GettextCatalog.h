#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>

namespace nimbara::server {

// Reads a compiled GNU gettext catalog (.mo) and calls back once per message with its original
// and its translation. A missing, truncated or foreign file gives no messages; entries that point
// outside the file are skipped. Returns false when the file is not a catalog at all.
bool readGettextCatalog(
    const std::filesystem::path &path,
    const std::function<void(std::string_view original, std::string_view translation)> &message);

// Values (catalogs) loaded on first use under a key and kept for the life of the holder; shared
// between request threads.
template <typename Value>
class LoadedOnce
{
public:
    std::shared_ptr<const Value> get(const std::string &key, const std::function<Value()> &load) const
    {
        {
            std::shared_lock lock(mutex);
            if (auto it = values.find(key); it != values.end())
                return it->second;
        }
        std::unique_lock lock(mutex);
        auto &slot = values[key];
        if (!slot)
            slot = std::make_shared<const Value>(load());
        return slot;
    }

private:
    mutable std::shared_mutex mutex;
    mutable std::map<std::string, std::shared_ptr<const Value>, std::less<>> values;
};

} // namespace nimbara::server
