// Starts a program and reports how long it took until a top-level window named NAME was mapped to
// stay: the time of its last MapNotify that no UnmapNotify followed within the quiet period.
// Usage: bench_map_timer NAME PROGRAM [ARGS...]
// Prints "<pid> <milliseconds>" and leaves the program running.
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

std::string windowName(xcb_connection_t *c, xcb_window_t window)
{
    const char netName[] = "_NET_WM_NAME";
    auto atomReply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof netName - 1, netName), nullptr);
    std::string name;
    for (xcb_atom_t property :
         {atomReply ? atomReply->atom : xcb_atom_t(XCB_ATOM_NONE), xcb_atom_t(XCB_ATOM_WM_NAME)}) {
        auto reply = xcb_get_property_reply(
            c, xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr);
        if (reply && xcb_get_property_value_length(reply) > 0)
            name.assign(static_cast<const char *>(xcb_get_property_value(reply)),
                        static_cast<size_t>(xcb_get_property_value_length(reply)));
        std::free(reply);
        if (!name.empty())
            break;
    }
    std::free(atomReply);
    return name;
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s NAME PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    const std::string wanted = argv[1];
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 1;
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);

    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }

    // Windows mapped and not unmapped since, with the time of their map.
    std::map<xcb_window_t, Clock::time_point> mapped;
    Clock::time_point lastMap{};
    bool found = false;
    const auto quiet = std::chrono::milliseconds(700);
    const auto deadline = start + std::chrono::seconds(30);
    pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
    while (Clock::now() < deadline) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(c)) {
            const auto now = Clock::now();
            const int type = event->response_type & ~0x80;
            if (type == XCB_MAP_NOTIFY) {
                auto map = reinterpret_cast<xcb_map_notify_event_t *>(event);
                if (windowName(c, map->window) == wanted) {
                    mapped[map->window] = now;
                    lastMap = now;
                    found = true;
                }
            } else if (type == XCB_UNMAP_NOTIFY) {
                mapped.erase(reinterpret_cast<xcb_unmap_notify_event_t *>(event)->window);
                if (mapped.empty())
                    found = false;
            }
            std::free(event);
        }
        if (found && Clock::now() - lastMap > quiet)
            break;
        poll(&fd, 1, 20);
    }
    if (!found)
        return 1;
    const double ms = std::chrono::duration<double, std::milli>(lastMap - start).count();
    std::printf("%d %.1f\n", static_cast<int>(child), ms);
    xcb_disconnect(c);
    return 0;
}
