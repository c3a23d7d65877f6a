// Whose address a request carries: X-Forwarded-For believed from trusted proxies only, read from its
// end, never past a piece that is no address; and which addresses no database can place.

#include "core/NetAddress.h"
#include "http/TrustedProxies.h"

#include <QTest>

using namespace nimbara::server;

Q_DECLARE_METATYPE(std::string)

class TestServerTrustedProxies : public QObject
{
    Q_OBJECT

private slots:
    void parse_refusesWhatIsNoNetwork_data();
    void parse_refusesWhatIsNoNetwork();
    void contains_matchesPrefixes_data();
    void contains_matchesPrefixes();
    void clientAddress_believesTrustedProxiesOnly_data();
    void clientAddress_believesTrustedProxiesOnly();
    void clientKey_ipv6ByItsSlash64_data();
    void clientKey_ipv6ByItsSlash64();
    void isNonPublic_specialRangesAndTheirEdges_data();
    void isNonPublic_specialRangesAndTheirEdges();
};

void TestServerTrustedProxies::parse_refusesWhatIsNoNetwork_data()
{
    QTest::addColumn<std::string>("list");
    QTest::addColumn<bool>("valid");
    QTest::newRow("addresses and networks") << std::string("127.0.0.1, 10.0.0.0/8,::1,fd00::/8") << true;
    QTest::newRow("whole space") << std::string("0.0.0.0/0") << true;
    QTest::newRow("empty") << std::string("") << false;
    QTest::newRow("host name") << std::string("localhost") << false;
    QTest::newRow("IPv4 prefix too long") << std::string("10.0.0.0/33") << false;
    QTest::newRow("IPv6 prefix too long") << std::string("::1/129") << false;
    QTest::newRow("prefix not a number") << std::string("10.0.0.0/x") << false;
    QTest::newRow("no prefix after slash") << std::string("10.0.0.0/") << false;
    QTest::newRow("one bad piece") << std::string("127.0.0.1,300.0.0.1") << false;
    // An IPv6 zone names an interface of this machine, never a client.
    QTest::newRow("zone by number") << std::string("fe80::1%1") << false;
    QTest::newRow("zone by name") << std::string("fe80::1%lo") << false;
}

void TestServerTrustedProxies::parse_refusesWhatIsNoNetwork()
{
    QFETCH(std::string, list);
    QFETCH(bool, valid);
    std::string error;
    QCOMPARE(TrustedProxies::parse(list, error).has_value(), valid);
    QCOMPARE(error.empty(), valid);
}

void TestServerTrustedProxies::contains_matchesPrefixes_data()
{
    QTest::addColumn<std::string>("address");
    QTest::addColumn<bool>("trusted");
    QTest::newRow("single address") << std::string("127.0.0.1") << true;
    QTest::newRow("next address") << std::string("127.0.0.2") << false;
    QTest::newRow("IPv4 as mapped IPv6") << std::string("::ffff:127.0.0.1") << true;
    QTest::newRow("inside /12") << std::string("172.31.255.255") << true;
    QTest::newRow("below /12") << std::string("172.15.255.255") << false;
    QTest::newRow("above /12") << std::string("172.32.0.0") << false;
    QTest::newRow("inside IPv6 /8") << std::string("fd12:3456::1") << true;
    QTest::newRow("outside IPv6 /8") << std::string("fe80::1") << false;
    QTest::newRow("IPv6 loopback") << std::string("::1") << true;
    QTest::newRow("no address") << std::string("unknown") << false;
}

void TestServerTrustedProxies::contains_matchesPrefixes()
{
    QFETCH(std::string, address);
    QFETCH(bool, trusted);
    std::string error;
    const auto proxies = TrustedProxies::parse("127.0.0.1,172.16.0.0/12,fd00::/8,::1", error);
    QVERIFY(proxies);
    QCOMPARE(proxies->contains(address), trusted);
}

