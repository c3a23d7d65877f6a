#include "LoopbackServer.h"

#include <QHostAddress>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>

#include <future>

namespace {
constexpr int kPollMs = 20;
constexpr int kIdleLimitMs = 5000;
} // namespace

LoopbackServer::LoopbackServer()
{
    std::promise<quint16> listening;
    std::future<quint16> port = listening.get_future();
    m_thread = std::thread([this, &listening] {
        // Created on this thread: its blocking calls need no event loop.
        QTcpServer server;
        listening.set_value(server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0);
        int connection = 0;
        while (!m_stop) {
            if (!server.waitForNewConnection(kPollMs))
                continue;
            QTcpSocket *socket = server.nextPendingConnection();
            ++connection;
            for (int index = 0; serveOne(*socket, connection, index); ++index) {
            }
            delete socket;
        }
    });
    m_port = port.get();
}

LoopbackServer::~LoopbackServer()
{
    m_stop = true;
    m_thread.join();
}

QString LoopbackServer::host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

void LoopbackServer::setReply(const QByteArray &raw)
{
    QMutexLocker lock(&m_mutex);
    m_reply = raw;
    m_silent = false;
}

void LoopbackServer::setKeepAliveReplies(const QList<QByteArray> &replies)
{
    QMutexLocker lock(&m_mutex);
    m_keepAliveReplies = replies;
}

void LoopbackServer::setSilent()
{
    QMutexLocker lock(&m_mutex);
    m_silent = true;
}

QList<LoopbackServer::Request> LoopbackServer::requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

void LoopbackServer::clear()
{
    QMutexLocker lock(&m_mutex);
    m_requests.clear();
}

QByteArray LoopbackServer::answer(int status, const QByteArray &body, const QByteArray &contentType)
{
    return "HTTP/1.1 " + QByteArray::number(status) + " Status\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// Polls, so that the server can stop while a kept connection is idle.
bool LoopbackServer::waitForRequest(QTcpSocket &socket)
{
    for (int waited = 0; waited < kIdleLimitMs && !m_stop; waited += kPollMs) {
        if (socket.waitForReadyRead(kPollMs))
            return true;
        if (socket.state() != QAbstractSocket::ConnectedState)
            return false;
    }
    return false;
}

// Serves the index-th request on the connection; true while the connection stays open for another.
bool LoopbackServer::serveOne(QTcpSocket &socket, int connection, int index)
{
    // Read the head, then as many body bytes as Content-Length announces.
    QByteArray data;
    qsizetype headEnd = -1;
    qsizetype wanted = -1;
    while (wanted < 0 || data.size() < wanted) {
        if (!waitForRequest(socket))
            return false;
        data += socket.readAll();
        if (headEnd < 0 && (headEnd = data.indexOf("\r\n\r\n")) >= 0) {
            wanted = headEnd + 4;
            for (const QByteArray &line : data.left(headEnd).split('\n')) {
                if (line.toLower().startsWith("content-length:"))
                    wanted += line.mid(15).trimmed().toLongLong();
            }
        }
    }

    Request request;
    QList<QByteArray> lines = data.left(headEnd).split('\n');
    for (QByteArray &line : lines)
        line.chop(line.endsWith('\r') ? 1 : 0);
    request.requestLine = lines.takeFirst();
    request.headers = lines;
    request.body = data.mid(headEnd + 4);
    request.connection = connection;

    QByteArray reply;
    bool silent = false;
    bool keepAlive = false;
    {
        QMutexLocker lock(&m_mutex);
        m_requests.append(request);
        reply = m_reply;
        silent = m_silent;
        keepAlive = !m_keepAliveReplies.isEmpty();
        if (keepAlive)
            reply = m_keepAliveReplies.value(index);
    }
    if (keepAlive && reply.isEmpty()) {
        socket.disconnectFromHost();
        return false;
    }

    if (silent) {
        // Hold the connection open until the client gives up.
        while (!m_stop && socket.state() == QAbstractSocket::ConnectedState) {
            if (socket.waitForReadyRead(kPollMs))
                socket.readAll();
        }
        return false;
    }
    socket.write(reply);
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(kIdleLimitMs)) {
    }
    if (keepAlive)
        return true;
    socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState)
        socket.waitForDisconnected(kIdleLimitMs);
    return false;
}
