#include "Localized.h"
#include "WXTourWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>

using nimbara::installTranslations;

class TestTourWindow : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void load_showsStepOneWithTexts_data();
    void load_showsStepOneWithTexts();
    void buttons_walkThroughSteps_data();
    void buttons_walkThroughSteps();
    void userClose_keepsWindowAndStep();
    void showFromStart_returnsToStepOne();
    void goneStep_leavesContentAlone();
    void stepOne_pointsToTheLocationMenu_data();
    void stepOne_pointsToTheLocationMenu();
    void firstShow_centresOnTheWidgetsScreen();
};

void TestTourWindow::cleanup()
{
    installTranslations(QLocale::c());
}

void TestTourWindow::load_showsStepOneWithTexts_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QStringList>("texts"); // title, step texts, progress labels, button titles

    // No table loaded: every key shows as itself.
    QTest::newRow("keys") << QString() << QStringList{QStringLiteral("TOUR_WINDOW_TITLE"),
                                                      QStringLiteral("STEP_1"),
                                                      QStringLiteral("STEP_2"),
                                                      QStringLiteral("PROGRESS_STEP_1"),
                                                      QStringLiteral("PROGRESS_STEP_2"),
                                                      QStringLiteral("SKIP_BUTTON"),
                                                      QStringLiteral("NEXT_BUTTON"),
                                                      QStringLiteral("FINISH_BUTTON")};
    QTest::newRow("de")
        << QStringLiteral("de_DE")
        << QStringList{
               QStringLiteral("Kurze Einführung"),
               QStringLiteral(
                   "Nimbara liegt auf Ihrem Schreibtisch unter Ihren Fenstern und zeigt Uhrzeit, Wetter und "
                   "Ort. Zeigen Sie darauf, um den Schloss-Knopf zu sehen. Ein Rechtsklick öffnet sein Menü: "
                   "Unter Standort › Ort wählen… legen Sie den Ort mit seinem Namen fest."),
               QStringLiteral(
                   "Entsperren Sie das Widget, um es zu verschieben, zu vergrößern und Farbe, Einheit, Uhr, "
                   "Ort und Ausrichtung zu wählen. Sperren Sie es wieder, damit es an seinem Platz bleibt."),
               QStringLiteral("Schritt 1 von 2"),
               QStringLiteral("Schritt 2 von 2"),
               QStringLiteral("Überspringen"),
               QStringLiteral("Weiter"),
               QStringLiteral("Fertig")};
}

void TestTourWindow::load_showsStepOneWithTexts()
{
    QFETCH(QString, locale);
    QFETCH(QStringList, texts);
    if (!locale.isEmpty())
        QVERIFY(!installTranslations(QLocale(locale)).isEmpty());

    WXTourWindow tour;
    QCOMPARE(tour.contentView(), tour.step1.data());
    QCOMPARE(tour.windowTitle(), texts[0]);
    // Step 2's texts are in place before step 2 is shown.
    const QStringList shown = {tour.windowTitle(),           tour.textStep1->text(),
                               tour.textStep2->text(),       tour.progressStep1->text(),
                               tour.progressStep2->text(),   tour.skipButtonStep1->text(),
                               tour.nextButtonStep1->text(), tour.finishButtonStep2->text()};
    QCOMPARE(shown, texts);
}

void TestTourWindow::buttons_walkThroughSteps_data()
{
    QTest::addColumn<QStringList>("presses");
    QTest::addColumn<bool>("visibleAfter");
    QTest::addColumn<int>("stepAfter");

    QTest::newRow("skip") << QStringList{QStringLiteral("skip")} << false << 1;
    QTest::newRow("next") << QStringList{QStringLiteral("next")} << true << 2;
    QTest::newRow("next, finish") << QStringList{QStringLiteral("next"), QStringLiteral("finish")} << false
                                  << 2;
}

