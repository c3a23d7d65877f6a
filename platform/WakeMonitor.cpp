#include "WakeMonitor.h"

#include <QDBusConnectionInterface>

#include <ctime>

namespace nimbara {

namespace {

const QString kLogindService = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kLogindInterface = QStringLiteral("org.freedesktop.login1.Manager");

// Less than this asleep is clock noise, not a suspend.
constexpr qint64 kMinimumSleepNs = 1'000'000'000;

qint64 nanoseconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

bool logindPresent(const QDBusConnection &bus)
{
    const QDBusConnectionInterface *interface = bus.interface();
    if (!interface)
        return false;
    if (interface->isServiceRegistered(kLogindService).value())
        return true;
    return interface->activatableServiceNames().value().contains(kLogindService);
}

} // namespace

WakeMonitor::WakeMonitor(QObject *parent)
    : WakeMonitor(QDBusConnection::systemBus(), &WakeMonitor::systemSleepClock, parent)
{}

WakeMonitor::WakeMonitor(const QDBusConnection &bus, SleepClock sleepClock, QObject *parent)
    : QObject(parent)
    , m_sleepClock(std::move(sleepClock))
{
    m_lastAsleep = m_sleepClock();
    QDBusConnection connection(bus);
    if (connection.isConnected() && logindPresent(connection)) {
        m_usesLogind =
            connection.connect(kLogindService, kLogindPath, kLogindInterface,
                               QStringLiteral("PrepareForSleep"), this, SLOT(onPrepareForSleep(bool)));
    }
}

WakeMonitor::~WakeMonitor() = default;

qint64 WakeMonitor::systemSleepClock()
{
    return nanoseconds(CLOCK_BOOTTIME) - nanoseconds(CLOCK_MONOTONIC);
}

void WakeMonitor::checkClockJump()
{
    if (m_usesLogind)
        return;
    const qint64 asleep = m_sleepClock();
    const qint64 grown = asleep - m_lastAsleep;
    m_lastAsleep = asleep;
    if (grown >= kMinimumSleepNs)
        emit woke();
}

void WakeMonitor::onPrepareForSleep(bool start)
{
    if (!start)
        emit woke();
}

} // namespace nimbara
