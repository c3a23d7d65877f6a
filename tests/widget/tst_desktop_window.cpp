#include "FakeLocationSource.h"
#include "WXDesktopWindow.h"

#include "WXDesktopWindowUi.h"

#include "Animator.h"
#include "Compositing.h"
#include "Localized.h"
#include "SettingsStore.h"
#include "WindowLevel.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace nimbara;

namespace {
const QDateTime kSunday(QDate(2024, 3, 3), QTime(9, 5, 30));
}

class TestDesktopWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startup_stateAndPlaceholders();
    void startup_missingTranslationShowsKey();
    void toggleSettings_appliesStore_data();
    void toggleSettings_appliesStore();
    void settingButton_flipsKeyBeforeAction();
    void resizeAllTexts_followsLineHeight_data();
    void resizeAllTexts_followsLineHeight();
    void setFrame_laysOutHiddenWindow();
    void getDate_formatsInLocale_data();
    void getDate_formatsInLocale();
    void getDate_rearmsAndTurnsMonth();
    void noTranslucency_shapesWindowToText();
    void compositingChanges_switchTheLookWhileRunning();

private:
    std::unique_ptr<WXDesktopWindow> makeWindow();
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestDesktopWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir->path());
    installTranslations(QLocale(QStringLiteral("en_US")));
}

void TestDesktopWindow::cleanup()
{
    Animator::finishAll();
    setTranslucencyForTesting(std::nullopt);
    QLocale::setDefault(QLocale::c());
}

std::unique_ptr<WXDesktopWindow> TestDesktopWindow::makeWindow()
{
    auto window = std::make_unique<WXDesktopWindow>();
    window->now = [] {
        return kSunday;
    };
    // Location services on: with them off, start-up replaces the placeholders by their message.
    window->makeLocationSource = [](QObject *parent) {
        return new FakeLocationSource(true, parent);
    };
    window->awakeFromNib();
    return window;
}

void TestDesktopWindow::startup_stateAndPlaceholders()
{
    QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    const auto window = makeWindow();
    const Ui::WXDesktopWindow &ui = *window->ui;

    QCOMPARE(window->level(), 17);
    QCOMPARE(appliedWindowLevel(window.get()), 17);
    QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(window->windowFlags() & Qt::WindowStaysOnBottomHint);
    QVERIFY(window->testAttribute(Qt::WA_TranslucentBackground));
    QVERIFY(window->isLocked);
    QVERIFY(!window->isUpdated && !window->isUpdating && !window->errors);
    QCOMPARE(window->checkInterval, 15.0);
    QCOMPARE(window->refreshInterval, 3600);
    QCOMPARE(window->current, 0);
    QVERIFY(window->data.isNull());
    QVERIFY(!window->cachedLocation);
    QVERIFY(window->interfaceFrameSize() != QSize(680, 172));
    QCOMPARE(window->aspectRatio, QSizeF(window->interfaceFrameSize()));

    // Box and strip hidden at once, not faded.
    QCOMPARE(Animator::opacity(ui.box), 0.0);
    QCOMPARE(Animator::opacity(ui.buttons), 0.0);
    QVERIFY(!Animator::isAnimating(ui.box) && !Animator::isAnimating(ui.buttons));
    QCOMPARE(ui.box->cornerRadius(), 6.0);
    QCOMPARE(ui.box->borderColor().alpha(), 0);

    QCOMPARE(ui.title->text(), QStringLiteral("UPDATING WEATHER"));
    QCOMPARE(ui.subtitle->text(), QStringLiteral("PLEASE WAIT"));
    QCOMPARE(ui.lockButton->text(), QStringLiteral("Lock"));
    QCOMPARE(ui.colorButton->text(), localized("COLOR_BUTTON"));
    // The clock line never shows a placeholder: it holds the time once start-up has run.
    QCOMPARE(ui.date->text(), QStringLiteral("09:05, 3 MARCH, SUNDAY"));
    QVERIFY(window->clockTimer->isActive());
}

void TestDesktopWindow::startup_missingTranslationShowsKey()
{
    QVERIFY(installTranslations(QLocale(QLocale::Zulu)).isEmpty());
    const auto window = makeWindow();
    QCOMPARE(window->ui->title->text(), QStringLiteral("UPDATING_WEATHER"));
    QCOMPARE(window->ui->subtitle->text(), QStringLiteral("PLEASE_WAIT"));
    QCOMPARE(window->ui->reloadButton->text(), QStringLiteral("UNITS_BUTTON"));
    QCOMPARE(window->ui->lockButton->text(), QStringLiteral("LOCK_BUTTON"));

    installTranslations(QLocale(QStringLiteral("de_DE")));
    const auto german = makeWindow();
    QCOMPARE(german->ui->lockButton->text(), QStringLiteral("Sperren"));
    QCOMPARE(german->ui->title->text(), QStringLiteral("WETTER WIRD GELADEN"));
}

