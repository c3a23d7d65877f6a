#pragma once

#include <QDateTime>
#include <QGeoCoordinate>
#include <QSizeF>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QTimer;

namespace Ui {
class WXDesktopWindow;
}

namespace nimbara {
class CompositingMonitor;
class LocationSource;
class MoveResizeHandler;
class ShapeMask;
class TrackingArea;
class WakeMonitor;
} // namespace nimbara

// The desktop widget: one frameless window on the desktop, below normal windows, showing the clock
// line, the weather line and the place line over a backing box that shows only while unlocked.
// Its member functions live in one source file per behaviour: this class's state, construction and
// start-up (WXDesktopWindow.cpp), the look (Appearance.cpp), the clock (Clock.cpp), the weather
// (WeatherDisplay.cpp) and how fresh it is (Freshness.cpp), the check tick and wake handling
// (RefreshScheduler.cpp), positions (LocationTracking.cpp) and lock mode with hover (LockMode.cpp).
class WXDesktopWindow : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WXDesktopWindow)

public:
    // Builds the window and its interface elements from the interface definition and connects the
    // button actions; awakeFromNib() then finishes the start-up.
    explicit WXDesktopWindow(QWidget *parent = nullptr);
    ~WXDesktopWindow() override;

    // The start-up sequence: runs once, after construction and before the launch handler.
    void awakeFromNib();

    // Look (Appearance.cpp).
    QSizeF windowWillResize(QWidget *sender, const QSizeF &frameSize);
    void resizeAllTexts();
    void toggleSettings();
    void relaunch();

    // Lock mode and hover (LockMode.cpp).
    void viewWillMoveToWindow(QWidget *window);
    void mouseEntered(QEvent *event);
    void mouseExited(QEvent *event);
    // The box opacity while unlocked, and the hover region's options: pointer entered and exited
    // (0x01), reported whether the application is active or not (0x80).
    static constexpr qreal kUnlockedBoxOpacity = 0.75;
    static constexpr int kHoverRegionOptions = 0x01 | 0x80;
    // Movability: the unlocked widget is dragged by its background and resized from its edges.
    bool isMovable() const;
    bool isMovableByWindowBackground() const;
    nimbara::MoveResizeHandler *moveResizeHandler() const { return m_moveResize; }
    nimbara::TrackingArea *hoverRegion() const { return m_hoverRegion; }

    // Clock line (Clock.cpp): shows the time now and re-arms itself every second.
    void getDate();

    // Positions (LocationTracking.cpp).
    void updateLocation();
    void locationManagerDidUpdateToLocation(nimbara::LocationSource *manager,
                                            const QGeoCoordinate &newLocation,
                                            const QGeoCoordinate &oldLocation);
    void locationManagerDidChangeAuthorizationStatus(nimbara::LocationSource *manager, qint32 status);
    // Replaces the location manager by the one the "positionSource" setting names now (the Location
    // menu has just written it): the placeholder texts return, and the new source's first position
    // runs the check tick at once, which fetches the weather for it.
    void changeLocationSource();
    // The "positionSource" value of the service's guess from the network address.
    static inline const QString kNetworkPositionSource = QStringLiteral("network");
    // A delivered position farther than this from the one the shown weather is for makes the
    // weather no longer current.
    static constexpr double kMovedDistanceMeters = 1000.0;

    // Weather (WeatherDisplay.cpp).
    void getWeather(const std::optional<QGeoCoordinate> &location);
    // Freshness (Freshness.cpp): the weather line's tooltip, how old the shown reading is, and
    // whether the service has stopped answering.
    QString weatherLineToolTip() const;
    // The time of the first of the check ticks in a row whose fetch found no service (or no
    // network), once there are two of them; invalid while the service answers.
    QDateTime serviceUnreachableSince() const;
    static constexpr int kUnreachableTicks = 2;

    // Check tick and wake handling (RefreshScheduler.cpp).
    void start();
    // The check tick that start() arms; tests run it directly instead of waiting for the timer.
    void checkTick();
    void receiveWakeNote(QObject *notification);

    // The frame in screen space (top-left origin, as Qt places windows); setFrame() lays the
    // interface elements out for the new size at once, also while the window is hidden.
    QRectF frame() const;
    void setFrame(const QRectF &frame, bool display);
    // The frame the user set: the interface definition's, then the last one given by setFrame() or
    // by a drag or resize with the pointer. A frame that a window manager imposes (tiling,
    // maximizing, clamping) does not change it, so it is the one to save.
    QRectF userFrame() const { return m_userFrame; }
    // The size the interface definition gives the window.
    QSize interfaceFrameSize() const { return m_interfaceFrameSize; }

    // The window level as a number (desktop-icon level 18: locked 17, unlocked 19), mapped to X11
    // by the platform layer.
    int level() const { return m_level; }
    void setLevel(int level);

    // Whether transparent pixels show the desktop; without that the window keeps its X11 shape to
    // the outlined text instead. Follows the compositing manager as it starts and stops.
    bool isTranslucent() const { return m_translucent; }
    nimbara::ShapeMask *shapeMask() const { return m_shapeMask; }

