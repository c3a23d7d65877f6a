#include "WXDesktopWindow.h"
#include "WXDesktopWindowUi.h"

#include "Localized.h"
#include "WXForecast.h"

#include <algorithm>

#include <QHelpEvent>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>

using namespace nimbara;

namespace {

QDateTime at(const QString &text)
{
    return QDateTime::fromString(text, Qt::ISODate);
}

QString localClock(const QString &text)
{
    return at(text).toLocalTime().toString(QStringLiteral("HH:mm"));
}

// The characters the visible tooltip shows, as its label lays them out: a rich text's document
// text (an image there is U+FFFC), a plain text as it is. Empty when no tooltip shows.
QString shownToolTip()
{
    if (!QToolTip::isVisible())
        return {};
    const auto labels = QApplication::topLevelWidgets();
    const auto tip = std::find_if(labels.begin(), labels.end(), [](QWidget *widget) {
        return widget->objectName() == QLatin1String("qtooltip_label") && widget->isVisible();
    });
    if (tip == labels.end())
        return {};
    const auto *label = qobject_cast<QLabel *>(*tip);
    if (!label)
        return {};
    const bool rich = label->textFormat() == Qt::RichText ||
                      (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
    if (!rich)
        return label->text();
    QTextDocument document;
    document.setHtml(label->text());
    return document.toPlainText();
}

} // namespace

class TestWeatherFreshness : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void freshnessText_data();
    void freshnessText();
    void hoveringTheWeatherLine_showsTheTextOfThatMoment();

private:
    QTemporaryDir m_home;
};

void TestWeatherFreshness::initTestCase()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_home.path());
    installTranslations(QLocale(QStringLiteral("en_US")));
}

void TestWeatherFreshness::freshnessText_data()
{
    QTest::addColumn<QVariantMap>("data");
    QTest::addColumn<QString>("now");
    QTest::addColumn<QString>("text");
    const QString updated = QStringLiteral("2024-05-01T12:15+01:00");
    const QVariantMap reading{{QStringLiteral("updated"), updated},
                              {QStringLiteral("provider"), QStringLiteral("MET Norway")}};
    const QString fresh = QStringLiteral("Updated %1 · MET Norway").arg(localClock(updated));

    QTest::newRow("just now") << reading << QStringLiteral("2024-05-01T12:16+01:00") << fresh;
    QTest::newRow("exactly two hours") << reading << QStringLiteral("2024-05-01T14:15+01:00") << fresh;
    QTest::newRow("two hours and a minute")
        << reading << QStringLiteral("2024-05-01T14:16+01:00") << QStringLiteral("Updated 2 h ago");
    QTest::newRow("three hours, other zone")
        << reading << QStringLiteral("2024-05-01T14:20Z") << QStringLiteral("Updated 3 h ago");
    // Places at UTC+0 and at offsets of part hours, told in this machine's time.
    for (const QString &offset : {QStringLiteral("+00:00"), QStringLiteral("Z"), QStringLiteral("+05:45"),
                                  QStringLiteral("-03:30")}) {
        const QString time = QStringLiteral("2024-05-01T12:15") + offset;
        QTest::addRow("offset %s", qPrintable(offset))
            << QVariantMap{{QStringLiteral("updated"), time},
                           {QStringLiteral("provider"), QStringLiteral("MET Norway")}}
            << at(time).addSecs(60).toString(Qt::ISODate)
            << QStringLiteral("Updated %1 · MET Norway").arg(localClock(time));
    }
    QTest::newRow("no provider") << QVariantMap{{QStringLiteral("updated"), updated}}
                                 << QStringLiteral("2024-05-01T12:16+01:00")
                                 << QStringLiteral("Updated %1").arg(localClock(updated));
    // Today's service sends no time: nothing to say.
    QTest::newRow("no time") << QVariantMap{{QStringLiteral("celsius"), 4}}
                             << QStringLiteral("2024-05-01T12:16+01:00") << QString();
    QTest::newRow("time without offset")
        << QVariantMap{{QStringLiteral("updated"), QStringLiteral("2024-05-01T12:15")}}
        << QStringLiteral("2024-05-01T12:16+01:00") << QString();
    QTest::newRow("time as number") << QVariantMap{{QStringLiteral("updated"), 1714562100}}
                                    << QStringLiteral("2024-05-01T12:16+01:00") << QString();
}

void TestWeatherFreshness::freshnessText()
{
    QFETCH(QVariantMap, data);
    QFETCH(QString, now);
    QFETCH(QString, text);
    QCOMPARE(WXForecast::fromData(data).freshnessText(at(now)), text);

    WXDesktopWindow window;
    window.now = [now] {
        return at(now);
    };
    window.shownData = data;
    QCOMPARE(window.weatherLineToolTip(), text);
}

void TestWeatherFreshness::hoveringTheWeatherLine_showsTheTextOfThatMoment()
{
    WXDesktopWindow window;
    window.shownData = QVariantMap{{QStringLiteral("updated"), QStringLiteral("2024-05-01T12:15+01:00")},
                                   {QStringLiteral("provider"), QStringLiteral("Open-Meteo")}};
    QDateTime now = at(QStringLiteral("2024-05-01T12:20+01:00"));
    window.now = [&now] {
        return now;
    };
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.testAttribute(Qt::WA_AlwaysShowToolTips));

    QWidget *line = window.ui->title;
    const auto hover = [line] {
        QHelpEvent event(QEvent::ToolTip, line->rect().center(), line->mapToGlobal(line->rect().center()));
        QApplication::sendEvent(line, &event);
        return shownToolTip();
    };
    QCOMPARE(
        hover(),
        QStringLiteral("Updated %1 · Open-Meteo").arg(localClock(QStringLiteral("2024-05-01T12:15+01:00"))));

    // Hours later, the network gone: the same reading now says its age.
    now = now.addSecs(3 * 3600);
    QCOMPARE(hover(), QStringLiteral("Updated 3 h ago"));

    // The provider's name comes from the network: shown as its characters, never as markup.
    const QString provider =
        QStringLiteral("<img src=file:///usr/share/pixmaps/debian-logo.png><b>x</b> &amp;");
    window.shownData = QVariantMap{{QStringLiteral("updated"), QStringLiteral("2024-05-01T12:15+01:00")},
                                   {QStringLiteral("provider"), provider}};
    now = at(QStringLiteral("2024-05-01T12:20+01:00"));
    QCOMPARE(hover(), QStringLiteral("Updated %1 · %2")
                          .arg(localClock(QStringLiteral("2024-05-01T12:15+01:00")), provider));

    // Nothing known about the reading: no tooltip at all.
    window.shownData = QVariant();
    hover();
    QTRY_VERIFY(!QToolTip::isVisible());
    // The lines themselves are the widget's as before.
    QCOMPARE(window.ui->title->toolTip(), QString());
}

QTEST_MAIN(TestWeatherFreshness)
#include "tst_weather_freshness.moc"
