#include "FakeLocationSource.h"
#include "WXDesktopWindow.h"
#include "WXDesktopWindowUi.h"

#include "Animator.h"
#include "Localized.h"
#include "SettingsStore.h"

#include <QCursor>
#include <QDir>
#include <QFontMetricsF>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace nimbara;

namespace {

// The desktop's colour, set on the root window the way desktops do.
const QColor kDesktop(0x3a, 0x7c, 0xa5);

bool isDesktop(QRgb pixel)
{
    return qAbs(qRed(pixel) - kDesktop.red()) + qAbs(qGreen(pixel) - kDesktop.green()) +
               qAbs(qBlue(pixel) - kDesktop.blue()) <=
           24;
}

// What a line paints by itself (its glyphs and their outline), in its own coordinates.
QImage paintedBy(QWidget *line)
{
    QImage painted(line->size(), QImage::Format_ARGB32_Premultiplied);
    painted.fill(Qt::transparent);
    line->render(&painted, QPoint(), QRegion(), QWidget::DrawChildren);
    return painted;
}

bool paintsNear(const QImage &painted, int x, int y, int reach)
{
    for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
            const QPoint p(x + dx, y + dy);
            if (painted.valid(p) && qAlpha(painted.pixel(p)) > 0)
                return true;
        }
    }
    return false;
}

} // namespace

// The widget's look on a real X server, checked by the pixels on the screen: shaped to its text
// without a compositing manager, translucent with one, following one that starts or stops later.
class TestWindowLooks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void compositorStartsAndStops_lookFollows();
    void shorterText_leavesNoOldOutline();
    void longestCondition_fitsTheWindow_data();
    void longestCondition_fitsTheWindow();
    void shapedLook_pointerCrossesFromTextToLockButton();

private:
    QImage screenshot(const QString &name);
    // Pixels of the window's frame that show the desktop, as a share of all.
    double desktopShare(const QImage &screen) const;
    void checkDesktopAroundText(const QImage &screen);

    QTemporaryDir m_dir;
    std::unique_ptr<WXDesktopWindow> m_window;
};

void TestWindowLooks::initTestCase()
{
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "needs an X server (scripts/test.sh)");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    QCOMPARE(QProcess::execute(QStringLiteral("hsetroot"), {QStringLiteral("-solid"), kDesktop.name()}), 0);
}

void TestWindowLooks::init()
{
    QSettings(QStringLiteral("Nimbara"), QStringLiteral("Nimbara")).clear();
    // White text on the left, the weather line alone.
    SettingsStore::setBool(key::whiteColor, true);
    SettingsStore::setBool(key::textAlign, true);
    SettingsStore::setBool(key::dateEnabled, true);
    SettingsStore::setBool(key::locationEnabled, true);
    m_window = std::make_unique<WXDesktopWindow>();
    m_window->makeLocationSource = [](QObject *parent) {
        return new FakeLocationSource(true, parent);
    };
    m_window->isConnected = [] {
        return false;
    };
    m_window->awakeFromNib();
    m_window->setFrame(QRectF(100, 100, 720, 160), false);
    m_window->resizeAllTexts();
    m_window->setWindowOpacity(0.0);
    m_window->show();
    Animator::animateOpacity(m_window.get(), 1.0);
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    Animator::finishAll();
}

void TestWindowLooks::cleanup()
{
    m_window.reset();
}

QImage TestWindowLooks::screenshot(const QString &name)
{
    // The last paint and shape reach the screen (and the compositing manager) first.
    QTest::qWait(600);
    const QImage screen = m_window->screen()->grabWindow(0).toImage();
    const QString path = QDir(QStringLiteral(NIMBARA_SCREENSHOT_DIR)).filePath(name + QStringLiteral(".png"));
    screen.copy(m_window->geometry().adjusted(-20, -20, 20, 20)).save(path);
    qInfo("screenshot: %s", qPrintable(path));
    return screen;
}

double TestWindowLooks::desktopShare(const QImage &screen) const
{
    const QRect frame = m_window->geometry();
    int desktop = 0;
    for (int y = frame.top(); y <= frame.bottom(); ++y) {
        for (int x = frame.left(); x <= frame.right(); ++x)
            desktop += isDesktop(screen.pixel(x, y)) ? 1 : 0;
    }
    return double(desktop) / (frame.width() * frame.height());
}

