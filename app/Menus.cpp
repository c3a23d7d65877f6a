#include "Menus.h"

#include "Autostart.h"
#include "Localized.h"
#include "WXDesktopWindow.h"
#include "WXTourWindow.h"

#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

using nimbara::localized;

namespace {
// A window chosen from the menu comes to the front, wherever it was.
void present(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}
} // namespace

Menus::Menus(WXDesktopWindow *window, QWidget *tourWindow, QWidget *aboutWindow, QWidget *feedbackWindow,
             QObject *parent)
    : QObject(parent)
    , m_menu(std::make_unique<QMenu>())
{
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

    // Drawn sizes rather than the SVG: no SVG library is loaded for one small icon.
    QIcon icon;
    for (int size : {22, 32, 48, 64})
        icon.addFile(QStringLiteral(":/icons/nimbara-%1.png").arg(size), QSize(size, size));
    m_trayIcon = new QSystemTrayIcon(icon, this);
    m_trayIcon->setToolTip(QStringLiteral("Nimbara"));
    m_trayIcon->setContextMenu(m_menu.get());
    // Where no tray runs yet (a session still starting), Qt puts the icon there once one appears.
    m_trayIcon->show();
}

Menus::~Menus() = default;
