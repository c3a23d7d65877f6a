#include "WXDesktopWindow.h"

#include "ui_WXDesktopWindow.h"

#include "Animator.h"
#include "Localized.h"
#include "MoveResizeHandler.h"
#include "TrackingArea.h"
#include "WindowLevel.h"

using namespace nimbara;

void WXDesktopWindow::didPressLockButton(QObject * /*sender*/)
{
    isLocked = !isLocked;
    if (!isLocked) {
        Animator::animateOpacity(ui->box, kUnlockedBoxOpacity);
        setLevel(desktopIconWindowLevel() + 1);
    } else {
        Animator::animateOpacity(ui->box, 0.0);
        setLevel(desktopIconWindowLevel() - 1);
    }
    Animator::animateOpacity(ui->buttons, isLocked ? 0.0 : 1.0);
    keepStripFromPointerWhileLocked();
    offerControlsWhileUnlocked();
    m_moveResize->setMovable(!isLocked);
    m_moveResize->setMovableByWindowBackground(!isLocked);
    // The frameless window has no frame of its own to resize by: its edges serve while it is unlocked.
    m_moveResize->setResizable(!isLocked);
}

void WXDesktopWindow::keepStripFromPointerWhileLocked()
{
    // The locked widget still gets the pointer (it sits above the desktop window), so its invisible
    // setting buttons must not take presses.
    ui->buttons->setAttribute(Qt::WA_TransparentForMouseEvents, isLocked);
}

void WXDesktopWindow::offerControlsWhileUnlocked()
{
    // The setting buttons take the keyboard's focus (and show it) only while they can be seen; the
    // lock button's visible title stays, its accessible name says what pressing it does now.
    const Qt::FocusPolicy policy = isLocked ? Qt::NoFocus : Qt::TabFocus;
    for (QWidget *button :
         {static_cast<QWidget *>(ui->reloadButton), static_cast<QWidget *>(ui->colorButton),
          static_cast<QWidget *>(ui->dateButton), static_cast<QWidget *>(ui->locationButton),
          static_cast<QWidget *>(ui->alignButton)}) {
        button->setFocusPolicy(policy);
        if (isLocked && button->hasFocus())
            button->clearFocus();
    }
    ui->lockButton->setFocusPolicy(Qt::TabFocus);
    ui->lockButton->setAccessibleName(
        localized(isLocked ? "UNLOCK_ACCESSIBLE_NAME" : "LOCK_ACCESSIBLE_NAME"));
}

bool WXDesktopWindow::isMovable() const
{
    return m_moveResize->isMovable();
}

bool WXDesktopWindow::isMovableByWindowBackground() const
{
    return m_moveResize->isMovableByWindowBackground();
}

void WXDesktopWindow::viewWillMoveToWindow(QWidget * /*window*/)
{
    if (m_hoverRegion)
        return;
    // The box's frame, in the box's own coordinates.
    m_hoverRegion =
        new TrackingArea(ui->box->rect(), TrackingArea::Options(kHoverRegionOptions), this, ui->box);
    connect(m_hoverRegion, &TrackingArea::mouseEntered, this, [this] { mouseEntered(nullptr); });
    connect(m_hoverRegion, &TrackingArea::mouseExited, this, [this] { mouseExited(nullptr); });
}

void WXDesktopWindow::mouseEntered(QEvent * /*event*/)
{
    ui->lockButton->setHidden(false);
}

void WXDesktopWindow::mouseExited(QEvent * /*event*/)
{
    ui->lockButton->setHidden(true);
}
