#include "WakeMonitor.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace nimbara;

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");

void sendPrepareForSleep(const QDBusConnection &from, bool start)
{
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                     QStringLiteral("org.freedesktop.login1.Manager"),
                                                     QStringLiteral("PrepareForSleep"));
    signal << start;
    QVERIFY(QDBusConnection(from).send(signal));
}

} // namespace

class TestWakeMonitor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void logind_wakeEndsSleep();
    void busWithoutLogind_watchesClocks();
    void noBus_clockJumps_data();
    void noBus_clockJumps();

private:
    QProcess m_daemon;
    QString m_address;
};

void TestWakeMonitor::initTestCase()
{
    // A private message bus stands in for the system bus.
    m_daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                   QStringLiteral("--print-address=1")});
    QVERIFY2(m_daemon.waitForStarted(), "dbus-daemon (package dbus-daemon) is needed");
    QTRY_VERIFY(m_daemon.canReadLine());
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    QVERIFY(!m_address.isEmpty());
}

void TestWakeMonitor::cleanupTestCase()
{
    m_daemon.terminate();
    m_daemon.waitForFinished();
}

void TestWakeMonitor::logind_wakeEndsSleep()
{
    QDBusConnection logind = QDBusConnection::connectToBus(m_address, QStringLiteral("fake-logind"));
    QVERIFY(logind.isConnected());
    QVERIFY(logind.registerService(kLogind));
    QDBusConnection impostor = QDBusConnection::connectToBus(m_address, QStringLiteral("impostor"));
    QVERIFY(impostor.isConnected());

    qint64 asleep = 0;
    WakeMonitor monitor(QDBusConnection::connectToBus(m_address, QStringLiteral("monitor")),
                        [&asleep] { return asleep; });
    QVERIFY(monitor.usesLogind());
    QSignalSpy woke(&monitor, &WakeMonitor::woke);

    sendPrepareForSleep(logind, true);
    sendPrepareForSleep(impostor, false); // not logind: ignored
    sendPrepareForSleep(logind, false);
    QVERIFY(woke.wait());
    QTest::qWait(50);
    QCOMPARE(woke.size(), 1);

    // Logind reports wakes, so a clock jump is not counted a second time.
    asleep += 3600'000'000'000;
    monitor.checkClockJump();
    QCOMPARE(woke.size(), 1);

    QDBusConnection::disconnectFromBus(QStringLiteral("monitor"));
    QDBusConnection::disconnectFromBus(QStringLiteral("impostor"));
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind"));
}

void TestWakeMonitor::busWithoutLogind_watchesClocks()
{
    qint64 asleep = 5'000'000'000;
    WakeMonitor monitor(QDBusConnection::connectToBus(m_address, QStringLiteral("plain")),
                        [&asleep] { return asleep; });
    QVERIFY(!monitor.usesLogind());
    QSignalSpy woke(&monitor, &WakeMonitor::woke);
    asleep += 60'000'000'000;
    monitor.checkClockJump();
    QCOMPARE(woke.size(), 1);
    QDBusConnection::disconnectFromBus(QStringLiteral("plain"));
}

void TestWakeMonitor::noBus_clockJumps_data()
{
    QTest::addColumn<QList<qint64>>("asleepAtEachCheck");
    QTest::addColumn<int>("wakes");
    const qint64 s = 1'000'000'000;
    QTest::newRow("never asleep") << QList<qint64>{0, 0, 0} << 0;
    QTest::newRow("one suspend") << QList<qint64>{0, 60 * s, 60 * s} << 1;
    QTest::newRow("two suspends") << QList<qint64>{0, 60 * s, 60 * s, 8 * 3600 * s} << 2;
    QTest::newRow("clock noise") << QList<qint64>{0, s / 2, s / 2 + 100} << 0;
    QTest::newRow("exactly one second") << QList<qint64>{0, s} << 1;
    QTest::newRow("asleep before start") << QList<qint64>{7200 * s, 7200 * s} << 0;
}

void TestWakeMonitor::noBus_clockJumps()
{
    QFETCH(QList<qint64>, asleepAtEachCheck);
    QFETCH(int, wakes);
    qint64 asleep = asleepAtEachCheck.first();
    const QDBusConnection none =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("none"));
    QVERIFY(!none.isConnected());
    WakeMonitor monitor(none, [&asleep] { return asleep; });
    QVERIFY(!monitor.usesLogind());
    QSignalSpy woke(&monitor, &WakeMonitor::woke);
    for (const qint64 value : asleepAtEachCheck) {
        asleep = value;
        monitor.checkClockJump();
    }
    QCOMPARE(woke.size(), wakes);
    QDBusConnection::disconnectFromBus(QStringLiteral("none"));
}

QTEST_GUILESS_MAIN(TestWakeMonitor)
#include "tst_wake_monitor.moc"
