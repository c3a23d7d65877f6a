#include "FakeLocationSource.h"
#include "LoopbackServer.h"
#include "WXDesktopWindow.h"
#include "WXDesktopWindowUi.h"

#include "Log.h"
#include "SettingsStore.h"
#include "WXWeather.h"

#include <QJsonDocument>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace nimbara;

namespace {

const QString kPlaceholderTitle = QStringLiteral("UPDATING_WEATHER");
const QString kPlaceholderSubtitle = QStringLiteral("PLEASE_WAIT");
const QVariantMap kPreviousData{{QStringLiteral("celsius"), 5},
                                {QStringLiteral("condition"), QStringLiteral("fog")}};

QVariant dataMemberOf(const QByteArray &body)
{
    return QJsonDocument::fromJson(body).toVariant().toMap().value(QStringLiteral("data"));
}

// The log without the exchange's own lines: the answer's text and its error lines.
QStringList withoutExchangeLines(const QStringList &lines, const QByteArray &body)
{
    // The body line is the body read as ASCII: compare what is ASCII on both sides.
    const auto ascii = [](QString text) {
        text.removeIf([](QChar c) { return c.unicode() > 0x7f; });
        return text;
    };
    QStringList kept;
    for (const QString &line : lines) {
        if (ascii(line) != ascii(QString::fromUtf8(body)) &&
            !line.startsWith(QLatin1String(" ! ERROR : empty JSON")) &&
            !line.startsWith(QLatin1String(" ! ERROR : request error")))
            kept.append(line);
    }
    return kept;
}

} // namespace

class TestWeatherUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void envelope_data();
    void envelope();
    void guard_writesOnlyItsLogLine_data();
    void guard_writesOnlyItsLogLine();
    void sendsTheGivenLocation();
    void markup_isShownAsItsCharacters();
    void reRender_data();
    void reRender();
    void unitsButton_flipsCelsiusThenReRenders();
    void unitsButton_afterFailedRefreshConvertsTheLines_data();
    void unitsButton_afterFailedRefreshConvertsTheLines();
    void shownData_isTheLastWeatherAnswers();

private:
    QTemporaryDir m_home;
    std::unique_ptr<LoopbackServer> m_server;
    std::unique_ptr<WXDesktopWindow> m_window;
    FakeLocationSource *m_source = nullptr;
};

void TestWeatherUpdate::initTestCase()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_home.path());
    m_server = std::make_unique<LoopbackServer>();
    WXWeather::setHostsForTesting(m_server->host(), m_server->host());
}

void TestWeatherUpdate::init()
{
    QSettings(QStringLiteral("Nimbara"), QStringLiteral("Nimbara")).clear();
    m_server->clear();
    m_window = std::make_unique<WXDesktopWindow>();
    m_source = new FakeLocationSource(true, m_window.get());
    m_window->locationManager = m_source;
    m_window->ui->title->setText(kPlaceholderTitle);
    m_window->ui->subtitle->setText(kPlaceholderSubtitle);
    m_window->cachedLocation = QGeoCoordinate(51.5074, -0.1278);
}

void TestWeatherUpdate::cleanup()
{
    m_window.reset();
}

