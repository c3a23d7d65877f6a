#include "FakeLocationSource.h"
#include "LoopbackServer.h"
#include "WXDesktopWindow.h"
#include "WXDesktopWindowUi.h"

#include "Localized.h"
#include "Log.h"
#include "WXWeather.h"
#include "WakeMonitor.h"

#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace nimbara;

namespace {

const QByteArray kWeather =
    R"({"status":"ok","data":{"temp":70,"celsius":21,"condition":"rain","location":"london"}})";

const QString kChecking = QStringLiteral("checking for internet connection");
const QString kUpdating = QStringLiteral("updating weather");
const QString kRefreshing = QStringLiteral("refreshing");
const QString kHourly = QStringLiteral("hourly refresh");
const QString kAwake = QStringLiteral("awake");

QString counter(int current)
{
    return QStringLiteral("%1/3600").arg(current);
}

// The scheduler's and the update's own lines, without what the HTTP exchange logs.
QStringList schedulerLines(const QStringList &lines)
{
    static const QRegularExpression counterLine(QStringLiteral("^-?\\d+/-?\\d+$"));
    QStringList kept;
    for (const QString &line : lines) {
        if (line == kChecking || line == kUpdating || line == kRefreshing || line == kHourly ||
            line == kAwake || counterLine.match(line).hasMatch())
            kept.append(line);
    }
    return kept;
}

} // namespace

class TestRefreshScheduler : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void tick_data();
    void tick();
    void connectedRun_hourlyRefreshOnTick240And480();
    void tickWithoutConnection_nextConnectedTickFetches();
    void firstTickBeforePosition_nextTickAfterPositionFetches();
    void wakeWhileCurrent_fetchesAndKeepsTheCount();
    void wakeWithoutNetwork_firstConnectedTickFetches();
    void movedMachine_nextFetchIsForTheNewPlace_data();
    void movedMachine_nextFetchIsForTheNewPlace();
    void unreadableAnswer_tickLogKeepsItsOrder_data();
    void unreadableAnswer_tickLogKeepsItsOrder();
    void start_armsOneTickAfterTheEndOfThePrevious();
    void startUp_armsTheTickAndObservesWakes();
    void serviceStopsAnswering_tooltipSaysSoAfterTwoFailedTicks();

private:
    int gateRequests() const;
    void setReply(const QByteArray &body);

    QTemporaryDir m_home;
    std::unique_ptr<LoopbackServer> m_server;
    std::unique_ptr<WXDesktopWindow> m_window;
    FakeLocationSource *m_source = nullptr;
    bool m_connected = true;
    int m_probes = 0;
};

void TestRefreshScheduler::initTestCase()
{
    // What a test hook once read: the installed widget must keep its 15 s whatever the environment.
    qputenv("NIMBARA_TEST", "1");
    qputenv("NIMBARA_TEST_CHECK_INTERVAL_MS", "1");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_home.path());
    m_server = std::make_unique<LoopbackServer>();
}

void TestRefreshScheduler::init()
{
    QSettings(QStringLiteral("Nimbara"), QStringLiteral("Nimbara")).clear();
    WXWeather::setHostsForTesting(m_server->host(), m_server->host());
    m_server->clear();
    setReply(kWeather);
    m_connected = true;
    m_probes = 0;
    m_window = std::make_unique<WXDesktopWindow>();
    m_source = new FakeLocationSource(true, m_window.get());
    m_window->locationManager = m_source;
    m_window->cachedLocation = QGeoCoordinate(51.5074, -0.1278);
    // The probe is replaced; the gate requests go to the loopback server.
    m_window->isConnected = [this] {
        ++m_probes;
        return m_connected;
    };
}

void TestRefreshScheduler::cleanup()
{
    m_window.reset();
}

int TestRefreshScheduler::gateRequests() const
{
    return int(m_server->requests().size());
}

void TestRefreshScheduler::setReply(const QByteArray &body)
{
    m_server->setReply(LoopbackServer::answer(200, body));
}

