// The Location submenu and the place chooser, offscreen, against a loopback service: the radio state
// after each choice, typing a name and picking a place, and the next gate request asking for it.

#include "Localized.h"
#include "LoopbackServer.h"
#include "MainInterface.h"
#include "Menus.h"
#include "NetworkLocationSource.h"
#include "SettingsStore.h"
#include "WXDesktopWindow.h"
#include "WXDesktopWindowUi.h"
#include "WXPlaceChooser.h"
#include "WXWeather.h"

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace nimbara;

namespace {

const QByteArray kPlacesAnswer =
    R"({"status":"ok","data":{"places":[)"
    R"({"name":"Paris","region":"","country":"France","lat":48.85341,"lon":2.3488},)"
    R"({"name":"Paris","region":"Texas","country":"United States","lat":33.66094,"lon":-95.55551},)"
    R"({"name":"Parma","region":"","country":"Italy","lat":44.79935,"lon":10.32618}]}})";
const QByteArray kGateAnswer =
    R"({"status":"ok","data":{"temp":64,"celsius":18,"condition":"clear","location":"Paris"}})";

QString setting(const QString &key)
{
    return SettingsStore::stringForKey(key);
}

// The texts of the location items that are shown, the checked one marked with "*".
QStringList shownItems(const Menus &menus)
{
    QStringList items;
    for (QAction *action : menus.locationMenu()->actions()) {
        if (action->isSeparator() || !action->isVisible())
            continue;
        items.append((action->isChecked() ? QStringLiteral("*") : QString()) + action->text());
    }
    return items;
}

} // namespace

class TestLocationMenu : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void submenu_checksTheSourceInUseAfterEachChoice();
    void approximate_unknownPlaceShowsItsTexts();
    void chooser_typingAndEnterPicksAPlaceForTheNextGateRequest();
    void chooser_clickPicksAndShortTextAsksNothing();

private:
    QTemporaryDir m_home;
    LoopbackServer m_server;
};

void TestLocationMenu::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_home.path());
    WXWeather::setHostsForTesting(m_server.host(), m_server.host());
    WXWeather::setTimeoutForTesting(2000);
}

void TestLocationMenu::init()
{
    QSettings(QStringLiteral("Nimbara"), QStringLiteral("Nimbara")).clear();
    m_server.clear();
}

void TestLocationMenu::submenu_checksTheSourceInUseAfterEachChoice()
{
    MainInterface interface;
    Menus &menus = *interface.menus();
    QVERIFY(menus.menu()->actions().contains(menus.locationMenu()->menuAction()));
    QCOMPARE(menus.locationMenu()->title(), localized("LOCATION_MENU"));
    const QString automatic = localized("LOCATION_AUTOMATIC_MENU");
    const QString approximate = localized("LOCATION_APPROXIMATE_MENU");
    const QString choose = localized("LOCATION_CHOOSE_MENU");
    QCOMPARE(shownItems(menus), (QStringList{u'*' + automatic, approximate, choose}));

    m_server.setReply(LoopbackServer::answer(200, R"({"status":"error","error":3})"));
    menus.approximateLocation()->trigger();
    QCOMPARE(setting(key::positionSource), QStringLiteral("network"));
    QVERIFY(qobject_cast<NetworkLocationSource *>(interface.window()->locationManager));
    QCOMPARE(shownItems(menus), (QStringList{automatic, u'*' + approximate, choose}));

    emit interface.placeChooser()->placeChosen(QStringLiteral("Paris"), 48.85341, 2.3488);
    QCOMPARE(setting(key::positionSource), QStringLiteral("fixed:48.85341,2.3488"));
    QCOMPARE(setting(key::positionName), QStringLiteral("Paris"));
    QCOMPARE(shownItems(menus), (QStringList{automatic, approximate, QStringLiteral("*Paris"), choose}));

    menus.automaticLocation()->trigger();
    QVERIFY(!QSettings(QStringLiteral("Nimbara"), QStringLiteral("Nimbara")).contains(key::positionSource));
    QVERIFY(!QSettings(QStringLiteral("Nimbara"), QStringLiteral("Nimbara")).contains(key::positionName));
    QCOMPARE(shownItems(menus), (QStringList{u'*' + automatic, approximate, choose}));

    // A hand-written source shows as Custom the next time the menu opens.
    SettingsStore::setString(key::positionSource, QStringLiteral("nmea:/dev/ttyACM0"));
    emit menus.locationMenu()->aboutToShow();
    const QString custom = localized("LOCATION_CUSTOM_MENU");
    QCOMPARE(shownItems(menus), (QStringList{automatic, approximate, u'*' + custom, choose}));
    QVERIFY(!menus.customLocation()->isEnabled());
    SettingsStore::setString(key::positionSource, QStringLiteral("fixed:1,2"));
    emit menus.locationMenu()->aboutToShow();
    QCOMPARE(shownItems(menus), (QStringList{automatic, approximate, u'*' + custom, choose}));
}

