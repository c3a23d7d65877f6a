#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace nimbara {

// Starts the program again once the running process has ended. The work is done by a detached
// /bin/sh running a fixed script; the process id and the executable path travel as the shell's
// positional parameters and are never spliced into the script, so any byte of the path (quotes,
// "$", backquotes, backslashes, blanks) reaches exec unchanged.
//
// The script polls `kill -0 PID` every 0.1 s for at most 5 s. The bound matters: `kill -0` also
// succeeds on a zombie, so a parent that never reaps the old process would otherwise hold the new
// one back for ever.
//
// The new instance gets the environment variable NIMBARA_RELAUNCHED set to the old process id.
// Where the old instance still holds the single-instance guard (it outlived the bounded wait), the
// new one must wait for the guard to become free and start, rather than ask the old one to re-open
// (which would toggle its lock): see takeRelaunchMark().
class Relauncher
{
public:
    // The fixed script: $1 is the process to wait for, $2 the executable to start.
    static QString script();
    // The environment variable that marks a relaunched instance.
    static QString markVariable();

    // Starts the detached shell for `executable` (made absolute), waiting for process `pid`.
    // Returns whether the shell was started; the program itself is not looked after.
    static bool relaunch(const QString &executable, qint64 pid);
    // relaunch(bundlePath(), this process's id).
    static bool relaunchThisProcess();

    // When this process was started by a relaunch: removes the mark from the environment (so that
    // the programs it starts do not inherit it) and returns the old process's id.
    static std::optional<qint64> takeRelaunchMark();
};

} // namespace nimbara
