#pragma once

#include <QObject>

#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;
class WXDesktopWindow;

// The application's one menu, built here and nowhere else: the widget's context menu and the tray
// icon's menu are the same menu. Items from top to bottom: About, Feedback, Quick Tour, Quit.
class Menus : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Menus)

public:
    // tourWindow is shown from its start by the quick-tour item.
    Menus(WXDesktopWindow *window, QWidget *tourWindow, QObject *parent = nullptr);
    ~Menus() override;

    QMenu *menu() const { return m_menu.get(); }
    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }
    // Titled by the launch handler.
    QAction *quickTour() const { return m_quickTour; }
    QAction *quit() const { return m_quit; }

private:
    const std::unique_ptr<QMenu> m_menu;
    QAction *m_quickTour = nullptr;
    QAction *m_quit = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
};
