#include "WXAboutWindow.h"
#include "WXFeedbackWindow.h"
#include "WXForecastWindow.h"
#include "WXPlaceChooser.h"
#include "WXTourWindow.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <functional>

// The keys every panel answers as a dialog would, sent to the control that has the focus.
class TestPanelKeys : public QObject
{
    Q_OBJECT

private slots:
    void escape_closesThePanel_data();
    void escape_closesThePanel();
    void enter_walksTheTour();
};

using MakePanel = std::function<std::unique_ptr<QWidget>()>;
Q_DECLARE_METATYPE(MakePanel)

template <typename Panel>
MakePanel maker()
{
    return [] {
        return std::make_unique<Panel>();
    };
}

void TestPanelKeys::escape_closesThePanel_data()
{
    QTest::addColumn<MakePanel>("make");
    // The control the focus is on when Esc comes (empty: the window itself).
    QTest::addColumn<QString>("focus");

    QTest::newRow("tour") << maker<WXTourWindow>() << QStringLiteral("nextButtonStep1");
    QTest::newRow("About") << maker<WXAboutWindow>() << QStringLiteral("appWebsiteButton");
    QTest::newRow("Forecast") << maker<WXForecastWindow>() << QString();
    QTest::newRow("feedback, name field") << maker<WXFeedbackWindow>() << QStringLiteral("nameField");
    QTest::newRow("feedback, message field") << maker<WXFeedbackWindow>() << QStringLiteral("messageField");
    QTest::newRow("place chooser, search field") << maker<WXPlaceChooser>() << QStringLiteral("searchField");
    QTest::newRow("place chooser, list") << maker<WXPlaceChooser>() << QStringLiteral("results");
}

void TestPanelKeys::escape_closesThePanel()
{
    QFETCH(MakePanel, make);
    QFETCH(QString, focus);

    const std::unique_ptr<QWidget> panel = make();
    panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(panel.get()));
    QWidget *target = focus.isEmpty() ? panel.get() : panel->findChild<QWidget *>(focus);
    QVERIFY(target);
    target->setFocus();

    QTest::keyClick(target, Qt::Key_Escape);
    QVERIFY(!panel->isVisible());
    // Shown again, it is the same panel: closing only hid it.
    panel->show();
    QVERIFY(panel->isVisible());
}

void TestPanelKeys::enter_walksTheTour()
{
    WXTourWindow tour;
    tour.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tour));
    // Skip has the focus (first in the chain): Enter still goes on, as a dialog's default button.
    tour.skipButtonStep1->setFocus();
    QTest::keyClick(tour.skipButtonStep1, Qt::Key_Return);
    QCOMPARE(tour.contentView(), tour.step2.data());
    QVERIFY(tour.isVisible());

    QTest::keyClick(&tour, Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(!tour.isVisible());
}

QTEST_MAIN(TestPanelKeys)
#include "tst_panel_keys.moc"
