#include "Localized.h"
#include "WXTourWindow.h"

#include <QLabel>
#include <QPushButton>
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
                   "Ort. Zeigen Sie darauf, um den Schloss-Knopf zu sehen."),
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

QTEST_MAIN(TestTourWindow)
#include "tst_tour_window.moc"
