#pragma once

#include <QAction>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <memory>

class WXDesktopWindow;

namespace nimbara {
class SettingsStore;
class SingleInstance;
} // namespace nimbara

// Starts and ends each run: on a first run it shows the quick tour and writes the first-run
// settings, on later runs it restores the widget's frame; then it fades the widget in. A re-open of
// the running application toggles the widget's lock; every orderly termination saves the frame.
class WXAppDelegate : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WXAppDelegate)

public:
    explicit WXAppDelegate(QObject *parent = nullptr);
    ~WXAppDelegate() override;

    // Hears re-open requests from later instances and the application's orderly terminations: the
    // user's quit and the termination signals (both end in aboutToQuit) and the end of the session.
    void connectApplication(nimbara::SingleInstance *instance);

    void applicationDidFinishLaunching();
    bool applicationShouldHandleReopen(QObject *application, bool hasVisibleWindows);
    void applicationWillTerminate();
    void saveWindowOrigin();

    // A restored frame as it can be seen: a size that is not positive becomes the interface
    // definition's, and a frame on no current screen moves onto the primary screen.
    static QRectF visibleFrame(const QRectF &saved, const QSizeF &interfaceSize);

    std::unique_ptr<nimbara::SettingsStore> userDefaults;
    QPointer<WXDesktopWindow> window;
    QPointer<QWidget> tourWindow;
    QPointer<QAction> quickTour;
};
