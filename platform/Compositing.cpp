#include "Compositing.h"

#include "X11.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QPointer>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <memory>

namespace nimbara {

namespace {

std::optional<bool> g_forced;

QList<QPointer<CompositingMonitor>> &monitors()
{
    static QList<QPointer<CompositingMonitor>> all;
    return all;
}

QByteArray selectionName()
{
    return "_NET_WM_CM_S" + QByteArray::number(x11::defaultScreen());
}

} // namespace

bool translucencyAvailable()
{
    if (g_forced)
        return *g_forced;
    xcb_connection_t *c = x11::connection();
    if (!c)
        return true;
    const auto cookie = xcb_get_selection_owner(c, x11::atom(selectionName()));
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
        xcb_get_selection_owner_reply(c, cookie, nullptr), &std::free);
    return reply && reply->owner != XCB_WINDOW_NONE;
}

void setTranslucencyForTesting(std::optional<bool> available)
{
    g_forced = available;
    for (const QPointer<CompositingMonitor> &monitor : std::as_const(monitors())) {
        if (monitor)
            monitor->recheck();
    }
}

CompositingMonitor::CompositingMonitor(QObject *parent)
    : QObject(parent)
    , m_translucent(translucencyAvailable())
{
    monitors().removeAll(nullptr);
    monitors().append(this);
    xcb_connection_t *c = x11::connection();
    if (!c)
        return;
    const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (!xfixes || !xfixes->present)
        return;
    // The version must be agreed on before any other XFixes request; selection events need 1.
    std::free(xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 1, 0), nullptr));
    m_xfixesEventBase = xfixes->first_event;
    m_selection = x11::atom(selectionName());
    const xcb_setup_t *setup = xcb_get_setup(c);
    xcb_screen_iterator_t screen = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < x11::defaultScreen() && screen.rem; ++i)
        xcb_screen_next(&screen);
    if (!screen.rem)
        return;
    xcb_xfixes_select_selection_input(c, screen.data->root, m_selection,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    xcb_flush(c);
    QCoreApplication::instance()->installNativeEventFilter(this);
    // The manager may have come or gone between the first look and the selection of the events.
    recheck();
}

CompositingMonitor::~CompositingMonitor()
{
    monitors().removeAll(this);
}

void CompositingMonitor::recheck()
{
    const bool translucent = translucencyAvailable();
    if (translucent == m_translucent)
        return;
    m_translucent = translucent;
    emit translucencyChanged(translucent);
}

bool CompositingMonitor::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (m_xfixesEventBase == 0 || eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != m_xfixesEventBase + XCB_XFIXES_SELECTION_NOTIFY)
        return false;
    const auto *notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t *>(event);
    if (notify->selection == m_selection)
        recheck();
    // Qt's own screen bookkeeping wants the event too.
    return false;
}

} // namespace nimbara
