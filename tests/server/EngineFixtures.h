#pragma once

// The real engines a fleet runs on, started by the tests themselves in a temporary directory:
// a throw-away PostgreSQL cluster (as an unprivileged user: PostgreSQL refuses to run as root).

#include <libpq-fe.h>

#include <QProcess>
#include <QTemporaryDir>

#include <pwd.h>
#include <unistd.h>

#include <memory>
#include <string>

namespace nimbara::server::test {

// Runs a program to its end; as "nobody" when the test runs as root. Returns its output, or the
// reason it failed.
inline bool runTool(const QString &program, const QStringList &arguments, const QString &workingDirectory,
                    QString *output = nullptr)
{
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (::geteuid() == 0) {
        const passwd *nobody = ::getpwnam("nobody");
        if (!nobody)
            return false;
        process.start(QStringLiteral("setpriv"), QStringList{QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                                                             QStringLiteral("--regid=%1").arg(nobody->pw_gid),
                                                             QStringLiteral("--clear-groups"), program} +
                                                     arguments);
    } else {
        process.start(program, arguments);
    }
    const bool ok = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return ok;
}

// A directory the unprivileged user owns (the test, as root, may still read and remove it).
inline bool giveToTool(const QString &path)
{
    if (::geteuid() != 0)
        return true;
    const passwd *nobody = ::getpwnam("nobody");
    return nobody && ::chown(path.toLocal8Bit().constData(), nobody->pw_uid, nobody->pw_gid) == 0;
}

// A PostgreSQL cluster of its own, reached through a Unix socket in its directory (no TCP port to
// collide with another test), with a database "nimbara" owned by the user "nimbara", trust auth.
class PostgresCluster
{
public:
    PostgresCluster()
    {
        const QString data = dir.filePath(QStringLiteral("data"));
        if (!dir.isValid() || !giveToTool(dir.path()) ||
            !runTool(tool("initdb"),
                     {QStringLiteral("-D"), data, QStringLiteral("-A"), QStringLiteral("trust"),
                      QStringLiteral("-U"), QStringLiteral("nimbara"), QStringLiteral("-E"),
                      QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("--no-sync")},
                     dir.path(), &problem))
            return;
        if (!start())
            return;
        ready = execute("postgres", "CREATE DATABASE nimbara");
    }

    ~PostgresCluster()
    {
        if (running)
            stop();
    }

    PostgresCluster(const PostgresCluster &) = delete;
    PostgresCluster &operator=(const PostgresCluster &) = delete;

    bool isReady() const { return ready; }
    // Why the cluster could not be set up.
    QByteArray error() const { return problem.toLocal8Bit(); }

    std::string uri(const std::string &database = "nimbara") const
    {
        return "postgresql://nimbara@/" + database + "?host=" + dir.path().toStdString();
    }

    bool start()
    {
        running = runTool(tool("pg_ctl"),
                          {QStringLiteral("start"), QStringLiteral("-w"), QStringLiteral("-D"),
                           dir.filePath(QStringLiteral("data")), QStringLiteral("-l"),
                           dir.filePath(QStringLiteral("server.log")), QStringLiteral("-o"),
                           QStringLiteral("-c listen_addresses= -c fsync=off -k ") + dir.path()},
                          dir.path(), &problem);
        return running;
    }

    // A fast stop: open connections are cut, as when the database restarts under the service.
    bool stop()
    {
        running =
            !runTool(tool("pg_ctl"),
                     {QStringLiteral("stop"), QStringLiteral("-w"), QStringLiteral("-m"),
                      QStringLiteral("fast"), QStringLiteral("-D"), dir.filePath(QStringLiteral("data"))},
                     dir.path(), &problem);
        return !running;
    }

    // Runs statements on a connection of its own; false (with the reason in error()) on failure.
    bool execute(const std::string &database, const std::string &sql)
    {
        PGconn *connection = PQconnectdb(uri(database).c_str());
        PGresult *result = PQexec(connection, sql.c_str());
        const auto status = PQresultStatus(result);
        const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
        if (!ok)
            problem = QString::fromUtf8(PQerrorMessage(connection));
        PQclear(result);
        PQfinish(connection);
        return ok;
    }

    // The rows of a query, every value as its text ("" for NULL).
    std::vector<std::vector<std::string>> rows(const std::string &sql,
                                               const std::string &database = "nimbara")
    {
        std::vector<std::vector<std::string>> table;
        PGconn *connection = PQconnectdb(uri(database).c_str());
        PGresult *result = PQexec(connection, sql.c_str());
        if (PQresultStatus(result) == PGRES_TUPLES_OK) {
            for (int row = 0; row < PQntuples(result); ++row) {
                auto &values = table.emplace_back();
                for (int column = 0; column < PQnfields(result); ++column)
                    values.emplace_back(PQgetvalue(result, row, column),
                                        static_cast<size_t>(PQgetlength(result, row, column)));
            }
        } else {
            problem = QString::fromUtf8(PQerrorMessage(connection));
        }
        PQclear(result);
        PQfinish(connection);
        return table;
    }

    std::string value(const std::string &sql, const std::string &database = "nimbara")
    {
        auto table = rows(sql, database);
        return table.empty() || table[0].empty() ? std::string() : table[0][0];
    }

private:
    static QString tool(const char *name)
    {
        return QStringLiteral(NIMBARA_TEST_PG_BINDIR "/") + QLatin1String(name);
    }

    QTemporaryDir dir;
    QString problem;
    bool running = false;
    bool ready = false;
};

} // namespace nimbara::server::test
