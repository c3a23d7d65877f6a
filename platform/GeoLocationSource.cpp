#include "GeoLocationSource.h"

#include "FixedPositionSource.h"
#include "GeoClueSource.h"
#include "Log.h"

#include <QGeoCoordinate>
#include <QGeoPositionInfo>

namespace nimbara {

namespace {

// GeoClue2 identifies the application by its desktop file (nimbara.desktop) and shows that file's
// name when it asks the user for permission; it takes no reason text of its own.
const QString kDesktopId = QStringLiteral("nimbara");

QGeoPositionInfoSource *createGeoClue()
{
    return new GeoClueSource(QDBusConnection::systemBus(), kDesktopId);
}

QGeoPositionInfoSource *createNmea(QString path)
{
    // Qt's reader takes a bare path for a recorded log; a device needs its serial scheme.
    if (path.startsWith(QLatin1String("/dev/")))
        path.prepend(QLatin1String("serial:"));
    const QVariantMap parameters{{QStringLiteral("nmea.source"), path}};
    return QGeoPositionInfoSource::createSource(QStringLiteral("nmea"), parameters, nullptr);
}

QGeoPositionInfoSource *createFixed(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 2)
        return nullptr;
    bool latitudeOk = false;
    bool longitudeOk = false;
    const double latitude = parts[0].trimmed().toDouble(&latitudeOk);
    const double longitude = parts[1].trimmed().toDouble(&longitudeOk);
    const QGeoCoordinate coordinate(latitude, longitude);
    if (!latitudeOk || !longitudeOk || !coordinate.isValid())
        return nullptr;
    return new FixedPositionSource(coordinate);
}

QString describe(QGeoPositionInfoSource::Error error)
{
    switch (error) {
    case QGeoPositionInfoSource::AccessError:
        return QStringLiteral("location access denied");
    case QGeoPositionInfoSource::ClosedError:
        return QStringLiteral("location source closed or not answering");
    case QGeoPositionInfoSource::UpdateTimeoutError:
        return QStringLiteral("no position within the time-out");
    case QGeoPositionInfoSource::UnknownSourceError:
    case QGeoPositionInfoSource::NoError:
        break;
    }
    return QStringLiteral("location source failed");
}

} // namespace

GeoLocationSource::GeoLocationSource(QGeoPositionInfoSource *source, QObject *parent)
    : LocationSource(parent)
    , m_source(source)
{
    if (!m_source)
        return;
    m_source->setParent(this);
    // Queued, and connected before any start: the NMEA reader emits its first fix inside
    // startUpdates(), and the widget must never be called back from inside its own request.
    connect(m_source, &QGeoPositionInfoSource::positionUpdated, this, &GeoLocationSource::deliver,
            Qt::QueuedConnection);
    connect(m_source, &QGeoPositionInfoSource::errorOccurred, this, &GeoLocationSource::fail,
            Qt::QueuedConnection);
    if (auto *geoClue = qobject_cast<GeoClueSource *>(m_source)) {
        connect(geoClue, &GeoClueSource::serviceAppeared, this, [this] {
            m_notAnswering = false;
            emit servicesChanged();
        });
    }
}

GeoLocationSource::~GeoLocationSource() = default;

GeoLocationSource *GeoLocationSource::fromSetting(const QString &positionSource, QObject *parent)
{
    const QString text = positionSource.trimmed();
    QGeoPositionInfoSource *source = nullptr;
    if (text.isEmpty()) {
        source = createGeoClue();
    } else if (text.startsWith(QLatin1String("nmea:")) && text.size() > 5) {
        source = createNmea(text.mid(5));
        if (!source)
            log(QStringLiteral(" ! ERROR : cannot open position source %1").arg(text));
    } else if (text.startsWith(QLatin1String("fixed:"))) {
        source = createFixed(text.mid(6));
        if (!source)
            log(QStringLiteral(" ! ERROR : positionSource not understood: %1").arg(text));
    } else {
        log(QStringLiteral(" ! ERROR : positionSource not understood: %1").arg(text));
    }
    return new GeoLocationSource(source, parent);
}

bool GeoLocationSource::locationServicesEnabled() const
{
    return m_source && !m_notAnswering &&
           m_source->supportedPositioningMethods() != QGeoPositionInfoSource::NoPositioningMethods;
}

void GeoLocationSource::setDesiredAccuracyBest()
{
    // GeoClue2 is asked for no accuracy at all unless every method is allowed.
    if (m_source && m_source->preferredPositioningMethods() != QGeoPositionInfoSource::AllPositioningMethods)
        m_source->setPreferredPositioningMethods(QGeoPositionInfoSource::AllPositioningMethods);
}

void GeoLocationSource::startUpdatingLocation()
{
    if (!m_source)
        return;
    m_updating = true;
    // Sources ignore a start while they run; one that stopped after an error starts again.
    m_source->startUpdates();
}

void GeoLocationSource::stopUpdatingLocation()
{
    if (!m_source)
        return;
    m_updating = false;
    m_source->stopUpdates();
}

void GeoLocationSource::recheckServices()
{
    m_notAnswering = false;
}

void GeoLocationSource::deliver(const QGeoPositionInfo &info)
{
    // A fix queued before the stop does not count: no position arrives after stopUpdatingLocation.
    if (!m_updating)
        return;
    const QGeoCoordinate coordinate = info.coordinate();
    if (!coordinate.isValid()) {
        log(QStringLiteral(" ! ERROR : location source delivered an invalid position"));
        return;
    }
    m_notAnswering = false;
    report(Authorized);
    emit positionUpdated(coordinate.latitude(), coordinate.longitude());
}

void GeoLocationSource::fail(QGeoPositionInfoSource::Error error)
{
    if (error == QGeoPositionInfoSource::NoError)
        return;
    log(QStringLiteral(" ! ERROR : %1").arg(describe(error)));
    // Only a refusal is a denial; a location service that is closed or does not answer is off.
    if (error == QGeoPositionInfoSource::AccessError) {
        report(Denied);
    } else if (error == QGeoPositionInfoSource::ClosedError && !m_notAnswering) {
        m_notAnswering = true;
        emit servicesChanged();
    }
}

void GeoLocationSource::report(AuthorizationStatus status)
{
    if (status == m_status)
        return;
    m_status = status;
    emit authorizationChanged(status);
}

} // namespace nimbara
