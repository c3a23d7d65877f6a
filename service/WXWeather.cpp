#include "WXWeather.h"

#include "BuildInfo.h"
#include "BundleInfo.h"
#include "ServiceExchange.h"

#include <QLocale>
#include <QMutex>
#include <QMutexLocker>
#include <QUrl>

namespace {

// Written into the gate and feedback paths with "%1.1f".
constexpr float kApiVersion = 0.5f;

struct Hosts
{
    QMutex mutex;
    QString service;
    QString probe;
};

Hosts &testHosts()
{
    static Hosts hosts;
    return hosts;
}

QString serviceHost()
{
    Hosts &hosts = testHosts();
    QMutexLocker lock(&hosts.mutex);
    return hosts.service.isEmpty() ? QStringLiteral(NIMBARA_SERVICE_HOST) : hosts.service;
}

QString probeHost()
{
    Hosts &hosts = testHosts();
    QMutexLocker lock(&hosts.mutex);
    return hosts.probe.isEmpty() ? QStringLiteral(NIMBARA_PROBE_HOST) : hosts.probe;
}

QString apiAddress(const char *endpoint)
{
    return QStringLiteral("http://") + serviceHost() + QStringLiteral("/api/") +
           QString::asprintf("%1.1f", double(kApiVersion)) + u'/' + QLatin1String(endpoint) + u'?';
}

// An empty language list sends an empty "v4": the service then answers in its default language.
QString userLanguage()
{
    return QLocale::system().uiLanguages().value(0);
}

// The machine id stays what it is while the program runs: hash it once, rather than read
// /etc/machine-id and hash it twice on every request. A machine without an id yet is asked again.
QString machineFingerprint()
{
    static QMutex mutex;
    static QString fingerprint;
    QMutexLocker lock(&mutex);
    if (fingerprint.isEmpty()) {
        const QString serial = WXWeather::serialNumber();
        if (serial.isEmpty())
            return WXWeather::encrypt(serial);
        fingerprint = WXWeather::encrypt(serial);
    }
    return fingerprint;
}

} // namespace

bool WXWeather::sendType(qint64 type, const QString &name, const QString &email, const QString &message)
{
    QVariantMap data;
    data.insert(QStringLiteral("v1"), QString::number(type));
    data.insert(QStringLiteral("v2"), name);
    data.insert(QStringLiteral("v3"), email);
    data.insert(QStringLiteral("v4"), message);
    const QVariant answer = makePostRequestToURL(apiAddress("feedback"), data);
    return answer.toMap().value(QStringLiteral("status")) == QVariant(QStringLiteral("ok"));
}

QVariant WXWeather::getWeatherByLatitude(double latitude, double longitude)
{
    QVariantMap data;
    data.insert(QStringLiteral("v1"), latitude);
    data.insert(QStringLiteral("v2"), longitude);
    data.insert(QStringLiteral("v3"), QStringLiteral("auto"));
    data.insert(QStringLiteral("v4"), userLanguage());
    data.insert(QStringLiteral("v5"), machineFingerprint());
    data.insert(QStringLiteral("v6"),
                encrypt(nimbara::bundleValue(QStringLiteral("CFBundleShortVersionString"))));
    return makeRequestToURL(apiAddress("gate"), data);
}

QString WXWeather::placesAddress(const QString &text)
{
    QVariantMap data;
    // Typed text may hold anything; the other requests' values are the program's own.
    data.insert(QStringLiteral("q"), QString::fromLatin1(QUrl::toPercentEncoding(text)));
    data.insert(QStringLiteral("v4"), userLanguage());
    return apiAddress("places") + nimbara::exchange::pairText(data);
}

QString WXWeather::locateAddress()
{
    QVariantMap data;
    data.insert(QStringLiteral("v4"), userLanguage());
    return apiAddress("locate") + nimbara::exchange::pairText(data);
}

bool WXWeather::isConnected()
{
    return !makeRequestToURL(QStringLiteral("http://") + probeHost() + QStringLiteral("/check/"), {})
                .isNull();
}

void WXWeather::setHostsForTesting(const QString &serviceHost, const QString &probeHost)
{
    Hosts &hosts = testHosts();
    QMutexLocker lock(&hosts.mutex);
    hosts.service = serviceHost;
    hosts.probe = probeHost;
}
