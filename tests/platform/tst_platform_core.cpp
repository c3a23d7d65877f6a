#include "BundleInfo.h"
#include "Localized.h"
#include "Log.h"

#include <QTest>

using namespace nimbara;

class TestPlatformCore : public QObject
{
    Q_OBJECT

private slots:
    void log_capturesLinesInOrder();
    void localized_missingEntryShowsKey();
    void localized_loadsGermanTable();
    void bundleValue_versionAndBuild();
};

void TestPlatformCore::log_capturesLinesInOrder()
{
    LogCapture outer;
    log(QStringLiteral("first"));
    {
        LogCapture inner;
        log(QStringLiteral("second"));
        QCOMPARE(inner.lines(), QStringList{QStringLiteral("second")});
    }
    log(QStringLiteral(" ! ERROR : empty JSON response"));
    QCOMPARE(outer.lines(),
             (QStringList{QStringLiteral("first"), QStringLiteral(" ! ERROR : empty JSON response")}));
}

void TestPlatformCore::localized_missingEntryShowsKey()
{
    QCOMPARE(localized("NO_SUCH_KEY"), QStringLiteral("NO_SUCH_KEY"));
    QCOMPARE(localized("PARTLY-SUNNY-WITH-MEATBALLS"), QStringLiteral("PARTLY-SUNNY-WITH-MEATBALLS"));
}

void TestPlatformCore::localized_loadsGermanTable()
{
    QCOMPARE(installTranslations(QLocale(QStringLiteral("de_DE"))), QStringLiteral("de"));
    QCOMPARE(localized("SKIP_BUTTON"), QStringLiteral("Überspringen"));
    QCOMPARE(localized("PARTLY-CLOUDY"), QStringLiteral("TEILWEISE BEWÖLKT"));
    QCOMPARE(localized("NO_SUCH_KEY"), QStringLiteral("NO_SUCH_KEY"));
    installTranslations(QLocale(QStringLiteral("en_US")));
    QCOMPARE(localized("SKIP_BUTTON"), QStringLiteral("Skip"));
}

void TestPlatformCore::bundleValue_versionAndBuild()
{
    QCoreApplication::setApplicationVersion(QStringLiteral("1.2"));
    qApp->setProperty("CFBundleVersion", QStringLiteral("34"));
    QCOMPARE(bundleValue(QStringLiteral("CFBundleShortVersionString")), QStringLiteral("1.2"));
    QCOMPARE(bundleValue(QStringLiteral("CFBundleVersion")), QStringLiteral("34"));
    initBundleInfo();
    QVERIFY(!bundleValue(QStringLiteral("CFBundleShortVersionString")).isEmpty());
}

QTEST_GUILESS_MAIN(TestPlatformCore)
#include "tst_platform_core.moc"