void TestLocationMenu::approximate_unknownPlaceShowsItsTexts()
{
    MainInterface interface;
    WXDesktopWindow &window = *interface.window();
    Menus &menus = *interface.menus();
    m_server.setReply(LoopbackServer::answer(200, R"({"status":"error","error":3})"));
    menus.approximateLocation()->trigger();
    QTRY_COMPARE(window.ui->title->text(), localized("LOCATION_UNKNOWN_TITLE"));
    QCOMPARE(window.ui->subtitle->text(), localized("LOCATION_UNKNOWN_SUBTITLE"));
    QVERIFY(m_server.requests().last().requestLine.startsWith("GET /api/0.5/locate?"));
    // The menu keeps the choice and says that the service cannot tell.
    emit menus.locationMenu()->aboutToShow();
    QVERIFY(menus.approximateLocation()->isChecked());
    QCOMPARE(menus.approximateLocation()->text(), localized("LOCATION_APPROXIMATE_UNKNOWN_MENU"));
    QVERIFY(!window.cachedLocation);

    // Asked again later, the service knows the place: its position arrives and the weather follows.
    m_server.setReply(LoopbackServer::answer(
        200,
        R"({"status":"ok","data":{"name":"Berlin","region":"","country":"Germany","lat":52.52,"lon":13.41}})"));
    window.changeLocationSource();
    QTRY_VERIFY(window.cachedLocation.has_value());
    QCOMPARE(window.cachedLocation->latitude(), 52.52);
    emit menus.locationMenu()->aboutToShow();
    QCOMPARE(menus.approximateLocation()->text(), localized("LOCATION_APPROXIMATE_MENU"));
}

void TestLocationMenu::chooser_typingAndEnterPicksAPlaceForTheNextGateRequest()
{
    MainInterface interface;
    WXDesktopWindow &window = *interface.window();
    Menus &menus = *interface.menus();
    WXPlaceChooser *chooser = interface.placeChooser();
    auto *field = chooser->findChild<QLineEdit *>(QStringLiteral("searchField"));
    auto *results = chooser->findChild<QListWidget *>(QStringLiteral("results"));
    QVERIFY(field && results);

    menus.choosePlace()->trigger();
    QVERIFY(chooser->isVisible());
    m_server.setReply(LoopbackServer::answer(200, kPlacesAnswer));
    QTest::keyClicks(field, QStringLiteral("par"));
    // Typing waits for a pause before it asks; the test ends the pause at once.
    QVERIFY(chooser->searchTimer()->isActive());
    QCOMPARE(chooser->searchTimer()->interval(), WXPlaceChooser::kDebounceMilliseconds);
    QVERIFY(m_server.requests().isEmpty());
    chooser->search();
    QCOMPARE(m_server.requests().size(), 1);
    const QByteArray request = m_server.requests().last().requestLine;
    QVERIFY2(request.startsWith("GET /api/0.5/places?") && request.contains("&q=par"), request.constData());
    QCOMPARE(results->count(), 3);
    QCOMPARE(results->item(0)->text(), QStringLiteral("Paris, France"));
    QCOMPARE(results->item(1)->text(), QStringLiteral("Paris, Texas, United States"));

    QTest::keyClick(field, Qt::Key_Return);
    QVERIFY(!chooser->isVisible());
    QCOMPARE(setting(key::positionSource), QStringLiteral("fixed:48.85341,2.3488"));
    QCOMPARE(setting(key::positionName), QStringLiteral("Paris"));
    QVERIFY(menus.chosenPlace()->isChecked());
    QCOMPARE(window.ui->title->text(), localized("UPDATING_WEATHER"));

    // No restart: the new source's position arrives, and the next connected tick fetches for it.
    QTRY_VERIFY(window.cachedLocation.has_value());
    QCOMPARE(window.isUpdated, false);
    m_server.clear();
    m_server.setReply(LoopbackServer::answer(200, kGateAnswer));
    window.checkTick();
    const auto requests = m_server.requests();
    QVERIFY(!requests.isEmpty());
    const QByteArray gate = requests.last().requestLine;
    QVERIFY2(gate.startsWith("GET /api/0.5/gate?") && gate.contains("&v1=48.85341") &&
                 gate.contains("&v2=2.3488"),
             gate.constData());
    QCOMPARE(window.ui->subtitle->text(), QStringLiteral("PARIS"));
}

void TestLocationMenu::chooser_clickPicksAndShortTextAsksNothing()
{
    MainInterface interface;
    WXPlaceChooser *chooser = interface.placeChooser();
    auto *field = chooser->findChild<QLineEdit *>(QStringLiteral("searchField"));
    auto *results = chooser->findChild<QListWidget *>(QStringLiteral("results"));
    chooser->showEmpty();

    QTest::keyClicks(field, QStringLiteral("p"));
    chooser->search();
    QVERIFY(m_server.requests().isEmpty());
    QCOMPARE(results->count(), 0);

    m_server.setReply(LoopbackServer::answer(200, kPlacesAnswer));
    QTest::keyClicks(field, QStringLiteral("ar"));
    chooser->search();
    QCOMPARE(results->count(), 3);
    const QRect row = results->visualItemRect(results->item(1));
    QTest::mouseClick(results->viewport(), Qt::LeftButton, {}, row.center());
    QCOMPARE(setting(key::positionSource), QStringLiteral("fixed:33.66094,-95.55551"));
    QCOMPARE(setting(key::positionName), QStringLiteral("Paris"));

    // Opened again, the chooser starts empty.
    chooser->showEmpty();
    QCOMPARE(field->text(), QString());
    QCOMPARE(results->count(), 0);
}

QTEST_MAIN(TestLocationMenu)
#include "tst_location_menu.moc"