void TestServerTrustedProxies::clientAddress_believesTrustedProxiesOnly_data()
{
    QTest::addColumn<std::string>("peer");
    QTest::addColumn<std::string>("forwardedFor");
    QTest::addColumn<std::string>("client");
    QTest::newRow("through nginx") << std::string("127.0.0.1") << std::string("203.0.113.7")
                                   << std::string("203.0.113.7");
    QTest::newRow("from anyone else: ignored")
        << std::string("198.51.100.1") << std::string("203.0.113.7") << std::string("198.51.100.1");
    QTest::newRow("client's own forgery before the real hop")
        << std::string("127.0.0.1") << std::string("1.2.3.4, 203.0.113.7") << std::string("203.0.113.7");
    QTest::newRow("two trusted hops")
        << std::string("127.0.0.1") << std::string("203.0.113.7, 172.16.0.9") << std::string("203.0.113.7");
    QTest::newRow("IPv6 client") << std::string("::1") << std::string(" 2001:db8::7 ")
                                 << std::string("2001:db8::7");
    QTest::newRow("no header") << std::string("127.0.0.1") << std::string() << std::string("127.0.0.1");
    QTest::newRow("garbage") << std::string("127.0.0.1") << std::string("x\nforged line")
                             << std::string("127.0.0.1");
    QTest::newRow("garbage before the real hop")
        << std::string("127.0.0.1") << std::string("x, 203.0.113.7") << std::string("203.0.113.7");
    QTest::newRow("only proxies") << std::string("127.0.0.1") << std::string("172.16.0.9")
                                  << std::string("172.16.0.9");
    QTest::newRow("mapped IPv4 written plainly")
        << std::string("127.0.0.1") << std::string("::ffff:203.0.113.7") << std::string("203.0.113.7");
}

void TestServerTrustedProxies::clientAddress_believesTrustedProxiesOnly()
{
    QFETCH(std::string, peer);
    QFETCH(std::string, forwardedFor);
    QFETCH(std::string, client);
    std::string error;
    const auto proxies = TrustedProxies::parse("127.0.0.1,172.16.0.0/12,::1", error);
    QVERIFY(proxies);
    QCOMPARE(proxies->clientAddress(peer, forwardedFor), client);
}

void TestServerTrustedProxies::clientKey_ipv6ByItsSlash64_data()
{
    QTest::addColumn<std::string>("address");
    QTest::addColumn<std::string>("key");
    QTest::newRow("IPv4") << std::string("203.0.113.7") << std::string("203.0.113.7");
    QTest::newRow("IPv6") << std::string("2001:db8:1:2:aaaa:bbbb:cccc:dddd")
                          << std::string("2001:db8:1:2::/64");
    QTest::newRow("same /64, other host")
        << std::string("2001:db8:1:2::99") << std::string("2001:db8:1:2::/64");
    QTest::newRow("next /64") << std::string("2001:db8:1:3::1") << std::string("2001:db8:1:3::/64");
    QTest::newRow("loopback") << std::string("::1") << std::string("::/64");
    QTest::newRow("mapped IPv4: its IPv4 address")
        << std::string("::ffff:203.0.113.7") << std::string("203.0.113.7");
    QTest::newRow("no address") << std::string("-") << std::string("-");
}

void TestServerTrustedProxies::clientKey_ipv6ByItsSlash64()
{
    QFETCH(std::string, address);
    QFETCH(std::string, key);
    QCOMPARE(clientKey(address), key);
}

void TestServerTrustedProxies::isNonPublic_specialRangesAndTheirEdges_data()
{
    QTest::addColumn<std::string>("address");
    QTest::addColumn<bool>("nonPublic");
    const std::pair<const char *, bool> rows[] = {
        {"0.1.2.3", true},
        {"1.1.1.1", false},
        {"10.255.255.255", true},
        {"100.63.255.255", false},
        {"100.64.0.1", true},
        {"100.127.255.255", true},
        {"100.128.0.0", false},
        {"127.0.0.1", true},
        {"169.254.1.1", true},
        {"172.15.255.255", false},
        {"172.16.0.1", true},
        {"172.31.255.255", true},
        {"172.32.0.0", false},
        {"192.0.2.1", true},
        {"192.0.3.1", false},
        {"192.168.1.1", true},
        {"198.17.255.255", false},
        {"198.18.0.1", true},
        {"198.19.255.255", true},
        {"198.20.0.0", false},
        {"198.51.100.7", true},
        {"203.0.113.9", true},
        {"223.255.255.255", false},
        {"224.0.0.1", true},
        {"255.255.255.255", true},
        {"::", true},
        {"::1", true},
        {"::ff", true},
        {"::100", false},
        {"fc00::1", true},
        {"fdff::1", true},
        {"fe80::1", true},
        {"febf::1", true},
        {"fec0::1", false},
        {"ff02::1", true},
        {"2001:db8::1", true},
        {"2001:db9::1", false},
        {"2a02:8100::1", false},
        {"::ffff:10.0.0.1", true},
        {"::ffff:8.8.8.8", false},
    };
    for (const auto &[address, nonPublic] : rows)
        QTest::newRow(address) << std::string(address) << nonPublic;
}

void TestServerTrustedProxies::isNonPublic_specialRangesAndTheirEdges()
{
    QFETCH(std::string, address);
    QFETCH(bool, nonPublic);
    const auto parsed = parseIpAddress(address);
    QVERIFY(parsed);
    QCOMPARE(isNonPublic(*parsed), nonPublic);
}

QTEST_APPLESS_MAIN(TestServerTrustedProxies)
#include "tst_server_trustedproxies.moc"
