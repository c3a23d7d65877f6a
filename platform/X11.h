#pragma once

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <optional>

struct xcb_connection_t;

namespace nimbara::x11 {

// The application's X connection, or null where the platform is not xcb (offscreen, Wayland).
xcb_connection_t *connection();

// The screen number the connection was opened for (DISPLAY's ".N", 0 by default).
int defaultScreen();

std::uint32_t atom(const QByteArray &name);

// Reads a 32-bit property (CARDINAL or ATOM lists); none when the window has no such property.
std::optional<QList<std::uint32_t>> property32(std::uint32_t window, const QByteArray &name);

// The name the running window manager gives itself (_NET_WM_NAME of its _NET_SUPPORTING_WM_CHECK
// window), empty where none runs or it names itself not.
QByteArray windowManagerName();

// Replaces a 32-bit property; type is "ATOM" or "CARDINAL".
void setProperty32(std::uint32_t window, const QByteArray &name, const QByteArray &type,
                   const QList<std::uint32_t> &values);

} // namespace nimbara::x11
