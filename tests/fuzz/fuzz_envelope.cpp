// What the weather service answers, decoded by the widget: the JSON envelope and the forecast
// members of its data.
#include "WXForecast.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QVariantMap>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const QJsonDocument json = QJsonDocument::fromJson(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    const QVariant envelope = json.toVariant();
    const WXForecast forecast = WXForecast::fromData(envelope.toMap().value(QStringLiteral("data")));
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1765000000, Qt::UTC);
    (void)forecast.freshnessText(now);
    (void)forecast.isOld(now);
    return 0;
}
