// Shows where the keyboard's focus is, on the X display in the given language, and saves a PNG of
// each: the unlocked widget with the focus on a setting button, and the place chooser with the
// focus moved by Down from the search field onto the first place (places from a loopback stand-in
// of the service). scripts/screenshot-panels.sh runs it under Xvfb with a window manager.
//   focus_screenshot <language> <output folder>
#include "Animator.h"
#include "BundleInfo.h"
#include "Localized.h"
#include "LoopbackServer.h"
#include "OfflineWidget.h"
#include "ScreenGrab.h"
#include "WXDesktopWindow.h"
#include "WXDesktopWindowUi.h"
#include "WXPlaceChooser.h"
#include "WXWeather.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {

using screen_grab::save;
using screen_grab::settle;

const QByteArray kPlaces =
    R"({"status":"ok","data":{"places":[)"
    R"({"name":"Berlin","region":"Land Berlin","country":"Germany","lat":52.52,"lon":13.40},)"
    R"({"name":"Bern","region":"Bern","country":"Switzerland","lat":46.95,"lon":7.45},)"
    R"({"name":"Bergen","region":"Vestland","country":"Norway","lat":60.39,"lon":5.32}]}})";

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: focus_screenshot <language> <output folder>\n");
        return 2;
    }
    const QString language = QString::fromLocal8Bit(argv[1]);
    const QDir out(QString::fromLocal8Bit(argv[2]));
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    nimbara::initBundleInfo();
    nimbara::installTranslations(QLocale(language));
    QLocale::setDefault(QLocale(language));
    const auto path = [&](const char *name) {
        return out.filePath(QStringLiteral("focus-%1-%2.png").arg(QString::fromLatin1(name), language));
    };
    bool ok = true;

    WXDesktopWindow widget;
    startOffline(widget, QRectF(40, 40, 680, 172));
    widget.show();
    widget.didPressLockButton(nullptr);
    nimbara::Animator::finishAll();
    widget.activateWindow();
    ok &= QTest::qWaitForWindowActive(&widget);
    // Tab from the window: the focus lands on the first setting button, then the next.
    QTest::keyClick(&widget, Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ok &= save(widget.frameGeometry().adjusted(-10, -10, 10, 10), path("widget"));
    widget.hide();

    LoopbackServer service;
    service.setReply(LoopbackServer::answer(200, kPlaces));
    WXWeather::setHostsForTesting(service.host(), service.host());
    WXPlaceChooser chooser;
    chooser.move(40, 40);
    chooser.showEmpty();
    ok &= QTest::qWaitForWindowActive(&chooser);
    auto *field = chooser.findChild<QLineEdit *>(QStringLiteral("searchField"));
    QTest::keyClicks(field, QStringLiteral("ber"));
    chooser.search();
    ok &= save(chooser.frameGeometry(), path("chooser-field"));
    QTest::keyClick(field, Qt::Key_Down);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    ok &= save(chooser.frameGeometry(), path("chooser-places"));
    return ok ? 0 : 1;
}
