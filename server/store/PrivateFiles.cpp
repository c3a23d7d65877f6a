#include "store/PrivateFiles.h"

#include "core/ServiceLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace nimbara::server {

namespace {

// Takes the group's and others' bits off an existing path, with a warning; false when it is missing.
bool tighten(const std::string &path, mode_t mode)
{
    struct stat status
    {};
    if (::stat(path.c_str(), &status) != 0)
        return false;
    if ((status.st_mode & 077) != 0) {
        if (::chmod(path.c_str(), mode) == 0)
            logLine("warning: " + path + " was open to other users; now mode " +
                    (mode == 0700 ? "0700" : "0600"));
        else
            logLine("warning: " + path +
                    " is open to other users and cannot be tightened: " + std::strerror(errno));
    }
    return true;
}

} // namespace

void preparePrivateDatabase(const std::string &path, bool tightenDirectory)
{
    const auto directory = std::filesystem::path(path).parent_path();
    if (!directory.empty()) {
        std::error_code error;
        if (!std::filesystem::exists(directory, error)) {
            std::filesystem::create_directories(directory, error);
            ::chmod(directory.c_str(), 0700);
        } else if (tightenDirectory) {
            tighten(directory.string(), 0700);
        }
    }
    if (!tighten(path, 0600)) {
        const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
    }
    for (const char *companion : {"-wal", "-shm", "-journal"})
        tighten(path + companion, 0600);
}

} // namespace nimbara::server
