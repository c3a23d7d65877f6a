#include "WXWeather.h"

#include "HttpClient.h"
#include "Log.h"
#include "ServiceExchange.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>

namespace {

// A slow or silent server never holds the caller (the main thread) for longer than this, connect included.
constexpr int kDefaultTimeoutMs = 10000;
std::atomic<int> g_timeoutMs{kDefaultTimeoutMs};

QString valueText(const QVariant &value)
{
    // Plain decimal digits with a point, whatever the locale: the shortest text that reads back as
    // the same double, never an exponent.
    if (value.typeId() == QMetaType::Double)
        return QString::number(value.toDouble(), 'f', QLocale::FloatingPointShortest);
    return value.toString();
}

// Sends one request and judges the answer; postBody is null for a GET.
QVariant exchange(const QByteArray &url, const QByteArray *postBody)
{
    const nimbara::HttpAnswer answer =
        nimbara::sendHttpRequest(url, postBody, g_timeoutMs, nimbara::exchange::kMaxBodyBytes);
    if (!answer.delivered) {
        nimbara::exchange::logRequestError(answer.error);
        return {};
    }
    return nimbara::exchange::decodeAnswer(answer.body);
}

} // namespace

namespace nimbara::exchange {

QString pairText(const QVariantMap &data)
{
    QString text;
    for (auto it = data.cbegin(); it != data.cend(); ++it)
        text += u'&' + it.key() + u'=' + valueText(it.value());
    return text;
}

int timeoutMs()
{
    return g_timeoutMs;
}

void logRequestError(const QString &description)
{
    nimbara::log(QStringLiteral(" ! ERROR : request error ") + description);
}

QVariant decodeAnswer(const QByteArray &body)
{
    // ASCII shows as itself and UTF-8 as its letters; bytes that are not UTF-8 show as U+FFFD.
    const QString bodyText = QString::fromUtf8(body);
    // Only an object or an array decodes; bare scalars, invalid UTF-8 and trailing garbage do not.
    const QJsonDocument json = QJsonDocument::fromJson(body);
    nimbara::log(bodyText);
    const bool hasEntries =
        json.isObject() ? !json.object().isEmpty() : json.isArray() && !json.array().isEmpty();
    if (!hasEntries) {
        nimbara::log(QStringLiteral(" ! ERROR : empty JSON response"));
        return {};
    }
    return json.toVariant();
}

} // namespace nimbara::exchange

QVariant WXWeather::makeRequestToURL(const QString &url, const QVariantMap &data)
{
    // The address goes out as the bytes given; one with a space or a control character fails with a
    // description.
    return exchange((url + nimbara::exchange::pairText(data)).toUtf8(), nullptr);
}

QVariant WXWeather::makePostRequestToURL(const QString &url, const QVariantMap &data)
{
    const QByteArray body = nimbara::exchange::pairText(data).toUtf8();
    nimbara::log(QStringLiteral("POST ") + url);
    return exchange(url.toUtf8(), &body);
}

void WXWeather::setTimeoutForTesting(int milliseconds)
{
    g_timeoutMs = milliseconds > 0 ? milliseconds : kDefaultTimeoutMs;
}
