// The widget with GeoClue on a private system bus: a stand-in that owns org.freedesktop.GeoClue2
// answers, holds or refuses the widget's request, or comes only after the widget started.
#include "WXDesktopWindow.h"
#include "WXDesktopWindowUi.h"

#include "GeoClueSource.h"
#include "GeoLocationSource.h"
#include "Log.h"
#include "PrivateSystemBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace nimbara;

namespace {

// Short enough that no test waits long for a GeoClue that holds the request.
constexpr int kAnswerTimeoutMs = 300;

} // namespace

class TestGeoClueLate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void serviceComesLate_positionsArriveWithoutRestart();
    void failure_data();
    void failure();
    void noAnswer_askedAgainOnWake();
    void serviceRestarts_offWhileGoneThenPositionsAgain();

private:
    // A widget whose location manager is the GeoClue source on the private bus, started up.
    std::unique_ptr<WXDesktopWindow> startWidget();
    void startStandIn(const QStringList &arguments);

    QTemporaryDir m_home;
    std::unique_ptr<PrivateSystemBus> m_bus;
    std::unique_ptr<GeoClueStandIn> m_standIn;
};

void TestGeoClueLate::initTestCase()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_home.path());
    m_bus = std::make_unique<PrivateSystemBus>();
    QVERIFY2(!m_bus->address().isEmpty(), "dbus-daemon did not start");
    QVERIFY(QDBusConnection::systemBus().isConnected());
}

void TestGeoClueLate::init()
{
    QSettings(QStringLiteral("Nimbara"), QStringLiteral("Nimbara")).clear();
    m_standIn = std::make_unique<GeoClueStandIn>(QStringLiteral(NIMBARA_GEOCLUE_STANDIN));
}

void TestGeoClueLate::cleanup()
{
    m_standIn.reset();
    // The name is gone from the bus before the next test starts.
    QTRY_VERIFY(!QDBusConnection::systemBus().interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.GeoClue2")));
}

std::unique_ptr<WXDesktopWindow> TestGeoClueLate::startWidget()
{
    auto w = std::make_unique<WXDesktopWindow>();
    w->isConnected = [] {
        return false;
    };
    w->makeLocationSource = [](QObject *parent) {
        auto *geoClue = new GeoClueSource(QDBusConnection::systemBus(), QStringLiteral("nimbara"));
        geoClue->setAnswerTimeout(kAnswerTimeoutMs);
        return new GeoLocationSource(geoClue, parent);
    };
    w->awakeFromNib();
    return w;
}

void TestGeoClueLate::startStandIn(const QStringList &arguments)
{
    QVERIFY2(m_standIn->start(arguments), m_standIn->output().constData());
}

void TestGeoClueLate::serviceComesLate_positionsArriveWithoutRestart()
{
    LogCapture capture;
    auto w = startWidget();
    // No GeoClue on the bus: location services are off, and the widget says so.
    QCOMPARE(w->ui->title->text(), QStringLiteral("LOCATION_SERVICES_DISABLED"));
    QCOMPARE(w->ui->subtitle->text(), QStringLiteral("LOCATION_SERVICES_ENABLE"));
    QVERIFY(!capture.lines().contains(QStringLiteral("updating location")));

    startStandIn({QStringLiteral("answer"), QStringLiteral("52.52"), QStringLiteral("13.405")});
    QTRY_VERIFY(w->cachedLocation.has_value());
    QCOMPARE(*w->cachedLocation, QGeoCoordinate(52.52, 13.405));
    QVERIFY(capture.lines().contains(QStringLiteral("updating location")));
    QVERIFY(capture.lines().contains(QStringLiteral("got new location")));
    // The first position tells that access is granted: the placeholders until the weather comes.
    QCOMPARE(w->ui->title->text(), QStringLiteral("UPDATING_WEATHER"));
    QCOMPARE(w->ui->subtitle->text(), QStringLiteral("PLEASE_WAIT"));
    // Asked under the widget's own name, which GeoClue shows the user.
    QVERIFY(m_standIn->output().contains("start nimbara\n"));
}

void TestGeoClueLate::failure_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("subtitle");
    QTest::addColumn<QString>("logged");

    // clang-format off
    QTest::newRow("no answer") << QStringLiteral("silent") << QStringLiteral("LOCATION_SERVICES_DISABLED")
        << QStringLiteral("LOCATION_SERVICES_ENABLE") << QStringLiteral(" ! ERROR : GeoClue: org.freedesktop.DBus.Error.NoReply");
    QTest::newRow("access denied") << QStringLiteral("deny") << QStringLiteral("LOCATION_DENIED_TITLE")
        << QStringLiteral("LOCATION_DENIED_SUBTITLE") << QStringLiteral(" ! ERROR : GeoClue: org.freedesktop.DBus.Error.AccessDenied");
    // clang-format on
}

