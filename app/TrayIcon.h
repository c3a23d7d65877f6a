#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

namespace nimbara {

// The tray's picture of the weather: the condition's icon with the temperature over it in white
// with a dark outline, readable on light and dark panels alike. Each size is drawn for itself, so
// that the digits stay sharp where a panel asks for a small icon.
class TrayWeatherIcon
{
public:
    static constexpr int kSizes[] = {16, 22, 24, 32, 48};

    // One size: iconPath an SVG (or any image QIcon reads), temperature the text shown ("21°"), or
    // empty for the icon alone.
    static QImage image(int size, const QString &iconPath, const QString &temperature);
    static QIcon icon(const QString &iconPath, const QString &temperature);
};

} // namespace nimbara
