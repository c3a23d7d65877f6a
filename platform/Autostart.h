#pragma once

#include <QString>
#include <QStringList>

#include <chrono>

namespace nimbara {

// Start at login through the desktop's XDG autostart: an entry nimbara.desktop in
// $XDG_CONFIG_HOME/autostart (~/.config/autostart when the variable is unset). The entry starts the
// executable with launchArgument(), which tells main() that the X server may not be up yet.
//
// A desktop's own settings switch an entry off by writing Hidden=true (or
// X-GNOME-Autostart-enabled=false) into the user's copy; that reads as off here too. Where an
// administrator put an entry into a system folder ($XDG_CONFIG_DIRS/autostart), switching off
// writes a hidden user entry over it, since removing the user's file would not stop it.
class Autostart
{
public:
    static QString launchArgument();

    static QString entryPath();
    static bool isEnabled();
    // Writes (atomically) or removes the entry; the entry starts `executable`, by default the
    // running one. Returns whether it worked; a failure is logged.
    static bool setEnabled(bool enabled);
    static bool setEnabled(bool enabled, const QString &executable);

    // The entry's text for an absolute executable path; empty where the path cannot be written
    // into an entry (relative, or holding "=" or control characters).
    static QString entryText(const QString &executable);
    // An Exec value running `arguments`, quoted and escaped as desktop entries require.
    static QString execValue(const QStringList &arguments);

    // An application started at login may come before the X server does: tries to connect to
    // $DISPLAY every `interval` until one answers (true) or `limit` has passed (false).
    static bool waitForDisplay(std::chrono::milliseconds limit,
                               std::chrono::milliseconds interval = std::chrono::seconds(1));
};

} // namespace nimbara
