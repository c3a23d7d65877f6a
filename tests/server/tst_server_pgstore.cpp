// Feedback and the blacklist in a real PostgreSQL cluster that the test starts itself: schema creation
// and its guard, commit before the answer, text PostgreSQL refuses, instances sharing the blacklist,
// a database restart under the store, and the executable's --db postgresql://… and --blacklist-*.

#include "EngineFixtures.h"
#include "ServerTestSupport.h"
#include "core/Fingerprint.h"
#include "core/ServiceLog.h"
#include "store/PostgresStore.h"

#include <QTest>

#include <future>

using namespace nimbara::server;
using namespace nimbara::server::test;

Q_DECLARE_METATYPE(std::string)

class TestServerPgStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void schema_createdOnceByInstancesStartingTogether();
    void schema_newerThanCodeRefusesToStart();
    void feedback_committedBeforeReturnWithBodyIntact();
    void blacklist_sharedByInstancesAndOperators();
    void feedback_storageCapHeldByInstancesTogether();
    void restart_storeReconnectsAndKeepsBlacklistMeanwhile();
    void hungDatabase_callsEndWithinTheirTime();
    void unreachable_throwsWithoutPassword();
    void displayedLocation_hidesPassword_data();
    void displayedLocation_hidesPassword();
    void executable_feedbackAndBlacklistInPostgresBehindProxy();

private:
    // The first value of a query, and statements, in this test's database.
    std::string value(const std::string &sql) const { return cluster->value(sql, database); }
    bool execute(const std::string &sql) { return cluster->execute(database, sql); }

    std::unique_ptr<PostgresCluster> cluster;
    int tests = 0;
    std::string database; // a new one for every test
    std::string uri;
};

void TestServerPgStore::initTestCase()
{
    cluster = std::make_unique<PostgresCluster>();
    QVERIFY2(cluster->isReady(), cluster->error().constData());
}

void TestServerPgStore::init()
{
    database = "test" + std::to_string(++tests);
    QVERIFY2(cluster->execute("postgres", "CREATE DATABASE " + database), cluster->error().constData());
    uri = cluster->uri(database);
}

void TestServerPgStore::schema_createdOnceByInstancesStartingTogether()
{
    LogCapture log;
    std::vector<std::future<bool>> starts;
    for (int i = 0; i < 4; ++i)
        starts.push_back(std::async(std::launch::async, [this] {
            PostgresStore store(uri);
            return true;
        }));
    for (auto &start : starts)
        QVERIFY(start.get());
    QCOMPARE(value("SELECT string_agg(version::text, ',') FROM schema_version"),
             std::to_string(PostgresStore::schemaVersion()));
    QCOMPARE(value("SELECT revision FROM blacklist_revision"), std::string("0"));
    int created = 0;
    for (const auto &line : log.lines())
        created += line.find("schema created") != std::string::npos;
    QCOMPARE(created, 1);
}

void TestServerPgStore::schema_newerThanCodeRefusesToStart()
{
    {
        PostgresStore store(uri);
    }
    QVERIFY(execute("UPDATE schema_version SET version = version + 1"));
    try {
        PostgresStore store(uri);
        QFAIL("opened a schema newer than the code");
    } catch (const std::runtime_error &error) {
        QVERIFY2(std::string(error.what()).find("is newer than this nimbara-weatherd knows") !=
                     std::string::npos,
                 error.what());
    }
}

void TestServerPgStore::feedback_committedBeforeReturnWithBodyIntact()
{
    PostgresStore store(uri);
    // A NUL and bytes that are no UTF-8: PostgreSQL's text refuses both, the body keeps them.
    const std::string message("a\0b\xff\xfe c\xc3\xa9", 9);
    const std::string body = "&v1=3&v2=Zo\xc3\xab&v3=z@example.org&v4=" + message;
    store.addFeedback({"3", "Zo\xc3\xab", "z@example.org", message, "203.0.113.9", body});
    // Another connection sees the row at once: it is committed, not waiting in a transaction.
    const auto rows = cluster->rows("SELECT type, name, email, message, client, encode(body, 'hex'),"
                                    " received <= now() FROM feedback",
                                    database);
    QCOMPARE(rows.size(), size_t(1));
    const std::vector<std::string> expected{"3",
                                            "Zo\xc3\xab",
                                            "z@example.org",
                                            "ab\xef\xbf\xbd\xef\xbf\xbd c\xc3\xa9",
                                            "203.0.113.9",
                                            QByteArray::fromStdString(body).toHex().toStdString(),
                                            "t"};
    QCOMPARE(rows[0], expected);
}

