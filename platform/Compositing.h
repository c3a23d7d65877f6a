#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>
#include <optional>

namespace nimbara {

// Whether a window's transparent pixels show what lies beneath it. On X11 that takes a compositing
// manager (the "_NET_WM_CM_S<screen>" selection has an owner); without one a translucent window
// shows black where it is transparent. Other platforms (offscreen, Wayland) always compose.
bool translucencyAvailable();

// Tests force an answer; nullopt asks the screen again. Monitors report a forced change at once.
void setTranslucencyForTesting(std::optional<bool> available);

// Follows the compositing manager while the program runs: one may start after the widget (at
// login, often) or stop at any time. XFixes tells of every change of the selection's owner,
// including an owner that ends without letting go of it.
class CompositingMonitor : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CompositingMonitor)

public:
    explicit CompositingMonitor(QObject *parent = nullptr);
    ~CompositingMonitor() override;

    bool isTranslucent() const { return m_translucent; }
    // Asks the screen again and reports a change.
    void recheck();

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

signals:
    void translucencyChanged(bool translucent);

private:
    bool m_translucent;
    std::uint32_t m_selection = 0;
    // The first event code of XFixes on this connection; 0 where there is no XFixes.
    std::uint8_t m_xfixesEventBase = 0;
};

} // namespace nimbara
