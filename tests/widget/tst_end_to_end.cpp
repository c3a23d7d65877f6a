#include "LoopbackServer.h"
#include "WXDesktopWindow.h"
#include "WXDesktopWindowUi.h"

#include "Localized.h"
#include "Log.h"
#include "SettingsStore.h"
#include "WXWeather.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace nimbara;

namespace {

// Open-Meteo's answer for London: 12.3 °C, partly cloudy.
const QByteArray kUpstreamAnswer =
    R"({"latitude":51.5,"longitude":-0.13,"current_units":{"temperature_2m":"°C"},)"
    R"("current":{"time":"2024-12-06T12:00","temperature_2m":12.3,"weather_code":2}})";

// How many of the pixels that a text line paints fully show different colours on the screen.
int pixelsNotOnScreen(QWidget *line, const QImage &screen)
{
    QImage painted(line->size(), QImage::Format_ARGB32_Premultiplied);
    painted.fill(Qt::transparent);
    line->render(&painted, QPoint(), QRegion(), QWidget::DrawChildren);
    const QPoint origin = line->mapToGlobal(QPoint(0, 0));
    int differing = 0;
    for (int y = 0; y < painted.height(); ++y) {
        for (int x = 0; x < painted.width(); ++x) {
            const QRgb own = painted.pixel(x, y);
            if (qAlpha(own) < 255)
                continue;
            const QRgb shown = screen.pixel(origin + QPoint(x, y));
            if (qAbs(qRed(own) - qRed(shown)) + qAbs(qGreen(own) - qGreen(shown)) +
                    qAbs(qBlue(own) - qBlue(shown)) >
                48)
                ++differing;
        }
    }
    return differing;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

// The widget as a user meets it: a real window on an X server, positions from the "positionSource"
// setting, the real nimbara-weatherd on 127.0.0.1 asking a fake upstream provider on 127.0.0.1.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void showsTheWeatherAndKeepsItFresh();

private:
    void startService();
    void stopService();
    QString weatherLine(int degrees) const;

    QTemporaryDir m_dir;
    LoopbackServer m_upstream;
    QProcess m_service;
    quint16 m_port = 0;
};

void TestEndToEnd::initTestCase()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       m_dir.filePath(QStringLiteral("config")));
    QSettings settings(QStringLiteral("Nimbara"), QStringLiteral("Nimbara"));
    settings.clear();
    // A user who has run the widget before, with every line shown, and a fixed position.
    SettingsStore::setBool(key::initialized, true);
    SettingsStore::setBool(key::locationEnabled, true);
    SettingsStore::setBool(key::dateEnabled, true);
    SettingsStore::setBool(key::whiteColor, true);
    SettingsStore::setBool(key::celsius, true);
    settings.setValue(key::positionSource, QStringLiteral("fixed:51.5074,-0.1278"));
    settings.sync();
    installTranslations(QLocale(QStringLiteral("en_US")));

    m_upstream.setReply(LoopbackServer::answer(200, kUpstreamAnswer));
    m_port = freePort();
    const QString host = QStringLiteral("127.0.0.1:%1").arg(m_port);
    WXWeather::setHostsForTesting(host, host);
    startService();
}

void TestEndToEnd::cleanupTestCase()
{
    stopService();
}

void TestEndToEnd::startService()
{
    const QString upstream = QStringLiteral("http://") + m_upstream.host();
    m_service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_service.start(QStringLiteral(NIMBARA_WEATHERD),
                    {QStringLiteral("--port"), QString::number(m_port), QStringLiteral("--db"),
                     m_dir.filePath(QStringLiteral("weatherd.sqlite")), QStringLiteral("--provider-url"),
                     upstream, QStringLiteral("--second-provider-url"), upstream,
                     QStringLiteral("--upstream-timeout"), QStringLiteral("2")});
    QVERIFY(m_service.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(WXWeather::isConnected() || m_service.state() != QProcess::Running, 10000);
    QCOMPARE(m_service.state(), QProcess::Running);
}

void TestEndToEnd::stopService()
{
    if (m_service.state() == QProcess::NotRunning)
        return;
    m_service.kill();
    m_service.waitForFinished();
}

QString TestEndToEnd::weatherLine(int degrees) const
{
    return QStringLiteral("%1°, %2").arg(degrees).arg(localized("PARTLY-CLOUDY"));
}

void TestEndToEnd::showsTheWeatherAndKeepsItFresh()
{
    LogCapture capture;
    QElapsedTimer sinceStart;
    sinceStart.start();
    WXDesktopWindow window;
    window.awakeFromNib();
    window.setFrame(QRectF(100, 100, 680, 172), false);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // The first check tick comes 15 s after the start, on the real timer.
    QTRY_COMPARE_WITH_TIMEOUT(window.ui->title->text(), weatherLine(12), 20000);
    qInfo("first weather line after %lld ms", sinceStart.elapsed());
    QCOMPARE(window.ui->subtitle->text(), QStringLiteral("LONDON"));
    QVERIFY(window.isUpdated);
    QCOMPARE(window.current, 15);

    const QString screenshot =
        QDir(QStringLiteral(NIMBARA_SCREENSHOT_DIR)).filePath(QStringLiteral("end-to-end.png"));
    QTest::qWait(1000); // the first paint of the new text, and the window shape that follows it
    const QImage screen = window.screen()->grabWindow(0).toImage();
    QVERIFY(screen.save(screenshot));
    qInfo("screenshot: %s", qPrintable(screenshot));
    // What the lines paint is what the screen shows: no part of a glyph is cut off.
    QCOMPARE(pixelsNotOnScreen(window.ui->title, screen), 0);
    QCOMPARE(pixelsNotOnScreen(window.ui->subtitle, screen), 0);

    // The units button (on the strip of the unlocked widget) shows the service's other value, and back.
    window.didPressLockButton(window.ui->lockButton);
    QVERIFY(!window.isLocked);
    QTest::mouseClick(window.ui->reloadButton, Qt::LeftButton);
    QCOMPARE(window.ui->title->text(), weatherLine(54));
    QCOMPARE(SettingsStore::boolForKey(key::celsius), false);
    QTest::mouseClick(window.ui->reloadButton, Qt::LeftButton);
    QCOMPARE(window.ui->title->text(), weatherLine(12));
    window.didPressLockButton(window.ui->lockButton);

    // The service goes away: the weather stays on screen and is no longer counted current.
    stopService();
    window.checkTick();
    QCOMPARE(window.ui->title->text(), weatherLine(12));
    QCOMPARE(window.ui->subtitle->text(), QStringLiteral("LONDON"));
    QVERIFY(!window.isUpdated);
    window.checkTick();
    QVERIFY(!window.isUpdated);

    // Back again: the next connected tick fetches.
    startService();
    capture.clear();
    m_upstream.setReply(LoopbackServer::answer(200, QByteArray(kUpstreamAnswer).replace("12.3", "-3.6")));
    window.checkTick();
    QVERIFY(capture.lines().contains(QStringLiteral("refreshing")));
    QVERIFY(window.isUpdated);
    QVERIFY(window.ui->title->text().endsWith(localized("PARTLY-CLOUDY")));
    QCOMPARE(window.ui->subtitle->text(), QStringLiteral("LONDON"));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"
