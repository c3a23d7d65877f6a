#include "BuildInfo.h"
#include "WXAboutWindow.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QUrl>

class TestAboutWindow : public QObject
{
    Q_OBJECT

public:
    Q_INVOKABLE void openUrl(const QUrl &url) { opened.append(url); }

private slots:
    void init();
    void cleanup();
    void versionLine_data();
    void versionLine();
    void load_textsFromKeys();
    void close_hidesAndKeepsLine();
    void linkButtons_openOncePerPress_data();
    void linkButtons_openOncePerPress();

private:
    QList<QUrl> opened;
};

void TestAboutWindow::init()
{
    // Every address the panel opens comes here instead of to a browser.
    opened.clear();
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openUrl");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
}

void TestAboutWindow::cleanup()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

static void setBundle(const QString &shortVersion, const QString &build)
{
    QCoreApplication::setApplicationVersion(shortVersion);
    qApp->setProperty("CFBundleVersion", build);
}

void TestAboutWindow::versionLine_data()
{
    QTest::addColumn<QString>("shortVersion");
    QTest::addColumn<QString>("build");
    QTest::addColumn<QString>("line");

    QTest::newRow("1.2 build 34") << "1.2"
                                  << "34"
                                  << "Nimbara version 1.2 build 34";
    QTest::newRow("configured") << NIMBARA_VERSION << NIMBARA_BUILD_NUMBER
                                << QStringLiteral("Nimbara version " NIMBARA_VERSION
                                                  " build " NIMBARA_BUILD_NUMBER);
    QTest::newRow("placeholder in a value") << "%@"
                                            << "7"
                                            << "Nimbara version %@ build 7";
    QTest::newRow("no build number") << "1.2"
                                     << ""
                                     << "Nimbara version 1.2 build ?";
}

void TestAboutWindow::versionLine()
{
    QFETCH(QString, shortVersion);
    QFETCH(QString, build);
    QFETCH(QString, line);
    setBundle(shortVersion, build);

    WXAboutWindow about;
    auto version = about.findChild<QLabel *>(QStringLiteral("version"));
    QVERIFY(version);
    QCOMPARE(version->text(), line);

    // Built once, at load.
    setBundle(QStringLiteral("9.9"), QStringLiteral("99"));
    about.show();
    QCOMPARE(version->text(), line);
}

void TestAboutWindow::load_textsFromKeys()
{
    WXAboutWindow about;
    QCOMPARE(about.windowTitle(), QStringLiteral("ABOUT_WINDOW_TITLE"));
    QCOMPARE(about.findChild<QLabel *>(QStringLiteral("attribution"))->text(),
             QStringLiteral("ABOUT_ATTRIBUTION"));
    QCOMPARE(about.findChild<QPushButton *>(QStringLiteral("appWebsiteButton"))->text(),
             QStringLiteral("ABOUT_WEBSITE_BUTTON"));
    QCOMPARE(about.findChild<QPushButton *>(QStringLiteral("forecastWebsiteButton"))->text(),
             QStringLiteral("ABOUT_FORECAST_BUTTON"));
}

void TestAboutWindow::close_hidesAndKeepsLine()
{
    setBundle(QStringLiteral("1.2"), QStringLiteral("34"));
    WXAboutWindow about;
    QPointer<WXAboutWindow> alive(&about);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));

    QVERIFY(!about.close());
    QVERIFY(!about.isVisible());
    QVERIFY(alive);

    about.show();
    QVERIFY(about.isVisible());
    QCOMPARE(about.findChild<QLabel *>(QStringLiteral("version"))->text(),
             QStringLiteral("Nimbara version 1.2 build 34"));
}

void TestAboutWindow::linkButtons_openOncePerPress_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QUrl>("url");

    QTest::newRow("product website") << "appWebsiteButton"
                                     << QUrl(QStringLiteral("http://" NIMBARA_SERVICE_HOST "/"));
    QTest::newRow("provider website")
        << "forecastWebsiteButton" << QUrl(QStringLiteral("https://open-meteo.com/"));
}

void TestAboutWindow::linkButtons_openOncePerPress()
{
    QFETCH(QString, button);
    QFETCH(QUrl, url);
    if (button == QLatin1String("appWebsiteButton") &&
        QStringLiteral(NIMBARA_SERVICE_HOST) != u"127.0.0.1:8470")
        url = QUrl(QStringLiteral("http://" NIMBARA_SERVICE_HOST "/"));

    WXAboutWindow about;
    about.show();
    auto pressed = about.findChild<QPushButton *>(button);
    QVERIFY(pressed);
    QTest::mouseClick(pressed, Qt::LeftButton);
    QCOMPARE(opened, QList<QUrl>{url});
    QTest::mouseClick(pressed, Qt::LeftButton);
    QCOMPARE(opened, (QList<QUrl>{url, url}));
    QVERIFY(about.isVisible());
}

QTEST_MAIN(TestAboutWindow)
#include "tst_about_window.moc"
