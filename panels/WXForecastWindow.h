#pragma once

#include <QDateTime>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <memory>

class QCloseEvent;
class QShowEvent;

namespace Ui {
class WXForecastWindow;
}

// The Forecast panel: the place and how fresh its weather is, today's high and low, sunrise and
// sunset, how the air feels with its wind and humidity, the chart of the next 24 hours and the week
// ahead, in the unit the widget shows. Made on first use;
// closing it only hides it.
class WXForecastWindow : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WXForecastWindow)

public:
    explicit WXForecastWindow(QWidget *parent = nullptr);
    ~WXForecastWindow() override;

    // The weather data the widget shows, and its "celsius" setting.
    void setWeather(const QVariant &data, bool celsius);
    // Since when the service cannot be reached (invalid: it answers); said above the forecast, which
    // is then an old one.
    void setServiceUnreachableSince(const QDateTime &since);
    // Seam for tests: the time that the freshness is measured against.
    void setClock(std::function<QDateTime()> now);

    // The header's texts as shown, for tests.
    QString placeText() const;
    QString updatedText() const;
    QString todayText() const;
    QString sunText() const;
    QString detailsText() const;
    QString unreachableText() const; // empty while hidden
    bool showsOldReading() const { return m_old; }

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void showWeather();

    const std::unique_ptr<Ui::WXForecastWindow> m_ui;
    QVariant m_data;
    bool m_celsius = true;
    bool m_old = false;
    QDateTime m_unreachableSince;
    std::function<QDateTime()> m_now = [] {
        return QDateTime::currentDateTime();
    };
};