void TestDesktopWindow::toggleSettings_appliesStore_data()
{
    QTest::addColumn<bool>("whiteColor");
    QTest::addColumn<bool>("dateEnabled");
    QTest::addColumn<bool>("locationEnabled");
    QTest::addColumn<bool>("textAlign");
    for (int bits = 0; bits < 16; ++bits) {
        const bool white = bits & 1, date = bits & 2, place = bits & 4, left = bits & 8;
        const QByteArray name = QByteArray(white ? "white" : "black") + (date ? " clock" : " no-clock") +
                                (place ? " place" : " no-place") + (left ? " left" : " right");
        QTest::newRow(name.constData()) << white << date << place << left;
    }
}

void TestDesktopWindow::toggleSettings_appliesStore()
{
    QFETCH(bool, whiteColor);
    QFETCH(bool, dateEnabled);
    QFETCH(bool, locationEnabled);
    QFETCH(bool, textAlign);

    // Start-up on an empty store: every flag false.
    const auto window = makeWindow();
    Animator::finishAll();
    const Ui::WXDesktopWindow &ui = *window->ui;
    QCOMPARE(Animator::opacity(ui.date), 0.0);
    QCOMPARE(Animator::opacity(ui.subtitle), 0.0);

    SettingsStore::setBool(key::whiteColor, whiteColor);
    SettingsStore::setBool(key::dateEnabled, dateEnabled);
    SettingsStore::setBool(key::locationEnabled, locationEnabled);
    SettingsStore::setBool(key::textAlign, textAlign);
    window->toggleSettings();

    // Colours and alignment at once.
    const QColor text = whiteColor ? Qt::white : Qt::black;
    QCOMPARE(ui.box->fillColor(), whiteColor ? QColor(Qt::black) : QColor(Qt::white));
    for (const TextLine *line : {ui.date, ui.title, ui.subtitle}) {
        QCOMPARE(line->textColor(), text);
        QCOMPARE(line->alignment() & Qt::AlignHorizontal_Mask, textAlign ? Qt::AlignLeft : Qt::AlignRight);
    }
    // Opacities fade: still at the old value until the animation ends.
    QCOMPARE(Animator::isAnimating(ui.date), dateEnabled);
    QCOMPARE(Animator::isAnimating(ui.subtitle), locationEnabled);
    QCOMPARE(Animator::opacity(ui.date), 0.0);
    Animator::finishAll();
    QCOMPARE(Animator::opacity(ui.date), dateEnabled ? 1.0 : 0.0);
    QCOMPARE(Animator::opacity(ui.subtitle), locationEnabled ? 1.0 : 0.0);
    QCOMPARE(Animator::opacity(ui.title), 1.0);
    QVERIFY(!Animator::isAnimating(ui.date) && !Animator::isAnimating(ui.subtitle));
}

void TestDesktopWindow::settingButton_flipsKeyBeforeAction()
{
    SettingsStore::setBool(key::whiteColor, true);
    SettingsStore::setBool(key::dateEnabled, true);
    const auto window = makeWindow();
    QCOMPARE(window->ui->title->textColor(), QColor(Qt::white));

    window->ui->colorButton->click();
    QCOMPARE(SettingsStore::boolForKey(key::whiteColor), false);
    QCOMPARE(window->ui->title->textColor(), QColor(Qt::black));
    window->ui->colorButton->click();
    QCOMPARE(SettingsStore::boolForKey(key::whiteColor), true);
    QCOMPARE(window->ui->title->textColor(), QColor(Qt::white));

    // The clock keeps running while its line is faded out.
    Animator::finishAll();
    window->ui->dateButton->click();
    Animator::finishAll();
    QCOMPARE(SettingsStore::boolForKey(key::dateEnabled), false);
    QCOMPARE(Animator::opacity(window->ui->date), 0.0);
    window->now = [] {
        return kSunday.addSecs(60);
    };
    window->getDate();
    QVERIFY(window->ui->date->text().startsWith(QStringLiteral("09:06")));

    window->ui->reloadButton->click();
    QCOMPARE(SettingsStore::boolForKey(key::celsius), true);
}

void TestDesktopWindow::resizeAllTexts_followsLineHeight_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("size");
    QTest::newRow("20") << 20 << 12;
    QTest::newRow("58") << 58 << 50;
    QTest::newRow("9") << 9 << 1;
    QTest::newRow("8") << 8 << 1;
    QTest::newRow("3") << 3 << 1;
    QTest::newRow("0") << 0 << 1;
}

void TestDesktopWindow::resizeAllTexts_followsLineHeight()
{
    QFETCH(int, height);
    QFETCH(int, size);
    const auto window = makeWindow();
    for (TextLine *line : {window->ui->date, window->ui->title, window->ui->subtitle}) {
        const QString family = line->font().family();
        line->resize(line->width(), height);
        window->resizeAllTexts();
        QCOMPARE(line->font().pixelSize(), size);
        QCOMPARE(line->font().family(), family);
    }
}

