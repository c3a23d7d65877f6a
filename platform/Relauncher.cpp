#include "Relauncher.h"

#include "BundleInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

namespace nimbara {

namespace {
// 50 polls of 0.1 s: a few seconds at most between the old instance's end and the new one's start.
const char *const relaunchScript = "i=0\n"
                                   "while kill -0 \"$1\" 2>/dev/null && [ \"$i\" -lt 50 ]; do\n"
                                   "  sleep 0.1\n"
                                   "  i=$((i + 1))\n"
                                   "done\n"
                                   "exec \"$2\"\n";
} // namespace

QString Relauncher::script()
{
    return QString::fromLatin1(relaunchScript);
}

QString Relauncher::markVariable()
{
    return QStringLiteral("NIMBARA_RELAUNCHED");
}

bool Relauncher::relaunch(const QString &executable, qint64 pid)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(markVariable(), QString::number(pid));

    QProcess shell;
    shell.setProgram(QStringLiteral("/bin/sh"));
    // "sh" becomes $0; the id and the path are $1 and $2. An absolute path also keeps exec from
    // reading a leading "-" as an option or searching PATH.
    const QString path =
        QDir::isAbsolutePath(executable) ? executable : QFileInfo(executable).absoluteFilePath();
    shell.setArguments({QStringLiteral("-c"), script(), QStringLiteral("sh"), QString::number(pid), path});
    shell.setProcessEnvironment(environment);
    shell.setStandardInputFile(QProcess::nullDevice());
    return shell.startDetached();
}

bool Relauncher::relaunchThisProcess()
{
    return relaunch(bundlePath(), QCoreApplication::applicationPid());
}

std::optional<qint64> Relauncher::takeRelaunchMark()
{
    const QByteArray name = markVariable().toLatin1();
    if (!qEnvironmentVariableIsSet(name.constData()))
        return std::nullopt;
    bool ok = false;
    const qint64 pid = qEnvironmentVariable(name.constData()).toLongLong(&ok);
    qunsetenv(name.constData());
    if (!ok || pid <= 0)
        return std::nullopt;
    return pid;
}

} // namespace nimbara
