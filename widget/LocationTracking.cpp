#include "WXDesktopWindow.h"

#include "ui_WXDesktopWindow.h"

#include "GeoLocationSource.h"
#include "Localized.h"
#include "Log.h"
#include "NetworkLocationSource.h"
#include "SettingsStore.h"

#include <QTimer>

#include <utility>

using namespace nimbara;

nimbara::LocationSource *WXDesktopWindow::makeLocationManager()
{
    if (makeLocationSource)
        return makeLocationSource(this);
    const QString setting = SettingsStore::stringForKey(key::positionSource);
    if (setting.trimmed() == kNetworkPositionSource)
        return new NetworkLocationSource(this);
    return GeoLocationSource::fromSetting(setting, this);
}

void WXDesktopWindow::changeLocationSource()
{
    if (locationManager) {
        locationManager->stopUpdatingLocation();
        // The old manager may be the sender of the report being handled now.
        locationManager->disconnect(this);
        locationManager->deleteLater();
    }
    locationManager = makeLocationManager();
    // The old source's position is not the new one's: the next connected tick waits for the new.
    cachedLocation.reset();
    locationUnknown = false;
    isUpdated = false;
    weatherShown = false;
    // The person who chose the source waits for its weather: the first position brings the tick forward.
    m_tickOnFirstPosition = true;
    ui->title->setText(localized("UPDATING_WEATHER"));
    ui->subtitle->setText(localized("PLEASE_WAIT"));
    // The old place's weather leaves the tray and the Forecast panel with the lines.
    shownData = QVariant();
    emit weatherDidChange();
    updateLocation();
}

void WXDesktopWindow::updateLocation()
{
    if (locationManager) {
        // The widget is the manager's delegate; connecting again changes nothing.
        connect(locationManager, &LocationSource::positionUpdated, this,
                &WXDesktopWindow::locationManagerDidDeliver, Qt::UniqueConnection);
        connect(locationManager, &LocationSource::authorizationChanged, this,
                &WXDesktopWindow::locationManagerDidReportStatus, Qt::UniqueConnection);
        connect(locationManager, &LocationSource::locationUnknown, this,
                &WXDesktopWindow::locationManagerDidNotFindLocation, Qt::UniqueConnection);
        // A location service that did not answer shows as switched off; one that comes is asked.
        connect(locationManager, &LocationSource::servicesChanged, this, &WXDesktopWindow::updateLocation,
                Qt::UniqueConnection);
        locationManager->setDesiredAccuracyBest();
        locationManager->setPurpose(QStringLiteral("Get location for weather"));
        if (locationManager->locationServicesEnabled()) {
            locationManager->startUpdatingLocation();
            log(QStringLiteral("updating location"));
            return;
        }
    }
    // A location service that leaves (or does not answer a resumed start) while weather is shown
    // leaves the weather: it stays right for the known position, and the next position counts as usual.
    if (weatherShown)
        return;
    ui->title->setText(localized("LOCATION_SERVICES_DISABLED"));
    ui->subtitle->setText(localized("LOCATION_SERVICES_ENABLE"));
}

void WXDesktopWindow::locationManagerDidUpdateToLocation(nimbara::LocationSource * /*manager*/,
                                                         const QGeoCoordinate &newLocation,
                                                         const QGeoCoordinate & /*oldLocation*/)
{
    log(QStringLiteral("got new location"));
    cachedLocation = newLocation;
    locationUnknown = false;
    if (std::exchange(m_tickOnFirstPosition, false) && checkTimer->isActive())
        checkTimer->start(0);
    if (movedAwayFromWeather(newLocation)) {
        isUpdated = false;
    } else if (isUpdated && weatherLocation && locationManager) {
        // A resumed delivery finds the machine where the current weather is for: nothing to fetch,
        // so the location service rests again until the next hourly refresh or wake.
        locationManager->stopUpdatingLocation();
    }
}

void WXDesktopWindow::resumeLocationUpdates()
{
    if (!locationManager)
        return;
    // A location service that did not answer before may answer now.
    locationManager->recheckServices();
    if (locationManager->locationServicesEnabled())
        locationManager->startUpdatingLocation();
}

bool WXDesktopWindow::movedAwayFromWeather(const QGeoCoordinate &position) const
{
    return weatherLocation && position.isValid() && weatherLocation->isValid() &&
           position.distanceTo(*weatherLocation) > kMovedDistanceMeters;
}

void WXDesktopWindow::locationManagerDidChangeAuthorizationStatus(nimbara::LocationSource * /*manager*/,
                                                                  qint32 status)
{
    log(QStringLiteral("status changed to %1").arg(quint32(status)));
    switch (status) {
    case LocationSource::NotDetermined:
    case LocationSource::Authorized:
        weatherShown = false;
        ui->title->setText(localized("UPDATING_WEATHER"));
        ui->subtitle->setText(localized("PLEASE_WAIT"));
        isUpdated = false;
        updateLocation();
        break;
    case LocationSource::Restricted:
    case LocationSource::Denied:
        weatherShown = false;
        ui->title->setText(localized("LOCATION_DENIED_TITLE"));
        ui->subtitle->setText(localized("LOCATION_DENIED_SUBTITLE"));
        break;
    default:
        break;
    }
}

void WXDesktopWindow::locationManagerDidDeliver(double latitude, double longitude)
{
    const QGeoCoordinate previous = cachedLocation.value_or(QGeoCoordinate());
    locationManagerDidUpdateToLocation(locationManager, QGeoCoordinate(latitude, longitude), previous);
}

void WXDesktopWindow::locationManagerDidNotFindLocation()
{
    locationUnknown = true;
    weatherShown = false;
    ui->title->setText(localized("LOCATION_UNKNOWN_TITLE"));
    ui->subtitle->setText(localized("LOCATION_UNKNOWN_SUBTITLE"));
}

void WXDesktopWindow::locationManagerDidReportStatus(int status)
{
    locationManagerDidChangeAuthorizationStatus(locationManager, status);
}
