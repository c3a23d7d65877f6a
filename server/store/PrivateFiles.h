#pragma once

#include <string>

namespace nimbara::server {

// Makes an SQLite database private to the service's user before it is opened: a missing directory
// is created 0700, the file (and its -wal and -shm companions) 0600; an existing file open to others
// is tightened, and so is its directory when tightenDirectory is true (the service's own default
// directory, not one an operator chose and may share), each with a log line. Throws
// std::runtime_error when the file cannot be created.
void preparePrivateDatabase(const std::string &path, bool tightenDirectory);

} // namespace nimbara::server
