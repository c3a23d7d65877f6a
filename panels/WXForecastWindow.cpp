#include "WXForecastWindow.h"

#include "ForecastChart.h"
#include "ForecastWeek.h"
#include "Localized.h"
#include "PanelAccessible.h"
#include "PanelKeys.h"
#include "WXForecast.h"
#include "ui_WXForecastWindow.h"

using nimbara::localized;

WXForecastWindow::WXForecastWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::WXForecastWindow>())
{
    nimbara::installPanelAccessibility();
    m_ui->setupUi(this);
    // Hiding the panel must never end the application.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(localized("FORECAST_WINDOW_TITLE"));
    new nimbara::PanelKeys(this);
    showWeather();
}

WXForecastWindow::~WXForecastWindow() = default;

void WXForecastWindow::setWeather(const QVariant &data, bool celsius)
{
    m_data = data;
    m_celsius = celsius;
    showWeather();
}

void WXForecastWindow::setServiceUnreachableSince(const QDateTime &since)
{
    m_unreachableSince = since;
    showWeather();
}

void WXForecastWindow::setClock(std::function<QDateTime()> now)
{
    m_now = std::move(now);
    showWeather();
}

QString WXForecastWindow::placeText() const
{
    return m_ui->place->text();
}

QString WXForecastWindow::updatedText() const
{
    return m_ui->updated->text();
}

QString WXForecastWindow::todayText() const
{
    return m_ui->today->text();
}

QString WXForecastWindow::sunText() const
{
    return m_ui->sun->text();
}

QString WXForecastWindow::unreachableText() const
{
    return m_ui->unreachable->isVisibleTo(this) ? m_ui->unreachable->text() : QString();
}

QString WXForecastWindow::detailsText() const
{
    return m_ui->details->text();
}

void WXForecastWindow::showEvent(QShowEvent *event)
{
    // The age of the reading has grown while the panel was hidden.
    showWeather();
    QWidget::showEvent(event);
}

void WXForecastWindow::changeEvent(QEvent *event)
{
    // A new desktop theme: the old-reading colour follows it.
    if (event->type() == QEvent::PaletteChange)
        showWeather();
    QWidget::changeEvent(event);
}

void WXForecastWindow::showWeather()
{
    const WXForecast forecast = WXForecast::fromData(m_data);
    m_old = forecast.isOld(m_now());
    m_ui->place->setText(forecast.location);
    m_ui->updated->setText(forecast.freshnessText(m_now()));
    // An old reading stands out in the theme's own warning-like colour.
    QPalette updatedColours = palette();
    if (m_old)
        updatedColours.setColor(QPalette::WindowText, palette().color(QPalette::Link));
    m_ui->updated->setPalette(updatedColours);
    QFont updatedFont = font();
    updatedFont.setBold(m_old);
    m_ui->updated->setFont(updatedFont);
    m_ui->unreachable->setText(m_unreachableSince.isValid() ? WXForecast::unreachableText(m_unreachableSince)
                                                            : QString());
    m_ui->unreachable->setPalette(updatedColours);
    m_ui->unreachable->setFont(updatedFont);
    m_ui->unreachable->setVisible(m_unreachableSince.isValid());

    m_ui->today->setText(forecast.high && forecast.low
                             ? localized("TODAY_HIGH_LOW")
                                   .arg(WXForecast::degreesText(forecast.high->in(m_celsius)),
                                        WXForecast::degreesText(forecast.low->in(m_celsius)))
                             : QString());
    m_ui->sun->setText(!forecast.sunrise.isEmpty() && !forecast.sunset.isEmpty()
                           ? localized("SUNRISE_SUNSET").arg(forecast.sunrise, forecast.sunset)
                           : QString());
    m_ui->details->setText(forecast.detailsText(m_celsius, locale()));
    m_ui->details->setVisible(!m_ui->details->text().isEmpty());
    m_ui->chart->setForecast(forecast, m_celsius);
    m_ui->week->setForecast(forecast, m_celsius);
    m_ui->week->setVisible(!forecast.daily.isEmpty());
}
