#include "ForecastChart.h"
#include "ForecastFixture.h"
#include "Localized.h"
#include "WXForecastWindow.h"

#include <QAccessible>
#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QTest>

using namespace nimbara;
using namespace forecast_fixture;

namespace {

QDateTime at(const QString &text)
{
    return QDateTime::fromString(text, Qt::ISODate);
}

} // namespace

class TestForecastWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void chart_pointsFollowTheTemperatures();
    void chart_barsFollowThePrecipitation();
    void chart_marksEveryThirdHourInThePlacesTime();
    void anyOffset_drawsTheChartAndSaysWhen_data();
    void anyOffset_drawsTheChartAndSaysWhen();
    void units_switchTheChartAndTheHeader();
    void chart_describesItselfToScreenReaders();
    void header_saysWhenTheReadingIsOld_data();
    void header_saysWhenTheReadingIsOld();
    void dataWithoutForecast_showsWhatThereIs();
    void iconPaths_dayAndNightForEveryCondition();
};

void TestForecastWindow::initTestCase()
{
    installTranslations(QLocale(QStringLiteral("en_US")));
}

void TestForecastWindow::chart_pointsFollowTheTemperatures()
{
    const auto layout = ForecastChart::layoutFor(WXForecast::fromData(data()), true, QSizeF(600, 300));
    QCOMPARE(layout.points.size(), 24);
    QCOMPARE(layout.minimum, 10);
    QCOMPARE(layout.maximum, 15);
    const qreal slot = layout.plot.width() / 24;
    const qreal coldY = layout.points[0].y(); // 10 °C
    const qreal warmY = layout.points[5].y(); // 15 °C
    QVERIFY(warmY < coldY);
    QVERIFY(warmY >= layout.plot.top());
    for (int i = 0; i < 24; ++i) {
        QCOMPARE(layout.points[i].x(), layout.plot.left() + (i + 0.5) * slot);
        const qreal share = (coldY - layout.points[i].y()) / (coldY - warmY);
        QVERIFY2(qAbs(share - (celsiusAt(i) - 10) / 5.0) < 1e-9, qPrintable(QString::number(i)));
    }
}

void TestForecastWindow::chart_barsFollowThePrecipitation()
{
    const auto layout = ForecastChart::layoutFor(WXForecast::fromData(data()), true, QSizeF(600, 300));
    QCOMPARE(layout.bars.size(), 24);
    QCOMPARE(layout.precipitationScale, 4.0);
    for (int i = 0; i < 24; ++i) {
        if (precipitationAt(i) == 0) {
            QVERIFY(layout.bars[i].isEmpty());
            continue;
        }
        // Standing on the plot's bottom, centred on the hour, as high as the amount.
        QCOMPARE(layout.bars[i].bottom(), layout.plot.bottom());
        QCOMPARE(layout.bars[i].center().x(), layout.points[i].x());
    }
    QCOMPARE(layout.bars[5].height(), 2 * layout.bars[3].height());
    QCOMPARE(layout.bars[3].height(), 2 * layout.bars[4].height());
    QVERIFY(layout.bars[5].top() > layout.points[5].y());
    QCOMPARE(layout.probabilityLabels[3], QStringLiteral("80%"));
    QCOMPARE(layout.probabilityLabels[4], QStringLiteral("40%"));
    QCOMPARE(layout.probabilityLabels[5], QString()); // rain without a probability
    QCOMPARE(layout.probabilityLabels[0], QString()); // a probability without rain

    // Light rain alone does not fill the chart: 2 mm is the least full height.
    QVariantMap light = data().toMap();
    QVariantList hours = light.value(QStringLiteral("hourly")).toList();
    for (QVariant &hour : hours) {
        QVariantMap map = hour.toMap();
        map[QStringLiteral("precipitation")] = map.value(QStringLiteral("precipitation")).toDouble() / 8;
        hour = map;
    }
    light[QStringLiteral("hourly")] = hours;
    const auto lightLayout = ForecastChart::layoutFor(WXForecast::fromData(light), true, QSizeF(600, 300));
    QCOMPARE(lightLayout.precipitationScale, 2.0);
    QCOMPARE(lightLayout.bars[5].height(), layout.bars[5].height() / 4);
}

void TestForecastWindow::chart_marksEveryThirdHourInThePlacesTime()
{
    const auto layout = ForecastChart::layoutFor(WXForecast::fromData(data()), true, QSizeF(600, 300));
    QCOMPARE(layout.marked, (QList<int>{0, 3, 6, 9, 12, 15, 18, 21}));
    QCOMPARE(layout.icons.size(), 8);
    // The hours are the place's, whatever the zone of this machine.
    QCOMPARE(layout.hourLabels,
             (QStringList{QStringLiteral("12:00"), QStringLiteral("15:00"), QStringLiteral("18:00"),
                          QStringLiteral("21:00"), QStringLiteral("00:00"), QStringLiteral("03:00"),
                          QStringLiteral("06:00"), QStringLiteral("09:00")}));
    for (int m = 0; m < layout.icons.size(); ++m) {
        QCOMPARE(layout.icons[m].center().x(), layout.points[layout.marked[m]].x());
        QVERIFY(layout.icons[m].bottom() <= layout.plot.top());
    }
}

