#pragma once

// Weather data as the service sends it, with the forecast members: London, 24 hours from 12:00
// (+01:00 unless told), 10 to 15 °C, rain at 15:00 (2 mm, 80 %), 16:00 (1 mm, 40 %) and 17:00 (4 mm, no
// probability); the week from Wednesday 1 May (weekHigh, weekLow, weekPrecipitation); now feels
// like 18 °C with a south-westerly wind of 15 km/h and 80 % humidity.

#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVariant>

#include <cmath>

namespace forecast_fixture {

inline int celsiusAt(int hour)
{
    return 10 + hour % 6;
}

inline double precipitationAt(int hour)
{
    switch (hour) {
    case 3:
        return 2;
    case 4:
        return 1;
    case 5:
        return 4;
    default:
        return 0;
    }
}

constexpr int weekHigh[7] = {21, 18, 15, 24, 20, 12, 17};
constexpr int weekLow[7] = {-1, 10, 8, 14, 12, 5, 9};
// mm; negative: the provider gives no amount.
constexpr double weekPrecipitation[7] = {-1, 4.3, 0, 0.04, 12, -1, 1};

inline QJsonObject bothUnits(int celsius)
{
    return {{QStringLiteral("celsius"), celsius},
            {QStringLiteral("temp"), int(std::lround(celsius * 9 / 5.0 + 32))}};
}

inline QVariant data(const QString &updated = QStringLiteral("2024-05-01T12:15+01:00"),
                     const QString &offset = QStringLiteral("+01:00"))
{
    const QDateTime first = QDateTime::fromString(QStringLiteral("2024-05-01T12:00") + offset, Qt::ISODate);
    QJsonArray hours;
    for (int i = 0; i < 24; ++i) {
        QJsonObject hour = bothUnits(celsiusAt(i));
        hour[QStringLiteral("time")] = first.addSecs(i * 3600).toString(Qt::ISODate);
        hour[QStringLiteral("condition")] =
            precipitationAt(i) > 0 ? QStringLiteral("rain") : QStringLiteral("partly-cloudy");
        hour[QStringLiteral("precipitation")] = precipitationAt(i);
        if (i == 3)
            hour[QStringLiteral("probability")] = 80;
        else if (i == 4)
            hour[QStringLiteral("probability")] = 40;
        else if (i != 5)
            hour[QStringLiteral("probability")] = 5;
        hour[QStringLiteral("day")] = i < 9 || i > 17;
        hours.append(hour);
    }
    QJsonArray days;
    for (int i = 0; i < 7; ++i) {
        QJsonObject day{{QStringLiteral("date"), QDate(2024, 5, 1 + i).toString(Qt::ISODate)},
                        {QStringLiteral("high"), bothUnits(weekHigh[i])},
                        {QStringLiteral("low"), bothUnits(weekLow[i])},
                        {QStringLiteral("condition"),
                         weekPrecipitation[i] > 0 ? QStringLiteral("rain") : QStringLiteral("clear")},
                        {QStringLiteral("sunrise"), QStringLiteral("05:31")},
                        {QStringLiteral("sunset"), QStringLiteral("20:24")}};
        if (weekPrecipitation[i] >= 0)
            day[QStringLiteral("precipitation")] = weekPrecipitation[i];
        if (i != 4)
            day[QStringLiteral("probability")] = 10 * i;
        days.append(day);
    }
    const QJsonObject now{{QStringLiteral("feelsLike"), bothUnits(18)},
                          {QStringLiteral("wind"), QJsonObject{{QStringLiteral("kmh"), 15},
                                                               {QStringLiteral("mph"), 9},
                                                               {QStringLiteral("ms"), 4},
                                                               {QStringLiteral("direction"), 226}}},
                          {QStringLiteral("humidity"), 80}};
    QJsonObject data{{QStringLiteral("temp"), 55},
                     {QStringLiteral("celsius"), 13},
                     {QStringLiteral("condition"), QStringLiteral("rain")},
                     {QStringLiteral("location"), QStringLiteral("London")},
                     {QStringLiteral("updated"), updated},
                     {QStringLiteral("provider"), QStringLiteral("Open-Meteo")},
                     {QStringLiteral("today"), QJsonObject{{QStringLiteral("high"), bothUnits(21)},
                                                           {QStringLiteral("low"), bothUnits(-1)}}},
                     {QStringLiteral("sunrise"), QStringLiteral("05:31")},
                     {QStringLiteral("sunset"), QStringLiteral("20:24")},
                     {QStringLiteral("now"), now},
                     {QStringLiteral("daily"), days},
                     {QStringLiteral("hourly"), hours}};
    // The way the widget holds an answer: decoded from JSON text.
    return QJsonDocument::fromJson(QJsonDocument(data).toJson()).toVariant();
}

} // namespace forecast_fixture
