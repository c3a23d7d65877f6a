#include "GeoClueSource.h"
#include "GeoLocationSource.h"
#include "Log.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGeoPositionInfo>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

using namespace nimbara;

namespace {

// One NMEA sentence with its checksum.
QByteArray sentence(const QByteArray &body)
{
    char sum = 0;
    for (const char c : body)
        sum = char(sum ^ c);
    return '$' + body + '*' + QByteArray::number(uchar(sum), 16).toUpper().rightJustified(2, '0') + "\r\n";
}

// Three fixes, one second apart, at 51.5074 N 0.1278 W.
QByteArray londonLog()
{
    QByteArray log;
    for (int second = 0; second < 3; ++second) {
        const QByteArray time = "1200" + QByteArray::number(second).rightJustified(2, '0') + ".00";
        log += sentence("GPGGA," + time + ",5130.4440,N,00007.6680,W,1,08,0.9,35.0,M,47.0,M,,");
        log += sentence("GPRMC," + time + ",A,5130.4440,N,00007.6680,W,0.0,0.0,061224,,,A");
    }
    return log;
}

// A positioning source the test drives: it emits what it is told, also from inside startUpdates().
class ScriptedSource : public QGeoPositionInfoSource
{
public:
    explicit ScriptedSource(QObject *parent = nullptr)
        : QGeoPositionInfoSource(parent)
    {}

    QGeoPositionInfo lastKnownPosition(bool) const override { return {}; }
    PositioningMethods supportedPositioningMethods() const override { return methods; }
    int minimumUpdateInterval() const override { return 0; }
    Error error() const override { return NoError; }
    void startUpdates() override
    {
        ++starts;
        if (fixOnStart)
            emitFix(51.0, 7.0);
    }
    void stopUpdates() override { ++stops; }
    void requestUpdate(int) override {}

    void emitFix(double latitude, double longitude)
    {
        emit positionUpdated(
            QGeoPositionInfo(QGeoCoordinate(latitude, longitude), QDateTime::currentDateTimeUtc()));
    }
    void emitError(Error error) { emit errorOccurred(error); }

    PositioningMethods methods = AllPositioningMethods;
    bool fixOnStart = false;
    int starts = 0;
    int stops = 0;
};

bool geoClueReachable()
{
    const QDBusConnection bus = QDBusConnection::systemBus();
    return bus.isConnected() && bus.interface() &&
           bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.GeoClue2")).value();
}

} // namespace

class TestLocationSource : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fromSetting_badValue_servicesOffAndLogged_data();
    void fromSetting_badValue_servicesOffAndLogged();
    void fromSetting_empty_isGeoClueAskingForEveryMethod();
    void fromSetting_fixed_deliversOncePerStart();
    void nmea_deliversFixes_data();
    void nmea_deliversFixes();
    void deliveries_areQueuedAndStopOnStop();
    void statuses_reportedOnlyOnChange();
    void invalidCoordinates_droppedAndLogged_data();
    void invalidCoordinates_droppedAndLogged();
    void noSourceMethods_servicesOff();
    void notAnswering_servicesOffUntilAskedAgain();
};

void TestLocationSource::initTestCase()
{
    // QtPositioning hides its GeoClue2 and NMEA plugins from programs that QtTest marks as tests;
    // these tests are about those very plugins.
    qunsetenv("QT_QTESTLIB_RUNNING");
}

void TestLocationSource::fromSetting_badValue_servicesOffAndLogged_data()
{
    QTest::addColumn<QString>("setting");
    QTest::newRow("unknown scheme") << QStringLiteral("gps:/dev/ttyUSB0");
    QTest::newRow("nmea without path") << QStringLiteral("nmea:");
    QTest::newRow("nmea missing file") << QStringLiteral("nmea:/nonexistent/nimbara.nmea");
    QTest::newRow("fixed one number") << QStringLiteral("fixed:51.5");
    QTest::newRow("fixed three numbers") << QStringLiteral("fixed:1,2,3");
    QTest::newRow("fixed words") << QStringLiteral("fixed:north,west");
    QTest::newRow("fixed latitude out of range") << QStringLiteral("fixed:91,0");
    QTest::newRow("fixed longitude out of range") << QStringLiteral("fixed:0,180.5");
    QTest::newRow("fixed nan") << QStringLiteral("fixed:nan,0");
    QTest::newRow("fixed infinity") << QStringLiteral("fixed:inf,0");
    QTest::newRow("fixed decimal comma") << QStringLiteral("fixed:51,5074,-0,1278");
}

