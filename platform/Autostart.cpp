#include "Autostart.h"

#include "BundleInfo.h"
#include "Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <thread>

#include <xcb/xcb.h>

namespace nimbara {

namespace {

const QString kEntryName = QStringLiteral("autostart/nimbara.desktop");

QString systemEntryPath()
{
    QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    // The first location is the user's own folder.
    if (!dirs.isEmpty())
        dirs.removeFirst();
    for (const QString &dir : std::as_const(dirs)) {
        const QString path = dir + QLatin1Char('/') + kEntryName;
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

// Whether the [Desktop Entry] group of an entry leaves it switched on.
bool entryIsActive(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inMainGroup || equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Hidden") && value == QLatin1String("true"))
            return false;
        if (key == QLatin1String("X-GNOME-Autostart-enabled") && value == QLatin1String("false"))
            return false;
    }
    return true;
}

bool hasControlCharacter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.category() == QChar::Other_Control; });
}

// The escapes of a desktop entry's string values.
QString escapedString(QString text)
{
    return text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
}

bool writeEntry(const QString &path, const QString &text)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        log(QStringLiteral("autostart: cannot create the folder of ") + path);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
        log(QStringLiteral("autostart: cannot write ") + path + QStringLiteral(": ") + file.errorString());
        return false;
    }
    return true;
}

} // namespace

QString Autostart::launchArgument()
{
    return QStringLiteral("--autostart");
}

QString Autostart::entryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') +
           kEntryName;
}

bool Autostart::isEnabled()
{
    const QString own = entryPath();
    if (QFileInfo::exists(own))
        return entryIsActive(own);
    const QString system = systemEntryPath();
    return !system.isEmpty() && entryIsActive(system);
}

bool Autostart::setEnabled(bool enabled)
{
    return setEnabled(enabled, bundlePath());
}

bool Autostart::setEnabled(bool enabled, const QString &executable)
{
    const QString path = entryPath();
    if (enabled) {
        const QString text = entryText(executable);
        if (text.isEmpty()) {
            log(QStringLiteral("autostart: cannot start this path from an autostart entry: ") + executable);
            return false;
        }
        return writeEntry(path, text);
    }
    if (!systemEntryPath().isEmpty())
        return writeEntry(path,
                          QStringLiteral("[Desktop Entry]\nType=Application\nName=Nimbara\nHidden=true\n"));
    if (QFileInfo::exists(path) && !QFile::remove(path)) {
        log(QStringLiteral("autostart: cannot remove ") + path);
        return false;
    }
    return true;
}

QString Autostart::entryText(const QString &executable)
{
    // Exec may not name a program with "=" in its path, and a line break would end the value.
    if (!QFileInfo(executable).isAbsolute() || executable.contains(QLatin1Char('=')) ||
        hasControlCharacter(executable))
        return {};
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Nimbara\n"
                          "Comment=Time, weather and place on your desktop\n"
                          "Icon=nimbara\n") +
           QStringLiteral("Exec=") + execValue({executable, launchArgument()}) + QLatin1Char('\n') +
           // The session skips the entry once the program is gone.
           QStringLiteral("TryExec=") + escapedString(executable) + QLatin1Char('\n') +
           QStringLiteral("Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n");
}

QString Autostart::execValue(const QStringList &arguments)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QStringList words;
    for (const QString &argument : arguments) {
        QString word = argument;
        if (std::any_of(word.cbegin(), word.cend(), [](QChar c) { return reserved.contains(c); })) {
            QString quoted;
            for (QChar c : std::as_const(word)) {
                if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                    c == QLatin1Char('\\'))
                    quoted += QLatin1Char('\\');
                quoted += c;
            }
            word = QLatin1Char('"') + quoted + QLatin1Char('"');
        }
        // "%" starts a field code; the string escapes come on top of the quoting.
        words << escapedString(word.replace(QLatin1Char('%'), QLatin1String("%%")));
    }
    return words.join(QLatin1Char(' '));
}

bool Autostart::waitForDisplay(std::chrono::milliseconds limit, std::chrono::milliseconds interval)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const QString display = qEnvironmentVariableIsEmpty("DISPLAY") ? QStringLiteral("(DISPLAY is not set)")
                                                                   : qEnvironmentVariable("DISPLAY");
    bool waiting = false;
    for (;;) {
        xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
        const bool connected = xcb_connection_has_error(connection) == 0;
        xcb_disconnect(connection);
        if (connected) {
            if (waiting)
                log(QStringLiteral("the X server answers on ") + display);
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            log(QStringLiteral("no X server answers on ") + display +
                QStringLiteral(" after %1 s").arg(limit.count() / 1000.0));
            return false;
        }
        if (!waiting)
            log(QStringLiteral("waiting for the X server on ") + display);
        waiting = true;
        std::this_thread::sleep_for(interval);
    }
}

} // namespace nimbara