// The cap is checked where every instance sees it, as one step with the row; an operator's rows and
// deletions count too.
void TestServerPgStore::feedback_storageCapHeldByInstancesTogether()
{
    const std::string body(100, 'b');
    PostgresStore first(uri);
    PostgresStore second(uri);
    QVERIFY(execute("INSERT INTO feedback (message, body) VALUES ('by hand', '" + body + "')"));
    std::vector<std::future<int>> workers;
    for (int i = 0; i < 8; ++i)
        workers.push_back(std::async(std::launch::async, [&, i] {
            int stored = 0;
            for (int k = 0; k < 3; ++k)
                stored += (i % 2 ? first : second).addFeedback({"1", "n", "e@x", "m", "::1", body}, 1000);
            return stored;
        }));
    int stored = 0;
    for (auto &worker : workers)
        stored += worker.get();
    QCOMPARE(stored, 9);
    QCOMPARE(value("SELECT SUM(octet_length(body)) FROM feedback"), std::string("1000"));
    QCOMPARE(first.feedbackBytes(), std::uint64_t(1000));

    QVERIFY(execute("DELETE FROM feedback WHERE message = 'by hand'"));
    QVERIFY(second.addFeedback({"1", "n", "e@x", "m", "::1", body}, 1000));
    QVERIFY(!first.addFeedback({"1", "n", "e@x", "m", "::1", body}, 1000));
    QVERIFY(execute("TRUNCATE feedback"));
    QCOMPARE(second.feedbackBytes(), std::uint64_t(0));
}

void TestServerPgStore::blacklist_sharedByInstancesAndOperators()
{
    const std::string machine = "0123456789abcdef0123456789abcdef";
    const std::string other = "fedcba9876543210fedcba9876543210";
    PostgresStore first(uri);
    PostgresStore second(uri);
    QVERIFY(!first.isBlacklisted(machine));

    QVERIFY(first.addToBlacklist(machine));
    QVERIFY(!first.addToBlacklist(machine));
    QVERIFY(first.isBlacklisted(machine)); // at once for the one that made the change
    QVERIFY(!second.isBlacklisted(machine));
    second.reloadBlacklist(); // what its background thread does every second
    QVERIFY(second.isBlacklisted(machine));

    // An operator's psql counts too: the trigger moves the revision.
    QVERIFY(execute("INSERT INTO blacklist (machine) VALUES ('" + other + "')"));
    QVERIFY(execute("DELETE FROM blacklist WHERE machine = '" + machine + "'"));
    second.reloadBlacklist();
    QVERIFY(second.isBlacklisted(other));
    QVERIFY(!second.isBlacklisted(machine));

    QVERIFY(first.removeFromBlacklist(other));
    QVERIFY(!first.removeFromBlacklist(other));
    QVERIFY(!first.isBlacklisted(other));
}

void TestServerPgStore::restart_storeReconnectsAndKeepsBlacklistMeanwhile()
{
    const std::string machine = "0123456789abcdef0123456789abcdef";
    PostgresStore store(uri);
    QVERIFY(store.addToBlacklist(machine));
    store.addFeedback({"1", "n", "e@x", "before", "::1", "&v4=before"});

    LogCapture log;
    QVERIFY(cluster->stop());
    QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                             store.addFeedback({"1", "n", "e@x", "down", "::1", "&v4=down"}));
    store.reloadBlacklist();
    store.reloadBlacklist();
    QVERIFY(store.isBlacklisted(machine)); // the last copy stays in use
    QVERIFY(cluster->start());

    // The pooled connections died with the server: the store opens new ones by itself.
    store.addFeedback({"1", "n", "e@x", "after", "::1", "&v4=after"});
    store.reloadBlacklist();
    QCOMPARE(value("SELECT string_agg(message, ',' ORDER BY id) FROM feedback"), std::string("before,after"));
    int failing = 0;
    int recovered = 0;
    for (const auto &line : log.lines()) {
        failing += line.find("cannot read the blacklist") != std::string::npos;
        recovered += line.find("the blacklist is read again") != std::string::npos;
    }
    QCOMPARE(failing, 1); // once, not at every reload
    QCOMPARE(recovered, 1);
}

// A database that stops answering (SIGSTOP) with connections open: no call waits past its time,
// neither the statement in flight nor those waiting for a connection, and the store recovers.
void TestServerPgStore::hungDatabase_callsEndWithinTheirTime()
{
    PostgresOptions options;
    options.connections = 1;
    options.statementTime = std::chrono::milliseconds(500); // 2.5 s in all on this side
    PostgresStore store(uri, options);
    store.addFeedback({"1", "n", "e@x", "before", "::1", "&v4=before"});
    std::vector<std::future<bool>> calls;
    QVERIFY(cluster->freeze(true));
    // Before the calls are waited for, however the test ends.
    const auto thawed = std::shared_ptr<void>(nullptr, [this](void *) { cluster->freeze(false); });
    for (int i = 0; i < 2; ++i)
        calls.push_back(std::async(std::launch::async, [&store] {
            try {
                store.addFeedback({"1", "n", "e@x", "hung", "::1", "&v4=hung"});
                return false;
            } catch (const std::runtime_error &) {
                return true;
            }
        }));
    for (auto &call : calls) {
        QVERIFY(call.wait_for(std::chrono::seconds(8)) == std::future_status::ready);
        QVERIFY(call.get());
    }
    QVERIFY(cluster->freeze(false));
    store.addFeedback({"1", "n", "e@x", "after", "::1", "&v4=after"});
    // A statement sent before the hang may still be carried out once the database resumes: the
    // caller heard of a failure, and a retry stores the row twice at worst, never loses it.
    QCOMPARE(value("SELECT message FROM feedback ORDER BY id DESC LIMIT 1"), std::string("after"));
}

