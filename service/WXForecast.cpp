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

    for (const QVariant &item : map.value(QStringLiteral("daily")).toList()) {
        if (item.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap entry = item.toMap();
        Day day;
        day.date = QDate::fromString(textIn(entry, QStringLiteral("date")), Qt::ISODate);
        const auto high = temperatureIn(entry.value(QStringLiteral("high")).toMap());
        const auto low = temperatureIn(entry.value(QStringLiteral("low")).toMap());
        // Days in order, each once: a day out of order cannot take its place in the row.
        if (!day.date.isValid() || !high || !low ||
            (!forecast.daily.isEmpty() && day.date <= forecast.daily.last().date))
            continue;
        day.high = *high;
        day.low = *low;
        day.condition = textIn(entry, QStringLiteral("condition"));
        if (const auto precipitation = numberIn(entry, QStringLiteral("precipitation"));
            precipitation && *precipitation >= 0 && *precipitation < 10000)
            day.precipitation = *precipitation;
        if (const auto probability = numberIn(entry, QStringLiteral("probability"));
            probability && *probability >= 0 && *probability <= 100)
            day.probability = int(std::lround(*probability));
        forecast.daily.append(day);
        if (forecast.daily.size() == 7)
            break;
    }

    const QVariantMap now = map.value(QStringLiteral("now")).toMap();
    forecast.feelsLike = temperatureIn(now.value(QStringLiteral("feelsLike")).toMap());
    const QVariantMap wind = now.value(QStringLiteral("wind")).toMap();
    const auto kmh = numberIn(wind, QStringLiteral("kmh"));
    const auto mph = numberIn(wind, QStringLiteral("mph"));
    const auto ms = numberIn(wind, QStringLiteral("ms"));
    if (kmh && mph && ms && *kmh >= 0 && *kmh < 1000 && *mph >= 0 && *mph < 1000 && *ms >= 0 && *ms < 1000) {
        Wind known{int(std::lround(*kmh)), int(std::lround(*mph)), int(std::lround(*ms)), std::nullopt};
        if (const auto direction = numberIn(wind, QStringLiteral("direction"));
            direction && *direction >= 0 && *direction <= 360)
            known.direction = int(std::lround(*direction)) % 360;
        forecast.wind = known;
    }
    if (const auto humidity = numberIn(now, QStringLiteral("humidity"));
        humidity && *humidity >= 0 && *humidity <= 100)
        forecast.humidity = int(std::lround(*humidity));
    return forecast;
}

WXForecast::WindUnit WXForecast::windUnit(const QLocale &locale)
{
    if (locale.measurementSystem() != QLocale::MetricSystem)
        return WindUnit::mph;
    // Where forecasts give the wind in metres a second.
    static constexpr QLocale::Territory metresPerSecond[] = {
        QLocale::Norway,  QLocale::Sweden,     QLocale::Finland,   QLocale::Denmark, QLocale::Iceland,
        QLocale::Estonia, QLocale::Latvia,     QLocale::Lithuania, QLocale::Russia,  QLocale::Belarus,
        QLocale::Ukraine, QLocale::Kazakhstan, QLocale::China,     QLocale::Japan,   QLocale::SouthKorea};
    for (const QLocale::Territory territory : metresPerSecond) {
        if (locale.territory() == territory)
            return WindUnit::ms;
    }
    return WindUnit::kmh;
}

QString WXForecast::compassText(int degrees)
{
    static const char *const points[] = {"WIND_FROM_N", "WIND_FROM_NE", "WIND_FROM_E", "WIND_FROM_SE",
                                         "WIND_FROM_S", "WIND_FROM_SW", "WIND_FROM_W", "WIND_FROM_NW"};
    const int point = ((degrees % 360 + 360) % 360 * 2 + 45) / 90 % 8;
    return localized(points[point]);
}

QString WXForecast::detailsText(bool celsius, const QLocale &locale) const
{
    QStringList parts;
    if (feelsLike)
        parts.append(localized("FEELS_LIKE").arg(degreesText(feelsLike->in(celsius))));
    if (wind) {
        QString speed;
        switch (windUnit(locale)) {
        case WindUnit::kmh:
            speed = localized("WIND_KMH").arg(wind->kmh);
            break;
        case WindUnit::mph:
            speed = localized("WIND_MPH").arg(wind->mph);
            break;
        case WindUnit::ms:
            speed = localized("WIND_MS").arg(wind->ms);
            break;
        }
        // Calm air comes from nowhere.
        if (wind->direction && wind->kmh > 0)
            speed += QLatin1Char(' ') + compassText(*wind->direction);
        parts.append(localized("WIND").arg(speed));
    }
    if (humidity)
        parts.append(localized("HUMIDITY").arg(*humidity));
    return parts.join(QStringLiteral(" · "));
}

QString WXForecast::unreachableText(const QDateTime &since)
{
    return localized("SERVICE_UNREACHABLE").arg(since.toLocalTime().toString(QStringLiteral("HH:mm")));
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
