#include "WXDesktopWindow.h"

#include "WXDesktopWindowUi.h"

#include "Animator.h"
#include "Localized.h"
#include "Log.h"
#include "MoveResizeHandler.h"
#include "SettingsStore.h"
#include "TrackingArea.h"
#include "WindowLevel.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

using namespace nimbara;

namespace {
const QDateTime kMorning(QDate(2024, 3, 3), QTime(9, 5, 30));

// Every value that lock mode sets, read off the widget.
struct LockLook
{
    bool isLocked;
    qreal boxOpacity;
    qreal stripOpacity;
    int level;
    int appliedLevel;
    bool movable;
    bool movableByBackground;
    bool operator==(const LockLook &) const = default;
};

LockLook lockLook(const WXDesktopWindow &window)
{
    return {window.isLocked,
            Animator::opacity(window.ui->box),
            Animator::opacity(window.ui->buttons),
            window.level(),
            appliedWindowLevel(&window),
            window.isMovable(),
            window.isMovableByWindowBackground()};
}

char *toString(const LockLook &look)
{
    return QTest::toString(QStringLiteral("locked %1 box %2 strip %3 level %4/%5 movable %6/%7")
                               .arg(look.isLocked)
                               .arg(look.boxOpacity)
                               .arg(look.stripOpacity)
                               .arg(look.level)
                               .arg(look.appliedLevel)
                               .arg(look.movable)
                               .arg(look.movableByBackground));
}

// What lock mode must leave alone.
QList<QVariant> textLook(const WXDesktopWindow &window)
{
    QList<QVariant> look;
    for (const TextLine *line : {window.ui->date, window.ui->title, window.ui->subtitle})
        look << line->text() << line->textColor() << Animator::opacity(line) << int(line->alignment());
    look << window.ui->box->fillColor();
    return look;
}
} // namespace

// The setting buttons, resizing, the relaunch, lock mode and the hover region of the widget.
class TestLockMode : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void colorButton_afterFirstRun();
    void dateButton_twiceFadesOutAndInWhileClockRuns();
    void alignButton_appliesThenRelaunches_data();
    void alignButton_appliesThenRelaunches();

    void resize_keepsProportionAndTextsMatchLines_data();
    void resize_keepsProportionAndTextsMatchLines();
    void resize_notWhileLocked();

    void lockButton_twiceRestoresEveryLockedValue();
    void lockButton_unlockedWidgetDragsByBackground();
    void lockButton_lockedStripTakesNoPresses();
    void lockButton_keyboardAndScreenReaderFollowTheState();
    void hover_showsAndHidesLockButton_data();
    void hover_showsAndHidesLockButton();
    void hover_regionFollowsRestoredFrame();

private:
    std::unique_ptr<WXDesktopWindow> makeWindow();
    std::unique_ptr<WXDesktopWindow> showWindow();
    static void pointerTo(WXDesktopWindow &window, const QPoint &position)
    {
        QTest::mouseMove(window.windowHandle(), position);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestLockMode::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir->path());
    installTranslations(QLocale(QStringLiteral("en_US")));
    QLocale::setDefault(QLocale(QStringLiteral("en_US")));
}

void TestLockMode::cleanup()
{
    Animator::finishAll();
    QLocale::setDefault(QLocale::c());
}

std::unique_ptr<WXDesktopWindow> TestLockMode::makeWindow()
{
    auto window = std::make_unique<WXDesktopWindow>();
    window->now = [] {
        return kMorning;
    };
    window->startRelaunch = [] {
        qFatal("a test started a real relaunch");
        return false;
    };
    window->terminate = [] {
        qFatal("a test ended the application");
    };
    window->awakeFromNib();
    return window;
}

std::unique_ptr<WXDesktopWindow> TestLockMode::showWindow()
{
    auto window = makeWindow();
    window->setFrame(QRectF(100, 100, 680, 172), true);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return nullptr;
    Animator::finishAll();
    return window;
}

