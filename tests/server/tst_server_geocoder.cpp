#include "places/Geocoder.h"
#include "weather/LocalTime.h"

#include <QTest>

using namespace nimbara::server;

Q_DECLARE_METATYPE(std::string)

class TestServerGeocoder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void placeAt_namesTheTownPeopleWouldSay_data();
    void placeAt_namesTheTownPeopleWouldSay();
    void placeAt_noPlaceFarFromLand_data();
    void placeAt_noPlaceFarFromLand();
    void distanceKm_onTheSphere();
    void utcOffset_fromThePlacesZone_data();
    void utcOffset_fromThePlacesZone();
    void localizedName_fromGeonamesCatalogs_data();
    void localizedName_fromGeonamesCatalogs();
    void catalogCandidates_fromLanguageTags_data();
    void catalogCandidates_fromLanguageTags();
    void coordinateText_shortAndReadable_data();
    void coordinateText_shortAndReadable();

private:
    std::unique_ptr<Geocoder> geocoder;
};

void TestServerGeocoder::initTestCase()
{
    geocoder = std::make_unique<Geocoder>(NIMBARA_TEST_CITIES);
    QVERIFY(geocoder->size() > 100000);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, Geocoder("/nonexistent/cities1000.txt"));
}

void TestServerGeocoder::placeAt_namesTheTownPeopleWouldSay_data()
{
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("longitude");
    QTest::addColumn<std::string>("name");
    QTest::newRow("central London") << 51.5074 << -0.1278 << std::string("London");
    // Boroughs with a point of their own (City of London even carries London's population).
    QTest::newRow("City of London, St Paul's") << 51.5138 << -0.0984 << std::string("London");
    QTest::newRow("Westminster") << 51.4995 << -0.1357 << std::string("London");
    QTest::newRow("Islington") << 51.5362 << -0.1030 << std::string("London");
    QTest::newRow("Berlin-Kreuzberg") << 52.4986 << 13.4030 << std::string("Berlin");
    QTest::newRow("Paris") << 48.8566 << 2.3522 << std::string("Paris");
    // The table's own name is the local one.
    QTest::newRow("Munich") << 48.1374 << 11.5755 << std::string("München");
    QTest::newRow("New York") << 40.7128 << -74.0060 << std::string("New York City");
    QTest::newRow("Tokyo") << 35.6895 << 139.6917 << std::string("Tokyo");
    QTest::newRow("Sydney") << -33.8688 << 151.2093 << std::string("Sydney");
    // A town beside a larger city keeps its own name.
    QTest::newRow("Offenbach beside Frankfurt") << 50.1006 << 8.7665 << std::string("Offenbach");
    QTest::newRow("Suva") << -18.1416 << 178.4419 << std::string("Suva");
}

void TestServerGeocoder::placeAt_namesTheTownPeopleWouldSay()
{
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    QFETCH(std::string, name);
    const Place *place = geocoder->placeAt(latitude, longitude);
    QVERIFY(place);
    QCOMPARE(QByteArray::fromStdString(place->name), QByteArray::fromStdString(name));
}

void TestServerGeocoder::placeAt_noPlaceFarFromLand_data()
{
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("longitude");
    QTest::newRow("mid-Atlantic") << 30.0 << -40.0;
    QTest::newRow("Pacific") << -40.0 << -130.0;
    QTest::newRow("North Pole") << 90.0 << 0.0;
    QTest::newRow("South Pole") << -90.0 << 0.0;
    QTest::newRow("60 km off Land's End") << 49.9 << -6.5 - 0.8;
}

void TestServerGeocoder::placeAt_noPlaceFarFromLand()
{
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    QCOMPARE(geocoder->placeAt(latitude, longitude), nullptr);
}

void TestServerGeocoder::distanceKm_onTheSphere()
{
    // Distances come from points on the unit sphere: right across the 180th meridian and the poles.
    QVERIFY(std::abs(Geocoder::distanceKm(0, 179.9, 0, -179.9) - 22.24) < 0.05);
    QVERIFY(std::abs(Geocoder::distanceKm(89.9, 0, 89.9, 180) - 22.24) < 0.05);
    QVERIFY(std::abs(Geocoder::distanceKm(51.5074, -0.1278, 48.8566, 2.3522) - 343.9) < 1);
}

