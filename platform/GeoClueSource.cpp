#include "GeoClueSource.h"

#include "Log.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDateTime>
#include <QGeoCoordinate>
#include <QTimer>

#include <limits>

namespace nimbara {

namespace {

const QString kService = QStringLiteral("org.freedesktop.GeoClue2");
const QString kManagerPath = QStringLiteral("/org/freedesktop/GeoClue2/Manager");
const QString kManagerInterface = QStringLiteral("org.freedesktop.GeoClue2.Manager");
const QString kClientInterface = QStringLiteral("org.freedesktop.GeoClue2.Client");
const QString kLocationInterface = QStringLiteral("org.freedesktop.GeoClue2.Location");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// GeoClue's GClueAccuracyLevel.
enum AccuracyLevel : uint { None = 0, Country = 1, City = 4, Neighborhood = 5, Street = 6, Exact = 8 };

// A single update that names no time-out of its own waits this long.
constexpr int kDefaultUpdateTimeoutMs = 30'000;

QDBusMessage managerCall(const QString &method)
{
    return QDBusMessage::createMethodCall(kService, kManagerPath, kManagerInterface, method);
}

QDBusMessage propertiesCall(const QString &path, const QString &method, const QVariantList &arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, kPropertiesInterface, method);
    message.setArguments(arguments);
    return message;
}

QDBusMessage setClientProperty(const QString &path, const QString &name, const QVariant &value)
{
    return propertiesCall(path, QStringLiteral("Set"),
                          {kClientInterface, name, QVariant::fromValue(QDBusVariant(value))});
}

uint requestedLevel(QGeoPositionInfoSource::PositioningMethods methods)
{
    switch (methods) {
    case QGeoPositionInfoSource::AllPositioningMethods:
    case QGeoPositionInfoSource::SatellitePositioningMethods:
        return Exact;
    case QGeoPositionInfoSource::NonSatellitePositioningMethods:
        return Street;
    case QGeoPositionInfoSource::NoPositioningMethods:
        break;
    }
    return None;
}

// GeoClue's time of a fix, (seconds, microseconds) since the epoch; now where it sends none.
QDateTime timestampOf(const QVariant &value)
{
    if (value.canConvert<QDBusArgument>()) {
        const QDBusArgument argument = value.value<QDBusArgument>();
        quint64 seconds = 0;
        quint64 microseconds = 0;
        argument.beginStructure();
        argument >> seconds >> microseconds;
        argument.endStructure();
        if (seconds != 0)
            return QDateTime::fromMSecsSinceEpoch(qint64(seconds * 1000 + microseconds / 1000), Qt::UTC);
    }
    return QDateTime::currentDateTimeUtc();
}

} // namespace

GeoClueSource::GeoClueSource(const QDBusConnection &bus, const QString &desktopId, QObject *parent)
    : QGeoPositionInfoSource(parent)
    , m_bus(bus)
    , m_desktopId(desktopId)
    , m_updateTimer(new QTimer(this))
{
    m_updateTimer->setSingleShot(true);
    connect(m_updateTimer, &QTimer::timeout, this, [this] {
        if (!m_singleUpdate)
            return;
        m_singleUpdate = false;
        if (!m_running)
            dropClient();
        m_error = UpdateTimeoutError;
        emit errorOccurred(m_error);
    });
    if (!m_bus.isConnected())
        return;
    m_watcher = new QDBusServiceWatcher(
        kService, m_bus,
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, this, &GeoClueSource::serviceAppeared);
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &GeoClueSource::onServiceVanished);
}

GeoClueSource::~GeoClueSource()
{
    dropClient();
}

void GeoClueSource::setAnswerTimeout(int milliseconds)
{
    m_answerTimeout = milliseconds;
}

QGeoPositionInfo GeoClueSource::lastKnownPosition(bool fromSatellitePositioningMethodsOnly) const
{
    return fromSatellitePositioningMethodsOnly ? QGeoPositionInfo() : m_lastPosition;
}

