#include "WXAppDelegate.h"

#include "Animator.h"
#include "Localized.h"
#include "SettingsStore.h"
#include "SingleInstance.h"
#include "WXDesktopWindow.h"

#include <QApplication>
#include <QScreen>
#include <QSessionManager>

#include <algorithm>

using namespace nimbara;

WXAppDelegate::WXAppDelegate(QObject *parent)
    : QObject(parent)
{}

WXAppDelegate::~WXAppDelegate() = default;

void WXAppDelegate::connectApplication(SingleInstance *instance)
{
    if (instance) {
        connect(instance, &SingleInstance::reopenRequested, this, [this] {
            applicationShouldHandleReopen(QCoreApplication::instance(), window && window->isVisible());
        });
    }
    connect(qApp, &QCoreApplication::aboutToQuit, this, &WXAppDelegate::applicationWillTerminate);
    // The session may end the process after this without another word.
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager &) { saveWindowOrigin(); });
}

void WXAppDelegate::applicationDidFinishLaunching()
{
    // Off screen and fully transparent until the end.
    Animator::setOpacity(window, 0.0);
    window->setVisible(true);
    window->close();

    if (quickTour)
        quickTour->setText(localized("TOUR_WINDOW_TITLE"));

    userDefaults = std::make_unique<SettingsStore>();

    if (userDefaults->boolForKey(key::initialized)) {
        if (tourWindow)
            tourWindow->close();
        const double x = userDefaults->floatForKey(key::originX);
        const double y = userDefaults->floatForKey(key::originY);
        const double height = userDefaults->floatForKey(key::sizeHeight);
        const double width = userDefaults->floatForKey(key::sizeWidth);
        window->setFrame(visibleFrame(QRectF(x, y, width, height), window->interfaceFrameSize()), true);
    } else {
        if (tourWindow)
            tourWindow->setVisible(true);
        userDefaults->setBool(key::locationEnabled, true);
        userDefaults->setBool(key::whiteColor, true);
        userDefaults->setBool(key::textAlign, true);
        userDefaults->setBool(key::dateEnabled, true);
        userDefaults->setBool(key::initialized, true);
        userDefaults->setFloat(key::originY, 100.0f);
        userDefaults->setFloat(key::originX, 100.0f);
        userDefaults->setFloat(key::sizeWidth, 680.0f);
        userDefaults->setFloat(key::sizeHeight, 172.0f);
        userDefaults->setBool(key::celsius, true);
        userDefaults->synchronize();
        // The widget applied its look from the empty store during start-up; show the first-run
        // look that the store now holds.
        window->toggleSettings();
    }

    window->resizeAllTexts();

    // X11 activates windows, not applications: showing the widget below asks for its activation.
    window->show();
    window->activateWindow();

    Animator::animateOpacity(window, 1.0);
}

bool WXAppDelegate::applicationShouldHandleReopen(QObject * /*application*/, bool /*hasVisibleWindows*/)
{
    if (window)
        window->didPressLockButton(this);
    return false;
}

void WXAppDelegate::applicationWillTerminate()
{
    saveWindowOrigin();
}

void WXAppDelegate::saveWindowOrigin()
{
    if (!window)
        return;
    // The first run may end before the launch handler took a handle of the store.
    if (!userDefaults)
        userDefaults = std::make_unique<SettingsStore>();
    // Only a frame the user set: one that a window manager imposed would come back everywhere else.
    const QRectF frame = window->userFrame();
    userDefaults->setFloat(key::originX, static_cast<float>(frame.x()));
    userDefaults->setFloat(key::originY, static_cast<float>(frame.y()));
    userDefaults->setFloat(key::sizeWidth, static_cast<float>(frame.width()));
    userDefaults->setFloat(key::sizeHeight, static_cast<float>(frame.height()));
    userDefaults->synchronize();
}

QRectF WXAppDelegate::visibleFrame(const QRectF &saved, const QSizeF &interfaceSize)
{
    QRectF frame = saved;
    if (!(frame.width() > 0))
        frame.setWidth(interfaceSize.width());
    if (!(frame.height() > 0))
        frame.setHeight(interfaceSize.height());

    const auto screens = QGuiApplication::screens();
    const bool onScreen = std::any_of(screens.begin(), screens.end(), [&frame](const QScreen *screen) {
        return QRectF(screen->geometry()).intersects(frame);
    });
    const QScreen *primary = QGuiApplication::primaryScreen();
    if (onScreen || !primary)
        return frame;
    // The nearest place on the primary screen's work area, its top-left corner where it does not fit.
    const QRectF area = primary->availableGeometry();
    frame.moveLeft(std::max(area.left(), std::min(frame.left(), area.left() + area.width() - frame.width())));
    frame.moveTop(std::max(area.top(), std::min(frame.top(), area.top() + area.height() - frame.height())));
    return frame;
}
