#include "core/ServiceLog.h"
#include "store/PrivateFiles.h"
#include "store/ServiceStore.h"

#include <sys/stat.h>

#include <sqlite3.h>

#include <QTemporaryDir>
#include <QTest>

using namespace nimbara::server;

namespace {

std::string queryText(const std::string &path, const char *sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *statement = nullptr;
    std::string text;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        auto value = sqlite3_column_blob(statement, 0);
        text.assign(static_cast<const char *>(value),
                    static_cast<size_t>(sqlite3_column_bytes(statement, 0)));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return text;
}

} // namespace

class TestServerStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void feedback_committedWithRawBody();
    void blacklist_sharedWithOtherProcesses();
    void normalizedFingerprint_onlyHexDigits();
    void unwritablePath_throws();
    void privateFiles_createdPrivateAndLooserOnesTightened();

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::string path;
};

void TestServerStore::init()
{
    dir = std::make_unique<QTemporaryDir>();
    path = dir->filePath(QStringLiteral("weatherd.sqlite")).toStdString();
}

void TestServerStore::feedback_committedWithRawBody()
{
    const std::string body("&v1=3&v4=a\0b&v2=x", 17);
    {
        ServiceStore store(path);
        store.addFeedback({"3", "Zoë", "z@example.org", std::string("a\0b", 3), "::1", body});
        // Visible to another connection at once: the row is committed, not waiting in a cache.
        QCOMPARE(queryText(path, "SELECT count(*) FROM feedback"), std::string("1"));
    }
    QCOMPARE(queryText(path, "PRAGMA journal_mode"), std::string("wal"));
    ServiceStore reopened(path);
    QCOMPARE(queryText(path, "SELECT name FROM feedback"), std::string("Zoë"));
    QCOMPARE(queryText(path, "SELECT client FROM feedback"), std::string("::1"));
    QCOMPARE(queryText(path, "SELECT body FROM feedback"), body);
    QVERIFY(queryText(path, "SELECT received FROM feedback").ends_with("Z"));
}

void TestServerStore::blacklist_sharedWithOtherProcesses()
{
    const std::string machine = "0123456789abcdef0123456789abcdef";
    // Reloads at every look-up when the database changed (the service waits a second between checks).
    ServiceStore running(path, std::chrono::milliseconds(0));
    QVERIFY(!running.isBlacklisted(machine));
    {
        // What --blacklist-add does while the service runs.
        ServiceStore operatorCommand(path);
        QVERIFY(operatorCommand.addToBlacklist(machine));
        QVERIFY(!operatorCommand.addToBlacklist(machine));
    }
    QVERIFY(running.isBlacklisted(machine));
    QVERIFY(!running.isBlacklisted("0123456789abcdef0123456789abcdee"));
    QVERIFY(running.removeFromBlacklist(machine));
    QVERIFY(!running.removeFromBlacklist(machine));
    QVERIFY(!running.isBlacklisted(machine));
}

void TestServerStore::normalizedFingerprint_onlyHexDigits()
{
    QCOMPARE(ServiceStore::normalizedFingerprint("0144712DD81BE0C3D9724F5E56CE6685"),
             std::string("0144712dd81be0c3d9724f5e56ce6685"));
    QCOMPARE(ServiceStore::normalizedFingerprint("0144712dd81be0c3d9724f5e56ce668"), std::string());
    QCOMPARE(ServiceStore::normalizedFingerprint("0144712dd81be0c3d9724f5e56ce668g"), std::string());
    QCOMPARE(ServiceStore::normalizedFingerprint("' OR 1=1 --  ' OR 1=1 --  ' OR "), std::string());
}

void TestServerStore::unwritablePath_throws()
{
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, ServiceStore("/nonexistent/dir/weatherd.sqlite"));
    QFile junk(dir->filePath(QStringLiteral("junk.sqlite")));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'j'));
    junk.close();
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, ServiceStore(junk.fileName().toStdString()));
}

void TestServerStore::privateFiles_createdPrivateAndLooserOnesTightened()
{
    auto mode = [](const std::string &file) {
        struct stat status
        {};
        return ::stat(file.c_str(), &status) == 0 ? int(status.st_mode & 0777) : -1;
    };
    // A new database in a new directory: only its user reads either, whatever the umask.
    const auto fresh = dir->filePath(QStringLiteral("new/weatherd.sqlite")).toStdString();
    const auto oldMask = ::umask(022);
    preparePrivateDatabase(fresh, true);
    ServiceStore store(fresh); // open, so that its write-ahead log is there
    store.addFeedback({"1", "a", "a@b", "m", "192.0.2.1", "&v4=m"});
    ::umask(oldMask);
    QCOMPARE(mode(dir->filePath(QStringLiteral("new")).toStdString()), 0700);
    QCOMPARE(mode(fresh), 0600);
    QCOMPARE(mode(fresh + "-wal"), 0600);

    // An existing database open to others is tightened, with a warning; a shared directory an
    // operator chose is left alone.
    ::chmod(fresh.c_str(), 0644);
    ::chmod((fresh + "-wal").c_str(), 0664);
    ::chmod(dir->filePath(QStringLiteral("new")).toStdString().c_str(), 0755);
    LogCapture log;
    preparePrivateDatabase(fresh, false);
    QCOMPARE(mode(fresh), 0600);
    QCOMPARE(mode(fresh + "-wal"), 0600);
    QCOMPARE(mode(dir->filePath(QStringLiteral("new")).toStdString()), 0755);
    QVERIFY(log.contains("warning: " + fresh + " was open to other users; now mode 0600"));
    // The service's own directory is tightened too.
    preparePrivateDatabase(fresh, true);
    QCOMPARE(mode(dir->filePath(QStringLiteral("new")).toStdString()), 0700);
}

QTEST_APPLESS_MAIN(TestServerStore)
#include "tst_server_store.moc"
