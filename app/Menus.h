#pragma once

#include <QObject>

#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;
class WXDesktopWindow;

// The application's one menu, built here and nowhere else: the widget's context menu and the tray
// icon's menu are the same menu. Items from top to bottom: About, Feedback, Quick Tour, Start at login, Quit.
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
    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }
    QAction *about() const { return m_about; }
    QAction *feedback() const { return m_feedback; }
    // Titled by the launch handler.
    QAction *quickTour() const { return m_quickTour; }
    // Checked while the desktop starts the application at login.
    QAction *startAtLogin() const { return m_startAtLogin; }
    QAction *quit() const { return m_quit; }

private:
    const std::unique_ptr<QMenu> m_menu;
    QAction *m_about = nullptr;
    QAction *m_feedback = nullptr;
    QAction *m_quickTour = nullptr;
    QAction *m_startAtLogin = nullptr;
    QAction *m_quit = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
};
