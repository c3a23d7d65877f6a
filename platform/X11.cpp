#include "X11.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace nimbara::x11 {

xcb_connection_t *connection()
{
    auto app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    if (!app)
        return nullptr;
    auto native = app->nativeInterface<QNativeInterface::QX11Application>();
    return native ? native->connection() : nullptr;
}

int defaultScreen()
{
    int screen = 0;
    char *host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen))
        std::free(host);
    return screen;
}

std::uint32_t atom(const QByteArray &name)
{
    xcb_connection_t *c = connection();
    if (!c)
        return XCB_ATOM_NONE;
    const auto cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.constData());
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, cookie, nullptr), &std::free);
    return reply ? reply->atom : std::uint32_t(XCB_ATOM_NONE);
}

std::optional<QList<std::uint32_t>> property32(std::uint32_t window, const QByteArray &name)
{
    xcb_connection_t *c = connection();
    if (!c)
        return std::nullopt;
    const auto cookie = xcb_get_property(c, 0, window, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 1024);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(c, cookie, nullptr), &std::free);
    if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 32)
        return std::nullopt;
    const auto *values = static_cast<const std::uint32_t *>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    return QList<std::uint32_t>(values, values + count);
}

QByteArray windowManagerName()
{
    xcb_connection_t *c = connection();
    if (!c)
        return {};
    xcb_screen_iterator_t screen = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < defaultScreen() && screen.rem; ++i)
        xcb_screen_next(&screen);
    if (!screen.rem)
        return {};
    const auto check = property32(screen.data->root, "_NET_SUPPORTING_WM_CHECK");
    if (!check || check->isEmpty())
        return {};
    const auto cookie =
        xcb_get_property(c, 0, check->first(), atom("_NET_WM_NAME"), XCB_GET_PROPERTY_TYPE_ANY, 0, 64);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(c, cookie, nullptr), &std::free);
    if (!reply || reply->format != 8)
        return {};
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

void setProperty32(std::uint32_t window, const QByteArray &name, const QByteArray &type,
                   const QList<std::uint32_t> &values)
{
    xcb_connection_t *c = connection();
    if (!c)
        return;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom(name), atom(type), 32,
                        static_cast<uint32_t>(values.size()), values.constData());
    xcb_flush(c);
}

} // namespace nimbara::x11
