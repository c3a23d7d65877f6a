#include "ForecastChart.h"

#include "Localized.h"

#include <QAccessibleWidget>
#include <QFile>
#include <QIcon>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace nimbara {

namespace {

constexpr qreal kSide = 8;
constexpr qreal kIconSize = 28;
constexpr qreal kTop = kIconSize + 10;
constexpr qreal kBottom = 22;
// Room over a point for its label, and over a bar for its probability.
constexpr qreal kLabelRoom = 18;
constexpr qreal kProbabilityRoom = 14;
// Shares of the plot's height: the temperature above, the precipitation below.
constexpr qreal kTemperatureShare = 0.62;
constexpr qreal kPrecipitationShare = 0.34;
// Light rain should not fill the chart: bars reach full height at 2 mm or the most in view.
constexpr double kMinimumScale = 2;

// A painted chart is a plain widget to Qt: say that it is a chart, so that a screen reader
// announces it as one and reads its description.
class ForecastChartAccessible : public QAccessibleWidget
{
public:
    explicit ForecastChartAccessible(QWidget *chart)
        : QAccessibleWidget(chart, QAccessible::Chart)
    {}
};

QAccessibleInterface *chartAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String(ForecastChart::staticMetaObject.className()) && object &&
        object->isWidgetType())
        return new ForecastChartAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

ForecastChart::ForecastChart(QWidget *parent)
    : QWidget(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(chartAccessible);
        return true;
    }();
    Q_UNUSED(installed);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAccessibleName(localized("CHART_ACCESSIBLE_NAME"));
    setAccessibleDescription(describe(m_forecast, m_celsius));
}

ForecastChart::~ForecastChart() = default;

QSize ForecastChart::sizeHint() const
{
    return {560, 280};
}

void ForecastChart::setForecast(const WXForecast &forecast, bool celsius)
{
    m_forecast = forecast;
    m_celsius = celsius;
    setAccessibleDescription(describe(m_forecast, m_celsius));
    update();
}

QString ForecastChart::describe(const WXForecast &forecast, bool celsius)
{
    const auto &hours = forecast.hourly;
    if (hours.isEmpty())
        return localized("FORECAST_NOT_AVAILABLE");
    const auto time = [](const WXForecast::Hour &hour) {
        return hour.time.toString(QStringLiteral("HH:mm"));
    };
    const auto temperature = [celsius](const WXForecast::Hour &hour) {
        return hour.temperature.in(celsius);
    };
    // The first of equal temperatures: the earliest time the low or the high is reached.
    const auto [coldest, warmest] =
        std::minmax_element(hours.begin(), hours.end(),
                            [&](const auto &a, const auto &b) { return temperature(a) < temperature(b); });
    const auto warmestFirst =
        std::find_if(hours.begin(), hours.end(), [&, high = temperature(*warmest)](const auto &hour) {
            return temperature(hour) == high;
        });
    QString text =
        localized("CHART_DESCRIPTION_RANGE")
            .arg(time(hours.first()), time(hours.last()), WXForecast::degreesText(temperature(*coldest)),
                 time(*coldest), WXForecast::degreesText(temperature(*warmestFirst)), time(*warmestFirst));
    const auto wet =
        std::find_if(hours.begin(), hours.end(), [](const auto &hour) { return hour.precipitation > 0; });
    if (wet == hours.end())
        return text + QLatin1Char(' ') + localized("CHART_DESCRIPTION_DRY");
    double total = 0;
    std::optional<int> chance;
    for (const auto &hour : hours) {
        total += hour.precipitation;
        if (hour.precipitation > 0 && hour.probability)
            chance = std::max(chance.value_or(0), *hour.probability);
    }
    text += QLatin1Char(' ') +
            localized("CHART_DESCRIPTION_RAIN").arg(time(*wet), QLocale().toString(total, 'f', 1));
    if (chance)
        text += QLatin1Char(' ') + localized("CHART_DESCRIPTION_CHANCE").arg(*chance);
    return text;
}

QString ForecastChart::iconPath(const QString &condition, bool day)
{
    const QString name = condition.toLower();
    const QString timed = QStringLiteral(":/weather/%1-%2.svg")
                              .arg(name, day ? QStringLiteral("day") : QStringLiteral("night"));
    if (QFile::exists(timed))
        return timed;
    const QString plain = QStringLiteral(":/weather/%1.svg").arg(name);
    return QFile::exists(plain) ? plain : QStringLiteral(":/weather/cloudy.svg");
}

