#include "ServiceRequest.h"

#include "ServiceExchange.h"
#include "WXWeather.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>

#include <utility>

namespace nimbara {

ServiceRequest::ServiceRequest(QObject *parent)
    : QObject(parent)
    , m_deadline(new QTimer(this))
{
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("Operation timed out after %1 milliseconds with %2 bytes received")
                 .arg(m_deadline->interval())
                 .arg(m_body.size()));
    });
}

ServiceRequest::~ServiceRequest()
{
    abort();
}

void ServiceRequest::searchPlaces(const QString &text)
{
    get(WXWeather::placesAddress(text));
}

void ServiceRequest::locateByNetworkAddress()
{
    get(WXWeather::locateAddress());
}

void ServiceRequest::abort()
{
    m_deadline->stop();
    if (!m_reply)
        return;
    QNetworkReply *reply = std::exchange(m_reply, nullptr);
    // Its finished signal, emitted inside abort(), is no answer.
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void ServiceRequest::get(const QString &address)
{
    abort();
    // Made on first use: most sessions never ask.
    if (!m_manager) {
        m_manager = new QNetworkAccessManager(this);
        m_manager->setProxy(QNetworkProxy::NoProxy);
    }
    // The address's bytes as they are, like the blocking exchange's.
    QNetworkRequest request(QUrl::fromEncoded(address.toUtf8()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // The body cap counts what the server sends: nothing is unpacked beyond it.
    request.setRawHeader("Accept-Encoding", "identity");
    m_body.clear();
    m_reply = m_manager->get(request);
    connect(m_reply, &QIODevice::readyRead, this, &ServiceRequest::read);
    connect(m_reply, &QNetworkReply::finished, this, &ServiceRequest::finish);
    m_deadline->start(exchange::timeoutMs());
}

void ServiceRequest::read()
{
    m_body += m_reply->readAll();
    if (m_body.size() > exchange::kMaxBodyBytes)
        fail(QStringLiteral("Answer too large: more than %1 bytes").arg(exchange::kMaxBodyBytes));
}

void ServiceRequest::fail(const QString &description)
{
    abort();
    exchange::logRequestError(description);
    emit finished(QVariant());
}

void ServiceRequest::finish()
{
    read();
    if (!m_reply)
        return; // too large: reported
    QNetworkReply *reply = std::exchange(m_reply, nullptr);
    m_deadline->stop();
    reply->deleteLater();
    // Any status with its body is an answer, as in the blocking exchange; no status is a failure.
    if (!reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
        exchange::logRequestError(reply->errorString());
        emit finished(QVariant());
        return;
    }
    emit finished(exchange::decodeAnswer(std::exchange(m_body, QByteArray())));
}

} // namespace nimbara
