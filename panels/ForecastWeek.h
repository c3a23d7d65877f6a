#pragma once

#include "WXForecast.h"

#include <QList>
#include <QRectF>
#include <QStringList>
#include <QWidget>

namespace nimbara {

// The week ahead as a row of days under the 24-hour chart: the weekday, the day's condition icon,
// its high and low as the two ends of a bar on one scale shared by the whole week, and the
// precipitation. Drawn from the palette like the chart, so that it follows the desktop's theme.
class ForecastWeek : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ForecastWeek)

public:
    // Where everything goes for a size: computed apart from painting, so that tests can read it.
    struct Layout
    {
        QList<QRectF> columns;  // one per day
        QStringList weekdays;   // "Today", then the locale's short day names
        QList<QRectF> icons;    // one per day
        QList<QRectF> bars;     // from the day's high (top) to its low (bottom)
        QStringList highLabels; // in the chosen unit
        QStringList lowLabels;
        QStringList precipitationLabels; // "4.3 mm", or empty for a dry day
        QStringList probabilityLabels;   // "80%" on a day with precipitation, or empty
        qreal scaleTop = 0;              // the y of the week's highest and lowest temperature
        qreal scaleBottom = 0;
        int minimum = 0; // the week's lowest and highest, in the chosen unit
        int maximum = 0;
    };

    explicit ForecastWeek(QWidget *parent = nullptr);
    ~ForecastWeek() override;

    void setForecast(const WXForecast &forecast, bool celsius);
    Layout layout() const { return layoutFor(m_forecast, m_celsius, QSizeF(size()), locale()); }
    static Layout layoutFor(const WXForecast &forecast, bool celsius, const QSizeF &size,
                            const QLocale &locale);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    WXForecast m_forecast;
    bool m_celsius = true;
};

} // namespace nimbara
