#pragma once

#include <functional>

namespace nimbara {

// Turns SIGTERM (the session manager, systemd), SIGINT and SIGHUP into a call on the main thread,
// through a self-pipe, so that the application ends in order: by default QCoreApplication::quit().
// A later call replaces the handler.
void handleTerminationSignals(std::function<void()> handler = {});

} // namespace nimbara
