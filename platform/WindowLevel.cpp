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
        if (event->type() == QEvent::Show) {
            auto *window = static_cast<QWidget *>(watched);
            writeHints(window);
            // Nobody else keeps an unmanaged window down: it goes below the manager's at every show.
            if (window->windowFlags().testFlag(Qt::BypassWindowManagerHint))
                QMetaObject::invokeMethod(window, &QWidget::lower, Qt::QueuedConnection);
        }
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
// The X11 managers known to tile and to stack every floating window above the tiled ones,
// whatever _NET_WM_STATE_BELOW says.
bool tilingManagerKeepsNoLayer()
{
    return x11::windowManagerName() == "i3";
}
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
    // Under a tiling X11 manager that floats such a window above the tiled ones (i3), the widget
    // stays out of the manager's hands: unmanaged, at its frame, on every workspace, lowered below
    // the manager's windows.
    const bool wayland = currentWindowSystem() == WindowSystem::Wayland;
    const bool unmanaged = !wayland && tilingManagerKeepsNoLayer();
    Qt::WindowFlags flags = Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint;
    if (wayland || unmanaged)
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
    if (unmanaged) {
        window->lower();
        return;
    }

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