void TestTourWindow::buttons_walkThroughSteps()
{
    QFETCH(QStringList, presses);
    QFETCH(bool, visibleAfter);
    QFETCH(int, stepAfter);

    WXTourWindow tour;
    tour.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tour));
    const QRect frame = tour.geometry();
    const QString title = tour.windowTitle();

    for (const QString &press : presses) {
        QPushButton *button = press == QLatin1String("skip")   ? tour.skipButtonStep1.data()
                              : press == QLatin1String("next") ? tour.nextButtonStep1.data()
                                                               : tour.finishButtonStep2.data();
        QVERIFY(button->isVisible());
        QTest::mouseClick(button, Qt::LeftButton);
    }

    QCOMPARE(tour.isVisible(), visibleAfter);
    QCOMPARE(tour.contentView(), stepAfter == 1 ? tour.step1.data() : tour.step2.data());
    if (visibleAfter) {
        QCOMPARE(tour.geometry(), frame);
        QCOMPARE(tour.windowTitle(), title);
        QVERIFY(tour.textStep2->isVisible());
        QVERIFY(tour.progressStep2->isVisible());
        QVERIFY(!tour.nextButtonStep1->isVisible());
    }
}

void TestTourWindow::userClose_keepsWindowAndStep()
{
    WXTourWindow tour;
    tour.show();
    QTest::mouseClick(tour.nextButtonStep1, Qt::LeftButton);
    QVERIFY(tour.close());
    QVERIFY(!tour.isVisible());
    QCOMPARE(tour.contentView(), tour.step2.data());
    tour.show();
    QCOMPARE(tour.contentView(), tour.step2.data());
    QCOMPARE(tour.textStep2->text(), QStringLiteral("STEP_2"));
}

void TestTourWindow::showFromStart_returnsToStepOne()
{
    WXTourWindow tour;
    tour.show();
    QTest::mouseClick(tour.nextButtonStep1, Qt::LeftButton);
    QTest::mouseClick(tour.finishButtonStep2, Qt::LeftButton);
    QVERIFY(!tour.isVisible());

    tour.showFromStart();
    QVERIFY(tour.isVisible());
    QCOMPARE(tour.contentView(), tour.step1.data());
    QVERIFY(tour.nextButtonStep1->isVisible());
}

void TestTourWindow::goneStep_leavesContentAlone()
{
    WXTourWindow tour;
    tour.show();
    delete tour.step2.data();
    QVERIFY(tour.step2.isNull());
    QVERIFY(tour.textStep2.isNull());
    QTest::mouseClick(tour.nextButtonStep1, Qt::LeftButton);
    QCOMPARE(tour.contentView(), tour.step1.data());
    QVERIFY(tour.isVisible());
}

void TestTourWindow::stepOne_pointsToTheLocationMenu_data()
{
    QTest::addColumn<QString>("locale");
    for (const char *locale : {"en_US", "de_DE", "fr_FR", "es_ES", "ru_RU"})
        QTest::newRow(locale) << QString::fromLatin1(locale);
}

void TestTourWindow::stepOne_pointsToTheLocationMenu()
{
    QFETCH(QString, locale);
    QVERIFY(!installTranslations(QLocale(locale)).isEmpty());

    // Without a location service, the place is chosen by hand: the first step names the menu items
    // by their titles in the same language, and the place line points to the menu.
    WXTourWindow tour;
    const QString step = tour.textStep1->text();
    const QString submenu = nimbara::localized("LOCATION_MENU");
    const QString item = nimbara::localized("LOCATION_CHOOSE_MENU");
    QVERIFY2(step.contains(submenu + QStringLiteral(" › ") + item), qPrintable(step));
    QVERIFY(nimbara::localized("LOCATION_SERVICES_ENABLE") != QLatin1String("LOCATION_SERVICES_ENABLE"));
}

void TestTourWindow::firstShow_centresOnTheWidgetsScreen()
{
    QWidget widget;
    widget.setGeometry(40, 30, 680, 172);
    WXTourWindow tour;
    tour.setAnchor(&widget);
    tour.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tour));
    const QPoint middle = widget.screen()->availableGeometry().center();
    // The window manager's frame is not known before the first show: within its margins.
    const QPoint centre = tour.frameGeometry().center();
    QVERIFY2((centre - middle).manhattanLength() <= 4,
             qPrintable(QStringLiteral("%1,%2").arg(centre.x()).arg(centre.y())));

    // Put elsewhere, it opens there again.
    tour.move(20, 20);
    tour.close();
    tour.showFromStart();
    QCOMPARE(tour.pos(), QPoint(20, 20));
}

QTEST_MAIN(TestTourWindow)
#include "tst_tour_window.moc"
