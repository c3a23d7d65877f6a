#include "WXForecast.h"

#include "Localized.h"

#include <cmath>
#include <limits>

using nimbara::localized;

namespace {

std::optional<double> numberIn(const QVariantMap &map, const QString &key)
{
    const QVariant value = map.value(key);
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        const double number = value.toDouble();
        if (std::isfinite(number))
            return number;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

QString textIn(const QVariantMap &map, const QString &key)
{
    const QVariant value = map.value(key);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

// A whole temperature that a line can show; anything else is no temperature.
std::optional<int> degreesIn(const QVariantMap &map, const QString &key)
{
    const auto number = numberIn(map, key);
    if (!number || std::fabs(*number) > 1000)
        return std::nullopt;
    return int(std::lround(*number));
}

std::optional<WXForecast::Temperature> temperatureIn(const QVariantMap &map)
{
    const auto celsius = degreesIn(map, QStringLiteral("celsius"));
    const auto other = degreesIn(map, QStringLiteral("temp"));
    if (!celsius || !other)
        return std::nullopt;
    return WXForecast::Temperature{*celsius, *other};
}

// "HH:mm" and nothing else.
QString clockIn(const QVariantMap &map, const QString &key)
{
    const QString text = textIn(map, key);
    return QTime::fromString(text, QStringLiteral("HH:mm")).isValid() && text.size() == 5 ? text : QString();
}

QDateTime timeIn(const QVariantMap &map, const QString &key)
{
    const QDateTime time = QDateTime::fromString(textIn(map, key), Qt::ISODate);
    // Only times that say their offset: a time without one would be read in the user's zone. Qt
    // reads a zero offset ("+00:00", "Z") as UTC rather than as an offset.
    const Qt::TimeSpec spec = time.timeSpec();
    return time.isValid() && (spec == Qt::OffsetFromUTC || spec == Qt::UTC) ? time : QDateTime();
}

} // namespace

WXForecast WXForecast::fromData(const QVariant &data)
{
    WXForecast forecast;
    if (data.typeId() != QMetaType::QVariantMap)
        return forecast;
    const QVariantMap map = data.toMap();
    forecast.location = textIn(map, QStringLiteral("location"));
    forecast.provider = textIn(map, QStringLiteral("provider"));
    forecast.updated = timeIn(map, QStringLiteral("updated"));
    const QVariantMap today = map.value(QStringLiteral("today")).toMap();
    forecast.high = temperatureIn(today.value(QStringLiteral("high")).toMap());
    forecast.low = temperatureIn(today.value(QStringLiteral("low")).toMap());
    forecast.sunrise = clockIn(map, QStringLiteral("sunrise"));
    forecast.sunset = clockIn(map, QStringLiteral("sunset"));

    const QVariantList hours = map.value(QStringLiteral("hourly")).toList();
    for (const QVariant &item : hours) {
        if (item.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap entry = item.toMap();
        Hour hour;
        hour.time = timeIn(entry, QStringLiteral("time"));
        const auto temperature = temperatureIn(entry);
        if (!hour.time.isValid() || !temperature)
            continue;
        hour.temperature = *temperature;
        hour.condition = textIn(entry, QStringLiteral("condition"));
        const auto precipitation = numberIn(entry, QStringLiteral("precipitation"));
        hour.precipitation =
            precipitation && *precipitation > 0 && *precipitation < 1000 ? *precipitation : 0;
        if (const auto probability = numberIn(entry, QStringLiteral("probability"));
            probability && *probability >= 0 && *probability <= 100)
            hour.probability = int(std::lround(*probability));
        const QVariant day = entry.value(QStringLiteral("day"));
        hour.day = day.typeId() != QMetaType::Bool || day.toBool();
        forecast.hourly.append(hour);
        if (forecast.hourly.size() == 24)
            break;
    }
    return forecast;
}

bool WXForecast::isOld(const QDateTime &now) const
{
    return updated.isValid() && updated.secsTo(now) > kFreshSeconds;
}

QString WXForecast::freshnessText(const QDateTime &now) const
{
    if (!updated.isValid())
        return {};
    if (isOld(now))
        return localized("UPDATED_HOURS_AGO").arg(updated.secsTo(now) / 3600);
    const QString time = updated.toLocalTime().toString(QStringLiteral("HH:mm"));
    if (provider.isEmpty())
        return localized("UPDATED_AT").arg(time);
    return localized("UPDATED_AT_FROM").arg(time, provider);
}
