// A stand-in for the application in the relaunch test. Started without the relaunch mark it asks
// for a relaunch of itself and ends; started by the relaunch it writes what it found into
// $RELAUNCH_HELPER_DIR/relaunched.txt and ends. RELAUNCH_HELPER_MODE=orphan makes the process that
// asks for the relaunch a child that its parent never reaps (it stays a zombie while the parent
// sleeps), which `kill -0` cannot tell from a living process. RELAUNCH_HELPER_MODE=guard takes the
// single-instance guard named $RELAUNCH_HELPER_GUARD and writes the role it got into guard.txt.
#include "Relauncher.h"
#include "SingleInstance.h"

#include <QCoreApplication>
#include <QSaveFile>
#include <QThread>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

using nimbara::Relauncher;

namespace {

bool write(const QString &name, const QStringList &fields)
{
    QSaveFile file(qEnvironmentVariable("RELAUNCH_HELPER_DIR") + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(fields.join(QChar(0)).toUtf8()); // a path may hold newlines, never a NUL
    return file.commit();
}

int takeGuard()
{
    using nimbara::SingleInstance;
    SingleInstance instance(qEnvironmentVariable("RELAUNCH_HELPER_GUARD"));
    const SingleInstance::Role role = instance.start();
    const QString name = role == SingleInstance::Role::Primary     ? QStringLiteral("primary")
                         : role == SingleInstance::Role::Secondary ? QStringLiteral("secondary")
                                                                   : QStringLiteral("failed");
    return write(QStringLiteral("guard.txt"), {name}) ? 0 : 1;
}

int report(qint64 oldPid)
{
    const bool oldAlive = ::kill(static_cast<pid_t>(oldPid), 0) == 0;
    const QStringList fields{QCoreApplication::applicationFilePath(), QString::number(oldPid),
                             oldAlive ? QStringLiteral("old alive") : QStringLiteral("old gone"),
                             QStringLiteral("mark=") + qEnvironmentVariable("NIMBARA_RELAUNCHED")};
    return write(QStringLiteral("relaunched.txt"), fields) ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString mode = qEnvironmentVariable("RELAUNCH_HELPER_MODE");
    if (mode == QStringLiteral("guard"))
        return takeGuard();
    if (const auto oldPid = Relauncher::takeRelaunchMark())
        return report(*oldPid);

    if (mode == QStringLiteral("orphan")) {
        const pid_t child = ::fork();
        if (child < 0)
            return 1;
        if (child > 0) {
            // Never reaps the child; the test ends this process when it is done.
            QThread::sleep(30);
            return 0;
        }
        return Relauncher::relaunchThisProcess() ? 0 : 1;
    }

    if (!Relauncher::relaunchThisProcess())
        return 1;
    // Outlive the start of the shell a little, so that it really has to wait for us.
    QThread::msleep(300);
    return 0;
}