void TestLocationSource::fromSetting_badValue_servicesOffAndLogged()
{
    QFETCH(QString, setting);
    LogCapture capture;
    std::unique_ptr<GeoLocationSource> source(GeoLocationSource::fromSetting(setting));
    QVERIFY(!source->locationServicesEnabled());
    QCOMPARE(capture.lines().size(), 1);
    QVERIFY2(capture.lines().first().startsWith(QLatin1String(" ! ERROR : ")),
             qPrintable(capture.lines().first()));

    QSignalSpy positions(source.get(), &LocationSource::positionUpdated);
    QSignalSpy statuses(source.get(), &LocationSource::authorizationChanged);
    source->setDesiredAccuracyBest();
    source->startUpdatingLocation();
    source->stopUpdatingLocation();
    QTest::qWait(20);
    QCOMPARE(positions.size(), 0);
    QCOMPARE(statuses.size(), 0);
}

void TestLocationSource::fromSetting_empty_isGeoClueAskingForEveryMethod()
{
    LogCapture capture;
    std::unique_ptr<GeoLocationSource> source(GeoLocationSource::fromSetting(QString()));
    // The GeoClue source exists even without a bus; it reports methods only where GeoClue runs.
    QVERIFY(qobject_cast<GeoClueSource *>(source->source()));
    QCOMPARE(source->locationServicesEnabled(), geoClueReachable());
    source->setDesiredAccuracyBest();
    QCOMPARE(source->source()->preferredPositioningMethods(), QGeoPositionInfoSource::AllPositioningMethods);
    QCOMPARE(capture.lines(), QStringList());
}

void TestLocationSource::fromSetting_fixed_deliversOncePerStart()
{
    std::unique_ptr<GeoLocationSource> source(
        GeoLocationSource::fromSetting(QStringLiteral(" fixed: 51.5074 , -0.1278 ")));
    QVERIFY(source->locationServicesEnabled());
    QSignalSpy positions(source.get(), &LocationSource::positionUpdated);
    QSignalSpy statuses(source.get(), &LocationSource::authorizationChanged);

    source->startUpdatingLocation();
    QVERIFY(positions.wait());
    QCOMPARE(positions.first().at(0).toDouble(), 51.5074);
    QCOMPARE(positions.first().at(1).toDouble(), -0.1278);
    QCOMPARE(statuses.size(), 1);
    QCOMPARE(statuses.first().first().toInt(), int(LocationSource::Authorized));

    source->startUpdatingLocation();
    QVERIFY(positions.wait());
    QCOMPARE(positions.size(), 2);
    QCOMPARE(statuses.size(), 1);
}

void TestLocationSource::nmea_deliversFixes_data()
{
    QTest::addColumn<bool>("overSocket");
    QTest::newRow("log file") << false;
    QTest::newRow("tcp socket") << true;
}

