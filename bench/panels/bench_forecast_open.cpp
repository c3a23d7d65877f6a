// Opening the Forecast panel as the menu item does: made on first use, filled, shown, and painted
// once; then closed and opened again. Prints "first-ms second-ms" for one process; run.sh starts it
// several times under Xvfb (the first opening includes loading the SVG icon engine).
#include "Localized.h"
#include "WXForecastWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>
#include <memory>

namespace {

// A day as the service sends it: 24 hours with rain in some.
QVariant weather()
{
    const QDateTime first = QDateTime::fromString(QStringLiteral("2024-05-01T13:00+01:00"), Qt::ISODate);
    QJsonArray hours;
    for (int i = 0; i < 24; ++i) {
        const double celsius = 12 + 6 * std::cos(i * M_PI / 12);
        hours.append(QJsonObject{
            {QStringLiteral("time"), first.addSecs(i * 3600).toString(Qt::ISODate)},
            {QStringLiteral("celsius"), int(std::lround(celsius))},
            {QStringLiteral("temp"), int(std::lround(celsius * 9 / 5 + 32))},
            {QStringLiteral("condition"), i % 7 == 3 ? QStringLiteral("rain") : QStringLiteral("cloudy")},
            {QStringLiteral("precipitation"), i % 7 == 3 ? 1.5 : 0.0},
            {QStringLiteral("probability"), 60},
            {QStringLiteral("day"), i < 8}});
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("location"), QStringLiteral("London")},
                                     {QStringLiteral("updated"), QStringLiteral("2024-05-01T12:45+01:00")},
                                     {QStringLiteral("provider"), QStringLiteral("Open-Meteo")},
                                     {QStringLiteral("hourly"), hours}})
        .toVariant();
}

// Counts the chart's paint events, so that an opening is timed until it has been drawn.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

double openAndPaint(std::unique_ptr<WXForecastWindow> &panel, const QVariant &data, PaintCounter &counter)
{
    QElapsedTimer timer;
    timer.start();
    if (!panel) {
        panel = std::make_unique<WXForecastWindow>();
        panel->findChild<QWidget *>(QStringLiteral("chart"))->installEventFilter(&counter);
    }
    panel->setWeather(data, true);
    const int before = counter.paints;
    panel->show();
    while (counter.paints == before)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    QCoreApplication::processEvents(); // the paint itself finishes after the filter saw it
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    nimbara::installTranslations(QLocale(QStringLiteral("en_US")));
    const QVariant data = weather();
    PaintCounter counter;
    std::unique_ptr<WXForecastWindow> panel;
    const double first = openAndPaint(panel, data, counter);
    panel->close();
    QCoreApplication::processEvents();
    const double second = openAndPaint(panel, data, counter);
    std::printf("%.2f %.2f\n", first, second);
    return 0;
}