void TestWeatherUpdate::envelope_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("celsius");
    QTest::addColumn<bool>("errorsBefore");
    // Expected afterwards.
    QTest::addColumn<bool>("dataReplaced");
    QTest::addColumn<bool>("isUpdated");
    QTest::addColumn<bool>("errors");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("subtitle");
    QTest::addColumn<int>("stops");

    const QString unchangedTitle = kPlaceholderTitle;
    const QString unchangedSubtitle = kPlaceholderSubtitle;
    const QByteArray weather =
        R"({"status":"ok","error":null,"data":{"temp":70,"celsius":21,"condition":"rain","location":"london"}})";
    const auto answer = [](const QByteArray &body) {
        return LoopbackServer::answer(200, body);
    };

    // clang-format off
    QTest::newRow("weather, celsius") << answer(weather) << true << true
        << true << true << false << QStringLiteral("21°, RAIN") << QStringLiteral("LONDON") << 1;
    // The forecast members beside them change nothing in the three lines.
    QTest::newRow("weather with forecast members") << answer(R"({"status":"ok","data":{"temp":70,"celsius":21,"condition":"rain","location":"london","updated":"2024-05-01T12:15+01:00","provider":"Open-Meteo","today":{"high":{"celsius":22,"temp":72},"low":{"celsius":9,"temp":48}},"sunrise":"05:31","sunset":"20:24","hourly":[{"time":"2024-05-01T12:00+01:00","celsius":21,"temp":70,"condition":"rain","precipitation":1.2,"probability":80,"day":true}]}})") << true << true
        << true << true << false << QStringLiteral("21°, RAIN") << QStringLiteral("LONDON") << 1;
    QTest::newRow("weather, other unit") << answer(weather) << false << false
        << true << true << false << QStringLiteral("70°, RAIN") << QStringLiteral("LONDON") << 1;
    QTest::newRow("status missing is weather") << answer(R"({"data":{"celsius":-3,"condition":"partly-cloudy","location":"straße"}})") << true << false
        << true << true << false << QStringLiteral("-3°, PARTLY-CLOUDY") << QStringLiteral("STRASSE") << 1;
    QTest::newRow("status in other case is weather") << answer(R"({"status":"Error","error":1,"data":{"celsius":21.7,"condition":"clear","location":"paris"}})") << true << false
        << true << true << false << QStringLiteral("21°, CLEAR") << QStringLiteral("PARIS") << 1;
    QTest::newRow("non-whole temperatures cut toward zero") << answer(R"({"status":"ok","data":{"temp":-3.9,"condition":"snow","location":"oslo"}})") << false << false
        << true << true << false << QStringLiteral("-3°, SNOW") << QStringLiteral("OSLO") << 1;
    // A success without weather data is a failed update.
    QTest::newRow("weather without data") << answer(R"({"status":"ok"})") << true << false
        << false << false << true << unchangedTitle << unchangedSubtitle << 0;
    QTest::newRow("weather data is null") << answer(R"({"status":"ok","data":null})") << true << false
        << false << false << true << unchangedTitle << unchangedSubtitle << 0;
    QTest::newRow("error 0, errors false") << answer(R"({"status":"error","error":0,"data":{"celsius":1}})") << true << false
        << true << false << false << QStringLiteral("OUTDATED_VERSION") << QStringLiteral("PLEASE_UPDATE_APPLICATION") << 0;
    QTest::newRow("error 0, errors true") << answer(R"({"status":"error","error":0})") << true << true
        << true << false << true << QStringLiteral("OUTDATED_VERSION") << QStringLiteral("PLEASE_UPDATE_APPLICATION") << 0;
    QTest::newRow("error 1") << answer(R"({"status":"error","error":1,"data":{"celsius":12,"condition":"rain"}})") << true << false
        << true << false << true << QStringLiteral("BLACKLIST") << QStringLiteral("DATA_DOWNLOAD_ERROR") << 0;
    QTest::newRow("error 3") << answer(R"({"status":"error","error":3})") << true << false
        << true << false << true << unchangedTitle << unchangedSubtitle << 0;
    QTest::newRow("error 2") << answer(R"({"status":"error","error":2,"data":[]})") << true << false
        << true << false << false << unchangedTitle << unchangedSubtitle << 0;
    QTest::newRow("error 4, errors true") << answer(R"({"status":"error","error":4})") << true << true
        << true << false << true << unchangedTitle << unchangedSubtitle << 0;
    QTest::newRow("no envelope: empty object") << answer("{}") << true << false
        << false << false << true << unchangedTitle << unchangedSubtitle << 0;
    QTest::newRow("no envelope: not JSON") << answer("<html>busy</html>") << true << false
        << false << false << true << unchangedTitle << unchangedSubtitle << 0;
    QTest::newRow("no envelope: server error") << LoopbackServer::answer(500, "") << true << false
        << false << false << true << unchangedTitle << unchangedSubtitle << 0;
    // Wrong types: the widget reads such a member as missing.
    QTest::newRow("wrong: envelope is an array") << answer(R"([{"status":"ok"}])") << true << false
        << false << false << true << unchangedTitle << unchangedSubtitle << 0;
    QTest::newRow("wrong: error missing") << answer(R"({"status":"error"})") << true << false
        << true << false << false << unchangedTitle << unchangedSubtitle << 0;
    QTest::newRow("wrong: error as text") << answer(R"({"status":"error","error":"1"})") << true << false
        << true << false << false << unchangedTitle << unchangedSubtitle << 0;
    QTest::newRow("wrong: temperature as text") << answer(R"({"status":"ok","data":{"celsius":"21","condition":"rain","location":"london"}})") << true << false
        << true << true << false << QStringLiteral("0°, RAIN") << QStringLiteral("LONDON") << 1;
    QTest::newRow("wrong: condition as number") << answer(R"({"status":"ok","data":{"celsius":21,"condition":5,"location":7}})") << true << false
        << true << true << false << QStringLiteral("21°, ") << QString() << 1;
    QTest::newRow("wrong: data is an array") << answer(R"({"status":"ok","data":[21,"rain"]})") << true << false
        << false << false << true << unchangedTitle << unchangedSubtitle << 0;
    QTest::newRow("wrong: temperature too large") << answer(R"({"status":"ok","data":{"celsius":1e300,"condition":"clear","location":"x"}})") << true << false
        << true << true << false << QStringLiteral("0°, CLEAR") << QStringLiteral("X") << 1;
    // clang-format on
}

