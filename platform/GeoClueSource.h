#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QGeoPositionInfoSource>

class QDBusError;
class QDBusServiceWatcher;
class QTimer;

namespace nimbara {

// GeoClue2 asked over D-Bus directly. Qt's geoclue2 plugin reports every failure as an access error,
// a refusal as much as a GeoClue that holds the request because no agent runs, and only after
// D-Bus's 25 s; and it never notices GeoClue starting later. Here an AccessDenied reply is an
// AccessError, and every other failure (no answer in time, no owner of the name, GeoClue gone) a
// ClosedError: the location service is not there now. serviceAppeared() tells when it comes.
class GeoClueSource : public QGeoPositionInfoSource
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GeoClueSource)

public:
    // desktopId: the application's desktop file name, which GeoClue shows when it asks the user.
    GeoClueSource(const QDBusConnection &bus, const QString &desktopId, QObject *parent = nullptr);
    ~GeoClueSource() override;

    // How long GeoClue may take to answer one call; D-Bus's own 25 s by default.
    void setAnswerTimeout(int milliseconds);

    QGeoPositionInfo lastKnownPosition(bool fromSatellitePositioningMethodsOnly = false) const override;
    // GeoClue's available accuracy, asked now; none where GeoClue does not answer.
    PositioningMethods supportedPositioningMethods() const override;
    int minimumUpdateInterval() const override;
    Error error() const override;

signals:
    // org.freedesktop.GeoClue2 has got an owner on the bus.
    void serviceAppeared();

public slots:
    void startUpdates() override;
    void stopUpdates() override;
    void requestUpdate(int timeout = 0) override;

private slots:
    // Connected by name: QDBusConnection::connect takes no member-function pointer.
    void onLocationUpdated(const QDBusObjectPath &oldLocation, const QDBusObjectPath &newLocation);

private:
    bool wanted() const { return m_running || m_singleUpdate; }
    void getClient();
    void configureAndStart();
    void readLocation(const QString &path);
    void fail(const QDBusError &error);
    // Stops the client and gives it back to GeoClue; forgetClient() only lets go of it.
    void dropClient();
    void forgetClient();
    void onServiceVanished();

    QDBusConnection m_bus;
    QString m_desktopId;
    QDBusServiceWatcher *m_watcher = nullptr;
    QTimer *m_updateTimer = nullptr;
    int m_answerTimeout = -1;
    QString m_clientPath;
    // Bumped whenever the client is dropped: answers that come back for an older one are stale.
    quint64 m_generation = 0;
    bool m_running = false;
    bool m_singleUpdate = false;
    bool m_asking = false;
    Error m_error = NoError;
    QGeoPositionInfo m_lastPosition;
};

} // namespace nimbara
