#pragma once

#include <QDBusConnection>
#include <QObject>

#include <functional>

namespace nimbara {

// Tells when the machine woke from sleep. It listens to logind's PrepareForSleep(false) on the
// system bus; where there is no bus or no logind, it notices the time spent asleep as a jump of
// CLOCK_BOOTTIME (which counts suspend) against CLOCK_MONOTONIC (which does not), checked by
// checkClockJump() from the widget's clock tick.
class WakeMonitor : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WakeMonitor)

public:
    // Nanoseconds spent asleep since boot: CLOCK_BOOTTIME minus CLOCK_MONOTONIC.
    using SleepClock = std::function<qint64()>;

    explicit WakeMonitor(QObject *parent = nullptr);
    // Seam for tests: a bus of their own (a private dbus-daemon, or none) and a clock they drive.
    WakeMonitor(const QDBusConnection &bus, SleepClock sleepClock, QObject *parent = nullptr);
    ~WakeMonitor() override;

    // Whether wakes come from logind (otherwise from the clock check).
    bool usesLogind() const { return m_usesLogind; }
    // Emits woke() when time asleep grew since the last check; does nothing while logind reports.
    void checkClockJump();

    static qint64 systemSleepClock();

signals:
    void woke();

private slots:
    // QtDBus delivers bus signals only to slots named by signature.
    void onPrepareForSleep(bool start);

private:
    SleepClock m_sleepClock;
    qint64 m_lastAsleep = 0;
    bool m_usesLogind = false;
};

} // namespace nimbara
