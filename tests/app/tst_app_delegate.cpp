#include "WXAppDelegate.h"

#include "Animator.h"
#include "Localized.h"
#include "MainInterface.h"
#include "Menus.h"
#include "SettingsStore.h"
#include "SingleInstance.h"
#include "TerminationSignals.h"
#include "WXDesktopWindow.h"
#include "WXDesktopWindowUi.h"
#include "WXForecastWindow.h"
#include "WXTourWindow.h"

#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstring>
#include <unistd.h>

using namespace nimbara;

namespace {
// Counts the lock presses that reach the widget.
class CountingWindow : public WXDesktopWindow
{
public:
    void didPressLockButton(QObject *sender) override
    {
        ++presses;
        lastSender = sender;
        WXDesktopWindow::didPressLockButton(sender);
    }
    int presses = 0;
    QObject *lastSender = nullptr;
};

const QStringList kTenKeys = {key::initialized, key::originX,         key::originY,    key::sizeWidth,
                              key::sizeHeight,  key::locationEnabled, key::whiteColor, key::textAlign,
                              key::dateEnabled, key::celsius};

void writeFrame(const QRectF &frame)
{
    SettingsStore::setFloat(key::originX, static_cast<float>(frame.x()));
    SettingsStore::setFloat(key::originY, static_cast<float>(frame.y()));
    SettingsStore::setFloat(key::sizeWidth, static_cast<float>(frame.width()));
    SettingsStore::setFloat(key::sizeHeight, static_cast<float>(frame.height()));
}

bool sameFloat(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}
} // namespace

class TestAppDelegate : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void firstLaunch_emptyStore();
    void laterLaunch_restoresSavedFrame_data();
    void laterLaunch_restoresSavedFrame();
    void initializedFalse_isFirstRunAgain();
    void restoredFrame_keptVisible_data();
    void restoredFrame_keptVisible();
    void reopen_throughLocalSocket_pressesLockOnce();
    void mainInterface_menuOffersPanelsTourAndQuit();
    void forecast_builtOnFirstUseAndFollowsTheUnitsButton();
    void tray_tellsTheWeatherAndOpensTheForecast();
    void tour_notShownOnSecondLaunch_data();
    void tour_notShownOnSecondLaunch();
    // Runs the event loop to its end: last.
    void termination_signalSavesFrame();

private:
    void launch();
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CountingWindow> m_window;
    std::unique_ptr<QWidget> m_tour;
    std::unique_ptr<WXAppDelegate> m_delegate;
};

void TestAppDelegate::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir->path());
    installTranslations(QLocale(QStringLiteral("en_US")));
    m_window = std::make_unique<CountingWindow>();
    m_tour = std::make_unique<QWidget>();
    m_delegate = std::make_unique<WXAppDelegate>();
    m_delegate->window = m_window.get();
    m_delegate->tourWindow = m_tour.get();
    m_window->awakeFromNib();
}

void TestAppDelegate::cleanup()
{
    Animator::finishAll();
    m_delegate.reset();
    m_tour.reset();
    m_window.reset();
}

void TestAppDelegate::launch()
{
    m_delegate->applicationDidFinishLaunching();
}

