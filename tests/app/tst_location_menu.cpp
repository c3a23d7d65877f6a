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
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace nimbara;

namespace {

const QByteArray kPlacesAnswer =
    R"({"status":"ok","data":{"places":[)"
    R"({"name":"Paris","region":"","country":"France","lat":48.85341,"lon":2.3488},)"
    R"({"name":"Paris","region":"Texas","country":"United States","lat":33.66094,"lon":-95.55551},)"
    R"({"name":"Parma","region":"","country":"Italy","lat":44.79935,"lon":10.32618},)"
    R"({"name":"Qarah","region":"","country":"Syria","lat":34.15,"lon":36.72,"matched":"Parah"}]}})";
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

// Whether a short timer keeps firing while `pending` holds, that is whether the event loop runs while
// a request waits for its answer.
bool timerFiresWhile(const std::function<bool()> &pending)
{
    constexpr int kFires = 5;
    int fired = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] { fired += pending() ? 1 : 0; });
    timer.start();
    return QTest::qWaitFor([&] { return fired >= kFires; }, 1500);
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
    void chooser_typingAndEnterPicksAPlaceAndFetchesItsWeatherAtOnce();
    void chooser_clickPicksAndShortTextAsksNothing();
    void silentService_chooserGoesOnAndANewSearchCancelsTheOld();
    void silentService_approximatePlaceGoesOn();
    void chooser_downAndUpMoveBetweenFieldAndPlaces();

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
    // No test inherits a silent service.
    m_server.setReply(QByteArray());
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

void TestLocationMenu::chooser_typingAndEnterPicksAPlaceAndFetchesItsWeatherAtOnce()
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
    QTRY_COMPARE(results->count(), 4);
    QCOMPARE(m_server.requests().size(), 1);
    const QByteArray request = m_server.requests().last().requestLine;
    QVERIFY2(request.startsWith("GET /api/0.5/places?") && request.contains("&q=par"), request.constData());
    QCOMPARE(results->item(0)->text(), QStringLiteral("Paris, France"));
    QCOMPARE(results->item(1)->text(), QStringLiteral("Paris, Texas, United States"));
    // Found by another name: the row says which.
    QCOMPARE(results->item(3)->text(), QStringLiteral("Qarah (Parah), Syria"));

    m_server.clear();
    m_server.setReply(LoopbackServer::answer(200, kGateAnswer));
    QVERIFY(window.checkTimer->isActive());
    QTest::keyClick(field, Qt::Key_Return);
    QVERIFY(!chooser->isVisible());
    QCOMPARE(setting(key::positionSource), QStringLiteral("fixed:48.85341,2.3488"));
    QCOMPARE(setting(key::positionName), QStringLiteral("Paris"));
    QVERIFY(menus.chosenPlace()->isChecked());
    QCOMPARE(window.ui->title->text(), localized("UPDATING_WEATHER"));

    // No restart, and no wait for the next 15 s tick: the new source's first position runs it now.
    QTRY_COMPARE(window.ui->subtitle->text(), QStringLiteral("PARIS"));
    QVERIFY(window.isUpdated);
    // The tick armed the next one as usual.
    QVERIFY(window.checkTimer->isActive());
    const auto requests = m_server.requests();
    QVERIFY(!requests.isEmpty());
    const QByteArray gate = requests.last().requestLine;
    QVERIFY2(gate.startsWith("GET /api/0.5/gate?") && gate.contains("&v1=48.85341") &&
                 gate.contains("&v2=2.3488"),
             gate.constData());
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
    QTRY_COMPARE(results->count(), 4);
    const QRect row = results->visualItemRect(results->item(1));
    QTest::mouseClick(results->viewport(), Qt::LeftButton, {}, row.center());
    QCOMPARE(setting(key::positionSource), QStringLiteral("fixed:33.66094,-95.55551"));
    QCOMPARE(setting(key::positionName), QStringLiteral("Paris"));

    // Opened again, the chooser starts empty.
    chooser->showEmpty();
    QCOMPARE(field->text(), QString());
    QCOMPARE(results->count(), 0);
}