void TestRefreshScheduler::tick_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("hasLocation");
    QTest::addColumn<bool>("isUpdatedBefore");
    QTest::addColumn<int>("currentBefore");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("isUpdated");
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QStringList>("lines");

    const QByteArray noEnvelope = "{}";
    const QByteArray outdated = R"({"status":"error","error":0})";
    // clang-format off
    QTest::newRow("not connected") << false << true << true << 45 << kWeather
        << false << 45 << 0 << QStringList{kChecking, counter(45)};
    QTest::newRow("connected, current, counting") << true << true << true << 45 << kWeather
        << true << 60 << 0 << QStringList{kChecking, counter(60)};
    QTest::newRow("connected, not current, update succeeds") << true << true << false << 45 << kWeather
        << true << 15 << 1 << QStringList{kChecking, kUpdating, kRefreshing, counter(15)};
    QTest::newRow("connected, not current, no envelope") << true << true << false << 45 << noEnvelope
        << false << 15 << 1 << QStringList{kChecking, kUpdating, kRefreshing, counter(15)};
    QTest::newRow("connected, not current, outdated version") << true << true << false << 0 << outdated
        << true << 15 << 1 << QStringList{kChecking, kUpdating, kRefreshing, counter(15)};
    QTest::newRow("hourly refresh succeeds") << true << true << true << 3585 << kWeather
        << true << 0 << 1 << QStringList{kChecking, kUpdating, kHourly, counter(0)};
    QTest::newRow("hourly refresh, no envelope") << true << true << true << 3585 << noEnvelope
        << false << 0 << 1 << QStringList{kChecking, kUpdating, kHourly, counter(0)};
    QTest::newRow("hourly refresh, outdated version") << true << true << true << 3585 << outdated
        << false << 0 << 1 << QStringList{kChecking, kUpdating, kHourly, counter(0)};
    // No position yet: the update cannot run, so the weather is not marked current.
    QTest::newRow("connected, not current, no position") << true << false << false << 0 << kWeather
        << false << 15 << 0 << QStringList{kChecking, kUpdating, kRefreshing, counter(15)};
    QTest::newRow("not connected, no position") << false << false << false << 0 << kWeather
        << false << 0 << 0 << QStringList{kChecking, counter(0)};
    // clang-format on
}

void TestRefreshScheduler::tick()
{
    QFETCH(bool, connected);
    QFETCH(bool, hasLocation);
    QFETCH(bool, isUpdatedBefore);
    QFETCH(int, currentBefore);
    QFETCH(QByteArray, reply);
    QFETCH(bool, isUpdated);
    QFETCH(int, current);
    QFETCH(int, requests);
    QFETCH(QStringList, lines);

    m_connected = connected;
    setReply(reply);
    WXDesktopWindow &w = *m_window;
    if (!hasLocation)
        w.cachedLocation.reset();
    w.isUpdated = isUpdatedBefore;
    w.current = currentBefore;

    LogCapture capture;
    w.checkTick();
    QCOMPARE(schedulerLines(capture.lines()), lines);
    QCOMPARE(w.isUpdated, isUpdated);
    QCOMPARE(w.current, current);
    QCOMPARE(gateRequests(), requests);
    QCOMPARE(m_probes, 1);
    QVERIFY(w.checkTimer->isActive());
}

void TestRefreshScheduler::connectedRun_hourlyRefreshOnTick240And480()
{
    WXDesktopWindow &w = *m_window;
    LogCapture capture;
    QStringList expected;
    for (int tick = 1; tick <= 480; ++tick) {
        w.checkTick();
        expected << kChecking;
        if (tick == 1)
            expected << kUpdating << kRefreshing << counter(15);
        else if (tick == 240 || tick == 480)
            expected << kUpdating << kHourly << counter(0);
        else
            expected << counter(tick < 240 ? tick * 15 : (tick - 240) * 15);
    }
    QCOMPARE(schedulerLines(capture.lines()), expected);
    QCOMPARE(gateRequests(), 3);
    QCOMPARE(m_probes, 480);
    QVERIFY(w.isUpdated);
    QCOMPARE(w.ui->title->text(), QStringLiteral("70°, RAIN"));
}

