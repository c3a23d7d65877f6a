#include "ForecastWeek.h"

#include "ForecastChart.h"
#include "Localized.h"

#include <QIcon>
#include <QPainter>

#include <algorithm>

namespace nimbara {

namespace {

constexpr qreal kDayRoom = 20;
constexpr qreal kIconSize = 28;
constexpr qreal kLabelRoom = 16;
constexpr qreal kPrecipitationRoom = 30;
constexpr qreal kBarWidth = 8;

} // namespace

ForecastWeek::ForecastWeek(QWidget *parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

ForecastWeek::~ForecastWeek() = default;

QSize ForecastWeek::sizeHint() const
{
    return {560, 190};
}

void ForecastWeek::setForecast(const WXForecast &forecast, bool celsius)
{
    m_forecast = forecast;
    m_celsius = celsius;
    update();
}

ForecastWeek::Layout ForecastWeek::layoutFor(const WXForecast &forecast, bool celsius, const QSizeF &size,
                                             const QLocale &locale)
{
    Layout layout;
    const auto &days = forecast.daily;
    if (days.isEmpty())
        return layout;
    layout.minimum = days.first().low.in(celsius);
    layout.maximum = days.first().high.in(celsius);
    for (const auto &day : days) {
        layout.minimum = std::min(layout.minimum, day.low.in(celsius));
        layout.maximum = std::max(layout.maximum, day.high.in(celsius));
    }
    layout.maximum = std::max(layout.maximum, layout.minimum + 1);

    const qreal slot = size.width() / days.size();
    layout.scaleTop = kDayRoom + kIconSize + 4 + kLabelRoom;
    layout.scaleBottom = std::max(layout.scaleTop + 1, size.height() - kPrecipitationRoom - kLabelRoom);
    const auto yOf = [&](int degrees) {
        const qreal share = double(degrees - layout.minimum) / (layout.maximum - layout.minimum);
        return layout.scaleBottom - share * (layout.scaleBottom - layout.scaleTop);
    };
    const QDate today = days.first().date;
    for (int i = 0; i < days.size(); ++i) {
        const auto &day = days[i];
        const qreal left = i * slot;
        const qreal middle = left + slot / 2;
        layout.columns.append(QRectF(left, 0, slot, size.height()));
        layout.weekdays.append(day.date == today
                                   ? localized("WEEK_TODAY")
                                   : locale.dayName(day.date.dayOfWeek(), QLocale::ShortFormat));
        layout.icons.append(QRectF(middle - kIconSize / 2, kDayRoom + 2, kIconSize, kIconSize));
        const qreal top = yOf(day.high.in(celsius));
        const qreal bottom = yOf(day.low.in(celsius));
        // A day without range still shows as a short bar.
        layout.bars.append(QRectF(middle - kBarWidth / 2, std::min(top, bottom - kBarWidth), kBarWidth,
                                  std::max(bottom - top, kBarWidth)));
        layout.highLabels.append(WXForecast::degreesText(day.high.in(celsius)));
        layout.lowLabels.append(WXForecast::degreesText(day.low.in(celsius)));
        const bool wet = day.precipitation && *day.precipitation >= 0.1;
        layout.precipitationLabels.append(
            wet ? localized("PRECIPITATION_MM").arg(locale.toString(*day.precipitation, 'f', 1)) : QString());
        layout.probabilityLabels.append(wet && day.probability ? QStringLiteral("%1%").arg(*day.probability)
                                                               : QString());
    }
    return layout;
}

void ForecastWeek::paintEvent(QPaintEvent *)
{
    const Layout layout = this->layout();
    if (layout.columns.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette colours = palette();
    const bool dark = colours.color(QPalette::Window).lightness() < 128;
    const QColor text = colours.color(QPalette::WindowText);
    QColor faint = text;
    faint.setAlphaF(0.15);
    // The colours of the chart: warm at the top of a bar, cool at its bottom.
    const QColor warm = dark ? QColor(0xff, 0xa0, 0x60) : QColor(0xc8, 0x4b, 0x0c);
    const QColor cool = dark ? QColor(0x6c, 0xb4, 0xff) : QColor(0x1d, 0x64, 0xc8);

    QFont small = font();
    small.setPointSizeF(font().pointSizeF() * 0.85);
    for (int i = 0; i < layout.columns.size(); ++i) {
        const QRectF &column = layout.columns[i];
        const auto &day = m_forecast.daily[i];
        painter.setFont(font());
        painter.setPen(text);
        painter.drawText(QRectF(column.left(), 0, column.width(), kDayRoom), Qt::AlignCenter,
                         layout.weekdays[i]);
        QIcon(ForecastChart::iconPath(day.condition, true)).paint(&painter, layout.icons[i].toRect());

        // The track of the week's range, and the day's part of it.
        const QRectF &bar = layout.bars[i];
        painter.setPen(Qt::NoPen);
        painter.setBrush(faint);
        painter.drawRoundedRect(
            QRectF(bar.left(), layout.scaleTop, bar.width(), layout.scaleBottom - layout.scaleTop),
            bar.width() / 2, bar.width() / 2);
        QLinearGradient range(bar.topLeft(), bar.bottomLeft());
        range.setColorAt(0, warm);
        range.setColorAt(1, cool);
        painter.setBrush(range);
        painter.drawRoundedRect(bar, bar.width() / 2, bar.width() / 2);

        painter.setPen(text);
        painter.drawText(QRectF(column.left(), bar.top() - kLabelRoom, column.width(), kLabelRoom),
                         Qt::AlignHCenter | Qt::AlignBottom, layout.highLabels[i]);
        painter.drawText(QRectF(column.left(), bar.bottom(), column.width(), kLabelRoom),
                         Qt::AlignHCenter | Qt::AlignTop, layout.lowLabels[i]);
        painter.setFont(small);
        painter.setPen(cool);
        const qreal below = layout.scaleBottom + kLabelRoom;
        painter.drawText(QRectF(column.left(), below, column.width(), kPrecipitationRoom / 2),
                         Qt::AlignCenter, layout.precipitationLabels[i]);
        painter.drawText(
            QRectF(column.left(), below + kPrecipitationRoom / 2, column.width(), kPrecipitationRoom / 2),
            Qt::AlignCenter, layout.probabilityLabels[i]);
    }
}

} // namespace nimbara