ForecastChart::Layout ForecastChart::layoutFor(const WXForecast &forecast, bool celsius, const QSizeF &size)
{
    Layout layout;
    layout.plot = QRectF(kSide, kTop, std::max(0.0, size.width() - 2 * kSide),
                         std::max(0.0, size.height() - kTop - kBottom));
    const auto &hours = forecast.hourly;
    if (hours.isEmpty())
        return layout;

    const auto temperature = [celsius](const WXForecast::Hour &hour) {
        return hour.temperature.in(celsius);
    };
    const auto [coldest, warmest] =
        std::minmax_element(hours.begin(), hours.end(),
                            [&](const auto &a, const auto &b) { return temperature(a) < temperature(b); });
    layout.minimum = temperature(*coldest);
    layout.maximum = std::max(temperature(*warmest), layout.minimum + 1);
    double wettest = 0;
    for (const auto &hour : hours)
        wettest = std::max(wettest, hour.precipitation);
    layout.precipitationScale = std::max(kMinimumScale, wettest);

    const QRectF &plot = layout.plot;
    const qreal slot = plot.width() / hours.size();
    const qreal lineTop = plot.top() + kLabelRoom;
    const qreal lineBottom = plot.top() + plot.height() * kTemperatureShare;
    const qreal barRoom = plot.height() * kPrecipitationShare - kProbabilityRoom;
    for (int i = 0; i < hours.size(); ++i) {
        const auto &hour = hours[i];
        const qreal x = plot.left() + (i + 0.5) * slot;
        const qreal share = double(temperature(hour) - layout.minimum) / (layout.maximum - layout.minimum);
        layout.points.append({x, lineBottom - share * (lineBottom - lineTop)});
        const qreal height = hour.precipitation / layout.precipitationScale * barRoom;
        const qreal width = slot * 0.6;
        layout.bars.append(height > 0 ? QRectF(x - width / 2, plot.bottom() - height, width, height)
                                      : QRectF());
        layout.probabilityLabels.append(hour.precipitation > 0 && hour.probability
                                            ? QStringLiteral("%1%").arg(*hour.probability)
                                            : QString());
        if (i % kMarkEvery == 0) {
            layout.marked.append(i);
            layout.icons.append(QRectF(x - kIconSize / 2, 4, kIconSize, kIconSize));
            layout.temperatureLabels.append(WXForecast::degreesText(temperature(hour)));
            layout.hourLabels.append(hour.time.toString(QStringLiteral("HH:mm")));
        }
    }
    return layout;
}

void ForecastChart::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette colours = palette();
    const bool dark = colours.color(QPalette::Window).lightness() < 128;
    const QColor text = colours.color(QPalette::WindowText);
    QColor faint = text;
    faint.setAlphaF(0.2);
    const QColor line = dark ? QColor(0xff, 0xa0, 0x60) : QColor(0xc8, 0x4b, 0x0c);
    const QColor rain = dark ? QColor(0x6c, 0xb4, 0xff) : QColor(0x1d, 0x64, 0xc8);

    const Layout layout = this->layout();
    if (layout.points.isEmpty()) {
        painter.setPen(text);
        painter.drawText(rect(), Qt::AlignCenter, localized("FORECAST_NOT_AVAILABLE"));
        return;
    }

    // Guides at the marked hours, and the ground line of the bars.
    painter.setPen(QPen(faint, 1));
    for (int i : layout.marked)
        painter.drawLine(QPointF(layout.points[i].x(), layout.plot.top()),
                         QPointF(layout.points[i].x(), layout.plot.bottom()));
    painter.drawLine(layout.plot.bottomLeft(), layout.plot.bottomRight());

    // Precipitation: surer rain is drawn stronger.
    QFont small = font();
    small.setPointSizeF(font().pointSizeF() * 0.75);
    painter.setFont(small);
    for (int i = 0; i < layout.bars.size(); ++i) {
        if (layout.bars[i].isEmpty())
            continue;
        const auto probability = m_forecast.hourly[i].probability;
        QColor fill = rain;
        fill.setAlphaF(probability ? 0.35 + 0.65 * *probability / 100.0 : 0.85);
        painter.fillRect(layout.bars[i], fill);
        if (!layout.probabilityLabels[i].isEmpty()) {
            painter.setPen(rain);
            const QRectF label(layout.bars[i].center().x() - 20, layout.bars[i].top() - kProbabilityRoom, 40,
                               kProbabilityRoom);
            painter.drawText(label, Qt::AlignHCenter | Qt::AlignBottom, layout.probabilityLabels[i]);
        }
    }

    // Temperature.
    QPainterPath path(layout.points.first());
    for (int i = 1; i < layout.points.size(); ++i)
        path.lineTo(layout.points[i]);
    painter.setPen(QPen(line, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
    painter.setFont(font());
    for (int m = 0; m < layout.marked.size(); ++m) {
        const QPointF point = layout.points[layout.marked[m]];
        painter.setPen(Qt::NoPen);
        painter.setBrush(line);
        painter.drawEllipse(point, 3.5, 3.5);
        painter.setPen(text);
        painter.drawText(QRectF(point.x() - 30, point.y() - kLabelRoom - 2, 60, kLabelRoom),
                         Qt::AlignHCenter | Qt::AlignBottom, layout.temperatureLabels[m]);
        painter.drawText(QRectF(point.x() - 30, layout.plot.bottom() + 2, 60, kBottom - 2),
                         Qt::AlignHCenter | Qt::AlignVCenter, layout.hourLabels[m]);
        const auto &hour = m_forecast.hourly[layout.marked[m]];
        QIcon(iconPath(hour.condition, hour.day)).paint(&painter, layout.icons[m].toRect());
    }
}

} // namespace nimbara
