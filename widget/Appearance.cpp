#include "WXDesktopWindow.h"

#include "ui_WXDesktopWindow.h"

#include "Animator.h"
#include "Log.h"
#include "SettingsStore.h"

#include <algorithm>

using namespace nimbara;

void WXDesktopWindow::toggleSettings()
{
    const bool whiteColor = SettingsStore::boolForKey(key::whiteColor);
    ui->box->setFillColor(whiteColor ? Qt::black : Qt::white);
    const QColor textColor = whiteColor ? Qt::white : Qt::black;
    ui->date->setTextColor(textColor);
    ui->title->setTextColor(textColor);
    ui->subtitle->setTextColor(textColor);
    if (!isTranslucent())
        update();

    Animator::animateOpacity(ui->date, SettingsStore::boolForKey(key::dateEnabled) ? 1.0 : 0.0);
    Animator::animateOpacity(ui->subtitle, SettingsStore::boolForKey(key::locationEnabled) ? 1.0 : 0.0);

    const Qt::Alignment alignment =
        (SettingsStore::boolForKey(key::textAlign) ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter;
    ui->date->setAlignment(alignment);
    ui->title->setAlignment(alignment);
    ui->subtitle->setAlignment(alignment);
}

void WXDesktopWindow::resizeAllTexts()
{
    // The face stays; the size follows the line's height less 8 points (Qt's device-independent
    // pixels play the part of points). A line too low for that still gets a 1-point font.
    for (TextLine *line : {ui->title, ui->date, ui->subtitle}) {
        QFont font = line->font();
        font.setPixelSize(std::max(1, line->height() - 8));
        line->setFont(font);
    }
    ui->title->update();
    ui->date->update();
    ui->subtitle->update();
}

QSizeF WXDesktopWindow::windowWillResize(QWidget * /*sender*/, const QSizeF &frameSize)
{
    // The proportion is kept by the resize itself; the texts follow in resizeEvent(), once the lines
    // have their new heights.
    return frameSize;
}

void WXDesktopWindow::didPressColorButton(QObject * /*sender*/)
{
    toggleSettings();
}

void WXDesktopWindow::didPressDateButton(QObject * /*sender*/)
{
    toggleSettings();
}

void WXDesktopWindow::didPressLocationButton(QObject * /*sender*/)
{
    toggleSettings();
}

void WXDesktopWindow::didPressAlignButton(QObject * /*sender*/)
{
    toggleSettings();
    relaunch();
}

void WXDesktopWindow::relaunch()
{
    log(QStringLiteral("application: app relaunching"));
    // The new instance starts once this one has ended, and this one ends in order, so that its frame
    // is saved for the new one. Without a new instance to come, this one stays: the new alignment is
    // already shown.
    if (!startRelaunch()) {
        log(QStringLiteral(" ! ERROR : relaunch failed"));
        return;
    }
    terminate();
}