void TestWindowLooks::checkDesktopAroundText(const QImage &screen)
{
    const QRect frame = m_window->geometry();
    // The corners, and the empty band below the text, show the desktop: no black rectangle.
    for (const QPoint &p : {frame.topLeft(), frame.topRight(), frame.bottomLeft(), frame.bottomRight(),
                            QPoint(frame.center().x(), frame.bottom() - 10)}) {
        QVERIFY2(
            isDesktop(screen.pixel(p)),
            qPrintable(
                QStringLiteral("%1,%2 shows %3").arg(p.x()).arg(p.y()).arg(QColor(screen.pixel(p)).name())));
    }
    QVERIFY2(desktopShare(screen) > 0.6, qPrintable(QString::number(desktopShare(screen))));
    // And the text is there, white.
    const QImage own = paintedBy(m_window->ui->title);
    const QPoint origin = m_window->ui->title->mapToGlobal(QPoint(0, 0));
    int white = 0;
    for (int y = 0; y < own.height(); ++y) {
        for (int x = 0; x < own.width(); ++x) {
            if (qAlpha(own.pixel(x, y)) == 255 && qGray(screen.pixel(origin + QPoint(x, y))) > 230)
                ++white;
        }
    }
    QVERIFY2(white > 200, qPrintable(QString::number(white)));
}

void TestWindowLooks::compositorStartsAndStops_lookFollows()
{
    m_window->ui->title->setText(QStringLiteral("12°, RAIN"));
    // Xvfb alone composes nothing: the window is shaped to its text.
    QVERIFY(!m_window->isTranslucent());
    QVERIFY(m_window->ui->title->isOutlined());
    checkDesktopAroundText(screenshot(QStringLiteral("looks-1-shaped")));

    // A compositing manager starts after the widget (as at login): the widget turns translucent.
    QProcess compositor;
    compositor.start(QStringLiteral("xcompmgr"), {});
    QVERIFY(compositor.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isTranslucent(), 5000);
    QVERIFY(!m_window->ui->title->isOutlined());
    QVERIFY(m_window->mask().isEmpty());
    checkDesktopAroundText(screenshot(QStringLiteral("looks-2-translucent")));

    // It stops: back to the shaped look, not a black rectangle.
    compositor.terminate();
    QVERIFY(compositor.waitForFinished());
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->isTranslucent(), 5000);
    QVERIFY(m_window->ui->title->isOutlined());
    QTRY_VERIFY(!m_window->mask().isEmpty());
    checkDesktopAroundText(screenshot(QStringLiteral("looks-3-shaped-again")));
}

void TestWindowLooks::shorterText_leavesNoOldOutline()
{
    QVERIFY(!m_window->isTranslucent());
    TextLine *title = m_window->ui->title;
    title->setText(QStringLiteral("LOCATION NOT ALLOWED"));
    m_window->ui->subtitle->setText(QStringLiteral("ALLOW LOCATION IN THE SETTINGS"));
    screenshot(QStringLiteral("outline-1-long"));
    const QImage before = paintedBy(title);

    title->setText(QStringLiteral("12°, RAIN"));
    m_window->ui->subtitle->setText(QStringLiteral("LONDON"));
    const QImage screen = screenshot(QStringLiteral("outline-2-short"));
    const QImage after = paintedBy(title);

    // Where the old text was drawn and the new one is not, the desktop shows.
    const QPoint origin = title->mapToGlobal(QPoint(0, 0));
    int leftovers = 0;
    int checked = 0;
    for (int y = 0; y < before.height(); ++y) {
        for (int x = 0; x < before.width(); ++x) {
            if (qAlpha(before.pixel(x, y)) == 0 || paintsNear(after, x, y, 3))
                continue;
            ++checked;
            if (!isDesktop(screen.pixel(origin + QPoint(x, y))))
                ++leftovers;
        }
    }
    QVERIFY(checked > 1000);
    QCOMPARE(leftovers, 0);
    checkDesktopAroundText(screen);
}

void TestWindowLooks::longestCondition_fitsTheWindow_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<bool>("translucent");
    for (const char *language : {"en", "de", "es", "fr", "ru"})
        QTest::newRow(language) << QString::fromLatin1(language) << false;
    QTest::newRow("de, translucent") << QStringLiteral("de") << true;
}

