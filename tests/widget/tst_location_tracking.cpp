#include "FakeLocationSource.h"
#include "LoopbackServer.h"
#include "WXDesktopWindow.h"
#include "WXDesktopWindowUi.h"

#include "GeoLocationSource.h"
#include "Log.h"
#include "WXWeather.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace nimbara;

namespace {

const QString kWeatherLine = QStringLiteral("21°, RAIN");
const QString kPlace = QStringLiteral("LONDON");

} // namespace

class TestLocationTracking : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void authorization_data();
    void authorization();
    void servicesOffAtStart_showsTheDisabledTexts();
    void servicesOnAtStart_startsUpdates();
    void newPosition_isStoredAndShowsNothing();
    void servicesGone_offTextsOnlyWithoutWeather_data();
    void servicesGone_offTextsOnlyWithoutWeather();
    void fixedSource_deliversThroughTheRealStack();

private:
    QTemporaryDir m_home;
};

void TestLocationTracking::initTestCase()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_home.path());
}

void TestLocationTracking::init()
{
    QSettings(QStringLiteral("Nimbara"), QStringLiteral("Nimbara")).clear();
}

void TestLocationTracking::authorization_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("servicesEnabled");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("subtitle");
    QTest::addColumn<bool>("isUpdated");
    QTest::addColumn<int>("starts");
    QTest::addColumn<QStringList>("lines");

    const QString updating = QStringLiteral("updating location");
    // clang-format off
    QTest::newRow("0 not determined") << 0 << true << QStringLiteral("UPDATING_WEATHER") << QStringLiteral("PLEASE_WAIT") << false << 1
        << QStringList{QStringLiteral("status changed to 0"), updating};
    QTest::newRow("1 restricted") << 1 << true << QStringLiteral("LOCATION_DENIED_TITLE") << QStringLiteral("LOCATION_DENIED_SUBTITLE") << true << 0
        << QStringList{QStringLiteral("status changed to 1")};
    QTest::newRow("2 denied") << 2 << true << QStringLiteral("LOCATION_DENIED_TITLE") << QStringLiteral("LOCATION_DENIED_SUBTITLE") << true << 0
        << QStringList{QStringLiteral("status changed to 2")};
    QTest::newRow("3 authorized") << 3 << true << QStringLiteral("UPDATING_WEATHER") << QStringLiteral("PLEASE_WAIT") << false << 1
        << QStringList{QStringLiteral("status changed to 3"), updating};
    QTest::newRow("3 authorized, services off") << 3 << false << QStringLiteral("LOCATION_SERVICES_DISABLED") << QStringLiteral("LOCATION_SERVICES_ENABLE") << false << 0
        << QStringList{QStringLiteral("status changed to 3")};
    QTest::newRow("4 unknown") << 4 << true << kWeatherLine << kPlace << true << 0
        << QStringList{QStringLiteral("status changed to 4")};
    QTest::newRow("-1 unknown, unsigned") << -1 << true << kWeatherLine << kPlace << true << 0
        << QStringList{QStringLiteral("status changed to 4294967295")};
    // clang-format on
}

void TestLocationTracking::authorization()
{
    QFETCH(int, status);
    QFETCH(bool, servicesEnabled);
    QFETCH(QString, title);
    QFETCH(QString, subtitle);
    QFETCH(bool, isUpdated);
    QFETCH(int, starts);
    QFETCH(QStringList, lines);

    // Weather is on screen, a position is known and the updates were stopped by that success.
    WXDesktopWindow w;
    auto *source = new FakeLocationSource(servicesEnabled, &w);
    w.locationManager = source;
    w.ui->title->setText(kWeatherLine);
    w.ui->subtitle->setText(kPlace);
    w.isUpdated = true;
    w.cachedLocation = QGeoCoordinate(51.5074, -0.1278);

    LogCapture capture;
    source->report(status);
    QCOMPARE(capture.lines(), QStringList()); // not the widget's delegate yet
    w.updateLocation();
    capture.clear();
    const int startsBefore = source->starts;
    source->report(status);
    QCOMPARE(capture.lines(), lines);
    QCOMPARE(w.ui->title->text(), title);
    QCOMPARE(w.ui->subtitle->text(), subtitle);
    QCOMPARE(w.isUpdated, isUpdated);
    QCOMPARE(source->starts - startsBefore, starts);
    // Neither a refusal nor anything else forgets the known position or stops the updates.
    QCOMPARE(w.cachedLocation, std::optional<QGeoCoordinate>(QGeoCoordinate(51.5074, -0.1278)));
    QCOMPARE(source->stops, 0);
}

void TestLocationTracking::servicesOffAtStart_showsTheDisabledTexts()
{
    WXDesktopWindow w;
    FakeLocationSource *source = nullptr;
    w.makeLocationSource = [&source](QObject *parent) {
        return source = new FakeLocationSource(false, parent);
    };
    LogCapture capture;
    w.awakeFromNib();
    QCOMPARE(w.locationManager, source);
    QCOMPARE(w.ui->title->text(), QStringLiteral("LOCATION_SERVICES_DISABLED"));
    QCOMPARE(w.ui->subtitle->text(), QStringLiteral("LOCATION_SERVICES_ENABLE"));
    QVERIFY(!capture.lines().contains(QStringLiteral("updating location")));
    QCOMPARE(source->starts, 0);
    QVERIFY(!w.cachedLocation);
}

