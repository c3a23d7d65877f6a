#include "MainInterface.h"

#include "Menus.h"
#include "WXAboutWindow.h"
#include "WXAppDelegate.h"
#include "WXDesktopWindow.h"
#include "WXFeedbackWindow.h"
#include "WXTourWindow.h"

MainInterface::MainInterface()
    : m_window(std::make_unique<WXDesktopWindow>())
    , m_tourWindow(std::make_unique<WXTourWindow>())
    , m_aboutWindow(std::make_unique<WXAboutWindow>())
    , m_feedbackWindow(std::make_unique<WXFeedbackWindow>())
    , m_menus(std::make_unique<Menus>(m_window.get(), m_tourWindow.get(), m_aboutWindow.get(),
                                      m_feedbackWindow.get()))
    , m_delegate(std::make_unique<WXAppDelegate>())
{
    m_delegate->window = m_window.get();
    m_delegate->tourWindow = m_tourWindow.get();
    static_cast<WXTourWindow *>(m_tourWindow.get())->setAnchor(m_window.get());
    m_delegate->quickTour = m_menus->quickTour();
    // The tour and the About panel set their texts as they are built.
    m_window->awakeFromNib();
}

MainInterface::~MainInterface() = default;

WXPlaceChooser *MainInterface::placeChooser() const
{
    return m_menus->placeChooser();
}
