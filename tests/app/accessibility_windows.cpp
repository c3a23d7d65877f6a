// Not a test by itself: shows the widget (locked, location services off) and every panel, the
// Forecast panel with a London day, and prints "ready" once they are on screen, so that
// accessibility_tree.py can read them as a screen reader does. Ends when its input closes.

#include "BundleInfo.h"
#include "ForecastFixture.h"
#include "Localized.h"
#include "OfflineWidget.h"
#include "WXAboutWindow.h"
#include "WXDesktopWindow.h"
#include "WXFeedbackWindow.h"
#include "WXForecastWindow.h"
#include "WXPlaceChooser.h"
#include "WXTourWindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QSettings>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nimbara-accessibility"));
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    nimbara::initBundleInfo();
    nimbara::installTranslations(QLocale(QStringLiteral("en_US")));
    QLocale::setDefault(QLocale(QStringLiteral("en_US")));

    WXDesktopWindow widget;
    startOffline(widget, QRectF(20, 20, 680, 172));
    WXTourWindow tour;
    WXAboutWindow about;
    WXFeedbackWindow feedback;
    WXForecastWindow forecast;
    forecast.setClock(
        [] { return QDateTime::fromString(QStringLiteral("2024-05-01T12:40+01:00"), Qt::ISODate); });
    forecast.setWeather(forecast_fixture::data(), true);
    WXPlaceChooser chooser;
    for (QWidget *window : std::initializer_list<QWidget *>{&widget, &tour, &about, &feedback, &forecast})
        window->show();
    chooser.showEmpty();
    // Some text in the field shows its clear button.
    chooser.findChild<QLineEdit *>(QStringLiteral("searchField"))->setText(QStringLiteral("Ber"));

    QTimer::singleShot(0, [] {
        std::puts("ready");
        std::fflush(stdout);
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        if (::read(STDIN_FILENO, &byte, 1) <= 0)
            app.quit();
    });
    return app.exec();
}
