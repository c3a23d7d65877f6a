#include "WXDesktopWindow.h"

#include "ui_WXDesktopWindow.h"

#include "WXForecast.h"

#include <QHelpEvent>
#include <QTextDocument>
#include <QToolTip>

namespace {

// Answers the weather line's tooltip requests with a text made at that moment, so that the age it
// tells is the age at the time of hovering.
class WeatherLineToolTip : public QObject
{
public:
    WeatherLineToolTip(WXDesktopWindow *window, QWidget *line)
        : QObject(line)
        , window(window)
        , line(line)
    {
        line->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != line || event->type() != QEvent::ToolTip)
            return false;
        const QString text = window->weatherLineToolTip();
        if (text.isEmpty())
            QToolTip::hideText();
        else
            // QToolTip renders anything that looks like markup, and the provider's name comes from
            // the network: hand it escaped text in a paragraph that keeps it on one line.
            QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(),
                               Qt::convertFromPlainText(text, Qt::WhiteSpacePre), line);
        return true;
    }

private:
    WXDesktopWindow *const window;
    QWidget *const line;
};

} // namespace

QString WXDesktopWindow::weatherLineToolTip() const
{
    const QString freshness = WXForecast::fromData(shownData).freshnessText(now());
    const QDateTime since = serviceUnreachableSince();
    if (!since.isValid())
        return freshness;
    const QString unreachable = WXForecast::unreachableText(since);
    return freshness.isEmpty() ? unreachable : unreachable + u'\n' + freshness;
}

QDateTime WXDesktopWindow::serviceUnreachableSince() const
{
    return m_failedTicks >= kUnreachableTicks ? m_failingSince : QDateTime();
}

void WXDesktopWindow::installWeatherLineToolTip()
{
    // The widget is seldom the active window: its tooltip must show all the same.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    new WeatherLineToolTip(this, ui->title);
}