void TestDesktopWindow::setFrame_laysOutHiddenWindow()
{
    const auto window = makeWindow();
    const QSize designed = window->interfaceFrameSize();
    const int titleHeight = window->ui->title->height();
    window->setFrame(QRectF(40, 50, designed.width() * 2, designed.height() * 2), true);
    QCOMPARE(window->frame(), QRectF(40, 50, designed.width() * 2, designed.height() * 2));
    QCOMPARE(window->ui->title->height(), titleHeight * 2);
    QCOMPARE(window->ui->box->size(), designed * 2);
    window->resizeAllTexts();
    QCOMPARE(window->ui->title->font().pixelSize(), titleHeight * 2 - 8);
}

void TestDesktopWindow::getDate_formatsInLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");
    QTest::newRow("en_US") << "en_US" << QStringLiteral("09:05, 3 MARCH, SUNDAY");
    QTest::newRow("de_DE") << "de_DE" << QStringLiteral("09:05, 3 MÄRZ, SONNTAG");
    // The month in its formatting (genitive) form.
    QTest::newRow("ru_RU") << "ru_RU" << QStringLiteral("09:05, 3 МАРТА, ВОСКРЕСЕНЬЕ");
}

void TestDesktopWindow::getDate_formatsInLocale()
{
    QFETCH(QString, locale);
    QFETCH(QString, expected);
    QLocale::setDefault(QLocale(locale));
    const auto window = makeWindow();
    QCOMPARE(window->ui->date->text(), expected);
}

void TestDesktopWindow::getDate_rearmsAndTurnsMonth()
{
    QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    const auto window = makeWindow();
    QVERIFY(window->clockTimer->isSingleShot());
    QCOMPARE(window->clockTimer->interval(), 1000);

    window->now = [] {
        return QDateTime(QDate(2024, 3, 31), QTime(23, 59, 59));
    };
    window->getDate();
    QCOMPARE(window->ui->date->text(), QStringLiteral("23:59, 31 MARCH, SUNDAY"));
    window->now = [] {
        return QDateTime(QDate(2024, 4, 1), QTime(0, 0, 0));
    };
    window->getDate();
    QCOMPARE(window->ui->date->text(), QStringLiteral("00:00, 1 APRIL, MONDAY"));
    QVERIFY(window->clockTimer->isActive());
}

void TestDesktopWindow::noTranslucency_shapesWindowToText()
{
    setTranslucencyForTesting(false);
    SettingsStore::setBool(key::whiteColor, true);
    SettingsStore::setBool(key::dateEnabled, true);
    SettingsStore::setBool(key::locationEnabled, false);
    SettingsStore::setBool(key::textAlign, true);
    const auto window = makeWindow();
    const Ui::WXDesktopWindow &ui = *window->ui;
    QVERIFY(!window->isTranslucent());
    QVERIFY(ui.title->isOutlined());
    QCOMPARE(ui.title->outlineColor(), QColor(Qt::black));
    window->show();
    Animator::finishAll();
    QTRY_VERIFY(!window->mask().isEmpty());

    const QRegion mask = window->mask();
    const QRect title = ui.title->geometry();
    // The glyphs of the weather line are in, the corners and the faded place line are not.
    QVERIFY(mask.intersects(title));
    QVERIFY(!mask.contains(QPoint(0, 0)));
    QVERIFY(!mask.contains(QPoint(window->width() - 1, window->height() - 1)));
    QVERIFY(!mask.intersects(ui.subtitle->geometry()));
    QVERIFY(mask.intersects(ui.date->geometry()));
    // Right-aligned text moves the shape to the right edge.
    SettingsStore::setBool(key::textAlign, false);
    window->toggleSettings();
    QTRY_VERIFY(window->mask().intersects(QRect(title.right() - 10, title.top(), 10, title.height())));
}

void TestDesktopWindow::compositingChanges_switchTheLookWhileRunning()
{
    // Started before the compositing manager.
    setTranslucencyForTesting(false);
    const auto window = makeWindow();
    window->show();
    Animator::finishAll();
    QTRY_VERIFY(!window->mask().isEmpty());
    // Whatever the look at start, the window has alpha to change to the other one.
    QVERIFY(window->testAttribute(Qt::WA_TranslucentBackground));

    setTranslucencyForTesting(true);
    QVERIFY(window->isTranslucent());
    QVERIFY(!window->ui->title->isOutlined());
    QVERIFY(window->mask().isEmpty());
    QVERIFY(!window->shapeMask());
    // A later change of text leaves the window unshaped.
    window->ui->title->setText(QStringLiteral("12°, RAIN"));
    QTest::qWait(20);
    QVERIFY(window->mask().isEmpty());

    setTranslucencyForTesting(false);
    QVERIFY(!window->isTranslucent());
    QVERIFY(window->ui->title->isOutlined());
    QTRY_VERIFY(window->mask().intersects(window->ui->title->geometry()));
    QVERIFY(!window->mask().contains(QPoint(0, 0)));
}

QTEST_MAIN(TestDesktopWindow)
#include "tst_desktop_window.moc"