void TestGeoClueLate::failure()
{
    QFETCH(QString, mode);
    QFETCH(QString, title);
    QFETCH(QString, subtitle);
    QFETCH(QString, logged);

    startStandIn({mode});
    LogCapture capture;
    auto w = startWidget();
    QVERIFY(capture.lines().contains(QStringLiteral("updating location")));
    QTRY_COMPARE(w->ui->title->text(), title);
    QCOMPARE(w->ui->subtitle->text(), subtitle);
    QVERIFY2(capture.lines().contains(logged), qPrintable(capture.lines().join(QLatin1Char('\n'))));
    QVERIFY(!w->cachedLocation);
    // The texts stay: nothing asks again by itself until a wake, the hourly refresh or a new GeoClue.
    QTest::qWait(3 * kAnswerTimeoutMs);
    QCOMPARE(w->ui->title->text(), title);
    QCOMPARE(m_standIn->output().count("start nimbara\n"), 1);
}

void TestGeoClueLate::noAnswer_askedAgainOnWake()
{
    // GeoClue holds the first request (no agent yet) and answers the next.
    startStandIn({QStringLiteral("late"), QStringLiteral("48.85341"), QStringLiteral("2.3488")});
    auto w = startWidget();
    QTRY_COMPARE(w->ui->title->text(), QStringLiteral("LOCATION_SERVICES_DISABLED"));
    QVERIFY(!w->cachedLocation);

    w->receiveWakeNote(nullptr);
    QTRY_VERIFY(w->cachedLocation.has_value());
    QCOMPARE(*w->cachedLocation, QGeoCoordinate(48.85341, 2.3488));
    QCOMPARE(m_standIn->output().count("start nimbara\n"), 2);
}

void TestGeoClueLate::serviceRestarts_offWhileGoneThenPositionsAgain()
{
    startStandIn({QStringLiteral("answer"), QStringLiteral("52.52"), QStringLiteral("13.405")});
    auto w = startWidget();
    QTRY_COMPARE(w->cachedLocation, std::optional<QGeoCoordinate>(QGeoCoordinate(52.52, 13.405)));

    // GeoClue leaves the bus while the widget still wants positions, and comes back elsewhere.
    m_standIn->stop();
    QTRY_COMPARE(w->ui->title->text(), QStringLiteral("LOCATION_SERVICES_DISABLED"));
    QCOMPARE(w->ui->subtitle->text(), QStringLiteral("LOCATION_SERVICES_ENABLE"));
    m_standIn = std::make_unique<GeoClueStandIn>(QStringLiteral(NIMBARA_GEOCLUE_STANDIN));
    startStandIn({QStringLiteral("answer"), QStringLiteral("48.85341"), QStringLiteral("2.3488")});
    QTRY_COMPARE(w->cachedLocation, std::optional<QGeoCoordinate>(QGeoCoordinate(48.85341, 2.3488)));
}

QTEST_MAIN(TestGeoClueLate)
#include "tst_geoclue_late.moc"
