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

// The lines the widget itself writes about an answer it cannot use (not those of the HTTP exchange).
QStringList widgetErrors(const QStringList &lines)
{
    QStringList errors;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String(" ! ERROR : weather")) ||
            line.startsWith(QLatin1String(" ! ERROR : service")))
            errors.append(line);
    }
    return errors;
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
    void reRender_data();
    void reRender();
    void unitsButton_flipsCelsiusThenReRenders();

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
    QTest::addColumn<QStringList>("logged");

    const QString unchangedTitle = kPlaceholderTitle;
    const QString unchangedSubtitle = kPlaceholderSubtitle;
    const QByteArray weather =
        R"({"status":"ok","error":null,"data":{"temp":70,"celsius":21,"condition":"rain","location":"london"}})";
    const auto answer = [](const QByteArray &body) {
        return LoopbackServer::answer(200, body);
    };

    // clang-format off
    QTest::newRow("weather, celsius") << answer(weather) << true << true
        << true << true << false << QStringLiteral("21°, RAIN") << QStringLiteral("LONDON") << 1 << QStringList();
    QTest::newRow("weather, other unit") << answer(weather) << false << false
        << true << true << false << QStringLiteral("70°, RAIN") << QStringLiteral("LONDON") << 1 << QStringList();
    QTest::newRow("status missing is weather") << answer(R"({"data":{"celsius":-3,"condition":"partly-cloudy","location":"straße"}})") << true << false
        << true << true << false << QStringLiteral("-3°, PARTLY-CLOUDY") << QStringLiteral("STRASSE") << 1 << QStringList();
    QTest::newRow("status in other case is weather") << answer(R"({"status":"Error","error":1,"data":{"celsius":21.7,"condition":"clear","location":"paris"}})") << true << false
        << true << true << false << QStringLiteral("21°, CLEAR") << QStringLiteral("PARIS") << 1 << QStringList();
    QTest::newRow("non-whole temperatures cut toward zero") << answer(R"({"status":"ok","data":{"temp":-3.9,"condition":"snow","location":"oslo"}})") << false << false
        << true << true << false << QStringLiteral("-3°, SNOW") << QStringLiteral("OSLO") << 1 << QStringList();
    QTest::newRow("weather without data") << answer(R"({"status":"ok"})") << true << false
        << true << true << false << QStringLiteral("0°, ") << QString() << 1 << QStringList();
    QTest::newRow("error 0, errors false") << answer(R"({"status":"error","error":0,"data":{"celsius":1}})") << true << false
        << true << false << false << QStringLiteral("OUTDATED_VERSION") << QStringLiteral("PLEASE_UPDATE_APPLICATION") << 0 << QStringList();
    QTest::newRow("error 0, errors true") << answer(R"({"status":"error","error":0})") << true << true
        << true << false << true << QStringLiteral("OUTDATED_VERSION") << QStringLiteral("PLEASE_UPDATE_APPLICATION") << 0 << QStringList();
    QTest::newRow("error 1") << answer(R"({"status":"error","error":1,"data":{"celsius":12,"condition":"rain"}})") << true << false
        << true << false << true << QStringLiteral("BLACKLIST") << QStringLiteral("DATA_DOWNLOAD_ERROR") << 0 << QStringList();
    QTest::newRow("error 3") << answer(R"({"status":"error","error":3})") << true << false
        << true << false << true << unchangedTitle << unchangedSubtitle << 0 << QStringList();
    QTest::newRow("error 2") << answer(R"({"status":"error","error":2,"data":[]})") << true << false
        << true << false << false << unchangedTitle << unchangedSubtitle << 0 << QStringList();
    QTest::newRow("error 4, errors true") << answer(R"({"status":"error","error":4})") << true << true
        << true << false << true << unchangedTitle << unchangedSubtitle << 0 << QStringList();
    QTest::newRow("no envelope: empty object") << answer("{}") << true << false
        << false << false << true << unchangedTitle << unchangedSubtitle << 0 << QStringList();
    QTest::newRow("no envelope: not JSON") << answer("<html>busy</html>") << true << false
        << false << false << true << unchangedTitle << unchangedSubtitle << 0 << QStringList();
    QTest::newRow("no envelope: server error") << LoopbackServer::answer(500, "") << true << false
        << false << false << true << unchangedTitle << unchangedSubtitle << 0 << QStringList();
    // Wrong types: the widget reads such a member as missing and says so in the log.
    QTest::newRow("wrong: envelope is an array") << answer(R"([{"status":"ok"}])") << true << false
        << false << false << true << unchangedTitle << unchangedSubtitle << 0
        << QStringList{QStringLiteral(" ! ERROR : weather answer is not an object")};
    QTest::newRow("wrong: error missing") << answer(R"({"status":"error"})") << true << false
        << true << false << false << unchangedTitle << unchangedSubtitle << 0
        << QStringList{QStringLiteral(" ! ERROR : service error without a readable code")};
    QTest::newRow("wrong: error as text") << answer(R"({"status":"error","error":"1"})") << true << false
        << true << false << false << unchangedTitle << unchangedSubtitle << 0
        << QStringList{QStringLiteral(" ! ERROR : service error without a readable code")};
    QTest::newRow("wrong: temperature as text") << answer(R"({"status":"ok","data":{"celsius":"21","condition":"rain","location":"london"}})") << true << false
        << true << true << false << QStringLiteral("0°, RAIN") << QStringLiteral("LONDON") << 1
        << QStringList{QStringLiteral(" ! ERROR : weather data member celsius is not a number")};
    QTest::newRow("wrong: condition as number") << answer(R"({"status":"ok","data":{"celsius":21,"condition":5,"location":7}})") << true << false
        << true << true << false << QStringLiteral("21°, ") << QString() << 1
        << QStringList{QStringLiteral(" ! ERROR : weather data member condition is not text"),
                       QStringLiteral(" ! ERROR : weather data member location is not text")};
    QTest::newRow("wrong: data is an array") << answer(R"({"status":"ok","data":[21,"rain"]})") << true << false
        << true << true << false << QStringLiteral("0°, ") << QString() << 1
        << QStringList{QStringLiteral(" ! ERROR : weather data is not an object")};
    QTest::newRow("wrong: temperature too large") << answer(R"({"status":"ok","data":{"celsius":1e300,"condition":"clear","location":"x"}})") << true << false
        << true << true << false << QStringLiteral("0°, CLEAR") << QStringLiteral("X") << 1
        << QStringList{QStringLiteral(" ! ERROR : weather data member celsius is out of range")};
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
    QFETCH(QStringList, logged);

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
    QCOMPARE(widgetErrors(capture.lines()), logged);
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

