#include "WXDesktopWindow.h"

#include "Log.h"
#include "WXWeather.h"
#include "WakeMonitor.h"

#include <QTimer>

using namespace nimbara;

void WXDesktopWindow::start()
{
    // The delay in nanoseconds, cut toward zero, then whole milliseconds for the timer.
    const qint64 delayNs = qint64(checkInterval * 1'000'000'000.0);
    checkTimer->start(int(delayNs / 1'000'000));
}

void WXDesktopWindow::checkTick()
{
    log(QStringLiteral("checking for internet connection"));
    bool hourlyRefresh = false;
    m_fetchReachedService.reset();
    const bool connected = isConnected();
    if (connected) {
        if (!isUpdated) {
            // Only an update that could run (a position is known) may mark the weather current;
            // otherwise the first connected tick after the first position would wait an hour.
            const bool couldUpdate = cachedLocation.has_value();
            getWeather(cachedLocation);
            if (!errors && couldUpdate)
                isUpdated = true;
            current = 0;
            log(QStringLiteral("refreshing"));
        }
        current = qint32(double(current) + checkInterval);
        if (current >= refreshInterval) {
            hourlyRefresh = true;
            isUpdated = false;
            getWeather(cachedLocation);
            current = 0;
            log(QStringLiteral("hourly refresh"));
        }
    } else {
        isUpdated = false;
    }
    log(QStringLiteral("%1/%2").arg(current).arg(refreshInterval));
    // A tick that fetched nothing (the weather is current) says nothing about the service.
    const bool wasUnreachable = serviceUnreachableSince().isValid();
    if (!connected || m_fetchReachedService == false) {
        if (m_failedTicks++ == 0)
            m_failingSince = now();
    } else if (m_fetchReachedService == true) {
        m_failedTicks = 0;
    }
    if (serviceUnreachableSince().isValid() != wasUnreachable)
        emit serviceReachabilityDidChange();
    // After the counter line: a source that reports at once must not break into the tick's lines.
    if (hourlyRefresh)
        resumeLocationUpdates();
    start();
}

void WXDesktopWindow::receiveWakeNote(QObject * /*notification*/)
{
    log(QStringLiteral("awake"));
    isUpdated = false;
    getWeather(cachedLocation);
    resumeLocationUpdates();
}

void WXDesktopWindow::observeWakeNotes()
{
    wakeMonitor = new WakeMonitor(this);
    connect(wakeMonitor, &WakeMonitor::woke, this, [this] { receiveWakeNote(wakeMonitor); });
    // Without logind the time spent asleep is noticed by the clock's tick, once a second.
    connect(clockTimer, &QTimer::timeout, wakeMonitor, &WakeMonitor::checkClockJump);
}
