#pragma once

#include <memory>

class Menus;
class QWidget;
class WXAppDelegate;
class WXDesktopWindow;
class WXPlaceChooser;

// The loaded interface definition: the windows, the menu and the application delegate, created and
// connected in the order the application starts (each window finishes its own start-up before the
// delegate's launch handler runs). It owns them all for the life of the process.
class MainInterface
{
public:
    MainInterface();
    ~MainInterface();
    MainInterface(const MainInterface &) = delete;
    MainInterface &operator=(const MainInterface &) = delete;

    WXDesktopWindow *window() const { return m_window.get(); }
    QWidget *tourWindow() const { return m_tourWindow.get(); }
    QWidget *aboutWindow() const { return m_aboutWindow.get(); }
    QWidget *feedbackWindow() const { return m_feedbackWindow.get(); }
    WXPlaceChooser *placeChooser() const;
    Menus *menus() const { return m_menus.get(); }
    WXAppDelegate *delegate() const { return m_delegate.get(); }

private:
    std::unique_ptr<WXDesktopWindow> m_window;
    std::unique_ptr<QWidget> m_tourWindow;
    std::unique_ptr<QWidget> m_aboutWindow;
    std::unique_ptr<QWidget> m_feedbackWindow;
    std::unique_ptr<Menus> m_menus;
    std::unique_ptr<WXAppDelegate> m_delegate;
};