void TestLockMode::colorButton_afterFirstRun()
{
    // The widget takes its look from the empty store; the first-run values come after it.
    const auto window = makeWindow();
    Animator::finishAll();
    const Ui::WXDesktopWindow &ui = *window->ui;
    for (const QString &key : {key::locationEnabled, key::whiteColor, key::textAlign, key::dateEnabled})
        SettingsStore::setBool(key, true);
    SettingsStore::setBool(key::initialized, true);
    QCOMPARE(ui.title->textColor(), QColor(Qt::black));

    ui.colorButton->click();
    QCOMPARE(SettingsStore::boolForKey(key::whiteColor), false);
    // The text stays black on white; the other settings of the first run show now.
    QCOMPARE(ui.box->fillColor(), QColor(Qt::white));
    for (const TextLine *line : {ui.date, ui.title, ui.subtitle}) {
        QCOMPARE(line->textColor(), QColor(Qt::black));
        QCOMPARE(line->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    }
    QVERIFY(Animator::isAnimating(ui.date) && Animator::isAnimating(ui.subtitle));
    Animator::finishAll();
    QCOMPARE(Animator::opacity(ui.date), 1.0);
    QCOMPARE(Animator::opacity(ui.subtitle), 1.0);

    ui.colorButton->click();
    QCOMPARE(ui.box->fillColor(), QColor(Qt::black));
    for (const TextLine *line : {ui.date, ui.title, ui.subtitle})
        QCOMPARE(line->textColor(), QColor(Qt::white));
}

void TestLockMode::dateButton_twiceFadesOutAndInWhileClockRuns()
{
    SettingsStore::setBool(key::dateEnabled, true);
    const auto window = makeWindow();
    Animator::finishAll();
    TextLine *date = window->ui->date;
    QCOMPARE(Animator::opacity(date), 1.0);

    window->ui->dateButton->click();
    QVERIFY(Animator::isAnimating(date));
    Animator::finishAll();
    QCOMPARE(Animator::opacity(date), 0.0);
    QCOMPARE(SettingsStore::boolForKey(key::dateEnabled), false);

    // The clock's own timer fires while the line is transparent: the text goes on changing.
    QVERIFY(window->clockTimer->isActive());
    window->now = [] {
        return kMorning.addSecs(60);
    };
    QVERIFY(QMetaObject::invokeMethod(window->clockTimer, "timeout"));
    QCOMPARE(date->text(), QStringLiteral("09:06, 3 MARCH, SUNDAY"));
    QVERIFY(window->clockTimer->isActive());

    window->ui->dateButton->click();
    QVERIFY(Animator::isAnimating(date));
    Animator::finishAll();
    QCOMPARE(Animator::opacity(date), 1.0);
    QCOMPARE(date->text(), QStringLiteral("09:06, 3 MARCH, SUNDAY"));
}

void TestLockMode::alignButton_appliesThenRelaunches_data()
{
    QTest::addColumn<bool>("started");
    QTest::newRow("relaunch started") << true;
    QTest::newRow("shell could not be started") << false;
}

void TestLockMode::alignButton_appliesThenRelaunches()
{
    QFETCH(bool, started);
    SettingsStore::setBool(key::textAlign, true);
    const auto window = makeWindow();
    QStringList calls;
    window->startRelaunch = [&calls, &window, started] {
        // The new alignment is applied before the relaunch starts.
        calls
            << QStringLiteral("start %1").arg(int(window->ui->title->alignment() & Qt::AlignHorizontal_Mask));
        return started;
    };
    window->terminate = [&calls] {
        calls << QStringLiteral("terminate");
    };
    LogCapture capture;

    window->ui->alignButton->click();
    QCOMPARE(SettingsStore::boolForKey(key::textAlign), false);
    QCOMPARE(capture.lines().value(0), QStringLiteral("application: app relaunching"));
    if (started) {
        QCOMPARE(calls, (QStringList{QStringLiteral("start %1").arg(int(Qt::AlignRight)),
                                     QStringLiteral("terminate")}));
        QCOMPARE(capture.lines().size(), 1);
    } else {
        // Nothing would bring the widget back: it stays, already showing the new alignment.
        QCOMPARE(calls, QStringList{QStringLiteral("start %1").arg(int(Qt::AlignRight))});
        QCOMPARE(capture.lines().value(1), QStringLiteral(" ! ERROR : relaunch failed"));
    }
}

void TestLockMode::resize_keepsProportionAndTextsMatchLines_data()
{
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("by");
    QTest::newRow("right edge, wider") << QPoint(678, 80) << QPoint(200, 0);
    QTest::newRow("bottom edge, lower") << QPoint(300, 170) << QPoint(0, -60);
    QTest::newRow("top-left corner") << QPoint(1, 1) << QPoint(-100, -100);
    QTest::newRow("left edge, narrower") << QPoint(2, 80) << QPoint(300, 0);
}

void TestLockMode::resize_keepsProportionAndTextsMatchLines()
{
    QFETCH(QPoint, from);
    QFETCH(QPoint, by);
    const auto window = showWindow();
    QVERIFY(window);
    window->didPressLockButton(nullptr);
    Animator::finishAll();
    // The proportion is the interface definition's, taken at start-up, not the restored frame's.
    const QSizeF ratio = window->aspectRatio;
    QCOMPARE(ratio, QSizeF(window->interfaceFrameSize()));
    QList<QSizeF> proposals;
    window->moveResizeHandler()->setResizeFilter([&](const QSizeF &size) {
        proposals << size;
        return window->windowWillResize(window.get(), size);
    });

    QWindow *handle = window->windowHandle();
    const QPoint start = handle->mapToGlobal(from);
    QTest::mousePress(handle, Qt::LeftButton, {}, from);
    for (int step = 1; step <= 4; ++step) {
        QTest::mouseMove(handle, handle->mapFromGlobal(start + by * step / 4));
        // At every step, not one step late: the font follows the line's present height.
        for (const TextLine *line : {window->ui->date, window->ui->title, window->ui->subtitle})
            QCOMPARE(line->font().pixelSize(), std::max(1, line->height() - 8));
    }
    QTest::mouseRelease(handle, Qt::LeftButton, {}, handle->mapFromGlobal(start + by));

    QCOMPARE(proposals.size(), 4);
    const QSize size = window->size();
    QCOMPARE(QSizeF(size), proposals.last().toSize());
    QCOMPARE(window->userFrame(), window->frame());
    QVERIFY(size != QSize(680, 172));
    QVERIFY2(qAbs(size.width() / ratio.width() * ratio.height() - size.height()) <= 1.0,
             qPrintable(QStringLiteral("%1 x %2").arg(size.width()).arg(size.height())));
    QCOMPARE(window->ui->title->height(), qRound(58.0 * size.height() / ratio.height()));
}

void TestLockMode::resize_notWhileLocked()
{
    const auto window = showWindow();
    QVERIFY(window);
    QWindow *handle = window->windowHandle();
    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(678, 80));
    QTest::mouseMove(handle, QPoint(600, 80));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(600, 80));
    QCOMPARE(window->frame(), QRectF(100, 100, 680, 172));
}

