#include "Menus.h"

#include "Localized.h"
#include "WXDesktopWindow.h"
#include "WXTourWindow.h"

#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

using nimbara::localized;

Menus::Menus(WXDesktopWindow *window, QWidget *tourWindow, QObject *parent)
    : QObject(parent)
    , m_menu(std::make_unique<QMenu>())
{
    m_quickTour = m_menu->addAction(QString());
    connect(m_quickTour, &QAction::triggered, tourWindow, [tourWindow] {
        if (auto tour = qobject_cast<WXTourWindow *>(tourWindow))
            tour->showFromStart();
        else
            tourWindow->show();
    });
    m_menu->addSeparator();
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
