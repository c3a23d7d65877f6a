#include "WXAboutWindow.h"

#include "BuildInfo.h"
#include "BundleInfo.h"
#include "Localized.h"
#include "PanelAccessible.h"
#include "PanelKeys.h"
#include "ui_WXAboutWindow.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QUrl>

using nimbara::bundleValue;
using nimbara::localized;

namespace {

// Fills each "%@" of a format with the next argument, in order. A missing value shows as "?".
QString withArguments(const QString &format, const QStringList &arguments)
{
    QString text;
    qsizetype from = 0;
    for (const QString &argument : arguments) {
        const qsizetype at = format.indexOf(QLatin1String("%@"), from);
        if (at < 0)
            break;
        text += QStringView(format).mid(from, at - from);
        text += argument.isEmpty() ? QStringLiteral("?") : argument;
        from = at + 2;
    }
    text += QStringView(format).mid(from);
    return text;
}

} // namespace

WXAboutWindow::WXAboutWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::WXAboutWindow>())
{
    nimbara::installPanelAccessibility();
    m_ui->setupUi(this);
    // Hiding the panel must never end the application.
    setAttribute(Qt::WA_QuitOnClose, false);

    connect(m_ui->appWebsiteButton, &QPushButton::clicked, this,
            [this] { didPressAppWebsiteButton(m_ui->appWebsiteButton); });
    connect(m_ui->forecastWebsiteButton, &QPushButton::clicked, this,
            [this] { didPressForecastWebsiteButton(m_ui->forecastWebsiteButton); });
    new nimbara::PanelKeys(this);

    awakeFromNib();
}

WXAboutWindow::~WXAboutWindow() = default;

void WXAboutWindow::awakeFromNib()
{
    const QString shortVersion = bundleValue(QStringLiteral("CFBundleShortVersionString"));
    const QString buildNumber = bundleValue(QStringLiteral("CFBundleVersion"));
    m_ui->version->setText(
        withArguments(QStringLiteral("Nimbara version %@ build %@"), {shortVersion, buildNumber}));

    setWindowTitle(localized("ABOUT_WINDOW_TITLE"));
    m_ui->attribution->setText(localized("ABOUT_ATTRIBUTION"));
    m_ui->appWebsiteButton->setText(localized("ABOUT_WEBSITE_BUTTON"));
    m_ui->forecastWebsiteButton->setText(localized("ABOUT_FORECAST_BUTTON"));
}

QUrl WXAboutWindow::appWebsite()
{
    // The product website is the root page of the weather service host.
    return QUrl(QStringLiteral("http://" NIMBARA_SERVICE_HOST "/"));
}

QUrl WXAboutWindow::forecastWebsite()
{
    // The service's default weather provider.
    return QUrl(QStringLiteral("https://open-meteo.com/"));
}

bool WXAboutWindow::windowShouldClose(QObject *)
{
    setVisible(false);
    return false;
}

void WXAboutWindow::closeEvent(QCloseEvent *event)
{
    if (!windowShouldClose(this))
        event->ignore();
}

void WXAboutWindow::didPressAppWebsiteButton(QObject *)
{
    QDesktopServices::openUrl(appWebsite());
}

void WXAboutWindow::didPressForecastWebsiteButton(QObject *)
{
    QDesktopServices::openUrl(forecastWebsite());
}