void TestWeatherUpdate::envelope()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, celsius);
    QFETCH(bool, errorsBefore);
    QFETCH(bool, dataReplaced);
    QFETCH(bool, isUpdated);
    QFETCH(bool, errors);
    QFETCH(QString, title);
    QFETCH(QString, subtitle);
    QFETCH(int, stops);

    SettingsStore::setBool(key::celsius, celsius);
    m_server->setReply(reply);
    WXDesktopWindow &w = *m_window;
    w.errors = errorsBefore;
    w.data = kPreviousData;

    LogCapture capture;
    w.getWeather(w.cachedLocation);
    QCOMPARE(capture.lines().value(0), QStringLiteral("updating weather"));
    QCOMPARE(m_server->requests().size(), 1);
    QCOMPARE(w.isUpdating, false);
    QCOMPARE(w.isUpdated, isUpdated);
    QCOMPARE(w.errors, errors);
    const QByteArray body = reply.mid(reply.indexOf("\r\n\r\n") + 4);
    QCOMPARE(w.data, dataReplaced ? dataMemberOf(body) : QVariant(kPreviousData));
    QCOMPARE(w.ui->title->text(), title);
    QCOMPARE(w.ui->subtitle->text(), subtitle);
    QCOMPARE(m_source->stops, stops);
    // Of its own the update writes only its first line: a tick's lines keep their order.
    QCOMPARE(withoutExchangeLines(capture.lines(), body), QStringList{QStringLiteral("updating weather")});
}

void TestWeatherUpdate::guard_writesOnlyItsLogLine_data()
{
    QTest::addColumn<bool>("hasLocation");
    QTest::addColumn<bool>("isUpdating");
    QTest::addColumn<bool>("isUpdated");
    QTest::newRow("no location yet") << false << false << false;
    QTest::newRow("update running") << true << true << false;
    QTest::newRow("weather current") << true << false << true;
}

void TestWeatherUpdate::guard_writesOnlyItsLogLine()
{
    QFETCH(bool, hasLocation);
    QFETCH(bool, isUpdating);
    QFETCH(bool, isUpdated);
    WXDesktopWindow &w = *m_window;
    if (!hasLocation)
        w.cachedLocation.reset();
    w.isUpdating = isUpdating;
    w.isUpdated = isUpdated;
    w.data = kPreviousData;
    m_server->setReply(LoopbackServer::answer(200, R"({"status":"error","error":1})"));

    LogCapture capture;
    w.getWeather(std::optional<QGeoCoordinate>(QGeoCoordinate(1.0, 2.0)));
    QCOMPARE(capture.lines(), QStringList{QStringLiteral("updating weather")});
    QVERIFY(m_server->requests().isEmpty());
    QCOMPARE(w.isUpdating, isUpdating);
    QCOMPARE(w.isUpdated, isUpdated);
    QCOMPARE(w.errors, false);
    QCOMPARE(w.data, QVariant(kPreviousData));
    QCOMPARE(w.ui->title->text(), kPlaceholderTitle);
}

void TestWeatherUpdate::sendsTheGivenLocation()
{
    m_server->setReply(LoopbackServer::answer(200, R"({"status":"ok","data":{"celsius":20}})"));
    m_window->getWeather(QGeoCoordinate(48.8566, 2.3522));
    const QByteArray line = m_server->requests().value(0).requestLine;
    QVERIFY2(line.startsWith("GET /api/0.5/gate?") && line.contains("v1=48.8566") &&
                 line.contains("v2=2.3522"),
             line.constData());
}

