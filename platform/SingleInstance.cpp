#include "SingleInstance.h"

#include "Log.h"
#include "Relauncher.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <sys/socket.h>
#include <unistd.h>

namespace nimbara {

namespace {
const QByteArray kReopen = QByteArrayLiteral("reopen\n");
constexpr int kAttempts = 5;
// A relaunched instance waits up to 5 s for the instance it replaces to let go of the name.
constexpr int kRelaunchAttempts = 100;

bool sameUser(const QLocalSocket *socket)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    const auto fd = static_cast<int>(socket->socketDescriptor());
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == getuid();
}
} // namespace

SingleInstance::SingleInstance(const QString &name, QObject *parent)
    : QObject(parent)
    , m_name(name)
    , m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName(const QString &scope)
{
    QString name = QStringLiteral("nimbara-%1").arg(getuid());
    if (!scope.isEmpty())
        name += QLatin1Char('-') +
                QString::fromLatin1(
                    QCryptographicHash::hash(scope.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
    return name;
}

SingleInstance::Role SingleInstance::start()
{
    // Started by a relaunch: the holder, if any, is the instance that is just ending. Asking it to
    // re-open would toggle its lock and leave nobody running, so wait for the name instead.
    if (Relauncher::takeRelaunchMark()) {
        for (int attempt = 0; attempt < kRelaunchAttempts; ++attempt) {
            if (m_server->listen(m_name))
                return Role::Primary;
            QThread::msleep(50);
        }
        log(QStringLiteral(" ! ERROR : single instance: %1").arg(m_server->errorString()));
        return Role::Failed;
    }
    // Binding an abstract name is atomic, so of two processes started together exactly one listens.
    // Between a holder that is just ending and a new one, try again for a moment.
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (m_server->listen(m_name))
            return Role::Primary;
        if (requestReopen(m_name))
            return Role::Secondary;
        QThread::msleep(50);
    }
    log(QStringLiteral(" ! ERROR : single instance: %1").arg(m_server->errorString()));
    return Role::Failed;
}

bool SingleInstance::requestReopen(const QString &name, int timeoutMs)
{
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(kReopen);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    socket.disconnectFromServer();
    return true;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!sameUser(socket)) {
            socket->abort();
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
        readRequest(socket);
    }
}

void SingleInstance::readRequest(QLocalSocket *socket)
{
    // One short request per connection; anything longer or different is dropped.
    if (socket->bytesAvailable() < kReopen.size() && socket->state() == QLocalSocket::ConnectedState)
        return;
    const QByteArray request = socket->read(kReopen.size());
    socket->disconnectFromServer();
    if (request == kReopen)
        emit reopenRequested();
}

} // namespace nimbara