void TestWindowLooks::longestCondition_fitsTheWindow()
{
    QFETCH(QString, language);
    QFETCH(bool, translucent);
    QProcess compositor;
    if (translucent) {
        compositor.start(QStringLiteral("xcompmgr"), {});
        QVERIFY(compositor.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(m_window->isTranslucent(), 5000);
    }
    QVERIFY(installTranslations(QLocale(language)).startsWith(language));
    TextLine *title = m_window->ui->title;
    const QFont computed = title->font();
    const QFontMetricsF metrics(computed);
    // The widest condition of this language, at the default size and a two-digit frost.
    QString longest;
    for (const char *condition : {"CLEAR", "PARTLY-CLOUDY", "CLOUDY", "FOG", "DRIZZLE", "FREEZING-RAIN",
                                  "RAIN", "SHOWERS", "SNOW", "THUNDERSTORM"}) {
        const QString line = QStringLiteral("-12°, ") + localized(condition);
        if (metrics.horizontalAdvance(line) > metrics.horizontalAdvance(longest))
            longest = line;
    }
    title->setText(longest);
    const bool tooWide =
        metrics.horizontalAdvance(longest) > title->contentsRect().width() - 2 * TextLine::kOutlineWidth;
    qInfo("%s: %s", qPrintable(language), qPrintable(longest));

    for (const bool locked : {true, false}) {
        if (!locked) {
            m_window->didPressLockButton(m_window->ui->lockButton);
            Animator::finishAll();
        }
        QCOMPARE(m_window->isLocked, locked);
        // Smaller than computed only where it has to be, and whole: glyphs and outline in the line.
        QCOMPARE(title->drawnFont().pixelSize() < computed.pixelSize(), tooWide);
        const qreal outline = TextLine::kOutlineWidth;
        const QRectF drawn = title->textPath().boundingRect().adjusted(-outline, -outline, outline, outline);
        QVERIFY2(QRectF(title->contentsRect()).contains(drawn),
                 qPrintable(QStringLiteral("%1 outside %2 px").arg(drawn.right()).arg(title->width())));
        // Nothing painted at the line's right edge, where a cut text would end.
        const QImage painted = paintedBy(title);
        for (int y = 0; y < painted.height(); ++y)
            QCOMPARE(qAlpha(painted.pixel(painted.width() - 1, y)), 0);
        screenshot(QStringLiteral("fit-%1-%2-%3")
                       .arg(language, translucent ? QStringLiteral("translucent") : QStringLiteral("shaped"),
                            locked ? QStringLiteral("locked") : QStringLiteral("unlocked")));
    }
    installTranslations(QLocale(QStringLiteral("en")));
    if (translucent) {
        compositor.terminate();
        QVERIFY(compositor.waitForFinished());
    }
}

void TestWindowLooks::shapedLook_pointerCrossesFromTextToLockButton()
{
    WXDesktopWindow &w = *m_window;
    QVERIFY(!w.isTranslucent());
    QVERIFY(w.isLocked);
    QTRY_VERIFY(!w.mask().isEmpty());

    // A point well inside a glyph of the weather line, the leftmost one.
    TextLine *title = w.ui->title;
    const QImage glyphs = paintedBy(title);
    std::optional<QPoint> letter;
    for (int x = 0; x < glyphs.width() && !letter; ++x) {
        for (int y = 0; y < glyphs.height() && !letter; ++y) {
            if (!paintsNear(glyphs, x, y, 0))
                continue;
            const QPoint p = title->mapTo(&w, QPoint(x, y));
            if (w.mask().contains(p) && w.mask().contains(p + QPoint(2, 2)) &&
                w.mask().contains(p - QPoint(2, 2)))
                letter = p;
        }
    }
    QVERIFY(letter);
    const auto pointerTo = [&w](const QPoint &p) {
        QCursor::setPos(w.mapToGlobal(p));
        // The X server's enter, leave and motion reach the widget.
        QTest::qWait(10);
    };
    pointerTo(*letter);
    QTRY_VERIFY(w.ui->lockButton->isVisible());

    // Across the holes between the letters and the empty band, in steps: the button stays.
    const QPoint button = w.ui->lockButton->geometry().center();
    constexpr int kSteps = 40;
    for (int step = 1; step <= kSteps; ++step) {
        pointerTo(*letter + (button - *letter) * step / kSteps);
        QVERIFY2(w.ui->lockButton->isVisible(), qPrintable(QStringLiteral("hidden at step %1").arg(step)));
    }
    QTRY_VERIFY(w.mask().contains(button));
    screenshot(QStringLiteral("hover-1-lock-button-reached"));

    // A real press of the real pointer unlocks the widget.
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("click"), QStringLiteral("1")}), 0);
    QTRY_VERIFY(!w.isLocked);
    Animator::finishAll();
    screenshot(QStringLiteral("hover-2-unlocked"));

    // Off the hover region the button hides.
    QCursor::setPos(w.mapToGlobal(QPoint(-50, -50)));
    QTRY_VERIFY(!w.ui->lockButton->isVisible());
}

QTEST_MAIN(TestWindowLooks)
#include "tst_window_looks.moc"
