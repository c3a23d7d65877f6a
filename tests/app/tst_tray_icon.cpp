#include "ForecastChart.h"
#include "TrayIcon.h"

#include <QApplication>
#include <QPainter>
#include <QTest>

using namespace nimbara;

namespace {

// The icon over a panel of the given colour, as the tray shows it.
QImage onPanel(const QImage &icon, const QColor &panel)
{
    QImage shown(icon.size(), QImage::Format_RGB32);
    shown.fill(panel);
    QPainter(&shown).drawImage(0, 0, icon);
    return shown;
}

// The pixels of the digits: white, as only the digits' fill is.
QList<QPoint> digitPixels(const QImage &icon)
{
    QList<QPoint> pixels;
    for (int y = 0; y < icon.height(); ++y) {
        for (int x = 0; x < icon.width(); ++x) {
            const QColor colour = icon.pixelColor(x, y);
            if (colour.alpha() > 200 && colour.red() > 235 && colour.green() > 235 && colour.blue() > 235)
                pixels.append({x, y});
        }
    }
    return pixels;
}

QRect boundsOf(const QList<QPoint> &pixels)
{
    QRect bounds;
    for (const QPoint &pixel : pixels)
        bounds |= QRect(pixel, QSize(1, 1));
    return bounds;
}

} // namespace

class TestTrayIcon : public QObject
{
    Q_OBJECT

private slots:
    void digitsSharpAndReadableAtEachSize_data();
    void digitsSharpAndReadableAtEachSize();
    void everySizeDrawnForItself();
};

void TestTrayIcon::digitsSharpAndReadableAtEachSize_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("temperature");
    for (int size : TrayWeatherIcon::kSizes) {
        QTest::addRow("%d px, 18°", size) << size << QStringLiteral("18°");
        QTest::addRow("%d px, -12°", size) << size << QStringLiteral("-12°");
    }
}

void TestTrayIcon::digitsSharpAndReadableAtEachSize()
{
    QFETCH(int, size);
    QFETCH(QString, temperature);
    const QString rain = ForecastChart::iconPath(QStringLiteral("rain"), true);
    const QImage icon = TrayWeatherIcon::image(size, rain, temperature);
    QCOMPARE(icon.size(), QSize(size, size));

    // The digits are there: a white figure across most of the width and a good part of the height,
    // inside the icon, and another number draws another figure.
    const QList<QPoint> digits = digitPixels(icon);
    const QRect bounds = boundsOf(digits);
    QVERIFY2(digits.size() >= size * size / 32, qPrintable(QString::number(digits.size())));
    QVERIFY2(bounds.width() >= size / 2, qPrintable(QString::number(bounds.width())));
    QVERIFY2(bounds.height() >= size / 4, qPrintable(QString::number(bounds.height())));
    QVERIFY(bounds.left() >= 1 && bounds.right() <= size - 2 && bounds.bottom() <= size - 2);
    const QImage other = TrayWeatherIcon::image(
        size, rain, temperature == QStringLiteral("18°") ? QStringLiteral("88°") : QStringLiteral("-17°"));
    QVERIFY(digitPixels(other) != digits);
    // Without a temperature there is no white figure.
    QVERIFY(digitPixels(TrayWeatherIcon::image(size, rain, QString())).size() < digits.size() / 4);

    // Readable on a light panel (the outline is dark around the figure) and on a dark one (the
    // fill is white): both show strong contrast within the digits' bounds.
    const auto count = [&bounds](const QImage &shown, auto test) {
        int found = 0;
        for (int y = bounds.top(); y <= bounds.bottom(); ++y) {
            for (int x = bounds.left(); x <= bounds.right(); ++x)
                found += test(QColor(shown.pixel(x, y)).lightness()) ? 1 : 0;
        }
        return found;
    };
    const QImage light = onPanel(icon, QColor(0xf0, 0xf0, 0xf0));
    const QImage dark = onPanel(icon, QColor(0x20, 0x20, 0x20));
    const int area = bounds.width() * bounds.height();
    QVERIFY(count(light, [](int lightness) { return lightness < 90; }) >= area / 8);
    QVERIFY(count(dark, [](int lightness) { return lightness > 230; }) >= area / 8);
}

void TestTrayIcon::everySizeDrawnForItself()
{
    const QIcon icon =
        TrayWeatherIcon::icon(ForecastChart::iconPath(QStringLiteral("clear"), true), QStringLiteral("21°"));
    QCOMPARE(icon.availableSizes(),
             (QList<QSize>{QSize(16, 16), QSize(22, 22), QSize(24, 24), QSize(32, 32), QSize(48, 48)}));
}

QTEST_MAIN(TestTrayIcon)
#include "tst_tray_icon.moc"