void TestWeatherUpdate::reRender_data()
{
    QTest::addColumn<QVariant>("data");
    QTest::addColumn<bool>("celsius");
    QTest::addColumn<QString>("title");
    const auto weather = [](const QVariant &temp, const QVariant &condition) {
        return QVariant(QVariantMap{{QStringLiteral("temp"), temp},
                                    {QStringLiteral("celsius"), 99},
                                    {QStringLiteral("condition"), condition}});
    };
    QTest::newRow("21.7") << weather(21.7, QStringLiteral("rain")) << false << QStringLiteral("21°, RAIN");
    QTest::newRow("-0.5 has no minus sign")
        << weather(-0.5, QStringLiteral("fog")) << false << QStringLiteral("0°, FOG");
    QTest::newRow("-3.9") << weather(-3.9, QStringLiteral("snow")) << false << QStringLiteral("-3°, SNOW");
    QTest::newRow("celsius member") << weather(70, QStringLiteral("clear")) << true
                                    << QStringLiteral("99°, CLEAR");
    QTest::newRow("no data") << QVariant() << true << QStringLiteral("0°, ");
    QTest::newRow("data is text") << QVariant(QStringLiteral("rain")) << true << QStringLiteral("0°, ");
    QTest::newRow("temperature as text")
        << weather(QStringLiteral("21"), QStringLiteral("rain")) << false << QStringLiteral("0°, RAIN");
}

void TestWeatherUpdate::reRender()
{
    QFETCH(QVariant, data);
    QFETCH(bool, celsius);
    QFETCH(QString, title);
    SettingsStore::setBool(key::celsius, celsius);
    WXDesktopWindow &w = *m_window;
    w.data = data;
    LogCapture capture;
    w.didPressReloadButton(w.ui->reloadButton);
    QCOMPARE(w.ui->title->text(), title);
    QCOMPARE(w.ui->subtitle->text(), kPlaceholderSubtitle);
    QCOMPARE(capture.lines(), QStringList());
    QVERIFY(m_server->requests().isEmpty());
    QCOMPARE(w.isUpdated, false);
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

QTEST_MAIN(TestWeatherUpdate)
#include "tst_weather_update.moc"
