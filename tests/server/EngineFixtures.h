#pragma once

// The real engines a fleet runs on, started by the tests themselves in a temporary directory:
// a throw-away PostgreSQL cluster (as an unprivileged user: PostgreSQL refuses to run as root) and
// a Redis server.

#include "ServerTestSupport.h"

#include <hiredis/hiredis.h>
#include <libpq-fe.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
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

    // Stops (SIGSTOP) or resumes (SIGCONT) the server and every process it started, as a database
    // that hangs: connections stay open and nothing answers.
    bool freeze(bool frozen)
    {
        QFile pidFile(dir.filePath(QStringLiteral("data/postmaster.pid")));
        if (!pidFile.open(QIODevice::ReadOnly))
            return false;
        const pid_t postmaster = pidFile.readLine().trimmed().toInt();
        if (postmaster <= 0)
            return false;
        const int signal = frozen ? SIGSTOP : SIGCONT;
        bool ok = ::kill(postmaster, signal) == 0;
        for (const auto &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            // pid (comm) state ppid …: the name may hold spaces, so read after its closing parenthesis.
            const QByteArray text = stat.readAll();
            const auto fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 1 && fields[1].toInt() == postmaster)
                ok = ::kill(entry.toInt(), signal) == 0 && ok;
        }
        return ok;
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

// A loopback port free at the moment of asking (for servers that cannot report the one they chose).
inline int freeLoopbackPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// A redis-server of its own on a loopback port, without persistence; stop() and start() keep the port.
class RedisServer
{
public:
    RedisServer()
    {
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        start();
    }
    ~RedisServer() { stop(); }
    RedisServer(const RedisServer &) = delete;
    RedisServer &operator=(const RedisServer &) = delete;

    bool start()
    {
        for (int attempt = 0; attempt < 5 && !isRunning(); ++attempt) {
            if (attempt > 0 || listenPort == 0)
                listenPort = freeLoopbackPort();
            process.start(QStringLiteral("redis-server"),
                          {QStringLiteral("--port"), QString::number(listenPort), QStringLiteral("--bind"),
                           QStringLiteral("127.0.0.1"), QStringLiteral("--save"), QString(),
                           QStringLiteral("--appendonly"), QStringLiteral("no"), QStringLiteral("--dir"),
                           dir.path()});
            // Ready when it answers; gone when the port was taken after all.
            for (int wait = 0; wait < 500 && process.waitForStarted(5000); ++wait) {
                if (command({"PING"}) == "PONG")
                    return true;
                if (process.waitForFinished(10))
                    break;
            }
            stop();
        }
        return isRunning();
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.kill();
        process.waitForFinished(5000);
    }

    bool isRunning() const { return process.state() == QProcess::Running; }
    int port() const { return listenPort; }
    std::string url() const { return "redis://127.0.0.1:" + std::to_string(listenPort); }

    // One command on a connection of its own: the answer as text (integers in decimal), "" for nil
    // or no answer.
    std::string command(std::initializer_list<std::string> arguments) const
    {
        redisContext *context = redisConnectWithTimeout("127.0.0.1", listenPort, {1, 0});
        if (!context || context->err) {
            redisFree(context);
            return {};
        }
        std::vector<const char *> pointers;
        std::vector<size_t> lengths;
        for (const auto &argument : arguments) {
            pointers.push_back(argument.data());
            lengths.push_back(argument.size());
        }
        auto *reply = static_cast<redisReply *>(
            redisCommandArgv(context, static_cast<int>(pointers.size()), pointers.data(), lengths.data()));
        std::string text;
        if (reply && reply->type == REDIS_REPLY_INTEGER)
            text = std::to_string(reply->integer);
        else if (reply && reply->str)
            text.assign(reply->str, reply->len);
        freeReplyObject(reply);
        redisFree(context);
        return text;
    }

private:
    QTemporaryDir dir;
    QProcess process;
    int listenPort = 0;
};

// A nimbara-weatherd process on a loopback port (0: a free one) with the given options added (no
// cities table: place lines show coordinates). Its log goes to a file (a pipe nobody reads would
// stall it).
class WeatherdProcess
{
public:
    WeatherdProcess(const QString &executable, const QStringList &options, int port = 0)
    {
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(dir.filePath(QStringLiteral("weatherd.log")));
        process.start(executable,
                      QStringList{QStringLiteral("--port"), QString::number(port), QStringLiteral("--cities"),
                                  dir.filePath(QStringLiteral("none.txt"))} +
                          options);
        static const QRegularExpression listening(QStringLiteral("listening on [^ ]*:(\\d+)"));
        for (int wait = 0; wait < 1000 && listenPort == 0 && process.waitForStarted(5000); ++wait) {
            if (auto match = listening.match(QString::fromUtf8(log())); match.hasMatch())
                listenPort = match.captured(1).toInt();
            else if (process.waitForFinished(10))
                break;
        }
    }
    ~WeatherdProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    WeatherdProcess(const WeatherdProcess &) = delete;
    WeatherdProcess &operator=(const WeatherdProcess &) = delete;

