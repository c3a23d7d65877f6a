#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// What the blocking exchange (WXWeatherExchange.cpp) and the requests on the event loop
// (ServiceRequest.cpp) share: the limits and how an answer is judged and logged.
namespace nimbara::exchange {

// Each entry as "&key=value", nothing escaped.
QString pairText(const QVariantMap &data);

// A slow or silent server never holds a request for longer than this, connect included.
int timeoutMs();
// A broken or hostile server must not make the widget allocate without limit.
constexpr qsizetype kMaxBodyBytes = 1024 * 1024;

void logRequestError(const QString &description);
// Logs the answer's text and decodes it: the JSON object or array when it has at least one entry,
// otherwise null (and a logged error).
QVariant decodeAnswer(const QByteArray &body);

} // namespace nimbara::exchange
