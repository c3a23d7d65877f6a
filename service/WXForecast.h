#pragma once

#include <QDateTime>
#include <QList>
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

    QString location;
    QString provider;
    QDateTime updated; // invalid when not given
    std::optional<Temperature> high;
    std::optional<Temperature> low;
    QString sunrise; // "06:12", local time of the place
    QString sunset;
    QList<Hour> hourly;

    static WXForecast fromData(const QVariant &data);
    // "21°": a temperature as the weather line writes it.
    static QString degreesText(int value) { return QString::number(value) + QChar(0x00B0); }

    // A reading older than this says so.
    static constexpr qint64 kFreshSeconds = 2 * 3600;
    bool isOld(const QDateTime &now) const;
    // "Updated HH:mm · provider" (the user's clock), or "Updated 3 h ago" for an old reading; empty
    // without the reading's time.
    QString freshnessText(const QDateTime &now) const;
};
