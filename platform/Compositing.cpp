#include "Compositing.h"

#include "X11.h"

#include <QByteArray>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace nimbara {

namespace {
std::optional<bool> g_forced;
}

bool translucencyAvailable()
{
    if (g_forced)
        return *g_forced;
    xcb_connection_t *c = x11::connection();
    if (!c)
        return true;
    const QByteArray selection = "_NET_WM_CM_S" + QByteArray::number(x11::defaultScreen());
    const auto cookie = xcb_get_selection_owner(c, x11::atom(selection));
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
        xcb_get_selection_owner_reply(c, cookie, nullptr), &std::free);
    return reply && reply->owner != XCB_WINDOW_NONE;
}

void setTranslucencyForTesting(std::optional<bool> available)
{
    g_forced = available;
}

} // namespace nimbara
