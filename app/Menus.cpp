#include "Menus.h"

#include "Autostart.h"
#include "ForecastChart.h"
#include "Localized.h"
#include "SettingsStore.h"
#include "TrayIcon.h"
#include "WXDesktopWindow.h"
#include "WXDesktopWindowUi.h"
#include "WXForecast.h"
#include "WXForecastWindow.h"
#include "WXPlaceChooser.h"
#include "WXTourWindow.h"

#include <QActionGroup>
#include <QApplication>
#include <QIcon>
#include <QImageReader>
#include <QMenu>
#include <QSystemTrayIcon>

using nimbara::localized;
using nimbara::SettingsStore;
namespace key = nimbara::key;

namespace {
// A window chosen from the menu comes to the front, wherever it was.
void present(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

// Drawn sizes rather than the SVG: no SVG library is loaded for one small icon. Each is read as the
// PNG it is: a reader left to detect the format would first load every image-format plugin installed
// to ask it about the file.
QIcon trayIconImage()
{
    QIcon icon;
    for (int size : {22, 32, 48, 64}) {
        QImageReader reader(QStringLiteral(":/icons/nimbara-%1.png").arg(size), "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    return icon;
}
} // namespace

Menus::Menus(WXDesktopWindow *window, QWidget *tourWindow, QWidget *aboutWindow, QWidget *feedbackWindow,
             QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_menu(std::make_unique<QMenu>())
{
    m_forecast = m_menu->addAction(localized("FORECAST_MENU"));
    connect(m_forecast, &QAction::triggered, this, &Menus::showForecast);
    connect(window, &WXDesktopWindow::weatherDidChange, this, &Menus::updateForecast);
    connect(window, &WXDesktopWindow::serviceReachabilityDidChange, this, &Menus::updateForecast);
    m_menu->addSeparator();
    m_about = m_menu->addAction(localized("ABOUT_MENU"));
    m_about->setMenuRole(QAction::AboutRole);
    connect(m_about, &QAction::triggered, aboutWindow, [aboutWindow] { present(aboutWindow); });
    m_feedback = m_menu->addAction(localized("FEEDBACK_MENU"));
    connect(m_feedback, &QAction::triggered, feedbackWindow, [feedbackWindow] { present(feedbackWindow); });
    m_quickTour = m_menu->addAction(QString());
    connect(m_quickTour, &QAction::triggered, tourWindow, [tourWindow] {
        if (auto tour = qobject_cast<WXTourWindow *>(tourWindow))
            tour->showFromStart();
        else
            tourWindow->show();
    });
    m_menu->addSeparator();

    m_locationMenu = m_menu->addMenu(localized("LOCATION_MENU"));
    m_locationGroup = new QActionGroup(this);
    m_locationGroup->setExclusive(true);
    auto radio = [this](const QString &text) {
        QAction *action = m_locationMenu->addAction(text);
        action->setCheckable(true);
        m_locationGroup->addAction(action);
        return action;
    };
    m_automaticLocation = radio(localized("LOCATION_AUTOMATIC_MENU"));
    m_approximateLocation = radio(localized("LOCATION_APPROXIMATE_MENU"));
    m_chosenPlace = radio(QString());
    m_customLocation = radio(localized("LOCATION_CUSTOM_MENU"));
    // A hand-written source cannot be made again from the menu; it is only shown.
    m_customLocation->setEnabled(false);
    m_locationMenu->addSeparator();
    m_choosePlace = m_locationMenu->addAction(localized("LOCATION_CHOOSE_MENU"));
    connect(m_automaticLocation, &QAction::triggered, this,
            [this] { useLocationSource(QString(), QString()); });
    connect(m_approximateLocation, &QAction::triggered, this,
            [this] { useLocationSource(WXDesktopWindow::kNetworkPositionSource, QString()); });
    // The chosen place is already in use when its item can be triggered.
    connect(m_chosenPlace, &QAction::triggered, this, &Menus::showLocationSource);
    connect(m_choosePlace, &QAction::triggered, this, [this] { placeChooser()->showEmpty(); });
    // The settings file may have been edited, and the service's answer may have changed.
    connect(m_locationMenu, &QMenu::aboutToShow, this, &Menus::showLocationSource);
    showLocationSource();

    m_startAtLogin = m_menu->addAction(localized("START_AT_LOGIN"));
    m_startAtLogin->setCheckable(true);
    m_startAtLogin->setChecked(nimbara::Autostart::isEnabled());
    connect(m_startAtLogin, &QAction::triggered, this, [this](bool checked) {
        nimbara::Autostart::setEnabled(checked);
        m_startAtLogin->setChecked(nimbara::Autostart::isEnabled());
    });
    // The desktop's own settings may switch the entry too: read it whenever the menu opens.
    connect(m_menu.get(), &QMenu::aboutToShow, this,
            [this] { m_startAtLogin->setChecked(nimbara::Autostart::isEnabled()); });
    m_quit = m_menu->addAction(localized("QUIT_MENU"));
    m_quit->setMenuRole(QAction::QuitRole);
    connect(m_quit, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    window->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(window, &QWidget::customContextMenuRequested, m_menu.get(),
            [this, window](const QPoint &position) { m_menu->popup(window->mapToGlobal(position)); });

    m_trayIcon = new QSystemTrayIcon(trayIconImage(), this);
    m_trayIcon->setToolTip(QStringLiteral("Nimbara"));
    m_trayIcon->setContextMenu(m_menu.get());
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason != QSystemTrayIcon::Trigger)
            return;
        if (m_forecastWindow && m_forecastWindow->isVisible())
            m_forecastWindow->hide();
        else
            showForecast();
    });
    connect(window, &WXDesktopWindow::weatherDidChange, this, &Menus::updateTray);
    connect(window, &WXDesktopWindow::serviceReachabilityDidChange, this, &Menus::updateTray);
    // Where no tray runs yet (a session still starting), Qt puts the icon there once one appears.
    m_trayIcon->show();
}

Menus::~Menus() = default;

WXPlaceChooser *Menus::placeChooser()
{
    if (m_placeChooser)
        return m_placeChooser.get();
    m_placeChooser = std::make_unique<WXPlaceChooser>();
    connect(m_placeChooser.get(), &WXPlaceChooser::placeChosen, this,
            [this](const QString &name, double latitude, double longitude) {
                const auto number = [](double value) {
                    return QString::number(value, 'f', QLocale::FloatingPointShortest);
                };
                useLocationSource(QStringLiteral("fixed:%1,%2").arg(number(latitude), number(longitude)),
                                  name);
            });
    return m_placeChooser.get();
}

void Menus::showLocationSource()
{
    const QString source = SettingsStore::stringForKey(key::positionSource).trimmed();
    const QString name = SettingsStore::stringForKey(key::positionName).trimmed();
    const bool approximate = source == WXDesktopWindow::kNetworkPositionSource;
    const bool chosen = source.startsWith(QLatin1String("fixed:")) && !name.isEmpty();
    const bool custom = !source.isEmpty() && !approximate && !chosen;
    m_chosenPlace->setText(name);
    m_chosenPlace->setVisible(chosen);
    m_customLocation->setVisible(custom);
    m_approximateLocation->setText(approximate && m_window->locationUnknown
                                       ? localized("LOCATION_APPROXIMATE_UNKNOWN_MENU")
                                       : localized("LOCATION_APPROXIMATE_MENU"));
    QAction *current = source.isEmpty() ? m_automaticLocation
                       : approximate    ? m_approximateLocation
                       : chosen         ? m_chosenPlace
                                        : m_customLocation;
    current->setChecked(true);
}

void Menus::useLocationSource(const QString &source, const QString &name)
{
    if (source.isEmpty())
        SettingsStore::removeKey(key::positionSource);
    else
        SettingsStore::setString(key::positionSource, source);
    if (name.isEmpty())
        SettingsStore::removeKey(key::positionName);
    else
        SettingsStore::setString(key::positionName, name);
    SettingsStore::synchronize();
    m_window->changeLocationSource();
    showLocationSource();
}

void Menus::showForecast()
{
    if (!m_forecastWindow)
        m_forecastWindow = std::make_unique<WXForecastWindow>();
    updateForecast();
    present(m_forecastWindow.get());
}

void Menus::updateTray()
{
    QStringList lines;
    if (const QDateTime since = m_window->serviceUnreachableSince(); since.isValid())
        lines.append(WXForecast::unreachableText(since));
    if (!m_window->weatherShown) {
        m_trayIcon->setIcon(trayIconImage());
        lines.prepend(QStringLiteral("Nimbara"));
        m_trayIcon->setToolTip(lines.join(u'\n'));
        return;
    }
    lines.prepend(m_window->ui->subtitle->text());
    lines.prepend(m_window->ui->title->text());
    m_trayIcon->setToolTip(lines.join(u'\n'));
    // The number of the weather line, in its unit.
    const QString line = m_window->ui->title->text();
    const qsizetype degree = line.indexOf(QChar(0x00B0));
    const WXForecast forecast = WXForecast::fromData(m_window->shownData);
    const bool day = forecast.hourly.isEmpty() || forecast.hourly.first().day;
    const QString condition = m_window->shownData.toMap().value(QStringLiteral("condition")).toString();
    m_trayIcon->setIcon(nimbara::TrayWeatherIcon::icon(nimbara::ForecastChart::iconPath(condition, day),
                                                       degree > 0 ? line.left(degree + 1) : QString()));
}

void Menus::updateForecast()
{
    // Until the panel is first opened there is nothing to keep in step.
    if (!m_forecastWindow)
        return;
    m_forecastWindow->setServiceUnreachableSince(m_window->serviceUnreachableSince());
    m_forecastWindow->setWeather(m_window->shownData,
                                 nimbara::SettingsStore::boolForKey(nimbara::key::celsius));
}