void TestRefreshScheduler::tickWithoutConnection_nextConnectedTickFetches()
{
    WXDesktopWindow &w = *m_window;
    for (int tick = 1; tick <= 11; ++tick)
        w.checkTick();
    QCOMPARE(w.current, 165);
    QCOMPARE(gateRequests(), 1);

    LogCapture capture;
    m_connected = false;
    w.checkTick();
    QCOMPARE(w.isUpdated, false);
    QCOMPARE(w.current, 165);
    m_connected = true;
    w.checkTick();
    QCOMPARE(schedulerLines(capture.lines()),
             (QStringList{kChecking, counter(165), kChecking, kUpdating, kRefreshing, counter(15)}));
    QCOMPARE(gateRequests(), 2);
    QVERIFY(w.isUpdated);
}

void TestRefreshScheduler::firstTickBeforePosition_nextTickAfterPositionFetches()
{
    WXDesktopWindow &w = *m_window;
    w.cachedLocation.reset();
    w.updateLocation();
    w.checkTick();
    QCOMPARE(gateRequests(), 0);
    QCOMPARE(w.isUpdated, false);

    m_source->deliver(51.5074, -0.1278);
    LogCapture capture;
    w.checkTick();
    QCOMPARE(schedulerLines(capture.lines()), (QStringList{kChecking, kUpdating, kRefreshing, counter(15)}));
    QCOMPARE(gateRequests(), 1);
    QVERIFY(w.isUpdated);
    QCOMPARE(w.ui->subtitle->text(), QStringLiteral("LONDON"));
    QCOMPARE(m_source->stops, 1);
}

void TestRefreshScheduler::wakeWhileCurrent_fetchesAndKeepsTheCount()
{
    WXDesktopWindow &w = *m_window;
    for (int tick = 1; tick <= 6; ++tick)
        w.checkTick();
    QCOMPARE(w.current, 90);
    QVERIFY(w.isUpdated);

    LogCapture capture;
    w.receiveWakeNote(nullptr);
    QCOMPARE(schedulerLines(capture.lines()), (QStringList{kAwake, kUpdating}));
    QCOMPARE(gateRequests(), 2);
    QVERIFY(w.isUpdated);
    QCOMPARE(w.current, 90);

    // The hourly refresh comes on the same tick as without the wake: the 240th.
    for (int tick = 7; tick < 240; ++tick)
        w.checkTick();
    QCOMPARE(gateRequests(), 2);
    capture.clear();
    w.checkTick();
    QCOMPARE(schedulerLines(capture.lines()), (QStringList{kChecking, kUpdating, kHourly, counter(0)}));
    QCOMPARE(gateRequests(), 3);
}

void TestRefreshScheduler::wakeWithoutNetwork_firstConnectedTickFetches()
{
    WXDesktopWindow &w = *m_window;
    w.checkTick();
    QCOMPARE(gateRequests(), 1);

    // Nothing listens on the service port while the network is down.
    WXWeather::setHostsForTesting(QStringLiteral("127.0.0.1:1"), QStringLiteral("127.0.0.1:1"));
    w.receiveWakeNote(nullptr);
    QVERIFY(w.errors);
    QCOMPARE(w.isUpdated, false);
    QCOMPARE(w.ui->title->text(), QStringLiteral("70°, RAIN"));

    WXWeather::setHostsForTesting(m_server->host(), m_server->host());
    LogCapture capture;
    w.checkTick();
    QCOMPARE(schedulerLines(capture.lines()), (QStringList{kChecking, kUpdating, kRefreshing, counter(15)}));
    QCOMPARE(gateRequests(), 2);
    QVERIFY(w.isUpdated);
    QVERIFY(!w.errors);
}

