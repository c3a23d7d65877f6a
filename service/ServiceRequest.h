#pragma once

#include <QByteArray>
#include <QObject>
#include <QVariant>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace nimbara {

// The requests of ours that a person waits on while the widget must go on (the place search, the
// service's guess of the machine's place): they run on the calling thread's event loop instead of
// blocking it, with the blocking exchange's limits (its time-out in all, its body cap, no proxy, no
// redirects) and its log lines. One at a time: a new request, or abort(), cancels the one in flight,
// whose answer is never reported.
class ServiceRequest : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ServiceRequest)

public:
    explicit ServiceRequest(QObject *parent = nullptr);
    ~ServiceRequest() override;

    // The places whose names begin with the text, in the user's language.
    void searchPlaces(const QString &text);
    // The machine's place as the service guesses it from the network address.
    void locateByNetworkAddress();
    void abort();
    bool isRunning() const { return m_reply != nullptr; }

signals:
    // From the event loop, never inside the call that started the request: the decoded envelope
    // (QVariantMap), or null after a failure.
    void finished(const QVariant &answer);

private:
    void get(const QString &address);
    void read();
    void fail(const QString &description);
    void finish();

    QNetworkAccessManager *m_manager = nullptr;
    QNetworkReply *m_reply = nullptr;
    QTimer *const m_deadline;
    QByteArray m_body;
};

} // namespace nimbara
