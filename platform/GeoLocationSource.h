#pragma once

#include "LocationSource.h"

#include <QGeoPositionInfoSource>

namespace nimbara {

// The location service on QtPositioning. The source comes from the "positionSource" setting:
// empty for GeoClue2, "nmea:PATH" for Qt's NMEA reader (a log file, "socket://host:port", or a
// GPS device such as /dev/ttyACM0), "fixed:LAT,LON" for one position the user gives.
//
// Qt has no permission API, so the permission state is inferred and reported only when it
// changes: a refused access is Denied, a source that delivers a position is Authorized. A location
// service that does not answer (GeoClue without its agent, or not started yet) counts as switched
// off until it is asked again or comes onto the bus.
class GeoLocationSource : public LocationSource
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GeoLocationSource)

public:
    // Takes ownership of source; a null source means no positioning on this machine.
    explicit GeoLocationSource(QGeoPositionInfoSource *source, QObject *parent = nullptr);
    ~GeoLocationSource() override;

    // A value that does not parse is logged and gives no source (location services off).
    static GeoLocationSource *fromSetting(const QString &positionSource, QObject *parent = nullptr);

    bool locationServicesEnabled() const override;
    void setDesiredAccuracyBest() override;
    void startUpdatingLocation() override;
    void stopUpdatingLocation() override;
    void recheckServices() override;

    QGeoPositionInfoSource *source() const { return m_source; }
    bool isUpdating() const { return m_updating; }

private:
    void deliver(const QGeoPositionInfo &info);
    void fail(QGeoPositionInfoSource::Error error);
    void report(AuthorizationStatus status);

    QGeoPositionInfoSource *m_source = nullptr;
    bool m_updating = false;
    AuthorizationStatus m_status = NotDetermined;
    bool m_notAnswering = false;
};

} // namespace nimbara