void TestWeatherUpdate::markup_isShownAsItsCharacters()
{
    SettingsStore::setBool(key::celsius, true);
    m_server->setReply(LoopbackServer::answer(
        200,
        R"({"status":"ok","data":{"celsius":5,"condition":"<b>x</b><img src=/usr/share/icons/hicolor/48x48/apps/x.png>","location":"<i>here</i> &amp; there"}})"));
    WXDesktopWindow &w = *m_window;
    w.getWeather(w.cachedLocation);
    const QString title = QStringLiteral("5°, <B>X</B><IMG SRC=/USR/SHARE/ICONS/HICOLOR/48X48/APPS/X.PNG>");
    const QString subtitle = QStringLiteral("<I>HERE</I> &AMP; THERE");
    QCOMPARE(w.ui->title->text(), title);
    QCOMPARE(w.ui->subtitle->text(), subtitle);
    // Laid out and drawn as these characters, not as a document with a bold x and an image.
    for (const auto &[line, text] : {std::pair{w.ui->title, title}, std::pair{w.ui->subtitle, subtitle}}) {
        QCOMPARE(line->textFormat(), Qt::PlainText);
        const int advance = QFontMetrics(line->font()).horizontalAdvance(text);
        QVERIFY2(line->sizeHint().width() >= advance - 2,
                 qPrintable(QStringLiteral("%1 < %2").arg(line->sizeHint().width()).arg(advance)));
    }
}

void TestWeatherUpdate::reRender_data()
{
    // The weather answer's data, shown in the other unit first; then the unit chosen.
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("celsius");
    QTest::addColumn<QString>("title");
    QTest::newRow("21.7") << QByteArray(R"({"temp":21.7,"celsius":99,"condition":"rain"})") << false
                          << QStringLiteral("21°, RAIN");
    QTest::newRow("-0.5 has no minus sign") << QByteArray(R"({"temp":-0.5,"celsius":99,"condition":"fog"})")
                                            << false << QStringLiteral("0°, FOG");
    QTest::newRow("-3.9") << QByteArray(R"({"temp":-3.9,"celsius":99,"condition":"snow"})") << false
                          << QStringLiteral("-3°, SNOW");
    QTest::newRow("celsius member") << QByteArray(R"({"temp":70,"celsius":99,"condition":"clear"})") << true
                                    << QStringLiteral("99°, CLEAR");
    // Without weather shown, or a temperature in the chosen unit, the weather line stays as it is.
    QTest::newRow("no data") << QByteArray("null") << true << kPlaceholderTitle;
    QTest::newRow("data is text") << QByteArray(R"("rain")") << true << kPlaceholderTitle;
    QTest::newRow("temperature as text") << QByteArray(R"({"temp":"21","celsius":99,"condition":"rain"})")
                                         << false << QStringLiteral("99°, RAIN");
    QTest::newRow("only the other unit")
        << QByteArray(R"({"temp":70,"condition":"rain"})") << true << QStringLiteral("70°, RAIN");
}

void TestWeatherUpdate::reRender()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, celsius);
    QFETCH(QString, title);
    SettingsStore::setBool(key::celsius, !celsius);
    m_server->setReply(LoopbackServer::answer(200, R"({"status":"ok","data":)" + data + "}"));
    WXDesktopWindow &w = *m_window;
    w.getWeather(w.cachedLocation);
    const QString subtitle = w.ui->subtitle->text();
    const bool updated = w.isUpdated;

    SettingsStore::setBool(key::celsius, celsius);
    LogCapture capture;
    w.didPressReloadButton(w.ui->reloadButton);
    QCOMPARE(w.ui->title->text(), title);
    QCOMPARE(w.ui->subtitle->text(), subtitle);
    QCOMPARE(capture.lines(), QStringList());
    QCOMPARE(m_server->requests().size(), 1);
    QCOMPARE(w.isUpdated, updated);
}

void TestWeatherUpdate::unitsButton_flipsCelsiusThenReRenders()
{
    SettingsStore::setBool(key::celsius, true);
    m_server->setReply(LoopbackServer::answer(
        200, R"({"status":"ok","data":{"temp":70,"celsius":21,"condition":"rain","location":"london"}})"));
    WXDesktopWindow &w = *m_window;
    w.getWeather(w.cachedLocation);
    QCOMPARE(w.ui->title->text(), QStringLiteral("21°, RAIN"));

    w.ui->reloadButton->click();
    QCOMPARE(SettingsStore::boolForKey(key::celsius), false);
    QCOMPARE(w.ui->title->text(), QStringLiteral("70°, RAIN"));
    w.ui->reloadButton->click();
    QCOMPARE(SettingsStore::boolForKey(key::celsius), true);
    QCOMPARE(w.ui->title->text(), QStringLiteral("21°, RAIN"));
    QCOMPARE(w.ui->subtitle->text(), QStringLiteral("LONDON"));
    QCOMPARE(m_server->requests().size(), 1);
}