void TestRefreshScheduler::movedMachine_nextFetchIsForTheNewPlace_data()
{
    QTest::addColumn<bool>("wake"); // false: the hourly refresh
    QTest::addColumn<QGeoCoordinate>("destination");
    QTest::addColumn<bool>("fetches");

    const QGeoCoordinate paris(48.8566, 2.3522);
    // About 550 m east of the first position: the same place.
    const QGeoCoordinate nearby(51.5074, -0.1198);
    QTest::newRow("wake, carried to Paris") << true << paris << true;
    QTest::newRow("hourly refresh, carried to Paris") << false << paris << true;
    QTest::newRow("wake, moved down the street") << true << nearby << false;
    QTest::newRow("hourly refresh, moved down the street") << false << nearby << false;
}

void TestRefreshScheduler::movedMachine_nextFetchIsForTheNewPlace()
{
    QFETCH(bool, wake);
    QFETCH(QGeoCoordinate, destination);
    QFETCH(bool, fetches);

    // A laptop in London: its weather is fetched and the deliveries stop.
    WXDesktopWindow &w = *m_window;
    w.cachedLocation.reset();
    m_source->position = QGeoCoordinate(51.5074, -0.1278);
    w.updateLocation();
    w.checkTick();
    QCOMPARE(gateRequests(), 1);
    QVERIFY(w.isUpdated);
    QVERIFY(!m_source->updating);

    // Carried elsewhere while asleep, or while the hour ran.
    m_source->position = destination;
    if (wake) {
        w.receiveWakeNote(nullptr);
    } else {
        w.current = w.refreshInterval - 15;
        w.checkTick();
    }
    QCOMPARE(gateRequests(), 2);
    QCOMPARE(w.cachedLocation, std::optional<QGeoCoordinate>(destination));
    QCOMPARE(w.isUpdated, !fetches);
    // Not moved: the location service rests again, as after the first success; moved: it runs until
    // the weather for the new place comes.
    QCOMPARE(m_source->updating, fetches);

    m_server->clear();
    w.checkTick();
    if (!fetches) {
        QCOMPARE(gateRequests(), 0);
        return;
    }
    QCOMPARE(gateRequests(), 1);
    const QByteArray line = m_server->requests()[0].requestLine;
    QVERIFY2(line.contains("&v1=48.8566") && line.contains("&v2=2.3522"), line.constData());
    QVERIFY(w.isUpdated);
    QVERIFY(!m_source->updating);
}

void TestRefreshScheduler::unreadableAnswer_tickLogKeepsItsOrder_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("error without a code") << QByteArray(R"({"status":"error"})");
    QTest::newRow("error code as text") << QByteArray(R"({"status":"error","error":"3"})");
    QTest::newRow("answer is an array") << QByteArray(R"([{"status":"ok"}])");
    QTest::newRow("members of the wrong type")
        << QByteArray(R"({"status":"ok","data":{"celsius":"21","condition":5,"location":7}})");
    QTest::newRow("data is an array") << QByteArray(R"({"status":"ok","data":[21]})");
}

void TestRefreshScheduler::unreadableAnswer_tickLogKeepsItsOrder()
{
    QFETCH(QByteArray, reply);
    setReply(reply);
    WXDesktopWindow &w = *m_window;

    // Only the exchange's own line (the answer's text) joins the tick's lines.
    LogCapture capture;
    w.checkTick();
    QCOMPARE(capture.lines(),
             (QStringList{kChecking, kUpdating, QString::fromLatin1(reply), kRefreshing, counter(15)}));
}

void TestRefreshScheduler::start_armsOneTickAfterTheEndOfThePrevious()
{
    WXDesktopWindow &w = *m_window;
    w.start();
    QVERIFY(w.checkTimer->isActive());
    QVERIFY(w.checkTimer->isSingleShot());
    QCOMPARE(w.checkTimer->interval(), 15000);

    // While a tick runs nothing is pending; it arms the next one when it ends, however long it took.
    w.checkTimer->stop();
    bool pendingDuringProbe = true;
    w.isConnected = [&] {
        pendingDuringProbe = w.checkTimer->isActive();
        QTest::qSleep(200);
        return true;
    };
    w.checkTick();
    QVERIFY(!pendingDuringProbe);
    QVERIFY(w.checkTimer->isActive());
    // Armed after the slow probe, not before it.
    QVERIFY(w.checkTimer->remainingTime() > 14850);
}

