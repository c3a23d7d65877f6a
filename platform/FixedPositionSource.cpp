#include "FixedPositionSource.h"

#include <QDateTime>
#include <QTimer>

namespace nimbara {

FixedPositionSource::FixedPositionSource(const QGeoCoordinate &coordinate, QObject *parent)
    : QGeoPositionInfoSource(parent)
    , m_position(coordinate, QDateTime())
{}

FixedPositionSource::~FixedPositionSource() = default;

QGeoPositionInfo FixedPositionSource::lastKnownPosition(bool fromSatellitePositioningMethodsOnly) const
{
    if (fromSatellitePositioningMethodsOnly || !m_delivered)
        return {};
    return m_position;
}

QGeoPositionInfoSource::PositioningMethods FixedPositionSource::supportedPositioningMethods() const
{
    return NonSatellitePositioningMethods;
}

int FixedPositionSource::minimumUpdateInterval() const
{
    return 0;
}

QGeoPositionInfoSource::Error FixedPositionSource::error() const
{
    return NoError;
}

void FixedPositionSource::startUpdates()
{
    // Delivered from the event loop, as a receiver would get a first fix from a real device.
    QTimer::singleShot(0, this, &FixedPositionSource::deliver);
}

void FixedPositionSource::stopUpdates() {}

void FixedPositionSource::requestUpdate(int)
{
    QTimer::singleShot(0, this, &FixedPositionSource::deliver);
}

void FixedPositionSource::deliver()
{
    m_position.setTimestamp(QDateTime::currentDateTimeUtc());
    m_delivered = true;
    emit positionUpdated(m_position);
}

} // namespace nimbara
