#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>

class QTcpSocket;

#include <atomic>
#include <thread>

// An HTTP server on 127.0.0.1 (ephemeral port) for the client's tests. It serves one connection at a
// time on a thread of its own, records every request exactly as it arrived, writes the scripted raw
// reply and closes the connection; a silent server reads the request and never answers. Given a
// list of keep-alive replies, it answers the n-th request on a connection with the n-th reply and
// keeps the connection open; an empty reply, or the end of the list, closes it without answering.
class LoopbackServer
{
public:
    struct Request
    {
        QByteArray requestLine;    // "GET /check/ HTTP/1.1"
        QList<QByteArray> headers; // raw lines, in order
        QByteArray body;
        int connection = 0; // counts from 1 in the order the connections were accepted
    };

    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    quint16 port() const { return m_port; }
    QString host() const; // "127.0.0.1:port"

    void setReply(const QByteArray &raw);
    void setSilent();
    void setKeepAliveReplies(const QList<QByteArray> &replies);
    QList<Request> requests() const;
    void clear();

    // A complete answer that closes the connection.
    static QByteArray answer(int status, const QByteArray &body,
                             const QByteArray &contentType = "application/json");

private:
    bool serveOne(QTcpSocket &socket, int connection, int index);
    bool waitForRequest(QTcpSocket &socket);

    mutable QMutex m_mutex;
    QByteArray m_reply;
    bool m_silent = false;
    QList<QByteArray> m_keepAliveReplies;
    QList<Request> m_requests;
    std::atomic<bool> m_stop{false};
    quint16 m_port = 0;
    std::thread m_thread;
};