void TestForecastWindow::anyOffset_drawsTheChartAndSaysWhen_data()
{
    QTest::addColumn<QString>("offset");
    // Qt reads a zero offset as UTC, not as an offset from it.
    QTest::newRow("+00:00") << QStringLiteral("+00:00");
    QTest::newRow("Z") << QStringLiteral("Z");
    QTest::newRow("+05:45") << QStringLiteral("+05:45");
    QTest::newRow("-03:30") << QStringLiteral("-03:30");
}

void TestForecastWindow::anyOffset_drawsTheChartAndSaysWhen()
{
    QFETCH(QString, offset);
    const QString updated = QStringLiteral("2024-05-01T12:15") + offset;
    WXForecastWindow panel;
    panel.setClock([updated] { return at(updated).addSecs(600); });
    panel.setWeather(data(updated, offset), true);
    const auto layout = panel.findChild<ForecastChart *>()->layout();
    QCOMPARE(layout.points.size(), 24);
    QCOMPARE(layout.hourLabels.first(), QStringLiteral("12:00"));
    QCOMPARE(layout.hourLabels.at(4), QStringLiteral("00:00"));
    const QString localTime = at(updated).toLocalTime().toString(QStringLiteral("HH:mm"));
    QCOMPARE(panel.updatedText(), QStringLiteral("Updated %1 · Open-Meteo").arg(localTime));
}

void TestForecastWindow::units_switchTheChartAndTheHeader()
{
    WXForecastWindow panel;
    panel.setWeather(data(), true);
    const auto *chart = panel.findChild<ForecastChart *>();
    QVERIFY(chart);
    QCOMPARE(chart->layout().temperatureLabels.first(), QStringLiteral("10°"));
    QCOMPARE(chart->layout().temperatureLabels.at(1), QStringLiteral("13°"));
    QCOMPARE(panel.todayText(), QStringLiteral("High 21° · Low -1°"));
    QCOMPARE(panel.sunText(), QStringLiteral("Sunrise 05:31 · Sunset 20:24"));

    panel.setWeather(data(), false);
    QCOMPARE(chart->layout().temperatureLabels.first(), QStringLiteral("50°"));
    QCOMPARE(chart->layout().temperatureLabels.at(1), QStringLiteral("55°"));
    QCOMPARE(chart->layout().minimum, 50);
    QCOMPARE(chart->layout().maximum, 59);
    QCOMPARE(panel.todayText(), QStringLiteral("High 70° · Low 30°"));
}

void TestForecastWindow::chart_describesItselfToScreenReaders()
{
    WXForecastWindow panel;
    auto *chart = panel.findChild<ForecastChart *>();
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(chart);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::Chart);
    QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Forecast for the next 24 hours"));
    QCOMPARE(accessible->text(QAccessible::Description), QStringLiteral("No forecast yet"));

    // The description follows the data and the unit. The highest is the first hour that reaches it;
    // the fifth hour's rain has no probability, so the chance is the fourth's.
    panel.setWeather(data(), true);
    QCOMPARE(
        accessible->text(QAccessible::Description),
        QStringLiteral("From 12:00 to 11:00: lowest 10° at 12:00, highest 15° at 17:00. Precipitation from "
                       "15:00, 7.0 mm in all. Chance of precipitation up to 80%."));
    panel.setWeather(data(), false);
    QVERIFY2(
        accessible->text(QAccessible::Description)
            .startsWith(QStringLiteral("From 12:00 to 11:00: lowest 50° at 12:00, highest 59° at 17:00.")),
        qPrintable(accessible->text(QAccessible::Description)));

    // Dry hours say so.
    QVariantMap dry = data().toMap();
    QVariantList hours = dry.value(QStringLiteral("hourly")).toList();
    for (QVariant &hour : hours) {
        QVariantMap map = hour.toMap();
        map[QStringLiteral("precipitation")] = 0;
        hour = map;
    }
    dry[QStringLiteral("hourly")] = hours;
    panel.setWeather(dry, true);
    QVERIFY(
        accessible->text(QAccessible::Description).endsWith(QStringLiteral(" No precipitation expected.")));
}

