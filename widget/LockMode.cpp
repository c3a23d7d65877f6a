#include "WXDesktopWindow.h"

void WXDesktopWindow::didPressLockButton(QObject * /*sender*/) {}

void WXDesktopWindow::viewWillMoveToWindow(QWidget * /*window*/) {}

void WXDesktopWindow::mouseEntered(QEvent * /*event*/) {}

void WXDesktopWindow::mouseExited(QEvent * /*event*/) {}
