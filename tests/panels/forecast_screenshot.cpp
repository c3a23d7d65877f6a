// Shows the Forecast panel on the X display and saves a PNG of it as it appears on screen, window
// frame included: a London day with rain in the next hours and the week ahead, in the given language, unit
// and theme. scripts/screenshot-panels.sh runs it under Xvfb (QT_SCALE_FACTOR=2 for the 2x pictures).
//   forecast_screenshot <language> <c|f> <light|dark> [old] <output file>
#include "Localized.h"
#include "WXForecastWindow.h"

#include <QApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>

#include <cmath>
#include <cstdio>

namespace {

QJsonObject bothUnits(double celsius)
{
    return {{QStringLiteral("celsius"), int(std::lround(celsius))},
            {QStringLiteral("temp"), int(std::lround(celsius * 9 / 5 + 32))}};
}

// As the service sends it: from 13:00, warmest mid-afternoon, showers from 15:00 to 19:00.
QVariant londonDay()
{
    const QDateTime first = QDateTime::fromString(QStringLiteral("2024-05-01T13:00+01:00"), Qt::ISODate);
    const double rain[24] = {0, 0, 0.3, 1.8, 3.2, 1.1, 0.4, 0,   0,   0, 0, 0,
                             0, 0, 0,   0,   0,   0,   0,   0.2, 0.6, 0, 0, 0};
    const int probability[24] = {10, 25, 55, 85, 90, 70, 45, 20, 10, 5,  5,  5,
                                 5,  5,  5,  5,  5,  10, 20, 35, 40, 20, 10, 5};
    QJsonArray hours;
    for (int i = 0; i < 24; ++i) {
        const int hour = (13 + i) % 24;
        const double celsius = 12.5 + 6 * std::cos((hour - 15) * M_PI / 12);
        QJsonObject entry = bothUnits(celsius);
        entry[QStringLiteral("time")] = first.addSecs(i * 3600).toString(Qt::ISODate);
        const bool day = hour >= 6 && hour < 21;
        entry[QStringLiteral("condition")] = rain[i] >= 1  ? QStringLiteral("rain")
                                             : rain[i] > 0 ? QStringLiteral("showers")
                                             : day         ? QStringLiteral("partly-cloudy")
                                                           : QStringLiteral("clear");
        entry[QStringLiteral("precipitation")] = rain[i];
        entry[QStringLiteral("probability")] = probability[i];
        entry[QStringLiteral("day")] = day;
        hours.append(entry);
    }
    // The week from Wednesday: a wet Thursday, a warm weekend.
    const double highs[7] = {18.5, 14.2, 16.8, 21.3, 23.9, 19.4, 15.1};
    const double lows[7] = {8.2, 9.1, 7.4, 10.2, 13.5, 11.8, 6.9};
    const double wet[7] = {5.7, 12.4, 0.6, 0, 0, 2.1, 0};
    const int chance[7] = {90, 95, 35, 5, 10, 60, 15};
    const char *const conditions[7] = {"showers", "rain",    "partly-cloudy", "clear",
                                       "clear",   "showers", "cloudy"};
    QJsonArray days;
    for (int i = 0; i < 7; ++i)
        days.append(QJsonObject{{QStringLiteral("date"), QDate(2024, 5, 1 + i).toString(Qt::ISODate)},
                                {QStringLiteral("high"), bothUnits(highs[i])},
                                {QStringLiteral("low"), bothUnits(lows[i])},
                                {QStringLiteral("condition"), QString::fromLatin1(conditions[i])},
                                {QStringLiteral("precipitation"), wet[i]},
                                {QStringLiteral("probability"), chance[i]}});
    const QJsonObject now{{QStringLiteral("feelsLike"), bothUnits(15.6)},
                          {QStringLiteral("wind"), QJsonObject{{QStringLiteral("kmh"), 15},
                                                               {QStringLiteral("mph"), 9},
                                                               {QStringLiteral("ms"), 4},
                                                               {QStringLiteral("direction"), 226}}},
                          {QStringLiteral("humidity"), 80}};
    const QJsonObject data{{QStringLiteral("temp"), 63},
                           {QStringLiteral("celsius"), 17},
                           {QStringLiteral("condition"), QStringLiteral("partly-cloudy")},
                           {QStringLiteral("location"), QStringLiteral("London")},
                           {QStringLiteral("updated"), QStringLiteral("2024-05-01T12:45+01:00")},
                           {QStringLiteral("provider"), QStringLiteral("Open-Meteo")},
                           {QStringLiteral("today"), QJsonObject{{QStringLiteral("high"), bothUnits(18.5)},
                                                                 {QStringLiteral("low"), bothUnits(8.2)}}},
                           {QStringLiteral("sunrise"), QStringLiteral("05:31")},
                           {QStringLiteral("sunset"), QStringLiteral("20:24")},
                           {QStringLiteral("now"), now},
                           {QStringLiteral("daily"), days},
                           {QStringLiteral("hourly"), hours}};
    return QJsonDocument(data).toVariant();
}

QPalette darkPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(0x2b, 0x2d, 0x31));
    palette.setColor(QPalette::WindowText, QColor(0xe8, 0xea, 0xed));
    palette.setColor(QPalette::Base, QColor(0x1e, 0x1f, 0x22));
    palette.setColor(QPalette::Text, QColor(0xe8, 0xea, 0xed));
    palette.setColor(QPalette::Button, QColor(0x3c, 0x3f, 0x44));
    palette.setColor(QPalette::ButtonText, QColor(0xe8, 0xea, 0xed));
    palette.setColor(QPalette::Highlight, QColor(0x4c, 0x8b, 0xf5));
    palette.setColor(QPalette::Link, QColor(0x8a, 0xb4, 0xf8));
    return palette;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr,
                     "usage: forecast_screenshot <language> <c|f> <light|dark> [old] <output file>\n");
        return 2;
    }
    QLocale::setDefault(QLocale(QString::fromLocal8Bit(argv[1])));
    nimbara::installTranslations(QLocale(QString::fromLocal8Bit(argv[1])));
    const bool celsius = qstrcmp(argv[2], "c") == 0;
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(qstrcmp(argv[3], "dark") == 0 ? darkPalette()
                                                           : QApplication::style()->standardPalette());
    const bool old = argc == 6;
    const QString path = QString::fromLocal8Bit(argv[argc - 1]);

    WXForecastWindow panel;
    const QDateTime reading = QDateTime::fromString(QStringLiteral("2024-05-01T12:45+01:00"), Qt::ISODate);
    panel.setClock([reading, old] { return reading.addSecs(old ? 3 * 3600 + 20 * 60 : 25 * 60); });
    panel.setWeather(londonDay(), celsius);
    panel.move(40, 40);
    panel.show();
    QEventLoop loop;
    QTimer::singleShot(500, &loop, &QEventLoop::quit);
    loop.exec();
    const QRect frame = panel.frameGeometry();
    const bool saved =
        panel.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).save(path);
    std::printf("%s %s\n", saved ? "saved" : "FAILED", qPrintable(path));
    return saved ? 0 : 1;
}
