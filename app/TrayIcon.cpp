#include "TrayIcon.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <optional>

namespace nimbara {

namespace {

// The largest bold font in whole pixels whose text's ink fits the width and height given, or none.
std::optional<QFont> fittingFont(const QString &text, qreal width, qreal height)
{
    QFont font;
    font.setBold(true);
    for (int pixels = int(height * 2); pixels >= 6; --pixels) {
        font.setPixelSize(pixels);
        const QRectF bounds = QFontMetricsF(font).tightBoundingRect(text);
        if (bounds.width() <= width && bounds.height() <= height)
            return font;
    }
    return std::nullopt;
}

bool fits(const QString &text, const QFont &font, qreal width)
{
    return QFontMetricsF(font).tightBoundingRect(text).width() <= width;
}

} // namespace

QImage TrayWeatherIcon::image(int size, const QString &iconPath, const QString &temperature)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    if (temperature.isEmpty()) {
        QIcon(iconPath).paint(&painter, QRect(0, 0, size, size));
        return image;
    }
    // The icon behind, up and to the left; the digits along the bottom take what they need.
    const int iconSize = size * 3 / 4;
    QIcon(iconPath).paint(&painter, QRect(0, 0, iconSize, iconSize));

    const qreal outline = std::max(1.5, size / 10.0);
    const qreal room = size - outline;
    // The digits as large as they fit; the degree sign only where it leaves them that size.
    QString text = temperature;
    const bool degrees = text.endsWith(QChar(0x00B0));
    if (degrees)
        text.chop(1);
    const auto font = fittingFont(text, room, size * 0.6);
    if (!font)
        return image;
    if (degrees && fits(temperature, *font, room))
        text = temperature;
    QPainterPath path;
    path.addText(0, 0, *font, text);
    // Right-aligned on the bottom edge, the outline inside the icon.
    const QRectF bounds = path.boundingRect();
    path.translate(size - outline / 2 - bounds.right(), size - outline / 2 - bounds.bottom());
    painter.setPen(QPen(QColor(0, 0, 0), outline, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawPath(path);
    return image;
}

QIcon TrayWeatherIcon::icon(const QString &iconPath, const QString &temperature)
{
    QIcon icon;
    for (int size : kSizes)
        icon.addPixmap(QPixmap::fromImage(image(size, iconPath, temperature)));
    return icon;
}

} // namespace nimbara
