#pragma once

// For the programs that take screenshots of the application's windows on an X display.

#include <QEventLoop>
#include <QGuiApplication>
#include <QPixmap>
#include <QRect>
#include <QScreen>
#include <QString>
#include <QTimer>

#include <cstdio>

namespace screen_grab {

// Lets the windows paint and the window manager place them.
inline void settle(int milliseconds = 400)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Saves what the screen shows in area as a PNG, once the windows have settled, and says so.
inline bool save(const QRect &area, const QString &path)
{
    settle();
    const QPixmap shot =
        QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const bool saved = shot.save(path);
    std::printf("%s %s\n", saved ? "saved" : "FAILED", qPrintable(path));
    return saved;
}

} // namespace screen_grab