void TestWeatherUpdate::unitsButton_afterFailedRefreshConvertsTheLines_data()
{
    QTest::addColumn<QByteArray>("failure");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("subtitle");
    // The lines keep the last weather, and it turns to the other unit.
    QTest::newRow("upstream down") << QByteArray(R"({"status":"error","error":3})")
                                   << QStringLiteral("54°, PARTLY CLOUDY") << QStringLiteral("LONDON");
    QTest::newRow("upstream down with data")
        << QByteArray(R"({"status":"error","error":3,"data":{"temp":1,"celsius":-17}})")
        << QStringLiteral("54°, PARTLY CLOUDY") << QStringLiteral("LONDON");
    QTest::newRow("ok without data") << QByteArray(R"({"status":"ok"})")
                                     << QStringLiteral("54°, PARTLY CLOUDY") << QStringLiteral("LONDON");
    // A notice in the lines stays; the Forecast panel still follows the unit.
    QTest::newRow("outdated version")
        << QByteArray(R"({"status":"error","error":0})") << QStringLiteral("OUTDATED_VERSION")
        << QStringLiteral("PLEASE_UPDATE_APPLICATION");
}

void TestWeatherUpdate::unitsButton_afterFailedRefreshConvertsTheLines()
{
    QFETCH(QByteArray, failure);
    QFETCH(QString, title);
    QFETCH(QString, subtitle);
    SettingsStore::setBool(key::celsius, true);
    m_server->setReply(LoopbackServer::answer(
        200,
        R"({"status":"ok","data":{"temp":54,"celsius":12,"condition":"partly cloudy","location":"london"}})"));
    WXDesktopWindow &w = *m_window;
    w.getWeather(w.cachedLocation);
    QCOMPARE(w.ui->title->text(), QStringLiteral("12°, PARTLY CLOUDY"));

    // The hourly refresh fails; the button then converts what is on screen and tells the panel.
    m_server->setReply(LoopbackServer::answer(200, failure));
    w.isUpdated = false;
    w.getWeather(w.cachedLocation);
    QVERIFY(!w.isUpdated);
    int changes = 0;
    connect(&w, &WXDesktopWindow::weatherDidChange, &w, [&changes] { ++changes; });
    w.ui->reloadButton->click();
    QCOMPARE(SettingsStore::boolForKey(key::celsius), false);
    QCOMPARE(w.ui->title->text(), title);
    QCOMPARE(w.ui->subtitle->text(), subtitle);
    QCOMPARE(changes, 1);
}

void TestWeatherUpdate::shownData_isTheLastWeatherAnswers()
{
    // What the lines show, and so what the tooltip and the Forecast panel tell about, is the last
    // weather answer's data; an error answer replaces data but not the lines.
    SettingsStore::setBool(key::celsius, true);
    WXDesktopWindow &w = *m_window;
    int changes = 0;
    connect(&w, &WXDesktopWindow::weatherDidChange, &w, [&changes] { ++changes; });
    const QByteArray weather =
        R"({"status":"ok","data":{"temp":70,"celsius":21,"condition":"rain","location":"london","updated":"2024-05-01T12:15+01:00"}})";
    m_server->setReply(LoopbackServer::answer(200, weather));
    w.getWeather(w.cachedLocation);
    QCOMPARE(w.shownData, dataMemberOf(weather));
    QCOMPARE(changes, 1);

    // The units button re-renders the held weather.
    w.didPressReloadButton(w.ui->reloadButton);
    QCOMPARE(changes, 2);
    w.didPressReloadButton(w.ui->reloadButton);
    QCOMPARE(changes, 3);
    QCOMPARE(w.ui->title->text(), QStringLiteral("21°, RAIN"));

    w.isUpdated = false;
    m_server->setReply(LoopbackServer::answer(503, R"({"status":"error","error":3,"data":{"celsius":1}})"));
    w.getWeather(w.cachedLocation);
    QCOMPARE(w.ui->title->text(), QStringLiteral("21°, RAIN"));
    QCOMPARE(w.shownData, dataMemberOf(weather));
    QCOMPARE(changes, 3);
}

QTEST_MAIN(TestWeatherUpdate)
#include "tst_weather_update.moc"
