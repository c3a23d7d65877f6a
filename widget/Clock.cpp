#include "WXDesktopWindow.h"

#include "ui_WXDesktopWindow.h"

#include <QLocale>
#include <QTimer>

void WXDesktopWindow::getDate()
{
    // A formatter of the user's locale (QLocale() follows LC_TIME) for this one update; "dddd" is
    // Qt's spelling of the full weekday. Upper-casing is locale-independent.
    const QString text = QLocale().toString(now(), QStringLiteral("HH:mm, d MMMM, dddd")).toUpper();
    ui->date->setText(text);
    // One pending update at a time, one second after this one.
    clockTimer->start();
}