QGeoPositionInfoSource::PositioningMethods GeoClueSource::supportedPositioningMethods() const
{
    const QDBusMessage reply =
        m_bus.call(propertiesCall(kManagerPath, QStringLiteral("Get"),
                                  {kManagerInterface, QStringLiteral("AvailableAccuracyLevel")}),
                   QDBus::Block, m_answerTimeout);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return NoPositioningMethods;
    bool ok = false;
    const uint level = reply.arguments().constFirst().value<QDBusVariant>().variant().toUInt(&ok);
    if (!ok || level == None)
        return NoPositioningMethods;
    return level >= Exact ? AllPositioningMethods : NonSatellitePositioningMethods;
}

int GeoClueSource::minimumUpdateInterval() const
{
    // GeoClue's time threshold counts in whole seconds.
    return 1000;
}

QGeoPositionInfoSource::Error GeoClueSource::error() const
{
    return m_error;
}

void GeoClueSource::startUpdates()
{
    if (m_running)
        return;
    m_running = true;
    m_error = NoError;
    if (m_clientPath.isEmpty() && !m_asking)
        getClient();
}

void GeoClueSource::stopUpdates()
{
    m_running = false;
    if (!m_singleUpdate)
        dropClient();
}

void GeoClueSource::requestUpdate(int timeout)
{
    if (timeout < 0) {
        m_error = UpdateTimeoutError;
        emit errorOccurred(m_error);
        return;
    }
    m_singleUpdate = true;
    m_error = NoError;
    m_updateTimer->start(timeout > 0 ? timeout : kDefaultUpdateTimeoutMs);
    if (m_clientPath.isEmpty() && !m_asking)
        getClient();
}

void GeoClueSource::getClient()
{
    m_asking = true;
    const quint64 generation = m_generation;
    auto *watcher = new QDBusPendingCallWatcher(
        m_bus.asyncCall(managerCall(QStringLiteral("GetClient")), m_answerTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation](QDBusPendingCallWatcher *call) {
                call->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> reply = *call;
                if (generation != m_generation) {
                    // Stopped meanwhile: give back the client GeoClue made for the old request.
                    if (!reply.isError())
                        m_bus.send(managerCall(QStringLiteral("DeleteClient"))
                                   << QVariant::fromValue(reply.value()));
                    return;
                }
                if (reply.isError()) {
                    fail(reply.error());
                    return;
                }
                m_clientPath = reply.value().path();
                m_bus.connect(kService, m_clientPath, kClientInterface, QStringLiteral("LocationUpdated"),
                              this, SLOT(onLocationUpdated(QDBusObjectPath, QDBusObjectPath)));
                configureAndStart();
            });
}

void GeoClueSource::configureAndStart()
{
    // GeoClue handles one connection's messages in order: the settings are in place before Start.
    m_bus.send(setClientProperty(m_clientPath, QStringLiteral("DesktopId"), m_desktopId));
    m_bus.send(setClientProperty(m_clientPath, QStringLiteral("RequestedAccuracyLevel"),
                                 requestedLevel(preferredPositioningMethods())));
    m_bus.send(
        setClientProperty(m_clientPath, QStringLiteral("TimeThreshold"), uint(updateInterval() / 1000)));

    const quint64 generation = m_generation;
    auto *watcher = new QDBusPendingCallWatcher(
        m_bus.asyncCall(
            QDBusMessage::createMethodCall(kService, m_clientPath, kClientInterface, QStringLiteral("Start")),
            m_answerTimeout),
        this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation](QDBusPendingCallWatcher *call) {
                call->deleteLater();
                if (generation != m_generation)
                    return;
                m_asking = false;
                const QDBusPendingReply<> reply = *call;
                if (reply.isError()) {
                    fail(reply.error());
                    return;
                }
                // A client that GeoClue had already placed reports no update: read where it is now.
                auto *current = new QDBusPendingCallWatcher(
                    m_bus.asyncCall(propertiesCall(m_clientPath, QStringLiteral("Get"),
                                                   {kClientInterface, QStringLiteral("Location")}),
                                    m_answerTimeout),
                    this);
                connect(current, &QDBusPendingCallWatcher::finished, this,
                        [this, generation](QDBusPendingCallWatcher *get) {
                            get->deleteLater();
                            const QDBusPendingReply<QDBusVariant> location = *get;
                            if (generation != m_generation || location.isError())
                                return;
                            const QString path = location.value().variant().value<QDBusObjectPath>().path();
                            if (!path.isEmpty() && path != QLatin1String("/"))
                                readLocation(path);
                        });
            });
}