void TestLocationTracking::servicesOnAtStart_startsUpdates()
{
    WXDesktopWindow w;
    FakeLocationSource *source = nullptr;
    w.makeLocationSource = [&source](QObject *parent) {
        return source = new FakeLocationSource(true, parent);
    };
    LogCapture capture;
    w.awakeFromNib();
    QCOMPARE(capture.lines().count(QStringLiteral("updating location")), 1);
    QCOMPARE(source->starts, 1);
    QVERIFY(source->bestAccuracy);
    QCOMPARE(source->purpose(), QStringLiteral("Get location for weather"));
    QCOMPARE(w.ui->title->text(), QStringLiteral("UPDATING_WEATHER"));
    QCOMPARE(w.ui->subtitle->text(), QStringLiteral("PLEASE_WAIT"));
}

void TestLocationTracking::newPosition_isStoredAndShowsNothing()
{
    WXDesktopWindow w;
    auto *source = new FakeLocationSource(true, &w);
    w.locationManager = source;
    w.updateLocation();
    w.updateLocation(); // a second call does not make a second delegate link
    w.ui->title->setText(kWeatherLine);
    w.isUpdated = true;

    LogCapture capture;
    source->deliver(48.8566, 2.3522);
    source->deliver(51.5074, -0.1278);
    QCOMPARE(capture.lines(),
             (QStringList{QStringLiteral("got new location"), QStringLiteral("got new location")}));
    QCOMPARE(w.cachedLocation, std::optional<QGeoCoordinate>(QGeoCoordinate(51.5074, -0.1278)));
    QCOMPARE(w.ui->title->text(), kWeatherLine);
    QVERIFY(w.isUpdated);
}

void TestLocationTracking::servicesGone_offTextsOnlyWithoutWeather_data()
{
    QTest::addColumn<bool>("weatherShown");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("subtitle");

    QTest::newRow("weather shown: it stays") << true << kWeatherLine << kPlace;
    QTest::newRow("placeholders: the services-off texts")
        << false << QStringLiteral("LOCATION_SERVICES_DISABLED")
        << QStringLiteral("LOCATION_SERVICES_ENABLE");
}

void TestLocationTracking::servicesGone_offTextsOnlyWithoutWeather()
{
    QFETCH(bool, weatherShown);
    QFETCH(QString, title);
    QFETCH(QString, subtitle);

    LoopbackServer server;
    server.setReply(LoopbackServer::answer(
        200, R"({"status":"ok","data":{"temp":21,"celsius":-6,"condition":"rain","location":"london"}})"));
    WXWeather::setHostsForTesting(server.host(), server.host());
    WXDesktopWindow w;
    FakeLocationSource *source = nullptr;
    w.makeLocationSource = [&source](QObject *parent) {
        return source = new FakeLocationSource(true, parent);
    };
    w.awakeFromNib();
    const QGeoCoordinate london(51.5074, -0.1278);
    source->deliver(london.latitude(), london.longitude());
    if (weatherShown) {
        w.getWeather(w.cachedLocation);
        QCOMPARE(w.ui->title->text(), kWeatherLine);
    }

    // GeoClue leaves the bus, or a resumed start is not answered.
    source->switchServices(false);
    QCOMPARE(w.ui->title->text(), title);
    QCOMPARE(w.ui->subtitle->text(), subtitle);

    // It comes back: asked at once, and the next position counts as usual.
    LogCapture capture;
    source->switchServices(true);
    QCOMPARE(capture.lines(), QStringList{QStringLiteral("updating location")});
    QVERIFY(source->updating);
    source->deliver(london.atDistanceAndAzimuth(5000, 90).latitude(),
                    london.atDistanceAndAzimuth(5000, 90).longitude());
    QVERIFY(!w.isUpdated);
    QVERIFY(source->updating);
    QCOMPARE(w.ui->title->text(), title);
}

void TestLocationTracking::fixedSource_deliversThroughTheRealStack()
{
    WXDesktopWindow w;
    w.makeLocationSource = [](QObject *parent) {
        return GeoLocationSource::fromSetting(QStringLiteral("fixed:51.5074,-0.1278"), parent);
    };
    LogCapture capture;
    w.awakeFromNib();
    QTRY_VERIFY(w.cachedLocation.has_value());
    QCOMPARE(*w.cachedLocation, QGeoCoordinate(51.5074, -0.1278));
    // The first position also tells that access is granted: placeholders, and the updates restart.
    QTRY_COMPARE(capture.lines().count(QStringLiteral("got new location")), 2);
    const QStringList expected{QStringLiteral("updating location"), QStringLiteral("status changed to 3"),
                               QStringLiteral("updating location"), QStringLiteral("got new location"),
                               QStringLiteral("got new location")};
    QStringList seen = capture.lines();
    seen.removeIf([&expected](const QString &line) { return !expected.contains(line); });
    QCOMPARE(seen, expected);
    QCOMPARE(w.ui->title->text(), QStringLiteral("UPDATING_WEATHER"));
}

QTEST_MAIN(TestLocationTracking)
#include "tst_location_tracking.moc"
