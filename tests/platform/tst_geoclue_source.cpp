// GeoClueSource against a GeoClue stand-in on a private system bus.
#include "GeoClueSource.h"
#include "PrivateSystemBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGeoPositionInfo>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace nimbara;

class TestGeoClueSource : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void methods_followWhetherGeoClueAnswers();
    void requestUpdate_deliversOneFix();
    void requestUpdate_timesOutWhileGeoClueHoldsTheRequest();

private:
    std::unique_ptr<GeoClueSource> makeSource(int answerTimeoutMs);

    std::unique_ptr<PrivateSystemBus> m_bus;
    std::unique_ptr<GeoClueStandIn> m_standIn;
};

void TestGeoClueSource::initTestCase()
{
    m_bus = std::make_unique<PrivateSystemBus>();
    QVERIFY2(!m_bus->address().isEmpty(), "dbus-daemon did not start");
    QVERIFY(QDBusConnection::systemBus().isConnected());
}

void TestGeoClueSource::init()
{
    m_standIn = std::make_unique<GeoClueStandIn>(QStringLiteral(NIMBARA_GEOCLUE_STANDIN));
}

void TestGeoClueSource::cleanup()
{
    m_standIn.reset();
    QTRY_VERIFY(!QDBusConnection::systemBus().interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.GeoClue2")));
}

std::unique_ptr<GeoClueSource> TestGeoClueSource::makeSource(int answerTimeoutMs)
{
    auto source = std::make_unique<GeoClueSource>(QDBusConnection::systemBus(), QStringLiteral("nimbara"));
    source->setAnswerTimeout(answerTimeoutMs);
    return source;
}

void TestGeoClueSource::methods_followWhetherGeoClueAnswers()
{
    auto source = makeSource(1000);
    QSignalSpy appeared(source.get(), &GeoClueSource::serviceAppeared);
    QCOMPARE(source->supportedPositioningMethods(), QGeoPositionInfoSource::NoPositioningMethods);
    QVERIFY(m_standIn->start({QStringLiteral("silent")}));
    QTRY_COMPARE(appeared.size(), 1);
    // Its manager answers even while it holds clients' requests.
    QCOMPARE(source->supportedPositioningMethods(), QGeoPositionInfoSource::AllPositioningMethods);
}

void TestGeoClueSource::requestUpdate_deliversOneFix()
{
    QVERIFY(
        m_standIn->start({QStringLiteral("answer"), QStringLiteral("-33.8688"), QStringLiteral("151.2093")}));
    auto source = makeSource(1000);
    QSignalSpy positions(source.get(), &QGeoPositionInfoSource::positionUpdated);
    QSignalSpy errors(source.get(), &QGeoPositionInfoSource::errorOccurred);
    source->requestUpdate(5000);
    QTRY_COMPARE(positions.size(), 1);
    const auto fix = positions.first().first().value<QGeoPositionInfo>();
    QCOMPARE(fix.coordinate(), QGeoCoordinate(-33.8688, 151.2093));
    QCOMPARE(fix.attribute(QGeoPositionInfo::HorizontalAccuracy), 25.0);
    // GeoClue's unknown altitude, speed and heading stay unknown.
    QCOMPARE(fix.coordinate().type(), QGeoCoordinate::Coordinate2D);
    QVERIFY(!fix.hasAttribute(QGeoPositionInfo::GroundSpeed));
    QVERIFY(!fix.hasAttribute(QGeoPositionInfo::Direction));
    QCOMPARE(source->lastKnownPosition().coordinate(), fix.coordinate());
    QTest::qWait(200);
    QCOMPARE(positions.size(), 1);
    QCOMPARE(errors.size(), 0);
}

void TestGeoClueSource::requestUpdate_timesOutWhileGeoClueHoldsTheRequest()
{
    QVERIFY(m_standIn->start({QStringLiteral("silent")}));
    auto source = makeSource(5000);
    QSignalSpy errors(source.get(), &QGeoPositionInfoSource::errorOccurred);
    source->requestUpdate(200);
    QTRY_COMPARE(errors.size(), 1);
    QCOMPARE(errors.first().first().value<QGeoPositionInfoSource::Error>(),
             QGeoPositionInfoSource::UpdateTimeoutError);
    QCOMPARE(source->error(), QGeoPositionInfoSource::UpdateTimeoutError);
}

QTEST_GUILESS_MAIN(TestGeoClueSource)
#include "tst_geoclue_source.moc"
