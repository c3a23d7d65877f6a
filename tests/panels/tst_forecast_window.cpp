#include "ForecastChart.h"
#include "ForecastFixture.h"
#include "ForecastWeek.h"
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
    void unreachable_saidAboveTheOldForecast();
    void week_barsWhereTheValuesSay();
    void week_followsTheUnits();
    void details_windInTheLocalesUnit_data();
    void details_windInTheLocalesUnit();
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

void TestForecastWindow::unreachable_saidAboveTheOldForecast()
{
    WXForecastWindow panel;
    panel.setClock([] { return at(QStringLiteral("2024-05-01T15:30+01:00")); });
    panel.setWeather(data(), true);
    QCOMPARE(panel.unreachableText(), QString());
    const QDateTime since = at(QStringLiteral("2024-05-01T14:05+01:00"));
    panel.setServiceUnreachableSince(since);
    QCOMPARE(panel.unreachableText(), QStringLiteral("The weather service cannot be reached (since %1)")
                                          .arg(since.toLocalTime().toString(QStringLiteral("HH:mm"))));
    // The forecast stays, below it.
    QCOMPARE(panel.placeText(), QStringLiteral("London"));
    panel.setServiceUnreachableSince(QDateTime());
    QCOMPARE(panel.unreachableText(), QString());
}

void TestForecastWindow::week_barsWhereTheValuesSay()
{
    WXForecastWindow panel;
    panel.resize(640, 620);
    panel.setWeather(data(), true);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    auto *week = panel.findChild<ForecastWeek *>();
    QVERIFY(week);
    QVERIFY(week->isVisible());
    const auto layout = week->layout();
    QCOMPARE(layout.columns.size(), 7);
    QCOMPARE(layout.minimum, -1);
    QCOMPARE(layout.maximum, 24);
    // One scale for the week: each bar runs from its high to its low.
    const qreal perDegree = (layout.scaleBottom - layout.scaleTop) / (layout.maximum - layout.minimum);
    for (int i = 0; i < 7; ++i) {
        QCOMPARE(layout.bars[i].top(), layout.scaleTop + (24 - weekHigh[i]) * perDegree);
        QCOMPARE(layout.bars[i].bottom(), layout.scaleTop + (24 - weekLow[i]) * perDegree);
        QVERIFY(layout.columns[i].contains(layout.bars[i]));
        QVERIFY(layout.columns[i].contains(layout.icons[i]));
        QCOMPARE(layout.highLabels[i], QString::number(weekHigh[i]) + QChar(0x00B0));
    }
    QCOMPARE(layout.weekdays,
             QStringList({QStringLiteral("Today"), QStringLiteral("Thu"), QStringLiteral("Fri"),
                          QStringLiteral("Sat"), QStringLiteral("Sun"), QStringLiteral("Mon"),
                          QStringLiteral("Tue")}));
    // A dry day, or one of a trace, says nothing; a day with no amount given says nothing either.
    QCOMPARE(layout.precipitationLabels,
             QStringList({QString(), QStringLiteral("4.3 mm"), QString(), QString(),
                          QStringLiteral("12.0 mm"), QString(), QStringLiteral("1.0 mm")}));
    QCOMPARE(layout.probabilityLabels, QStringList({QString(), QStringLiteral("10%"), QString(), QString(),
                                                    QString(), QString(), QStringLiteral("60%")}));

    // Drawn where the layout says: the warmest day's bar reaches the top of the scale, in the
    // chart's warm colour, and the other days' bars stop lower.
    const QImage image = week->grab().toImage();
    const auto warmAt = [&](int day, qreal y) {
        const QColor colour = image.pixelColor(layout.bars[day].center().toPoint().x(), int(y));
        return colour.red() > 150 && colour.blue() < 120;
    };
    QVERIFY(warmAt(3, layout.scaleTop + 2));
    QVERIFY(!warmAt(5, layout.scaleTop + 2));
    QVERIFY(warmAt(5, layout.bars[5].top() + 2));

    // Without the week the row gives way.
    panel.setWeather(QVariant(QVariantMap{{QStringLiteral("temp"), 50}, {QStringLiteral("celsius"), 10}}),
                     true);
    QVERIFY(!week->isVisibleTo(&panel));
}

