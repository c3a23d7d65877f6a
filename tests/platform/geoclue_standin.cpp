// A stand-in for GeoClue on the bus that DBUS_SYSTEM_BUS_ADDRESS names: it owns
// org.freedesktop.GeoClue2 and answers the calls the widget makes, in one of three ways:
//   geoclue_standin answer LAT LON   starts clients and places them at LAT, LON
//   geoclue_standin silent           never answers Start, as GeoClue without an agent
//   geoclue_standin deny             refuses Start with AccessDenied, as after the user said no
//   geoclue_standin late LAT LON     holds the first client's Start, answers later clients
// It prints "ready" once it owns the name, and "start DESKTOP_ID" for every Start it is asked.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QTimer>

#include <cstdio>

namespace {

enum class Mode { Answer, Silent, Deny, Late };

class Location : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.GeoClue2.Location")
    Q_PROPERTY(double Latitude MEMBER latitude)
    Q_PROPERTY(double Longitude MEMBER longitude)
    Q_PROPERTY(double Accuracy MEMBER accuracy)
    Q_PROPERTY(double Altitude MEMBER altitude)
    Q_PROPERTY(double Speed MEMBER speed)
    Q_PROPERTY(double Heading MEMBER heading)

public:
    using QObject::QObject;
    double latitude = 0;
    double longitude = 0;
    double accuracy = 25;
    double altitude = -1.7976931348623157e308;
    double speed = -1;
    double heading = -1;
};

class Client : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.GeoClue2.Client")
    Q_PROPERTY(QString DesktopId MEMBER desktopId)
    Q_PROPERTY(uint RequestedAccuracyLevel MEMBER requestedAccuracyLevel)
    Q_PROPERTY(uint DistanceThreshold MEMBER distanceThreshold)
    Q_PROPERTY(uint TimeThreshold MEMBER timeThreshold)
    Q_PROPERTY(QDBusObjectPath Location READ location)
    Q_PROPERTY(bool Active MEMBER active)

public:
    Client(Mode mode, QString path, double latitude, double longitude, QObject *parent)
        : QObject(parent)
        , mode(mode)
        , path(std::move(path))
        , latitude(latitude)
        , longitude(longitude)
    {}

    QDBusObjectPath location() const { return QDBusObjectPath(locationPath); }

    QString desktopId;
    uint requestedAccuracyLevel = 0;
    uint distanceThreshold = 0;
    uint timeThreshold = 0;
    bool active = false;

signals:
    void LocationUpdated(const QDBusObjectPath &oldLocation, const QDBusObjectPath &newLocation);

public slots:
    void Start()
    {
        std::printf("start %s\n", qPrintable(desktopId));
        std::fflush(stdout);
        // GeoClue refuses a client that has not said who it is.
        if (desktopId.isEmpty() || mode == Mode::Deny) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("'%1' disallowed").arg(desktopId));
            return;
        }
        if (mode == Mode::Silent) {
            // Held, as GeoClue holds a request while it waits for an agent.
            setDelayedReply(true);
            return;
        }
        active = true;
        QTimer::singleShot(0, this, [this] { place(); });
    }
    void Stop() { active = false; }

private:
    void place()
    {
        auto *fix = new Location(this);
        fix->latitude = latitude;
        fix->longitude = longitude;
        const QString old = locationPath;
        locationPath = path + QStringLiteral("/Location");
        QDBusConnection::systemBus().registerObject(locationPath, fix, QDBusConnection::ExportAllProperties);
        emit LocationUpdated(QDBusObjectPath(old), QDBusObjectPath(locationPath));
    }

    Mode mode;
    QString path;
    QString locationPath = QStringLiteral("/");
    double latitude;
    double longitude;
};

class Manager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.GeoClue2.Manager")
    Q_PROPERTY(uint AvailableAccuracyLevel READ availableAccuracyLevel)

public:
    Manager(Mode mode, double latitude, double longitude)
        : mode(mode)
        , latitude(latitude)
        , longitude(longitude)
    {}

    uint availableAccuracyLevel() const { return 8; }

public slots:
    QDBusObjectPath GetClient()
    {
        const QString path = QStringLiteral("/org/freedesktop/GeoClue2/Client/%1").arg(++clients);
        const Mode clientMode = mode == Mode::Late ? (clients == 1 ? Mode::Silent : Mode::Answer) : mode;
        auto *client = new Client(clientMode, path, latitude, longitude, this);
        QDBusConnection::systemBus().registerObject(path, client,
                                                    QDBusConnection::ExportAllSlots |
                                                        QDBusConnection::ExportAllProperties |
                                                        QDBusConnection::ExportAllSignals);
        return QDBusObjectPath(path);
    }
    void DeleteClient(const QDBusObjectPath &path)
    {
        QDBusConnection::systemBus().unregisterObject(path.path(), QDBusConnection::UnregisterTree);
    }

private:
    Mode mode;
    double latitude;
    double longitude;
    int clients = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    Mode mode = Mode::Answer;
    double latitude = 0;
    double longitude = 0;
    if (arguments.value(1) == QLatin1String("silent")) {
        mode = Mode::Silent;
    } else if (arguments.value(1) == QLatin1String("deny")) {
        mode = Mode::Deny;
    } else if ((arguments.value(1) == QLatin1String("answer") ||
                arguments.value(1) == QLatin1String("late")) &&
               arguments.size() == 4) {
        mode = arguments[1] == QLatin1String("late") ? Mode::Late : Mode::Answer;
        latitude = arguments[2].toDouble();
        longitude = arguments[3].toDouble();
    } else {
        std::fprintf(stderr, "usage: geoclue_standin answer|late LAT LON | silent | deny\n");
        return 2;
    }

    QDBusConnection bus = QDBusConnection::systemBus();
    Manager manager(mode, latitude, longitude);
    // The objects first, the name last: whoever sees the name can call at once.
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/GeoClue2/Manager"), &manager,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) ||
        !bus.registerService(QStringLiteral("org.freedesktop.GeoClue2"))) {
        std::fprintf(stderr, "geoclue_standin: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

#include "geoclue_standin.moc"
