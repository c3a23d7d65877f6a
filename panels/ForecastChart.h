#pragma once

#include "WXForecast.h"

#include <QList>
#include <QRectF>
#include <QStringList>
#include <QWidget>

namespace nimbara {

// The next 24 hours as one chart: the temperature as a line with the hour's condition as an icon
// every third hour above it, the precipitation as bars along the bottom with their probability.
// Drawn from the palette, so that it follows the desktop's light or dark theme; vector drawing and
// SVG icons keep it sharp at any scale.
class ForecastChart : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ForecastChart)

public:
    // Where everything goes for a size: computed apart from painting, so that tests can read it.
    struct Layout
    {
        QRectF plot;                   // the area of the line and the bars
        QList<QPointF> points;         // the temperature of each hour
        QList<QRectF> bars;            // the precipitation of each hour (empty: none)
        QList<int> marked;             // the hours labelled with time, temperature and icon
        QList<QRectF> icons;           // one per marked hour
        QStringList temperatureLabels; // one per marked hour, in the chosen unit
        QStringList hourLabels;        // one per marked hour, the place's local time
        QStringList probabilityLabels; // one per hour: "80%" over a bar, or empty
        int minimum = 0;               // the temperatures at the plot's bottom and top
        int maximum = 0;
        double precipitationScale = 0; // mm at full bar height
    };

    static constexpr int kMarkEvery = 3;

    explicit ForecastChart(QWidget *parent = nullptr);
    ~ForecastChart() override;

    void setForecast(const WXForecast &forecast, bool celsius);
    Layout layout() const { return layoutFor(m_forecast, m_celsius, QSizeF(size())); }
    static Layout layoutFor(const WXForecast &forecast, bool celsius, const QSizeF &size);

    // The chart in a few sentences, for screen readers: the hours' range of temperatures and when
    // precipitation comes, in the chosen unit. Its accessible description follows the data.
    static QString describe(const WXForecast &forecast, bool celsius);

    // The icon file of a condition, by day or by night.
    static QString iconPath(const QString &condition, bool day);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    WXForecast m_forecast;
    bool m_celsius = true;
};

} // namespace nimbara