void TestServerGeocoder::utcOffset_fromThePlacesZone_data()
{
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("longitude");
    QTest::addColumn<QByteArray>("utc");
    QTest::addColumn<int>("offset");
    QTest::newRow("London in summer") << 51.5 << -0.1 << QByteArray("2024-05-01T12:00") << 3600;
    QTest::newRow("London in winter") << 51.5 << -0.1 << QByteArray("2024-01-15T12:00") << 0;
    QTest::newRow("Delhi, half an hour") << 28.6 << 77.2 << QByteArray("2024-05-01T12:00") << 19800;
    QTest::newRow("Kathmandu, three quarters") << 27.7 << 85.3 << QByteArray("2024-05-01T12:00") << 20700;
    QTest::newRow("Sydney in winter") << -33.9 << 151.2 << QByteArray("2024-06-21T12:00") << 36000;
    // Far from any place: nautical time from the longitude.
    QTest::newRow("mid-Pacific") << 0.0 << -140.0 << QByteArray("2024-05-01T12:00") << -9 * 3600;
    QTest::newRow("mid-Atlantic") << -30.0 << -20.0 << QByteArray("2024-05-01T12:00") << -3600;
}

void TestServerGeocoder::utcOffset_fromThePlacesZone()
{
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    QFETCH(QByteArray, utc);
    QFETCH(int, offset);
    QCOMPARE(utcOffset(*geocoder, latitude, longitude, *parseCivilTime(utc.toStdString())), offset);
}

void TestServerGeocoder::localizedName_fromGeonamesCatalogs_data()
{
    QTest::addColumn<std::string>("tag");
    QTest::addColumn<std::string>("name"); // empty: no catalog has it
    QTest::newRow("de") << std::string("de") << std::string("München");
    QTest::newRow("de-DE") << std::string("de-DE") << std::string("München");
    QTest::newRow("de_AT.UTF-8") << std::string("de_AT.UTF-8") << std::string("München");
    QTest::newRow("ru-RU") << std::string("ru-RU") << std::string("Мюнхен");
    QTest::newRow("es") << std::string("es") << std::string("Múnich");
    QTest::newRow("fr-CH") << std::string("fr-CH") << std::string("Munich");
    QTest::newRow("zh-Hant-TW") << std::string("zh-Hant-TW") << std::string("慕尼黑");
    QTest::newRow("no catalog") << std::string("xx-YY") << std::string();
    QTest::newRow("path tricks") << std::string("../../etc") << std::string();
    QTest::newRow("empty") << std::string() << std::string();
}

void TestServerGeocoder::localizedName_fromGeonamesCatalogs()
{
    QFETCH(std::string, tag);
    QFETCH(std::string, name);
    PlaceNames names("/usr/share/locale");
    const std::uint32_t munich = 2867714;
    QCOMPARE(QByteArray::fromStdString(names.localizedName(munich, tag)), QByteArray::fromStdString(name));
}

void TestServerGeocoder::catalogCandidates_fromLanguageTags_data()
{
    QTest::addColumn<std::string>("tag");
    QTest::addColumn<std::string>("candidates");
    QTest::newRow("language") << std::string("de") << std::string("de");
    QTest::newRow("region") << std::string("pt-BR") << std::string("pt_BR pt");
    QTest::newRow("posix form") << std::string("en_US.UTF-8@euro") << std::string("en_US en");
    QTest::newRow("script and region") << std::string("zh-Hans-CN") << std::string("zh_CN zh_CN zh");
    QTest::newRow("traditional Chinese") << std::string("zh-Hant") << std::string("zh_TW zh");
    QTest::newRow("Norwegian") << std::string("no-NO") << std::string("no_NO no nb");
    QTest::newRow("not a tag") << std::string("de/../x") << std::string();
    QTest::newRow("too long a language") << std::string("english") << std::string();
}

void TestServerGeocoder::catalogCandidates_fromLanguageTags()
{
    QFETCH(std::string, tag);
    QFETCH(std::string, candidates);
    std::string joined;
    for (const auto &candidate : PlaceNames::catalogCandidates(tag))
        joined += (joined.empty() ? "" : " ") + candidate;
    QCOMPARE(QByteArray::fromStdString(joined), QByteArray::fromStdString(candidates));
}

void TestServerGeocoder::coordinateText_shortAndReadable_data()
{
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("longitude");
    QTest::addColumn<std::string>("text");
    QTest::newRow("north west") << 51.5074 << -0.1278 << std::string("51.51°N 0.13°W");
    QTest::newRow("south east") << -33.8688 << 151.2093 << std::string("33.87°S 151.21°E");
    QTest::newRow("tiny negatives read as zero") << -0.001 << -0.004 << std::string("0.00°N 0.00°E");
    QTest::newRow("pole") << -90.0 << 180.0 << std::string("90.00°S 180.00°E");
}

void TestServerGeocoder::coordinateText_shortAndReadable()
{
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    QFETCH(std::string, text);
    QCOMPARE(QByteArray::fromStdString(coordinateText(latitude, longitude)), QByteArray::fromStdString(text));
}

QTEST_APPLESS_MAIN(TestServerGeocoder)
#include "tst_server_geocoder.moc"
