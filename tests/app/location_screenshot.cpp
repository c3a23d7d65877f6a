// Shows the Location submenu, the place chooser with the places for "ber" and the widget after
// picking the first, then the chooser for "mosk" and "par", on the X display in the given language, against
// the real weather service on 127.0.0.1 (its weather provider a stand-in), and saves a PNG of each.
// scripts/screenshot-location.sh runs it under Xvfb with a window manager, with LANGUAGE set, which names the
// language the service answers in.
//   location_screenshot <language> <output folder>
#include "BundleInfo.h"
#include "Localized.h"
#include "LoopbackServer.h"
#include "MainInterface.h"
#include "Menus.h"
#include "ScreenGrab.h"
#include "SettingsStore.h"
#include "WXAppDelegate.h"
#include "WXDesktopWindow.h"
#include "WXPlaceChooser.h"
#include "WXWeather.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <string_view>

using namespace nimbara;

namespace {

using screen_grab::save;
using screen_grab::settle;

// The service, started as its user starts it, once its place search is ready: "127.0.0.1:PORT".
QString startService(QProcess &service, const QTemporaryDir &dir, const QString &providerUrl)
{
    service.setProgram(QStringLiteral(NIMBARA_WEATHERD));
    service.setArguments({QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"),
                          dir.filePath(QStringLiteral("weatherd.sqlite")), QStringLiteral("--provider-url"),
                          providerUrl, QStringLiteral("--second-provider-url"), QString()});
    service.setReadChannel(QProcess::StandardError);
    service.start();
    static const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    QString output;
    QString port;
    while (service.waitForReadyRead(120000)) {
        output += QString::fromUtf8(service.readAllStandardError());
        if (auto match = listening.match(output); match.hasMatch())
            port = match.captured(1);
        if (!port.isEmpty() && output.contains(QLatin1String("place search ready")))
            return QStringLiteral("127.0.0.1:") + port;
    }
    std::fprintf(stderr, "the service did not get ready: %s\n", qPrintable(output));
    return {};
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: location_screenshot <language> <output folder>\n");
        return 2;
    }
    const QString language = QString::fromLocal8Bit(argv[1]);
    const QDir out(QString::fromLocal8Bit(argv[2]));
    const auto path = [&](const char *name) {
        return out.filePath(QStringLiteral("%1-%2.png").arg(QString::fromLatin1(name), language));
    };
    initBundleInfo();
    installTranslations(QLocale(language));

    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    for (const QString &flag :
         {key::initialized, key::whiteColor, key::dateEnabled, key::locationEnabled, key::celsius})
        SettingsStore::setBool(flag, true);

    LoopbackServer provider;
    provider.setReply(LoopbackServer::answer(
        200,
        R"({"latitude":52.52,"longitude":13.41,"current_units":{"temperature_2m":"°C","weather_code":"wmo code"},)"
        R"("current":{"time":"2024-05-01T12:00","interval":900,"temperature_2m":17.2,"weather_code":2}})"));
    QProcess service;
    const QString host = startService(service, dir, QStringLiteral("http://") + provider.host());
    if (host.isEmpty())
        return 1;
    WXWeather::setHostsForTesting(host, host);

    bool ok = true;
    MainInterface interface;
    WXDesktopWindow &window = *interface.window();
    Menus &menus = *interface.menus();
    // A later run: the launch handler places the widget, sizes its texts and fades it in.
    interface.delegate()->applicationDidFinishLaunching();
    window.setFrame(QRectF(QPointF(40, 40), QSizeF(window.interfaceFrameSize())), true);
    window.resizeAllTexts();
    settle();

    // The menu as a right click opens it, its Location submenu open.
    menus.menu()->popup(window.mapToGlobal(QPoint(240, 120)));
    settle();
    menus.menu()->setActiveAction(menus.locationMenu()->menuAction());
    QTest::keyClick(menus.menu(), Qt::Key_Right);
    settle();
    const QRect menuArea =
        menus.menu()->geometry().united(menus.locationMenu()->geometry()).adjusted(-8, -8, 8, 8);
    ok &= save(menuArea, path("location-menu"));
    menus.locationMenu()->hide();
    menus.menu()->hide();

    // Choose a place…, "ber" typed.
    WXPlaceChooser *chooser = interface.placeChooser();
    menus.choosePlace()->trigger();
    chooser->move(560, 40);
    auto *field = chooser->findChild<QLineEdit *>(QStringLiteral("searchField"));
    auto *results = chooser->findChild<QListWidget *>(QStringLiteral("results"));
    QTest::keyClicks(field, QStringLiteral("ber"));
    chooser->search();
    ok &= QTest::qWaitFor([results] { return results->count() > 0; }, 10000);
    ok &= save(chooser->frameGeometry(), path("location-chooser-ber"));

    // The first place picked: its first position runs the check tick at once, which fetches its weather.
    QTest::keyClick(field, Qt::Key_Return);
    ok &= QTest::qWaitFor([&window] { return window.isUpdated; }, 10000);
    ok &= save(window.frameGeometry().adjusted(-20, -20, 20, 20), path("location-widget-berlin"));
    std::printf(
        "place line: %s\n",
        qPrintable(window.findChild<QWidget *>(QStringLiteral("subtitle"))->property("text").toString()));

    // The chooser again for texts that match many names: the places people mean come first.
    for (const char *typed : {"mosk", "par"}) {
        menus.choosePlace()->trigger();
        chooser->move(560, 40);
        QTest::keyClicks(field, QString::fromLatin1(typed));
        chooser->search();
        ok &= QTest::qWaitFor([results] { return results->count() > 0; }, 10000);
        settle();
        ok &=
            save(chooser->frameGeometry(),
                 path(typed == std::string_view("mosk") ? "location-chooser-mosk" : "location-chooser-par"));
        chooser->hide();
    }

    service.terminate();
    service.waitForFinished(5000);
    return ok ? 0 : 1;
}
