#include "WXDesktopWindow.h"

void WXDesktopWindow::start() {}

void WXDesktopWindow::receiveWakeNote(QObject * /*notification*/) {}

void WXDesktopWindow::observeWakeNotes() {}