void TestRefreshScheduler::startUp_armsTheTickAndObservesWakes()
{
    auto window = std::make_unique<WXDesktopWindow>();
    window->makeLocationSource = [](QObject *parent) {
        return new FakeLocationSource(true, parent);
    };
    window->awakeFromNib();
    QVERIFY(window->checkTimer->isActive());
    QCOMPARE(window->checkTimer->interval(), 15000);
    QVERIFY(window->wakeMonitor);

    LogCapture capture;
    emit window->wakeMonitor->woke();
    QCOMPARE(schedulerLines(capture.lines()), (QStringList{kAwake, kUpdating}));
}

void TestRefreshScheduler::serviceStopsAnswering_tooltipSaysSoAfterTwoFailedTicks()
{
    installTranslations(QLocale(QStringLiteral("en_US")));
    WXDesktopWindow &w = *m_window;
    QDateTime now = QDateTime::fromString(QStringLiteral("2024-05-01T14:04:45+01:00"), Qt::ISODate);
    w.now = [&now] {
        return now;
    };
    setReply(R"({"status":"ok","data":{"temp":70,"celsius":21,"condition":"rain","location":"london",)"
             R"("updated":"2024-05-01T14:00+01:00","provider":"Open-Meteo"}})");
    w.checkTick();
    QVERIFY(w.isUpdated);
    const QString fresh =
        QStringLiteral("Updated %1 · Open-Meteo")
            .arg(QDateTime::fromString(QStringLiteral("2024-05-01T14:00+01:00"), Qt::ISODate)
                     .toLocalTime()
                     .toString(QStringLiteral("HH:mm")));
    QCOMPARE(w.weatherLineToolTip(), fresh);
    QSignalSpy changes(&w, &WXDesktopWindow::serviceReachabilityDidChange);

    // The service stops answering; the hourly refresh is the next fetch, and it fails.
    m_server->setSilent();
    WXWeather::setTimeoutForTesting(200);
    w.current = w.refreshInterval - 15;
    now = now.addSecs(15);
    const QDateTime firstFailure = now;
    w.checkTick();
    QCOMPARE(gateRequests(), 2);
    QVERIFY(!w.serviceUnreachableSince().isValid());
    QCOMPARE(w.weatherLineToolTip(), fresh);

    // The second failed tick in a row: the tooltip says so, since the first; the lines keep the weather.
    now = now.addSecs(15);
    w.checkTick();
    QCOMPARE(gateRequests(), 3);
    QCOMPARE(w.serviceUnreachableSince(), firstFailure);
    QCOMPARE(changes.size(), 1);
    const QString unreachable = QStringLiteral("The weather service cannot be reached (since %1)")
                                    .arg(firstFailure.toLocalTime().toString(QStringLiteral("HH:mm")));
    QCOMPARE(w.weatherLineToolTip(), unreachable + u'\n' + fresh);
    QCOMPARE(w.ui->title->text(), QStringLiteral("70°, RAIN"));

    // The network gone as well: still the same since.
    m_connected = false;
    now = now.addSecs(15);
    w.checkTick();
    QCOMPARE(w.serviceUnreachableSince(), firstFailure);
    QCOMPARE(changes.size(), 1);

    // One answer ends it.
    m_connected = true;
    setReply(kWeather);
    w.checkTick();
    QVERIFY(!w.serviceUnreachableSince().isValid());
    QCOMPARE(changes.size(), 2);
    QVERIFY(!w.weatherLineToolTip().contains(QStringLiteral("cannot be reached")));
    WXWeather::setTimeoutForTesting(0);
}

QTEST_MAIN(TestRefreshScheduler)
#include "tst_refresh_scheduler.moc"