void TestLockMode::lockButton_twiceRestoresEveryLockedValue()
{
    SettingsStore::setBool(key::whiteColor, true);
    SettingsStore::setBool(key::dateEnabled, true);
    const auto window = showWindow();
    QVERIFY(window);
    const LockLook locked{true, 0.0, 0.0, 17, 17, false, false};
    QCOMPARE(lockLook(*window), locked);
    const QList<QVariant> text = textLook(*window);

    window->ui->lockButton->click();
    // The level changes at once, the box and strip fade.
    QVERIFY(!window->isLocked);
    QCOMPARE(window->level(), 19);
    QCOMPARE(appliedWindowLevel(window.get()), 19);
    QVERIFY(window->isMovable() && window->isMovableByWindowBackground());
    QVERIFY(Animator::isAnimating(window->ui->box) && Animator::isAnimating(window->ui->buttons));
    QCOMPARE(Animator::opacity(window->ui->box), 0.0);
    Animator::finishAll();
    QCOMPARE(lockLook(*window), (LockLook{false, 0.75, 1.0, 19, 19, true, true}));
    QCOMPARE(textLook(*window), text);

    window->ui->lockButton->click();
    QCOMPARE(window->level(), 17);
    Animator::finishAll();
    QCOMPARE(lockLook(*window), locked);
    QCOMPARE(textLook(*window), text);
    QVERIFY(window->isVisible());

    // Two presses in quick succession, the second while the first still fades.
    window->didPressLockButton(nullptr);
    window->didPressLockButton(nullptr);
    Animator::finishAll();
    QCOMPARE(lockLook(*window), locked);
}

void TestLockMode::lockButton_unlockedWidgetDragsByBackground()
{
    const auto window = showWindow();
    QVERIFY(window);
    QWindow *handle = window->windowHandle();
    const auto drag = [&] {
        // On the weather line, which leaves presses to the window; no window manager runs offscreen.
        const QPoint start = handle->mapToGlobal(QPoint(300, 60));
        QTest::mousePress(handle, Qt::LeftButton, {}, handle->mapFromGlobal(start));
        QTest::mouseMove(handle, handle->mapFromGlobal(start + QPoint(40, 25)));
        QTest::mouseRelease(handle, Qt::LeftButton, {}, handle->mapFromGlobal(start + QPoint(40, 25)));
    };
    drag();
    QCOMPARE(window->frame(), QRectF(100, 100, 680, 172));
    window->didPressLockButton(nullptr);
    drag();
    QCOMPARE(window->frame(), QRectF(140, 125, 680, 172));
    // The frame to save follows the user's drag.
    QCOMPARE(window->userFrame(), QRectF(140, 125, 680, 172));
    window->didPressLockButton(nullptr);
    drag();
    QCOMPARE(window->frame(), QRectF(140, 125, 680, 172));
}