    // 0 when it did not start.
    int port() const { return listenPort; }
    qint64 pid() const { return process.processId(); }
    QByteArray log() const
    {
        QFile file(dir.filePath(QStringLiteral("weatherd.log")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // SIGTERM; whether it ended cleanly.
    bool stop()
    {
        process.terminate();
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }
    // SIGKILL, as when the machine loses the process: no clean-up of any kind.
    void kill()
    {
        process.kill();
        process.waitForFinished(5000);
    }

private:
    QTemporaryDir dir;
    QProcess process;
    int listenPort = 0;
};

// Two instances with the same options, each with an SQLite file of its own, as on two machines
// that share Redis.
struct TwoInstances
{
    TwoInstances(const QString &executable, const QStringList &options)
        : one(executable,
              options + QStringList{QStringLiteral("--db"), dir.filePath(QStringLiteral("one.sqlite"))})
        , two(executable,
              options + QStringList{QStringLiteral("--db"), dir.filePath(QStringLiteral("two.sqlite"))})
    {}
    bool started() const { return one.port() > 0 && two.port() > 0; }

    QTemporaryDir dir;
    WeatherdProcess one;
    WeatherdProcess two;
};

// Applies a sed script (deploy/nginx/nginx.conf.sed) to a file in place, as an operator would.
inline bool editWithSed(const QString &script, const QString &path)
{
    QProcess sed;
    sed.setProcessChannelMode(QProcess::ForwardedChannels);
    sed.start(QStringLiteral("sed"), {QStringLiteral("-i"), QStringLiteral("-f"), script, path});
    return sed.waitForFinished(10000) && sed.exitStatus() == QProcess::NormalExit && sed.exitCode() == 0;
}

// nginx with a site configuration given as text, in a prefix of its own (temp paths, pid and logs in
// a temporary directory; as "nobody" when the test runs as root). The site must listen on a port
// the caller chose and names in listenPort. The main configuration has the shape of Debian's, with
// the edits of mainEdits (a sed script) applied to it.
class NginxServer
{
public:
    NginxServer(const QByteArray &site, int listenPort, const QString &mainEdits)
        : listenPort(listenPort)
    {
        QFile siteFile(dir.filePath(QStringLiteral("site.conf")));
        QFile mainFile(dir.filePath(QStringLiteral("nginx.conf")));
        QByteArray temps;
        for (const char *kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
            temps += QByteArray("    ") + kind + "_temp_path " + dir.filePath(QLatin1String(kind)).toUtf8() +
                     ";\n";
        const QByteArray main = "worker_processes 2;\n"
                                "pid " +
                                dir.filePath(QStringLiteral("nginx.pid")).toUtf8() +
                                ";\n"
                                "events {\n"
                                "\tworker_connections 768;\n"
                                "\t# multi_accept on;\n"
                                "}\n"
                                "http {\n"
                                "    access_log off;\n" +
                                temps + "    include " + siteFile.fileName().toUtf8() + ";\n}\n";
        if (!dir.isValid() || !siteFile.open(QIODevice::WriteOnly) || siteFile.write(site) != site.size() ||
            !mainFile.open(QIODevice::WriteOnly) || mainFile.write(main) != main.size())
            return;
        siteFile.close();
        mainFile.close();
        if (!editWithSed(mainEdits, mainFile.fileName()) || !giveToTool(dir.path()))
            return;
        const QStringList arguments{
            QStringLiteral("-p"), dir.path(),          QStringLiteral("-e"), errorLogPath(),
            QStringLiteral("-c"), mainFile.fileName(), QStringLiteral("-g"), QStringLiteral("daemon off;")};
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        if (::geteuid() == 0) {
            const passwd *nobody = ::getpwnam("nobody");
            process.start(QStringLiteral("setpriv"),
                          QStringList{QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                                      QStringLiteral("--regid=%1").arg(nobody->pw_gid),
                                      QStringLiteral("--clear-groups"), QStringLiteral("/usr/sbin/nginx")} +
                              arguments);
        } else {
            process.start(QStringLiteral("/usr/sbin/nginx"), arguments);
        }
        // Ready when it accepts; gone when the configuration was refused.
        for (int wait = 0; wait < 500 && process.waitForStarted(5000); ++wait) {
            if (int fd = connectLoopback(listenPort); fd >= 0) {
                ::close(fd);
                ready = true;
                return;
            }
            if (process.waitForFinished(10))
                return;
        }
    }
    ~NginxServer()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
    }
    NginxServer(const NginxServer &) = delete;
    NginxServer &operator=(const NginxServer &) = delete;

    bool isReady() const { return ready && process.state() == QProcess::Running; }
    int port() const { return listenPort; }
    // Why it did not start, or what it complained about.
    QByteArray errorLog() const
    {
        QFile file(errorLogPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QString errorLogPath() const { return dir.filePath(QStringLiteral("error.log")); }

    QTemporaryDir dir;
    QProcess process;
    int listenPort = 0;
    bool ready = false;
};

} // namespace nimbara::server::test