void TestForecastWindow::week_followsTheUnits()
{
    WXForecastWindow panel;
    panel.resize(640, 620);
    panel.setWeather(data(), true);
    auto *week = panel.findChild<ForecastWeek *>();
    QVERIFY(week);
    const auto celsius = week->layout();
    panel.setWeather(data(), false);
    const auto fahrenheit = week->layout();
    QCOMPARE(fahrenheit.minimum, 30);
    QCOMPARE(fahrenheit.maximum, 75);
    QCOMPARE(fahrenheit.highLabels.first(), QStringLiteral("70°"));
    QCOMPARE(fahrenheit.lowLabels.first(), QStringLiteral("30°"));
    QVERIFY(panel.detailsText().startsWith(QStringLiteral("Feels like 64°")));
    // The same week on another scale: the bars keep their places to within rounding.
    for (int i = 0; i < 7; ++i)
        QVERIFY(std::abs(fahrenheit.bars[i].top() - celsius.bars[i].top()) < 4);
}

void TestForecastWindow::details_windInTheLocalesUnit_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("details");
    QTest::addColumn<QString>("texts"); // the language of the texts, where not the locale's

    QTest::newRow("en_US") << QStringLiteral("en_US")
                           << QStringLiteral("Feels like 18° · Wind 9 mph SW · Humidity 80 %") << QString();
    QTest::newRow("en_GB") << QStringLiteral("en_GB")
                           << QStringLiteral("Feels like 18° · Wind 9 mph SW · Humidity 80 %") << QString();
    QTest::newRow("de_DE") << QStringLiteral("de_DE")
                           << QStringLiteral("Gefühlt 18° · Wind 15 km/h SW · Luftfeuchtigkeit 80 %")
                           << QString();
    QTest::newRow("fr_FR") << QStringLiteral("fr_FR")
                           << QStringLiteral("Ressenti 18° · Vent 15 km/h SO · Humidité 80 %") << QString();
    QTest::newRow("ru_RU") << QStringLiteral("ru_RU")
                           << QStringLiteral("Ощущается как 18° · Ветер 4 м/с ЮЗ · Влажность 80 %")
                           << QString();
    QTest::newRow("nb_NO, English texts")
        << QStringLiteral("nb_NO") << QStringLiteral("Feels like 18° · Wind 4 m/s SW · Humidity 80 %")
        << QStringLiteral("en_US");
}

void TestForecastWindow::details_windInTheLocalesUnit()
{
    QFETCH(QString, locale);
    QFETCH(QString, details);
    QFETCH(QString, texts);
    installTranslations(QLocale(texts.isEmpty() ? locale : texts));
    WXForecastWindow panel;
    panel.setLocale(QLocale(locale));
    panel.setWeather(data(), true);
    QCOMPARE(panel.detailsText(), details);
    installTranslations(QLocale(QStringLiteral("en_US")));

    // The points of the compass, and calm air without one; only what the data has.
    QCOMPARE(WXForecast::compassText(0), QStringLiteral("N"));
    QCOMPARE(WXForecast::compassText(338), QStringLiteral("N"));
    QCOMPARE(WXForecast::compassText(337), QStringLiteral("NW"));
    QCOMPARE(WXForecast::compassText(112), QStringLiteral("E"));
    QCOMPARE(WXForecast::compassText(113), QStringLiteral("SE"));
    QVariantMap calm = data().toMap();
    calm[QStringLiteral("now")] =
        QVariantMap{{QStringLiteral("wind"), QVariantMap{{QStringLiteral("kmh"), 0},
                                                         {QStringLiteral("mph"), 0},
                                                         {QStringLiteral("ms"), 0},
                                                         {QStringLiteral("direction"), 90}}}};
    QCOMPARE(WXForecast::fromData(calm).detailsText(true, QLocale(QStringLiteral("de_DE"))),
             QStringLiteral("Wind 0 km/h"));
}

QTEST_MAIN(TestForecastWindow)
#include "tst_forecast_window.moc"