void TestLocationMenu::silentService_chooserGoesOnAndANewSearchCancelsTheOld()
{
    MainInterface interface;
    WXPlaceChooser *chooser = interface.placeChooser();
    auto *field = chooser->findChild<QLineEdit *>(QStringLiteral("searchField"));
    auto *results = chooser->findChild<QListWidget *>(QStringLiteral("results"));
    auto *status = chooser->findChild<QLabel *>(QStringLiteral("status"));
    QVERIFY(field && results && status);
    chooser->showEmpty();

    // The service takes the search and never answers: the widget goes on meanwhile.
    m_server.setSilent();
    QTest::keyClicks(field, QStringLiteral("pa"));
    chooser->search();
    QVERIFY(timerFiresWhile([&] { return m_server.requests().size() == 1 && status->isHidden(); }));

    // The next search cancels it; only the new one's places show, and no failure.
    m_server.setReply(LoopbackServer::answer(200, kPlacesAnswer));
    QTest::keyClicks(field, QStringLiteral("r"));
    chooser->search();
    QTRY_COMPARE(results->count(), 4);
    QVERIFY(status->isHidden());
    const auto requests = m_server.requests();
    QCOMPARE(requests.size(), 2);
    QVERIFY(requests[0].requestLine.contains("&q=pa&"));
    QVERIFY(requests[1].requestLine.contains("&q=par&"));
}

void TestLocationMenu::silentService_approximatePlaceGoesOn()
{
    MainInterface interface;
    m_server.setSilent();
    interface.menus()->approximateLocation()->trigger();
    auto *source = qobject_cast<NetworkLocationSource *>(interface.window()->locationManager);
    QVERIFY(source);
    // Asked and waiting (no failure yet, so no retry armed) while the event loop runs.
    QVERIFY(timerFiresWhile(
        [&] { return m_server.requests().size() == 1 && !source->retryTimer()->isActive(); }));
    QCOMPARE(interface.window()->ui->title->text(), localized("UPDATING_WEATHER"));
}

void TestLocationMenu::chooser_downAndUpMoveBetweenFieldAndPlaces()
{
    MainInterface interface;
    WXPlaceChooser *chooser = interface.placeChooser();
    auto *field = chooser->findChild<QLineEdit *>(QStringLiteral("searchField"));
    auto *results = chooser->findChild<QListWidget *>(QStringLiteral("results"));
    chooser->showEmpty();
    QVERIFY(QTest::qWaitForWindowActive(chooser));

    // Nothing to move to yet: Down stays in the field.
    QTest::keyClick(field, Qt::Key_Down);
    QVERIFY(field->hasFocus());

    m_server.setReply(LoopbackServer::answer(200, kPlacesAnswer));
    QTest::keyClicks(field, QStringLiteral("par"));
    chooser->search();
    QTRY_COMPARE(results->count(), 4);
    QTest::keyClick(field, Qt::Key_Down);
    QVERIFY(results->hasFocus());
    QCOMPARE(results->currentRow(), 0);
    QTest::keyClick(results, Qt::Key_Down);
    QCOMPARE(results->currentRow(), 1);
    QTest::keyClick(results, Qt::Key_Up);
    QCOMPARE(results->currentRow(), 0);
    // Up from the first place goes back to the field, the text kept for more typing.
    QTest::keyClick(results, Qt::Key_Up);
    QVERIFY(field->hasFocus());
    QCOMPARE(field->text(), QStringLiteral("par"));

    // Down again comes back to where the list was; Enter there picks that place.
    QTest::keyClick(field, Qt::Key_Down);
    QTest::keyClick(results, Qt::Key_Down);
    QCOMPARE(results->currentRow(), 1);
    QTest::keyClick(results, Qt::Key_Return);
    QVERIFY(!chooser->isVisible());
    QCOMPARE(setting(key::positionSource), QStringLiteral("fixed:33.66094,-95.55551"));
}

QTEST_MAIN(TestLocationMenu)
#include "tst_location_menu.moc"
