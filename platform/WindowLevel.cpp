#include "WindowLevel.h"

#include "LayerSurface.h"
#include "WindowSystem.h"
#include "X11.h"

#include <QEvent>
#include <QVariant>
#include <QWidget>

namespace nimbara {

namespace {
constexpr char kLevelProperty[] = "nimbaraWindowLevel";
const QString kHintsName = QStringLiteral("nimbara-window-hints");
const QString kLayerName = QStringLiteral("nimbara-layer-surface");
constexpr std::uint32_t kAllDesktops = 0xFFFFFFFF;

// The EWMH hints Qt has no flag for. They are written while the window is still unmapped, which is
// when a window manager reads them; Qt keeps states it finds there and adds its own (BELOW) at map.
// A window manager drops _NET_WM_STATE when a window is withdrawn, so they are written at every show.
class X11WindowHints : public QObject
{
public:
    explicit X11WindowHints(QWidget *window)
        : QObject(window)
    {
        setObjectName(kHintsName);
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            writeHints(static_cast<QWidget *>(watched));
        return false;
    }

private:
    static void writeHints(QWidget *window)
    {
        if (!x11::connection())
            return;
        const auto id = static_cast<std::uint32_t>(window->winId());
        QList<std::uint32_t> states = x11::property32(id, "_NET_WM_STATE").value_or(QList<std::uint32_t>{});
        for (const char *name : {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
            const std::uint32_t state = x11::atom(name);
            if (!states.contains(state))
                states.append(state);
        }
        x11::setProperty32(id, "_NET_WM_STATE", "ATOM", states);
        x11::setProperty32(id, "_NET_WM_DESKTOP", "CARDINAL", {kAllDesktops});
    }
};
} // namespace

int desktopIconWindowLevel()
{
    return kDesktopIconWindowLevel;
}

void applyWindowLevel(QWidget *window, int level)
{
    const int previous = appliedWindowLevel(window);
    window->setProperty(kLevelProperty, level);

    // Every level the widget uses lies in the layer below normal windows. On Wayland that layer is
    // the compositor's bottom layer, which takes a surface without a shell role of Qt's.
    const bool wayland = currentWindowSystem() == WindowSystem::Wayland;
    Qt::WindowFlags flags = Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint;
    if (wayland)
        flags |= Qt::BypassWindowManagerHint;
    if (window->windowFlags() != flags) {
        const bool wasVisible = window->isVisible();
        window->setWindowFlags(flags);
        if (wasVisible)
            window->show();
    }
    if (wayland && !window->findChild<QObject *>(kLayerName, Qt::FindDirectChildrenOnly)) {
        auto *layer = new LayerSurface(window);
        layer->setObjectName(kLayerName);
    }
    if (!wayland && !window->findChild<QObject *>(kHintsName, Qt::FindDirectChildrenOnly))
        new X11WindowHints(window);

    if (previous == 0 || previous == level || !window->isVisible())
        return;
    // Within the layer: above the desktop icons when raised, below them when lowered. A layer
    // surface has no order of its own within its layer to change.
    if (wayland)
        return;
    if (level > desktopIconWindowLevel())
        window->raise();
    else
        window->lower();
}

int appliedWindowLevel(const QWidget *window)
{
    return window->property(kLevelProperty).toInt();
}

} // namespace nimbara