void TestForecastWindow::header_saysWhenTheReadingIsOld_data()
{
    QTest::addColumn<QString>("now");
    QTest::addColumn<QString>("updated");
    QTest::addColumn<bool>("old");

    const QString localTime =
        at(QStringLiteral("2024-05-01T12:15+01:00")).toLocalTime().toString(QStringLiteral("HH:mm"));
    QTest::newRow("fresh") << QStringLiteral("2024-05-01T12:40+01:00")
                           << QStringLiteral("Updated %1 · Open-Meteo").arg(localTime) << false;
    QTest::newRow("two hours is still fresh")
        << QStringLiteral("2024-05-01T14:15+01:00")
        << QStringLiteral("Updated %1 · Open-Meteo").arg(localTime) << false;
    QTest::newRow("three hours ten") << QStringLiteral("2024-05-01T15:25+01:00")
                                     << QStringLiteral("Updated 3 h ago") << true;
    QTest::newRow("a day and more") << QStringLiteral("2024-05-02T14:00Z")
                                    << QStringLiteral("Updated 26 h ago") << true;
}

void TestForecastWindow::header_saysWhenTheReadingIsOld()
{
    QFETCH(QString, now);
    QFETCH(QString, updated);
    QFETCH(bool, old);
    WXForecastWindow panel;
    panel.setClock([now] { return at(now); });
    panel.setWeather(data(), true);
    QCOMPARE(panel.placeText(), QStringLiteral("London"));
    QCOMPARE(panel.updatedText(), updated);
    QCOMPARE(panel.showsOldReading(), old);
}

void TestForecastWindow::dataWithoutForecast_showsWhatThereIs()
{
    // Today's service: the three lines' members only.
    WXForecastWindow panel;
    panel.setWeather(QVariantMap{{QStringLiteral("celsius"), 4},
                                 {QStringLiteral("temp"), 39},
                                 {QStringLiteral("condition"), QStringLiteral("fog")},
                                 {QStringLiteral("location"), QStringLiteral("Oslo")}},
                     true);
    QCOMPARE(panel.placeText(), QStringLiteral("Oslo"));
    QCOMPARE(panel.updatedText(), QString());
    QCOMPARE(panel.todayText(), QString());
    QCOMPARE(panel.sunText(), QString());
    QVERIFY(panel.findChild<ForecastChart *>()->layout().points.isEmpty());
    panel.resize(600, 400);
    QVERIFY(!panel.grab().isNull()); // paints its empty chart

    // Members of the wrong type are left out, the others kept.
    QVariantMap broken = data().toMap();
    broken[QStringLiteral("updated")] = QStringLiteral("2024-05-01T12:15"); // no offset
    broken[QStringLiteral("sunrise")] = 5;
    QVariantList hours = broken.value(QStringLiteral("hourly")).toList();
    hours[0] = QStringLiteral("12:00");
    QVariantMap second = hours[1].toMap();
    second.remove(QStringLiteral("temp"));
    hours[1] = second;
    broken[QStringLiteral("hourly")] = hours;
    const WXForecast forecast = WXForecast::fromData(broken);
    QVERIFY(!forecast.updated.isValid());
    QCOMPARE(forecast.sunrise, QString());
    QCOMPARE(forecast.sunset, QStringLiteral("20:24"));
    QCOMPARE(forecast.hourly.size(), 22);
    QCOMPARE(forecast.hourly.first().temperature.celsius, celsiusAt(2));
}

void TestForecastWindow::iconPaths_dayAndNightForEveryCondition()
{
    const QStringList conditions{QStringLiteral("clear"),   QStringLiteral("partly-cloudy"),
                                 QStringLiteral("cloudy"),  QStringLiteral("fog"),
                                 QStringLiteral("drizzle"), QStringLiteral("freezing-rain"),
                                 QStringLiteral("rain"),    QStringLiteral("showers"),
                                 QStringLiteral("snow"),    QStringLiteral("thunderstorm")};
    for (const QString &condition : conditions) {
        for (bool day : {true, false}) {
            const QString path = ForecastChart::iconPath(condition, day);
            QVERIFY2(path.contains(condition), qPrintable(path));
            const QImage image = QIcon(path).pixmap(QSize(32, 32), 2.0).toImage();
            QCOMPARE(image.size(), QSize(64, 64)); // drawn sharp at 2x
            int drawn = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    drawn += image.pixelColor(x, y).alpha() > 0;
            QVERIFY2(drawn > 64 * 64 / 10, qPrintable(path));
        }
    }
    QVERIFY(ForecastChart::iconPath(QStringLiteral("clear"), true) !=
            ForecastChart::iconPath(QStringLiteral("clear"), false));
    QCOMPARE(ForecastChart::iconPath(QStringLiteral("volcanic-ash"), true),
             QStringLiteral(":/weather/cloudy.svg"));
}

QTEST_MAIN(TestForecastWindow)
#include "tst_forecast_window.moc"
