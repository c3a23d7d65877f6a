#include "core/Fingerprint.h"
#include "core/VersionGate.h"

#include <QTest>

using namespace nimbara::server;

class TestServerVersionGate : public QObject
{
    Q_OBJECT

private slots:
    void fingerprint_asTheClientComputesIt();
    void compareVersions_numberByNumber();
    void outdated_onlyReleasesBelowMinimum();
};

void TestServerVersionGate::fingerprint_asTheClientComputesIt()
{
    QCOMPARE(sha1Hex("abc"), std::string("a9993e364706816aba3e25717850c26c9cd0d89d"));
    QCOMPARE(fingerprint("abc"), std::string("74076346dee6d87ffe0f2f069dda57bb"));
    QCOMPARE(fingerprint(""), std::string("0144712dd81be0c3d9724f5e56ce6685"));
    // All UTF-8 bytes count: "é" is two of them.
    QCOMPARE(sha1Hex("aéb"), std::string("4b6970254867f699ce70221cd476b2dcab220f3e"));
    QCOMPARE(md5Hex(sha1Hex("aéb")), fingerprint("aéb"));
}

void TestServerVersionGate::compareVersions_numberByNumber()
{
    QCOMPARE(VersionGate::compareVersions("0.10.0", "0.9.9"), 1);
    QCOMPARE(VersionGate::compareVersions("0.1", "0.1.0"), 0);
    QCOMPARE(VersionGate::compareVersions("1.2.3", "1.2.4"), -1);
    QCOMPARE(VersionGate::compareVersions("2", "10"), -1);
    QCOMPARE(VersionGate::compareVersions("", "0.0.0"), 0);
}

void TestServerVersionGate::outdated_onlyReleasesBelowMinimum()
{
    VersionGate gate({"0.9.0", "0.9.1", "0.10.0", "1.0.0"}, "0.10.0");
    QVERIFY(gate.isOutdated(fingerprint("0.9.0")));
    QVERIFY(gate.isOutdated(fingerprint("0.9.1")));
    QVERIFY(!gate.isOutdated(fingerprint("0.10.0")));
    QVERIFY(!gate.isOutdated(fingerprint("1.0.0")));
    // Not a known release (a development build, or no version at all): let through.
    QVERIFY(!gate.isOutdated(fingerprint("0.8.0")));
    QVERIFY(!gate.isOutdated(""));

    VersionGate open({"0.1.0"}, "0.1.0");
    QVERIFY(!open.isOutdated(fingerprint("0.1.0")));
}

QTEST_APPLESS_MAIN(TestServerVersionGate)
#include "tst_server_versiongate.moc"
