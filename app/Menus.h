#pragma once

#include <QObject>

#include <memory>

class QAction;
class QActionGroup;
class QMenu;
class QSystemTrayIcon;
class QWidget;
class WXDesktopWindow;
class WXForecastWindow;
class WXPlaceChooser;

// The application's one menu, built here and nowhere else: the widget's context menu and the tray
// icon's menu are the same menu. Items from top to bottom: Forecast, About, Feedback, Quick Tour, Location (a
// submenu), Start at login, Quit.
class Menus : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Menus)

public:
    // tourWindow is shown from its start by the quick-tour item; the About and Feedback items bring
    // their windows to the front.
    Menus(WXDesktopWindow *window, QWidget *tourWindow, QWidget *aboutWindow, QWidget *feedbackWindow,
          QObject *parent = nullptr);
    ~Menus() override;

    QMenu *menu() const { return m_menu.get(); }
    // A left click on it opens or closes the Forecast panel.
    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }
    // Opens the Forecast panel, made on first use and kept in step with the widget from then on.
    QAction *forecast() const { return m_forecast; }
    WXForecastWindow *forecastWindow() const { return m_forecastWindow.get(); }
    QAction *about() const { return m_about; }
    QAction *feedback() const { return m_feedback; }
    // Titled by the launch handler.
    QAction *quickTour() const { return m_quickTour; }
    // Checked while the desktop starts the application at login.
    QAction *startAtLogin() const { return m_startAtLogin; }
    QAction *quit() const { return m_quit; }

    // The Location submenu: where the widget's positions come from. One radio item is checked: the
    // location service (the default), the service's guess from the network address, the place
    // chosen by name (shown only while it is in use), or "Custom" for a hand-written
    // "positionSource" (shown only then). "Choose a place…" opens the place chooser.
    QMenu *locationMenu() const { return m_locationMenu; }
    QAction *automaticLocation() const { return m_automaticLocation; }
    QAction *approximateLocation() const { return m_approximateLocation; }
    QAction *chosenPlace() const { return m_chosenPlace; }
    QAction *customLocation() const { return m_customLocation; }
    QAction *choosePlace() const { return m_choosePlace; }
    // The place chooser that "Choose a place…" opens, made on first use: most sessions never open
    // it, and its search field alone would load every image-format plugin at start.
    WXPlaceChooser *placeChooser();
    // Checks the item of the source the settings name now.
    void showLocationSource();

private:
    // Writes the source (an empty one removes the key) and the chosen place's name, and switches the
    // widget to it at once.
    void useLocationSource(const QString &source, const QString &name);

    void showForecast();
    void updateForecast();
    // The tray icon tells the weather: the temperature on the condition's icon, and the weather and
    // place lines (and whether the service answers) as its tooltip.
    void updateTray();

    WXDesktopWindow *const m_window;
    const std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<WXForecastWindow> m_forecastWindow;
    std::unique_ptr<WXPlaceChooser> m_placeChooser;
    QAction *m_forecast = nullptr;
    QMenu *m_locationMenu = nullptr;
    QActionGroup *m_locationGroup = nullptr;
    QAction *m_automaticLocation = nullptr;
    QAction *m_approximateLocation = nullptr;
    QAction *m_chosenPlace = nullptr;
    QAction *m_customLocation = nullptr;
    QAction *m_choosePlace = nullptr;
    QAction *m_about = nullptr;
    QAction *m_feedback = nullptr;
    QAction *m_quickTour = nullptr;
    QAction *m_startAtLogin = nullptr;
    QAction *m_quit = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
};