void TestLockMode::lockButton_lockedStripTakesNoPresses()
{
    SettingsStore::setBool(key::whiteColor, true);
    const auto window = showWindow();
    QVERIFY(window);
    QWindow *handle = window->windowHandle();
    const QPoint onColor =
        window->ui->colorButton->mapTo(window.get(), window->ui->colorButton->rect().center());
    // Locked, the strip is invisible and a press there falls to the background.
    QTest::mouseClick(handle, Qt::LeftButton, {}, onColor);
    QCOMPARE(SettingsStore::boolForKey(key::whiteColor), true);
    window->didPressLockButton(nullptr);
    Animator::finishAll();
    QTest::mouseClick(handle, Qt::LeftButton, {}, onColor);
    QCOMPARE(SettingsStore::boolForKey(key::whiteColor), false);
    window->didPressLockButton(nullptr);
    QTest::mouseClick(handle, Qt::LeftButton, {}, onColor);
    QCOMPARE(SettingsStore::boolForKey(key::whiteColor), false);
    QCOMPARE(window->frame(), QRectF(100, 100, 680, 172));
}

void TestLockMode::lockButton_keyboardAndScreenReaderFollowTheState()
{
    SettingsStore::setBool(key::whiteColor, true);
    const auto window = showWindow();
    QVERIFY(window);
    const Ui::WXDesktopWindow &ui = *window->ui;
    QCOMPARE(window->accessibleName(), QStringLiteral("Nimbara weather"));
    QVERIFY(!ui.progressIndicator->accessibleName().isEmpty());
    const QString title = ui.lockButton->text();
    QCOMPARE(title, localized("LOCK_BUTTON"));
    const QList<QPushButton *> settings = {ui.reloadButton, ui.colorButton, ui.dateButton, ui.locationButton,
                                           ui.alignButton};

    // Locked: the invisible strip is out of the keyboard's reach; the lock button says it unlocks.
    QCOMPARE(ui.lockButton->accessibleName(), QStringLiteral("Unlock the widget"));
    for (QPushButton *button : settings)
        QCOMPARE(button->focusPolicy(), Qt::NoFocus);

    // Unlocked: Tab reaches the setting buttons and Space presses the one in focus.
    window->didPressLockButton(nullptr);
    Animator::finishAll();
    QCOMPARE(ui.lockButton->accessibleName(), QStringLiteral("Lock the widget"));
    QCOMPARE(ui.lockButton->text(), title);
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_Tab);
    QWidget *focused = QApplication::focusWidget();
    QVERIFY(focused && settings.contains(qobject_cast<QPushButton *>(focused)));
    ui.colorButton->setFocus(Qt::TabFocusReason);
    QTest::keyClick(ui.colorButton, Qt::Key_Space);
    QCOMPARE(SettingsStore::boolForKey(key::whiteColor), false);

    // Locked again, the focus leaves the strip.
    window->didPressLockButton(nullptr);
    QCOMPARE(ui.lockButton->accessibleName(), QStringLiteral("Unlock the widget"));
    QVERIFY(!ui.colorButton->hasFocus());
    for (QPushButton *button : settings)
        QCOMPARE(button->focusPolicy(), Qt::NoFocus);
}

void TestLockMode::hover_showsAndHidesLockButton_data()
{
    QTest::addColumn<bool>("unlocked");
    QTest::newRow("locked") << false;
    QTest::newRow("unlocked") << true;
}

void TestLockMode::hover_showsAndHidesLockButton()
{
    QFETCH(bool, unlocked);
    const auto window = showWindow();
    QVERIFY(window);
    if (unlocked)
        window->didPressLockButton(nullptr);
    QPushButton *lock = window->ui->lockButton;
    QCOMPARE(window->hoverRegion()->options(), TrackingArea::Options(0x81));
    QCOMPARE(window->hoverRegion()->view(), window->ui->box);
    QVERIFY(lock->isHidden());

    pointerTo(*window, QPoint(300, 60));
    QVERIFY(!lock->isHidden());
    // Onto the lock button itself, and a press on it: it stays.
    const QPoint onLock = lock->geometry().center();
    pointerTo(*window, onLock);
    QVERIFY(!lock->isHidden());
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, onLock);
    QCOMPARE(window->isLocked, unlocked);
    QVERIFY(!lock->isHidden());

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(window->windowHandle(), &leave);
    QVERIFY(lock->isHidden());
    pointerTo(*window, QPoint(10, 10));
    QVERIFY(!lock->isHidden());
}

void TestLockMode::hover_regionFollowsRestoredFrame()
{
    const auto window = showWindow();
    QVERIFY(window);
    // A frame larger than the interface definition's: the far corner of the box shows the button too.
    window->setFrame(QRectF(50, 50, 1200, 300), true);
    QTRY_COMPARE(window->ui->box->size(), QSize(1200, 300));
    QCOMPARE(window->hoverRegion()->rect(), QRect(0, 0, 1200, 300));
    pointerTo(*window, QPoint(1190, 290));
    QVERIFY(!window->ui->lockButton->isHidden());
}

QTEST_MAIN(TestLockMode)
#include "tst_lock_mode.moc"
