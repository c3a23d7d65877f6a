#pragma once

#include <QGeoCoordinate>
#include <QGeoPositionInfoSource>

namespace nimbara {

// A positioning source that knows one position, configured by the user ("fixed:LAT,LON"):
// every start of updates and every single request delivers it once.
class FixedPositionSource : public QGeoPositionInfoSource
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FixedPositionSource)

public:
    explicit FixedPositionSource(const QGeoCoordinate &coordinate, QObject *parent = nullptr);
    ~FixedPositionSource() override;

    QGeoPositionInfo lastKnownPosition(bool fromSatellitePositioningMethodsOnly = false) const override;
    PositioningMethods supportedPositioningMethods() const override;
    int minimumUpdateInterval() const override;
    Error error() const override;

public slots:
    void startUpdates() override;
    void stopUpdates() override;
    void requestUpdate(int timeout = 0) override;

private:
    void deliver();

    QGeoPositionInfo m_position;
    bool m_delivered = false;
};

} // namespace nimbara
