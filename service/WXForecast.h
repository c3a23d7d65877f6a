#pragma once

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>
#include <QVariant>

#include <optional>

// The forecast members of the weather data, as the service sends them beside the three lines'
// members: read from the data map, checked member by member; what is missing or of the wrong type
// is left out, so that data without them (an older service) gives an empty forecast.
struct WXForecast
{
    // A temperature in both units, rounded by the service.
    struct Temperature
    {
        int celsius = 0;
        int other = 0; // the unit of the data's "temp"
        int in(bool celsiusSetting) const { return celsiusSetting ? celsius : other; }
    };

    struct Hour
    {
        QDateTime time; // in the place's offset from UTC
        Temperature temperature;
        QString condition;
        double precipitation = 0;       // mm
        std::optional<int> probability; // percent
        bool day = true;
    };

    // One day of the week ahead, in the place's calendar.
    struct Day
    {
        QDate date;
        Temperature high;
        Temperature low;
        QString condition;
        std::optional<double> precipitation; // mm over the day
        std::optional<int> probability;      // percent, the day's highest
    };

    struct Wind
    {
        int kmh = 0;
        int mph = 0;
        int ms = 0;
        std::optional<int> direction; // degrees it comes from, 0 = north
    };

    QString location;
    QString provider;
    QDateTime updated; // invalid when not given
    std::optional<Temperature> high;
    std::optional<Temperature> low;
    QString sunrise; // "06:12", local time of the place
    QString sunset;
    QList<Hour> hourly;
    QList<Day> daily; // the next 7 days, today first
    std::optional<Temperature> feelsLike;
    std::optional<Wind> wind;
    std::optional<int> humidity; // percent

    static WXForecast fromData(const QVariant &data);
    // "21°": a temperature as the weather line writes it.
    static QString degreesText(int value) { return QString::number(value) + QChar(0x00B0); }

    // "Feels like 18° · Wind 15 km/h SW · Humidity 80 %": the details of now that the data has, the
    // wind in the unit the locale uses; empty without any.
    QString detailsText(bool celsius, const QLocale &locale) const;
    enum class WindUnit { kmh, mph, ms };
    static WindUnit windUnit(const QLocale &locale);
    // "SW": the point of the compass (of eight) the wind comes from, localized.
    static QString compassText(int degrees);

    // "The weather service cannot be reached (since 14:05)", the time by the user's clock.
    static QString unreachableText(const QDateTime &since);

    // A reading older than this says so.
    static constexpr qint64 kFreshSeconds = 2 * 3600;
    bool isOld(const QDateTime &now) const;
    // "Updated HH:mm · provider" (the user's clock), or "Updated 3 h ago" for an old reading; empty
    // without the reading's time.
    QString freshnessText(const QDateTime &now) const;
};