void TestLocationSource::nmea_deliversFixes()
{
    QFETCH(bool, overSocket);
    QTemporaryDir dir;
    QTcpServer server;
    QString setting;
    if (overSocket) {
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        connect(&server, &QTcpServer::newConnection, &server, [&server] {
            QTcpSocket *client = server.nextPendingConnection();
            client->write(londonLog());
        });
        setting = QStringLiteral("nmea:socket://127.0.0.1:%1").arg(server.serverPort());
    } else {
        QFile file(dir.filePath(QStringLiteral("london.nmea")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(londonLog());
        file.close();
        setting = QStringLiteral("nmea:") + file.fileName();
    }

    LogCapture capture;
    std::unique_ptr<GeoLocationSource> source(GeoLocationSource::fromSetting(setting));
    QVERIFY(source->locationServicesEnabled());
    QSignalSpy positions(source.get(), &LocationSource::positionUpdated);
    QSignalSpy statuses(source.get(), &LocationSource::authorizationChanged);
    source->setDesiredAccuracyBest();
    source->startUpdatingLocation();
    QVERIFY(positions.wait(5000));
    QVERIFY(qAbs(positions.first().at(0).toDouble() - 51.5074) < 1e-6);
    QVERIFY(qAbs(positions.first().at(1).toDouble() + 0.1278) < 1e-6);
    QTRY_VERIFY_WITH_TIMEOUT(positions.size() >= 2, 5000);
    QCOMPARE(statuses.size(), 1);
    QCOMPARE(statuses.first().first().toInt(), int(LocationSource::Authorized));
    QCOMPARE(capture.lines(), QStringList());
}

void TestLocationSource::deliveries_areQueuedAndStopOnStop()
{
    auto *scripted = new ScriptedSource;
    scripted->fixOnStart = true;
    GeoLocationSource source(scripted);
    QSignalSpy positions(&source, &LocationSource::positionUpdated);

    // A fix emitted inside startUpdates() reaches the receiver from the event loop, not from
    // inside the start call.
    source.startUpdatingLocation();
    QCOMPARE(positions.size(), 0);
    QVERIFY(positions.wait());
    QCOMPARE(positions.size(), 1);

    // A fix already queued when the updates stop is dropped.
    scripted->emitFix(52.0, 8.0);
    source.stopUpdatingLocation();
    QCOMPARE(scripted->stops, 1);
    QTest::qWait(20);
    QCOMPARE(positions.size(), 1);
    scripted->emitFix(53.0, 9.0);
    QTest::qWait(20);
    QCOMPARE(positions.size(), 1);
}

void TestLocationSource::statuses_reportedOnlyOnChange()
{
    auto *scripted = new ScriptedSource;
    GeoLocationSource source(scripted);
    QSignalSpy statuses(&source, &LocationSource::authorizationChanged);
    QSignalSpy positions(&source, &LocationSource::positionUpdated);
    LogCapture capture;
    source.startUpdatingLocation();

    // Refused, refused again, then delivering (permission granted later), then refused again.
    scripted->emitError(QGeoPositionInfoSource::AccessError);
    scripted->emitError(QGeoPositionInfoSource::AccessError);
    scripted->emitFix(51.0, 7.0);
    scripted->emitFix(51.1, 7.1);
    scripted->emitError(QGeoPositionInfoSource::UpdateTimeoutError);
    scripted->emitError(QGeoPositionInfoSource::ClosedError);
    scripted->emitError(QGeoPositionInfoSource::AccessError);
    QTRY_COMPARE(statuses.size(), 3);
    QTest::qWait(20);
    QCOMPARE(statuses.size(), 3);
    QCOMPARE(statuses.at(0).first().toInt(), int(LocationSource::Denied));
    QCOMPARE(statuses.at(1).first().toInt(), int(LocationSource::Authorized));
    QCOMPARE(statuses.at(2).first().toInt(), int(LocationSource::Denied));
    QCOMPARE(positions.size(), 2);
    QCOMPARE(capture.lines(), (QStringList{
                                  QStringLiteral(" ! ERROR : location access denied"),
                                  QStringLiteral(" ! ERROR : location access denied"),
                                  QStringLiteral(" ! ERROR : no position within the time-out"),
                                  QStringLiteral(" ! ERROR : location source closed or not answering"),
                                  QStringLiteral(" ! ERROR : location access denied"),
                              }));

    // The widget restarts the updates after a refusal; the source is asked again each time.
    source.startUpdatingLocation();
    QCOMPARE(scripted->starts, 2);
}

void TestLocationSource::invalidCoordinates_droppedAndLogged_data()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("longitude");
    QTest::newRow("nan latitude") << nan << 7.0;
    QTest::newRow("nan longitude") << 51.0 << nan;
    QTest::newRow("both nan") << nan << nan;
    QTest::newRow("latitude out of range") << 95.0 << 7.0;
}

void TestLocationSource::invalidCoordinates_droppedAndLogged()
{
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    auto *scripted = new ScriptedSource;
    GeoLocationSource source(scripted);
    QSignalSpy statuses(&source, &LocationSource::authorizationChanged);
    QSignalSpy positions(&source, &LocationSource::positionUpdated);
    LogCapture capture;
    source.startUpdatingLocation();
    scripted->emitFix(latitude, longitude);
    QTRY_COMPARE(capture.lines().size(), 1);
    QVERIFY(
        capture.lines().first().startsWith(QLatin1String(" ! ERROR : location source delivered an invalid")));
    QCOMPARE(positions.size(), 0);
    QCOMPARE(statuses.size(), 0);
}

void TestLocationSource::noSourceMethods_servicesOff()
{
    auto *scripted = new ScriptedSource;
    scripted->methods = QGeoPositionInfoSource::NoPositioningMethods;
    GeoLocationSource source(scripted);
    QVERIFY(!source.locationServicesEnabled());
    scripted->methods = QGeoPositionInfoSource::SatellitePositioningMethods;
    QVERIFY(source.locationServicesEnabled());
    QVERIFY(!GeoLocationSource(nullptr).locationServicesEnabled());
}

void TestLocationSource::notAnswering_servicesOffUntilAskedAgain()
{
    auto *scripted = new ScriptedSource;
    GeoLocationSource source(scripted);
    QSignalSpy changes(&source, &LocationSource::servicesChanged);
    QSignalSpy statuses(&source, &LocationSource::authorizationChanged);
    source.startUpdatingLocation();

    // A source that closed or did not answer is no refusal: services off, told once.
    scripted->emitError(QGeoPositionInfoSource::ClosedError);
    scripted->emitError(QGeoPositionInfoSource::ClosedError);
    QTRY_COMPARE(changes.size(), 1);
    QTest::qWait(20);
    QCOMPARE(changes.size(), 1);
    QVERIFY(!source.locationServicesEnabled());
    QCOMPARE(statuses.size(), 0);

    // Asked again (a wake, the hourly refresh), it counts as on until it fails once more.
    source.recheckServices();
    QVERIFY(source.locationServicesEnabled());
    scripted->emitError(QGeoPositionInfoSource::ClosedError);
    QTRY_COMPARE(changes.size(), 2);
    QVERIFY(!source.locationServicesEnabled());

    // A position shows that it answers after all.
    scripted->emitFix(51.0, 7.0);
    QTRY_COMPARE(statuses.size(), 1);
    QVERIFY(source.locationServicesEnabled());
}

QTEST_GUILESS_MAIN(TestLocationSource)
#include "tst_location_source.moc"