void TestAppDelegate::firstLaunch_emptyStore()
{
    const QRectF designed = m_window->frame();
    QCOMPARE(designed.size(), QSizeF(m_window->interfaceFrameSize()));
    launch();

    QSettings store(QStringLiteral("Nimbara"), QStringLiteral("Nimbara"));
    QStringList keys = store.allKeys();
    keys.sort();
    QStringList expected = kTenKeys;
    expected.sort();
    QCOMPARE(keys, expected);
    for (const QString &name : {key::initialized, key::locationEnabled, key::whiteColor, key::textAlign,
                                key::dateEnabled, key::celsius})
        QVERIFY2(SettingsStore::boolForKey(name), qPrintable(name));
    QCOMPARE(SettingsStore::floatForKey(key::originX), 100.0f);
    QCOMPARE(SettingsStore::floatForKey(key::originY), 100.0f);
    QCOMPARE(SettingsStore::floatForKey(key::sizeWidth), 680.0f);
    QCOMPARE(SettingsStore::floatForKey(key::sizeHeight), 172.0f);

    // The first-run frame is written, not applied.
    QCOMPARE(m_window->frame(), designed);
    QVERIFY(m_tour->isVisible());
    QVERIFY(m_window->isVisible());
    // Faded in from fully transparent.
    QVERIFY(Animator::isAnimating(m_window.get()));
    QCOMPARE(Animator::opacity(m_window.get()), 0.0);
    Animator::finishAll();
    QCOMPARE(Animator::opacity(m_window.get()), 1.0);

    // The first look matches the first-run settings: white text, clock and place shown, left-aligned.
    const Ui::WXDesktopWindow &ui = *m_window->ui;
    QCOMPARE(ui.title->textColor(), QColor(Qt::white));
    QCOMPARE(ui.box->fillColor(), QColor(Qt::black));
    QCOMPARE(Animator::opacity(ui.date), 1.0);
    QCOMPARE(Animator::opacity(ui.subtitle), 1.0);
    QCOMPARE(ui.title->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    // The colour button now turns the text black, as the store says.
    ui.colorButton->click();
    QCOMPARE(ui.title->textColor(), QColor(Qt::black));
    // Texts sized for the lines as laid out.
    QCOMPARE(ui.title->font().pixelSize(), ui.title->height() - 8);
}

void TestAppDelegate::laterLaunch_restoresSavedFrame_data()
{
    QTest::addColumn<QRectF>("saved");
    QTest::newRow("moved") << QRectF(123, 45, 700, 178);
    QTest::newRow("larger") << QRectF(0, 0, 1440, 320);
    QTest::newRow("first-run frame") << QRectF(100, 100, 680, 172);
}

void TestAppDelegate::laterLaunch_restoresSavedFrame()
{
    QFETCH(QRectF, saved);
    SettingsStore::setBool(key::initialized, true);
    SettingsStore::setBool(key::whiteColor, false);
    writeFrame(saved);
    m_tour->show();
    launch();

    QVERIFY(!m_tour->isVisible());
    QCOMPARE(m_window->frame(), saved);
    QCOMPARE(m_window->ui->title->font().pixelSize(), m_window->ui->title->height() - 8);
    // A later run writes nothing at launch.
    QCOMPARE(SettingsStore::boolForKey(key::whiteColor), false);

    // Saved again at termination, bit for bit, whatever frame a tiling window manager imposed meanwhile.
    m_window->setGeometry(2, 25, 1596, 973);
    m_delegate->applicationWillTerminate();
    QVERIFY(sameFloat(SettingsStore::floatForKey(key::originX), static_cast<float>(saved.x())));
    QVERIFY(sameFloat(SettingsStore::floatForKey(key::originY), static_cast<float>(saved.y())));
    QVERIFY(sameFloat(SettingsStore::floatForKey(key::sizeWidth), static_cast<float>(saved.width())));
    QVERIFY(sameFloat(SettingsStore::floatForKey(key::sizeHeight), static_cast<float>(saved.height())));
}

void TestAppDelegate::initializedFalse_isFirstRunAgain()
{
    SettingsStore::setBool(key::initialized, false);
    SettingsStore::setBool(key::whiteColor, false);
    SettingsStore::setBool(key::dateEnabled, false);
    SettingsStore::setBool(key::celsius, false);
    writeFrame(QRectF(300, 200, 500, 100));
    const QRectF designed = m_window->frame();
    launch();

    QVERIFY(m_tour->isVisible());
    QCOMPARE(m_window->frame(), designed);
    QVERIFY(SettingsStore::boolForKey(key::initialized));
    QVERIFY(SettingsStore::boolForKey(key::whiteColor));
    QVERIFY(SettingsStore::boolForKey(key::dateEnabled));
    QVERIFY(SettingsStore::boolForKey(key::celsius));
    QCOMPARE(SettingsStore::floatForKey(key::originX), 100.0f);
    QCOMPARE(SettingsStore::floatForKey(key::sizeHeight), 172.0f);
}

void TestAppDelegate::restoredFrame_keptVisible_data()
{
    QTest::addColumn<bool>("writeKeys");
    QTest::addColumn<QRectF>("saved");
    QTest::addColumn<QRectF>("expected"); // an empty size stands for the interface's
    QTest::newRow("zero width") << true << QRectF(50, 60, 0, 150) << QRectF(50, 60, -1, 150);
    QTest::newRow("negative height") << true << QRectF(50, 60, 640, -10) << QRectF(50, 60, 640, -1);
    QTest::newRow("frame keys missing") << false << QRectF() << QRectF(0, 0, -1, -1);
    QTest::newRow("on a monitor that is gone, right")
        << true << QRectF(5000, 300, 600, 150) << QRectF(-2, 300, 600, 150);
    QTest::newRow("on a monitor that is gone, above")
        << true << QRectF(40, -2000, 600, 150) << QRectF(40, -2, 600, 150);
    QTest::newRow("partly on screen stays")
        << true << QRectF(-300, 20, 600, 150) << QRectF(-300, 20, 600, 150);
}

void TestAppDelegate::restoredFrame_keptVisible()
{
    QFETCH(bool, writeKeys);
    QFETCH(QRectF, saved);
    QFETCH(QRectF, expected);
    SettingsStore::setBool(key::initialized, true);
    if (writeKeys)
        writeFrame(saved);
    launch();

    const QSizeF designed(m_window->interfaceFrameSize());
    const QRectF area = QGuiApplication::primaryScreen()->availableGeometry();
    if (expected.width() < 0)
        expected.setWidth(designed.width());
    if (expected.height() < 0)
        expected.setHeight(designed.height());
    // -2 stands for "against the far edge of the primary screen".
    if (expected.x() == -2)
        expected.moveLeft(area.left() + area.width() - expected.width());
    if (expected.y() == -2)
        expected.moveTop(area.top());
    QCOMPARE(m_window->frame(), expected);
    QVERIFY(QRectF(area).intersects(m_window->frame()));
}

void TestAppDelegate::reopen_throughLocalSocket_pressesLockOnce()
{
    const QString name = QStringLiteral("nimbara-test-%1").arg(getpid());
    SingleInstance running(name);
    QCOMPARE(running.start(), SingleInstance::Role::Primary);
    m_delegate->connectApplication(&running);
    launch();
    QCOMPARE(m_window->presses, 0);

    QVERIFY(SingleInstance::requestReopen(name));
    QTRY_COMPARE(m_window->presses, 1);
    QCOMPARE(m_window->lastSender, m_delegate.get());

    // A second instance finds the first and asks it to re-open instead of running.
    SingleInstance second(name);
    QCOMPARE(second.start(), SingleInstance::Role::Secondary);
    QTRY_COMPARE(m_window->presses, 2);
    QTest::qWait(50);
    QCOMPARE(m_window->presses, 2);
    QCOMPARE(m_delegate->applicationShouldHandleReopen(qApp, true), false);
}

void TestAppDelegate::mainInterface_menuOffersPanelsTourAndQuit()
{
    MainInterface interface;
    interface.delegate()->applicationDidFinishLaunching();
    Menus &menus = *interface.menus();
    QList<QAction *> actions = menus.menu()->actions();
    actions.removeIf([](QAction *action) { return action->isSeparator(); });
    QCOMPARE(actions,
             (QList<QAction *>{menus.forecast(), menus.about(), menus.feedback(), menus.quickTour(),
                               menus.locationMenu()->menuAction(), menus.startAtLogin(), menus.quit()}));
    QCOMPARE(menus.forecast()->text(), localized("FORECAST_MENU"));
    QCOMPARE(menus.about()->text(), localized("ABOUT_MENU"));
    QCOMPARE(menus.feedback()->text(), localized("FEEDBACK_MENU"));
    QCOMPARE(menus.quickTour()->text(), localized("TOUR_WINDOW_TITLE"));
    QCOMPARE(menus.locationMenu()->title(), localized("LOCATION_MENU"));
    QCOMPARE(menus.startAtLogin()->text(), localized("START_AT_LOGIN"));
    QCOMPARE(menus.quit()->text(), localized("QUIT_MENU"));
    QCOMPARE(menus.trayIcon()->contextMenu(), menus.menu());
    // The tray gets the drawn sizes, each read from its PNG.
    QCOMPARE(menus.trayIcon()->icon().availableSizes(),
             (QList<QSize>{QSize(22, 22), QSize(32, 32), QSize(48, 48), QSize(64, 64)}));
    QCOMPARE(interface.window()->contextMenuPolicy(), Qt::CustomContextMenu);

    // Each item shows its window, again after the window was closed.
    for (int round = 0; round < 2; ++round) {
        QVERIFY(!interface.aboutWindow()->isVisible());
        menus.about()->trigger();
        QVERIFY(interface.aboutWindow()->isVisible());
        interface.aboutWindow()->close();

        QVERIFY(!interface.feedbackWindow()->isVisible());
        menus.feedback()->trigger();
        QVERIFY(interface.feedbackWindow()->isVisible());
        interface.feedbackWindow()->close();
    }

    // The quick tour starts again at step 1, wherever it was left.
    auto tour = qobject_cast<WXTourWindow *>(interface.tourWindow());
    QVERIFY(tour);
    tour->nextButtonStep1->click();
    tour->finishButtonStep2->click();
    QVERIFY(!tour->isVisible());
    menus.quickTour()->trigger();
    QVERIFY(tour->isVisible());
    QCOMPARE(tour->contentView(), tour->step1.data());
}

void TestAppDelegate::forecast_builtOnFirstUseAndFollowsTheUnitsButton()
{
    MainInterface interface;
    interface.delegate()->applicationDidFinishLaunching();
    Menus &menus = *interface.menus();
    WXDesktopWindow &window = *interface.window();
    window.shownData =
        QVariantMap{{QStringLiteral("location"), QStringLiteral("London")},
                    {QStringLiteral("today"),
                     QVariantMap{{QStringLiteral("high"),
                                  QVariantMap{{QStringLiteral("celsius"), 21}, {QStringLiteral("temp"), 70}}},
                                 {QStringLiteral("low"), QVariantMap{{QStringLiteral("celsius"), 12},
                                                                     {QStringLiteral("temp"), 54}}}}}};
    window.data = QVariantMap{{QStringLiteral("celsius"), 15}, {QStringLiteral("temp"), 59}};
    // Nothing of the panel exists until it is first asked for, also when the weather changes.
    emit window.weatherDidChange();
    QVERIFY(!menus.forecastWindow());

    SettingsStore::setBool(key::celsius, true);
    menus.forecast()->trigger();
    QVERIFY(menus.forecastWindow());
    QVERIFY(menus.forecastWindow()->isVisible());
    QCOMPARE(menus.forecastWindow()->placeText(), QStringLiteral("London"));
    QCOMPARE(menus.forecastWindow()->todayText(),
             localized("TODAY_HIGH_LOW").arg(QStringLiteral("21°"), QStringLiteral("12°")));

    // The units button turns the setting and re-renders the widget: the open panel follows at once.
    SettingsStore::setBool(key::celsius, false);
    window.didPressReloadButton(window.ui->reloadButton);
    QCOMPARE(menus.forecastWindow()->todayText(),
             localized("TODAY_HIGH_LOW").arg(QStringLiteral("70°"), QStringLiteral("54°")));

    // Closing hides it; the next opening shows the same panel again.
    WXForecastWindow *panel = menus.forecastWindow();
    panel->close();
    QVERIFY(!panel->isVisible());
    menus.forecast()->trigger();
    QCOMPARE(menus.forecastWindow(), panel);
    QVERIFY(panel->isVisible());
}

void TestAppDelegate::tray_tellsTheWeatherAndOpensTheForecast()
{
    MainInterface interface;
    interface.delegate()->applicationDidFinishLaunching();
    Menus &menus = *interface.menus();
    WXDesktopWindow &window = *interface.window();
    QSystemTrayIcon *tray = menus.trayIcon();
    QCOMPARE(tray->toolTip(), QStringLiteral("Nimbara"));

    // Weather shown: the tray has the temperature on the condition's icon, drawn at each size, and
    // the two lines as its tooltip.
    window.shownData = QVariantMap{{QStringLiteral("condition"), QStringLiteral("rain")},
                                   {QStringLiteral("location"), QStringLiteral("London")},
                                   {QStringLiteral("celsius"), 18},
                                   {QStringLiteral("temp"), 64}};
    window.ui->title->setText(QStringLiteral("18°, RAIN"));
    window.ui->subtitle->setText(QStringLiteral("LONDON"));
    window.weatherShown = true;
    emit window.weatherDidChange();
    QCOMPARE(tray->toolTip(), QStringLiteral("18°, RAIN\nLONDON"));
    QCOMPARE(tray->icon().availableSizes(),
             (QList<QSize>{QSize(16, 16), QSize(22, 22), QSize(24, 24), QSize(32, 32), QSize(48, 48)}));

    // A left click opens the Forecast panel and the next closes it; the menu's click does neither.
    emit tray->activated(QSystemTrayIcon::Trigger);
    QVERIFY(menus.forecastWindow());
    QVERIFY(menus.forecastWindow()->isVisible());
    emit tray->activated(QSystemTrayIcon::Trigger);
    QVERIFY(!menus.forecastWindow()->isVisible());
    emit tray->activated(QSystemTrayIcon::Context);
    QVERIFY(!menus.forecastWindow()->isVisible());
    QCOMPARE(tray->contextMenu(), menus.menu());

    // Two check ticks in a row without the service: the tray's tooltip and the panel say since when.
    const QDateTime since = QDateTime::fromString(QStringLiteral("2024-05-01T14:05+01:00"), Qt::ISODate);
    window.now = [since] {
        return since;
    };
    window.isConnected = [] {
        return false;
    };
    window.checkTick();
    window.checkTick();
    const QString unreachable =
        localized("SERVICE_UNREACHABLE").arg(since.toLocalTime().toString(QStringLiteral("HH:mm")));
    QCOMPARE(tray->toolTip(), QStringLiteral("18°, RAIN\nLONDON\n") + unreachable);
    QCOMPARE(menus.forecastWindow()->unreachableText(), unreachable);
    QCOMPARE(menus.forecastWindow()->placeText(), QStringLiteral("London"));

    // Another location source: the old place's weather leaves the tray and the panel.
    window.changeLocationSource();
    QCOMPARE(tray->toolTip(), QStringLiteral("Nimbara\n") + unreachable);
    QCOMPARE(menus.forecastWindow()->placeText(), QString());
}

void TestAppDelegate::tour_notShownOnSecondLaunch_data()
{
    QTest::addColumn<QString>("ending"); // how the user leaves the tour on the first launch
    QTest::newRow("skip") << "skip";
    QTest::newRow("next, finish") << "finish";
    QTest::newRow("quit during the tour") << "quit";
}

void TestAppDelegate::tour_notShownOnSecondLaunch()
{
    QFETCH(QString, ending);
    {
        MainInterface first;
        first.delegate()->connectApplication(nullptr);
        first.delegate()->applicationDidFinishLaunching();
        auto tour = qobject_cast<WXTourWindow *>(first.tourWindow());
        QVERIFY(tour->isVisible());
        QCOMPARE(tour->contentView(), tour->step1.data());
        if (ending == QLatin1String("skip")) {
            tour->skipButtonStep1->click();
        } else if (ending == QLatin1String("finish")) {
            tour->nextButtonStep1->click();
            tour->finishButtonStep2->click();
        } else {
            // The Quit item ends the run in order: the frame is saved.
            first.window()->setFrame(QRectF(31, 41, 660, 160), true);
            first.menus()->quit()->trigger();
            QCOMPARE(QCoreApplication::exec(), 0);
            QCOMPARE(SettingsStore::floatForKey(key::originX), 31.0f);
            QCOMPARE(SettingsStore::floatForKey(key::sizeHeight), 160.0f);
        }
        Animator::finishAll();
    }

    MainInterface second;
    second.delegate()->applicationDidFinishLaunching();
    QVERIFY(!second.tourWindow()->isVisible());
    QVERIFY(second.window()->isVisible());
}

void TestAppDelegate::termination_signalSavesFrame()
{
    m_delegate->connectApplication(nullptr);
    handleTerminationSignals();
    launch();
    m_window->setFrame(QRectF(33, 44, 650, 150), true);
    // SIGTERM as the session manager sends it: the loop ends in order and the frame is saved.
    QTimer::singleShot(0, [] { ::kill(::getpid(), SIGTERM); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(SettingsStore::floatForKey(key::originX), 33.0f);
    QCOMPARE(SettingsStore::floatForKey(key::originY), 44.0f);
    QCOMPARE(SettingsStore::floatForKey(key::sizeWidth), 650.0f);
    QCOMPARE(SettingsStore::floatForKey(key::sizeHeight), 150.0f);
}

QTEST_MAIN(TestAppDelegate)
#include "tst_app_delegate.moc"
