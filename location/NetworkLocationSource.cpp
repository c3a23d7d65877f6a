#include "NetworkLocationSource.h"

#include "Log.h"
#include "ServiceRequest.h"

#include <QTimer>
#include <QVariantMap>

#include <cmath>

namespace {

// A fresh answer is good for this long before a new start asks the service again.
constexpr qint64 kFreshSeconds = 60;

std::optional<double> coordinate(const QVariantMap &data, const QString &key, double limit)
{
    const QVariant value = data.value(key);
    if (value.typeId() != QMetaType::Double && value.typeId() != QMetaType::Int &&
        value.typeId() != QMetaType::LongLong)
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::fabs(number) > limit)
        return std::nullopt;
    return number;
}

} // namespace

NetworkLocationSource::NetworkLocationSource(QObject *parent)
    : LocationSource(parent)
    , m_retry(new QTimer(this))
    , m_request(new nimbara::ServiceRequest(this))
{
    m_retry->setSingleShot(true);
    m_retry->setInterval(kRetryMilliseconds);
    connect(m_retry, &QTimer::timeout, this, &NetworkLocationSource::ask);
    connect(m_request, &nimbara::ServiceRequest::finished, this, &NetworkLocationSource::answered);
}

NetworkLocationSource::~NetworkLocationSource() = default;

void NetworkLocationSource::startUpdatingLocation()
{
    m_updating = true;
    // From the event loop, as a device's first fix would come: never inside the widget's own call.
    QTimer::singleShot(0, this, [this] {
        if (m_last && m_lastAt.secsTo(QDateTime::currentDateTimeUtc()) < kFreshSeconds) {
            if (m_updating)
                emit positionUpdated(m_last->first, m_last->second);
            return;
        }
        ask();
    });
}

void NetworkLocationSource::stopUpdatingLocation()
{
    m_updating = false;
    m_retry->stop();
    m_request->abort();
}

void NetworkLocationSource::ask()
{
    if (!m_updating || m_request->isRunning())
        return;
    m_request->locateByNetworkAddress();
}

void NetworkLocationSource::answered(const QVariant &answer)
{
    if (!m_updating)
        return;
    const QVariantMap envelope = answer.toMap();
    if (answer.typeId() != QMetaType::QVariantMap) {
        // Not reachable or no envelope: the service is asked again later.
        m_retry->start();
        return;
    }
    if (envelope.value(QStringLiteral("status")).toString() == QLatin1String("error")) {
        nimbara::log(QStringLiteral(" ! ERROR : the service cannot tell where this network address is"));
        // A later answer with a place counts as a new permission, so that the widget fetches for it.
        m_authorized = false;
        emit locationUnknown();
        return;
    }
    const QVariantMap data = envelope.value(QStringLiteral("data")).toMap();
    const auto latitude = coordinate(data, QStringLiteral("lat"), 90);
    const auto longitude = coordinate(data, QStringLiteral("lon"), 180);
    if (!latitude || !longitude) {
        nimbara::log(QStringLiteral(" ! ERROR : the service's network place has no position"));
        m_retry->start();
        return;
    }
    m_last = std::make_pair(*latitude, *longitude);
    m_lastAt = QDateTime::currentDateTimeUtc();
    if (!m_authorized) {
        m_authorized = true;
        emit authorizationChanged(Authorized);
    }
    emit positionUpdated(*latitude, *longitude);
}