void GeoClueSource::onLocationUpdated(const QDBusObjectPath & /*oldLocation*/,
                                      const QDBusObjectPath &newLocation)
{
    if (wanted() && !m_clientPath.isEmpty())
        readLocation(newLocation.path());
}

void GeoClueSource::readLocation(const QString &path)
{
    const quint64 generation = m_generation;
    auto *watcher = new QDBusPendingCallWatcher(
        m_bus.asyncCall(propertiesCall(path, QStringLiteral("GetAll"), {kLocationInterface}),
                        m_answerTimeout),
        this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation](QDBusPendingCallWatcher *call) {
                call->deleteLater();
                const QDBusPendingReply<QVariantMap> reply = *call;
                if (generation != m_generation || !wanted())
                    return;
                if (reply.isError()) {
                    fail(reply.error());
                    return;
                }
                const QVariantMap properties = reply.value();
                QGeoCoordinate coordinate(properties.value(QStringLiteral("Latitude")).toDouble(),
                                          properties.value(QStringLiteral("Longitude")).toDouble());
                // GeoClue sends the lowest double for an unknown altitude and -1 for an unknown speed or
                // heading.
                const double altitude =
                    properties.value(QStringLiteral("Altitude"), std::numeric_limits<double>::lowest())
                        .toDouble();
                if (altitude > std::numeric_limits<double>::lowest())
                    coordinate.setAltitude(altitude);
                QGeoPositionInfo info(coordinate, timestampOf(properties.value(QStringLiteral("Timestamp"))));
                if (properties.contains(QStringLiteral("Accuracy")))
                    info.setAttribute(QGeoPositionInfo::HorizontalAccuracy,
                                      properties.value(QStringLiteral("Accuracy")).toDouble());
                const double speed = properties.value(QStringLiteral("Speed"), -1.0).toDouble();
                if (speed >= 0.0)
                    info.setAttribute(QGeoPositionInfo::GroundSpeed, speed);
                const double heading = properties.value(QStringLiteral("Heading"), -1.0).toDouble();
                if (heading >= 0.0)
                    info.setAttribute(QGeoPositionInfo::Direction, heading);
                m_lastPosition = info;
                if (m_singleUpdate) {
                    m_singleUpdate = false;
                    m_updateTimer->stop();
                    if (!m_running)
                        dropClient();
                }
                emit positionUpdated(info);
            });
}

void GeoClueSource::fail(const QDBusError &error)
{
    // A refusal is GeoClue's answer; anything else means that no location service answered.
    m_error = error.type() == QDBusError::AccessDenied ? AccessError : ClosedError;
    log(QStringLiteral(" ! ERROR : GeoClue: %1").arg(error.name()));
    dropClient();
    m_running = false;
    m_singleUpdate = false;
    m_updateTimer->stop();
    emit errorOccurred(m_error);
}

void GeoClueSource::dropClient()
{
    ++m_generation;
    m_asking = false;
    if (m_clientPath.isEmpty())
        return;
    const QString path = m_clientPath;
    forgetClient();
    m_bus.send(QDBusMessage::createMethodCall(kService, path, kClientInterface, QStringLiteral("Stop")));
    m_bus.send(managerCall(QStringLiteral("DeleteClient")) << QVariant::fromValue(QDBusObjectPath(path)));
}

void GeoClueSource::forgetClient()
{
    if (m_clientPath.isEmpty())
        return;
    m_bus.disconnect(kService, m_clientPath, kClientInterface, QStringLiteral("LocationUpdated"), this,
                     SLOT(onLocationUpdated(QDBusObjectPath, QDBusObjectPath)));
    m_clientPath.clear();
}

void GeoClueSource::onServiceVanished()
{
    if (!wanted() || (m_clientPath.isEmpty() && !m_asking))
        return;
    // The client went with GeoClue: nothing to stop or give back.
    forgetClient();
    fail(QDBusError(QDBusError::ServiceUnknown, QStringLiteral("GeoClue left the bus")));
}

} // namespace nimbara
