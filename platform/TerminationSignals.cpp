#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nimbara {

namespace {
int g_pipe[2] = {-1, -1};
std::function<void()> g_handler;

extern "C" void onSignal(int signal)
{
    // Only async-signal-safe work here: one byte into the pipe.
    const char byte = static_cast<char>(signal);
    const int saved = errno;
    [[maybe_unused]] const auto written = ::write(g_pipe[0], &byte, 1);
    errno = saved;
}

void drain()
{
    char buffer[64];
    while (::read(g_pipe[1], buffer, sizeof buffer) > 0) {
    }
    if (g_handler)
        g_handler();
    else
        QCoreApplication::quit();
}
} // namespace

void handleTerminationSignals(std::function<void()> handler)
{
    g_handler = std::move(handler);
    if (g_pipe[0] != -1)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_pipe) != 0)
        return;
    auto notifier = new QSocketNotifier(g_pipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] { drain(); });

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

} // namespace nimbara