signals:
    // The weather shown changed: new weather, or the other unit.
    void weatherDidChange();
    // serviceUnreachableSince() changed.
    void serviceReachabilityDidChange();

public slots:
    // Button actions. A setting button's key is flipped before its action runs (see connectActions).
    void didPressColorButton(QObject *sender);
    void didPressDateButton(QObject *sender);
    void didPressLocationButton(QObject *sender);
    void didPressAlignButton(QObject *sender);
    void didPressReloadButton(QObject *sender);
    // Virtual so that tests can count the presses that reach it.
    virtual void didPressLockButton(QObject *sender);

private slots:
    // The location manager's reports, passed on to the two delegate operations.
    void locationManagerDidDeliver(double latitude, double longitude);
    void locationManagerDidReportStatus(int status);
    // The source was told that nobody can say where the machine is.
    void locationManagerDidNotFindLocation();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

public:
    // The interface elements (outlets), as generated from resources/ui/WXDesktopWindow.ui.
    const std::unique_ptr<Ui::WXDesktopWindow> ui;

    // State.
    bool isLocked = true;
    bool isUpdated = false;
    bool isUpdating = false;
    bool errors = false;
    double checkInterval = 15.0;
    qint32 refreshInterval = 3600;
    qint32 current = 0;
    QVariant data;
    // The weather data of the last weather answer, the one the lines show (data also takes the
    // "data" of error answers).
    QVariant shownData;
    // The lines show weather (of shownData), not a placeholder or a message.
    bool weatherShown = false;
    // Created by the start-up sequence; the widget owns it.
    nimbara::LocationSource *locationManager = nullptr;
    std::optional<QGeoCoordinate> cachedLocation;
    // The source was told that nobody can say where the machine is, and no position came since.
    bool locationUnknown = false;
    // The position the weather on display was fetched for; none before the first success.
    std::optional<QGeoCoordinate> weatherLocation;
    // The proportion (width to height) fixed at start-up that user resizes keep.
    QSizeF aspectRatio;

    // Seams for tests: the clock's source of the current time and its one-shot timer.
    std::function<QDateTime()> now = [] {
        return QDateTime::currentDateTime();
    };
    QTimer *const clockTimer;
    // Seams for tests of the relaunch: starting the new instance, and ending this one in order.
    std::function<bool()> startRelaunch;
    std::function<void()> terminate;
    // The pending check tick (one at a time), the connectivity probe, the location service (null:
    // the one the "positionSource" setting names) and the wake notices.
    QTimer *const checkTimer;
    std::function<bool()> isConnected;
    std::function<nimbara::LocationSource *(QObject *parent)> makeLocationSource;
    nimbara::WakeMonitor *wakeMonitor = nullptr;

private:
    void connectActions();
    void layoutOutlets();
    nimbara::LocationSource *makeLocationManager();
    // Starts the deliveries again after a success stopped them, so that a machine carried
    // elsewhere is noticed; quiet, so that the tick's log keeps its order.
    void resumeLocationUpdates();
    bool movedAwayFromWeather(const QGeoCoordinate &position) const;
    void observeWakeNotes();
    void keepStripFromPointerWhileLocked();
    // What screen readers find in the widget (Accessibility.cpp): installed before the first look.
    static void installAccessibility();
    void offerControlsWhileUnlocked();
    void installWeatherLineToolTip();
    void setTranslucent(bool translucent);

    QSize m_interfaceFrameSize;
    QRectF m_userFrame;
    nimbara::CompositingMonitor *const m_compositing;
    bool m_translucent = false;
    int m_level = 0;
    // The interface elements' frames in the interface definition, scaled with the window.
    QList<std::pair<QWidget *, QRect>> m_interfaceGeometry;
    nimbara::ShapeMask *m_shapeMask = nullptr;
    // Lock mode and hover.
    nimbara::MoveResizeHandler *const m_moveResize;
    nimbara::TrackingArea *m_hoverRegion = nullptr;
    // A new location source was chosen: its first position runs the pending check tick at once.
    bool m_tickOnFirstPosition = false;
    // Whether the last fetch reached the service (an answer of any kind came); none before any.
    std::optional<bool> m_fetchReachedService;
    // The check ticks in a row that could not reach the service, and the time of the first.
    int m_failedTicks = 0;
    QDateTime m_failingSince;
};
