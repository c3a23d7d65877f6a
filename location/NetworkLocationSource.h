#pragma once

#include "LocationSource.h"

#include <QDateTime>

#include <optional>
#include <utility>

class QTimer;

namespace nimbara {
class ServiceRequest;
}

// The machine's approximate place as the weather service guesses it from the network address the
// request comes from ("positionSource" "network"). Each start of updates asks the service once, on
// the event loop (the widget goes on while it waits); a place it cannot tell is reported as unknown, and a
// service that does not answer is asked again a minute later while updates run.
class NetworkLocationSource : public nimbara::LocationSource
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NetworkLocationSource)

public:
    static constexpr int kRetryMilliseconds = 60 * 1000;

    explicit NetworkLocationSource(QObject *parent = nullptr);
    ~NetworkLocationSource() override;

    bool locationServicesEnabled() const override { return true; }
    void setDesiredAccuracyBest() override {}
    void startUpdatingLocation() override;
    void stopUpdatingLocation() override;

    // Asks the service now (the retry timer and the start of updates call it).
    void ask();

    QTimer *retryTimer() const { return m_retry; }

private:
    void answered(const QVariant &answer);

    QTimer *const m_retry;
    nimbara::ServiceRequest *const m_request;
    bool m_updating = false;
    bool m_authorized = false;
    // The last answer: a start right after it (the widget restarts updates when the first position
    // arrives) delivers it again instead of asking twice.
    std::optional<std::pair<double, double>> m_last;
    QDateTime m_lastAt;
};
