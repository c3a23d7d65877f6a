// Saves a PNG of the tray's weather icon at each size on a light and a dark panel, each shown as it
// is and magnified four times pixel by pixel, for a person to judge.
//   tray_screenshot <temperature> <condition> <output file>
#include "ForecastChart.h"
#include "TrayIcon.h"

#include <QApplication>
#include <QPainter>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: tray_screenshot <temperature> <condition> <output file>\n");
        return 2;
    }
    const QString temperature = QString::fromLocal8Bit(argv[1]);
    const QString icon = nimbara::ForecastChart::iconPath(QString::fromLocal8Bit(argv[2]), true);
    constexpr int kMagnify = 4;
    constexpr int kGap = 12;
    int width = kGap;
    for (int size : nimbara::TrayWeatherIcon::kSizes)
        width += size * (kMagnify + 1) + 2 * kGap;
    const int rowHeight = 48 * kMagnify + 2 * kGap;
    QImage sheet(width, 2 * rowHeight, QImage::Format_RGB32);
    QPainter painter(&sheet);
    const QColor panels[2] = {QColor(0xf0, 0xf0, 0xf0), QColor(0x20, 0x20, 0x20)};
    for (int row = 0; row < 2; ++row) {
        painter.fillRect(0, row * rowHeight, width, rowHeight, panels[row]);
        int x = kGap;
        for (int size : nimbara::TrayWeatherIcon::kSizes) {
            const QImage image = nimbara::TrayWeatherIcon::image(size, icon, temperature);
            const int y = row * rowHeight + kGap;
            painter.drawImage(x, y, image);
            x += size + kGap;
            painter.drawImage(QRect(x, y, size * kMagnify, size * kMagnify), image);
            x += size * kMagnify + kGap;
        }
    }
    painter.end();
    const bool saved = sheet.save(QString::fromLocal8Bit(argv[3]));
    std::printf("%s %s\n", saved ? "saved" : "FAILED", argv[3]);
    return saved ? 0 : 1;
}