void TestServerPgStore::unreachable_throwsWithoutPassword()
{
    try {
        PostgresStore store("postgresql://nimbara:s3cret@/nimbara?host=/nonexistent&connect_timeout=2");
        QFAIL("opened a database that is not there");
    } catch (const std::runtime_error &error) {
        const std::string what = error.what();
        QVERIFY2(what.find("cannot connect to postgresql://nimbara:***@/nimbara") != std::string::npos,
                 error.what());
        QVERIFY2(what.find("s3cret") == std::string::npos, error.what());
    }
}

void TestServerPgStore::displayedLocation_hidesPassword_data()
{
    QTest::addColumn<std::string>("location");
    QTest::addColumn<std::string>("shown");
    QTest::newRow("sqlite path") << std::string("/var/lib/x:y@z.sqlite")
                                 << std::string("/var/lib/x:y@z.sqlite");
    QTest::newRow("no password") << std::string("postgresql://weatherd@db.example.org:5432/nimbara")
                                 << std::string("postgresql://weatherd@db.example.org:5432/nimbara");
    QTest::newRow("user and password") << std::string("postgresql://weatherd:p%40ss@db:5432/nimbara")
                                       << std::string("postgresql://weatherd:***@db:5432/nimbara");
    QTest::newRow("short scheme") << std::string("postgres://u:pw@db/nimbara")
                                  << std::string("postgres://u:***@db/nimbara");
    QTest::newRow("password parameter")
        << std::string("postgresql://db/nimbara?user=u&password=pw&sslmode=require")
        << std::string("postgresql://db/nimbara?user=u&password=***&sslmode=require");
    QTest::newRow("@ after the host") << std::string("postgresql://db:5432/nimbara?application_name=a@b")
                                      << std::string("postgresql://db:5432/nimbara?application_name=a@b");
}

void TestServerPgStore::displayedLocation_hidesPassword()
{
    QFETCH(std::string, location);
    QFETCH(std::string, shown);
    QCOMPARE(displayedLocation(location), shown);
}

void TestServerPgStore::executable_feedbackAndBlacklistInPostgresBehindProxy()
{
    const QString db = QString::fromStdString(uri);
    const std::string machine = fingerprint("machine-b");
    QProcess command;
    command.start(
        QStringLiteral(NIMBARA_WEATHERD),
        {QStringLiteral("--db"), db, QStringLiteral("--blacklist-add"), QString::fromStdString(machine)});
    QVERIFY(command.waitForFinished(10000));
    QCOMPARE(command.exitCode(), 0);
    QVERIFY(command.readAllStandardOutput().contains("added to the blacklist"));

    WeatherdProcess service(QStringLiteral(NIMBARA_WEATHERD),
                            {QStringLiteral("--db"), db, QStringLiteral("--provider-url"),
                             QStringLiteral("http://127.0.0.1:9"), QStringLiteral("--second-provider-url"),
                             QString(), QStringLiteral("--trusted-proxy"), QStringLiteral("127.0.0.0/8")});
    const int port = service.port();
    QVERIFY2(port > 0, service.log().constData());
    QVERIFY2(service.log().contains(("database postgresql://nimbara@/" + database).c_str()),
             service.log().constData());

    // As nginx in front sends it: the client's address in X-Forwarded-For, believed from 127.0.0.0/8.
    const std::string body = "&v1=1&v2=A&v3=a@b&v4=hello";
    QCOMPARE(
        sendRaw(port, "POST /api/0.5/feedback? HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                      "X-Forwarded-For: 203.0.113.7\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                      "Content-Length: " +
                          std::to_string(body.size()) + "\r\n\r\n" + body)
            .status,
        200);
    QCOMPARE(value("SELECT message || ' ' || client FROM feedback"), std::string("hello 203.0.113.7"));
    const auto blocked = rawGet(port, "/api/0.5/gate?&v1=51.5&v2=-0.1&v3=auto&v4=en&v5=" + machine +
                                          "&v6=" + fingerprint(NIMBARA_SERVER_VERSION));
    QCOMPARE(blocked.body, std::string(R"({"status":"error","error":1})"));

    command.start(
        QStringLiteral(NIMBARA_WEATHERD),
        {QStringLiteral("--db"), db, QStringLiteral("--blacklist-remove"), QString::fromStdString(machine)});
    QVERIFY(command.waitForFinished(10000));
    QCOMPARE(command.exitCode(), 0);
    QCOMPARE(value("SELECT count(*) FROM blacklist"), std::string("0"));
    QVERIFY(service.stop());
}

QTEST_GUILESS_MAIN(TestServerPgStore)
#include "tst_server_pgstore.moc"
