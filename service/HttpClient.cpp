#include "HttpClient.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkProxy>
#include <QTcpSocket>

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/basic_parser.hpp>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace http = boost::beast::http;

namespace nimbara {
namespace {

// A hostile server must not make the client hold headers without limit either.
constexpr std::uint32_t kMaxHeadBytes = 100 * 1024;
constexpr quint16 kDefaultPort = 80;

const QString kBadAddress = QStringLiteral("URL using bad/illegal format or missing URL");

struct Address
{
    QString host; // as written, without the brackets of an IPv6 literal
    quint16 port = kDefaultPort;
    QByteArray hostHeader;
    QByteArray target; // path and query, "/" when the address has none
};

// Splits "http://host[:port][/path][?query][#fragment]". Addresses with control characters, spaces,
// user information or a port out of range are refused rather than sent in some repaired form.
std::optional<Address> parseAddress(const QByteArray &url, QString *error)
{
    *error = kBadAddress;
    if (std::any_of(url.cbegin(), url.cend(), [](char c) { return uchar(c) <= 0x20 || uchar(c) == 0x7f; }))
        return std::nullopt;
    const qsizetype schemeEnd = url.indexOf("://");
    if (schemeEnd < 0)
        return std::nullopt;
    const QByteArray scheme = url.left(schemeEnd);
    if (scheme.compare("http", Qt::CaseInsensitive) != 0) {
        *error = QStringLiteral("Protocol \"%1\" not supported").arg(QString::fromUtf8(scheme));
        return std::nullopt;
    }

    const qsizetype authorityStart = schemeEnd + 3;
    qsizetype authorityEnd = authorityStart;
    while (authorityEnd < url.size() && !QByteArrayView("/?#").contains(url.at(authorityEnd)))
        ++authorityEnd;
    const QByteArray authority = url.mid(authorityStart, authorityEnd - authorityStart);
    QByteArray target = url.mid(authorityEnd);
    target.truncate(target.indexOf('#') < 0 ? target.size() : target.indexOf('#'));
    if (!target.startsWith('/'))
        target.prepend('/');

    Address address;
    qsizetype hostEnd = authority.size();
    QByteArray host;
    if (authority.startsWith('[')) {
        hostEnd = authority.indexOf(']') + 1;
        if (hostEnd <= 0)
            return std::nullopt;
        host = authority.mid(1, hostEnd - 2);
        QHostAddress literal;
        if (!literal.setAddress(QString::fromLatin1(host)) ||
            literal.protocol() != QAbstractSocket::IPv6Protocol)
            return std::nullopt;
    } else {
        hostEnd = authority.contains(':') ? authority.indexOf(':') : authority.size();
        host = authority.left(hostEnd);
    }
    if (host.isEmpty() || host.contains('@'))
        return std::nullopt;
    const QByteArray portText = authority.mid(hostEnd);
    if (!portText.isEmpty()) {
        if (!portText.startsWith(':'))
            return std::nullopt;
        const QByteArray digits = portText.mid(1);
        if (!digits.isEmpty()) {
            bool ok = false;
            const uint port = digits.toUInt(&ok);
            if (!ok || port == 0 || port > 65535 ||
                !std::all_of(digits.cbegin(), digits.cend(), [](char c) { return c >= '0' && c <= '9'; }))
                return std::nullopt;
            address.port = quint16(port);
        }
    }

    address.host = QString::fromUtf8(host);
    address.hostHeader = authority.left(hostEnd);
    if (address.port != kDefaultPort)
        address.hostHeader += ':' + QByteArray::number(address.port);
    address.target = target;
    return address;
}

QByteArray requestBytes(const Address &address, const QByteArray *postBody)
{
    QByteArray bytes = (postBody ? "POST " : "GET ") + address.target +
                       " HTTP/1.1\r\nHost: " + address.hostHeader + "\r\nAccept: */*\r\n";
    if (postBody) {
        bytes += "Content-Length: " + QByteArray::number(postBody->size()) +
                 "\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n" + *postBody;
    } else {
        bytes += "\r\n";
    }
    return bytes;
}

// The name lookup cannot be interrupted, so it runs on a thread of its own that the caller stops
// waiting for at the deadline; a late answer is dropped with the thread.
std::optional<QList<QHostAddress>> resolve(const QString &host, int milliseconds)
{
    QHostAddress literal;
    if (literal.setAddress(host))
        return QList<QHostAddress>{literal};

    struct Lookup
    {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<QList<QHostAddress>> addresses;
    };
    const auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host] {
        const QList<QHostAddress> addresses = QHostInfo::fromName(host).addresses();
        const std::lock_guard lock(lookup->mutex);
        lookup->addresses = addresses;
        lookup->done.notify_all();
    }).detach();
    std::unique_lock lock(lookup->mutex);
    if (!lookup->done.wait_for(lock, std::chrono::milliseconds(milliseconds),
                               [&] { return lookup->addresses.has_value(); }))
        return std::nullopt;
    return lookup->addresses;
}

// Keeps of an answer only what the exchange uses: the status, to pass over interim answers, and the
// body, which Beast hands over with the chunk framing taken off. Framing, limits and the keep-alive
// decision are the base parser's.
class AnswerParser final : public http::basic_parser<false>
{
public:
    int status() const { return m_status; }
    const QByteArray &body() const { return m_body; }

private:
    using string_view = boost::beast::string_view;
    using error_code = boost::system::error_code;

    void on_request_impl(http::verb, string_view, string_view, int, error_code &) override {}
    void on_response_impl(int code, string_view, int, error_code &) override { m_status = code; }
    void on_field_impl(http::field, string_view, string_view, error_code &) override {}
    void on_header_impl(error_code &) override {}
    void on_body_init_impl(const boost::optional<std::uint64_t> &, error_code &) override {}
    size_t on_body_impl(string_view data, error_code &) override { return append(data); }
    void on_chunk_header_impl(std::uint64_t, string_view, error_code &) override {}
    size_t on_chunk_body_impl(std::uint64_t, string_view data, error_code &) override { return append(data); }
    void on_finish_impl(error_code &) override {}

    size_t append(string_view data)
    {
        m_body.append(data.data(), qsizetype(data.size()));
        return data.size();
    }

    int m_status = 0;
    QByteArray m_body;
};

// The connection kept alive between calls on one thread.
struct KeptConnection
{
    QString host;
    quint16 port = 0;
    std::unique_ptr<QTcpSocket> socket;
};

KeptConnection &keptConnection()
{
    thread_local KeptConnection kept;
    return kept;
}

// One request on one connection, against a deadline shared by every step.
class Exchange
{
public:
    Exchange(const Address &address, int timeoutMs, qsizetype maxBodyBytes)
        : m_address(address)
        , m_timeoutMs(timeoutMs)
        , m_maxBodyBytes(maxBodyBytes)
    {
        m_clock.start();
    }

    // idempotent: a GET, which may go out twice; a POST goes out once, on a new connection.
    HttpAnswer run(const QByteArray &request, bool idempotent)
    {
        KeptConnection &kept = keptConnection();
        // The server may close an idle connection just as a request goes out, having read it or not.
        // A GET is then sent again; a POST (a feedback message) must not be stored twice, so it never
        // takes that chance.
        const bool reusable = idempotent && kept.socket && kept.host == m_address.host &&
                              kept.port == m_address.port && isIdle(*kept.socket);
        std::unique_ptr<QTcpSocket> socket = reusable ? std::move(kept.socket) : nullptr;
        kept.socket.reset();
        HttpAnswer answer;
        if (socket) {
            answer = send(*socket, request);
            // Nothing came back from the kept connection: once more on a new one.
            if (answer.delivered || m_received > 0 || m_timedOut)
                return keep(std::move(socket), std::move(answer));
        }
        socket = connect();
        if (!socket)
            return failure(m_connectError);
        answer = send(*socket, request);
        return keep(std::move(socket), std::move(answer));
    }

private:
    int remaining() const { return int(std::max<qint64>(0, m_timeoutMs - m_clock.elapsed())); }

    static HttpAnswer failure(const QString &description)
    {
        HttpAnswer answer;
        answer.error = description;
        return answer;
    }

    // An idle connection has nothing to read; one the server closed reads as its end.
    static bool isIdle(QTcpSocket &socket)
    {
        return socket.state() == QAbstractSocket::ConnectedState && !socket.waitForReadyRead(0) &&
               socket.state() == QAbstractSocket::ConnectedState;
    }

    HttpAnswer keep(std::unique_ptr<QTcpSocket> socket, HttpAnswer answer)
    {
        if (m_keepAlive && socket->state() == QAbstractSocket::ConnectedState) {
            KeptConnection &kept = keptConnection();
            kept.host = m_address.host;
            kept.port = m_address.port;
            kept.socket = std::move(socket);
        }
        return answer;
    }

    std::unique_ptr<QTcpSocket> connect()
    {
        const std::optional<QList<QHostAddress>> addresses = resolve(m_address.host, remaining());
        if (!addresses) {
            m_connectError =
                QStringLiteral("Resolving timed out after %1 milliseconds").arg(m_clock.elapsed());
            return nullptr;
        }
        if (addresses->isEmpty()) {
            m_connectError = QStringLiteral("Could not resolve host: ") + m_address.host;
            return nullptr;
        }
        for (qsizetype i = 0; i < addresses->size(); ++i) {
            auto socket = std::make_unique<QTcpSocket>();
            socket->setProxy(QNetworkProxy::NoProxy);
            // Unbuffered: the request goes out in the write call and the answer is read straight
            // into the parser's buffer, with no copy and no poll in between.
            socket->connectToHost(addresses->at(i), m_address.port,
                                  QIODevice::ReadWrite | QIODevice::Unbuffered);
            // Every address but the last gets half the time left, so that one that never answers
            // leaves time for the next.
            const int budget = i + 1 == addresses->size() ? remaining() : remaining() / 2;
            if (budget > 0 && socket->waitForConnected(budget)) {
                socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                return socket;
            }
            if (remaining() == 0) {
                m_connectError =
                    QStringLiteral("Connection timed out after %1 milliseconds").arg(m_clock.elapsed());
                return nullptr;
            }
        }
        m_connectError =
            QStringLiteral("Failed to connect to %1 port %2 after %3 ms: Couldn't connect to server")
                .arg(m_address.host)
                .arg(m_address.port)
                .arg(m_clock.elapsed());
        return nullptr;
    }

    HttpAnswer send(QTcpSocket &socket, const QByteArray &request)
    {
        m_received = 0;
        m_keepAlive = false;
        socket.write(request);
        while (socket.bytesToWrite() > 0) {
            if (!socket.waitForBytesWritten(remaining())) {
                if (remaining() == 0)
                    return timedOut(0, std::nullopt);
                return failure(QStringLiteral("Failed sending data to the peer"));
            }
        }
        return receive(socket);
    }

    HttpAnswer timedOut(std::uint64_t bodyBytes, std::optional<std::uint64_t> length)
    {
        m_timedOut = true;
        const QString received =
            length ? QStringLiteral("%1 out of %2").arg(bodyBytes).arg(*length) : QString::number(bodyBytes);
        return failure(QStringLiteral("Operation timed out after %1 milliseconds with %2 bytes received")
                           .arg(m_clock.elapsed())
                           .arg(received));
    }

    HttpAnswer receive(QTcpSocket &socket)
    {
        std::optional<AnswerParser> parser;
        const auto newParser = [&] {
            parser.emplace();
            parser->eager(true);
            parser->header_limit(kMaxHeadBytes);
            parser->body_limit(std::uint64_t(m_maxBodyBytes));
        };
        newParser();
        QByteArray buffer;

        for (;;) {
            while (!buffer.isEmpty()) {
                boost::system::error_code error;
                const size_t used =
                    parser->put(boost::asio::buffer(buffer.constData(), size_t(buffer.size())), error);
                buffer.remove(0, qsizetype(used));
                if (error == http::error::need_more)
                    break;
                if (error)
                    return parseFailure(error, buffer);
                if (!parser->is_done())
                    continue;
                const int status = parser->status();
                if (status / 100 == 1 && status != 101) {
                    newParser(); // an interim answer: the real one follows
                    continue;
                }
                m_keepAlive = parser->keep_alive() && !parser->need_eof() && buffer.isEmpty();
                return delivered(*parser);
            }

            if (!socket.waitForReadyRead(remaining())) {
                if (socket.state() == QAbstractSocket::ConnectedState) {
                    if (remaining() == 0 || socket.error() == QAbstractSocket::SocketTimeoutError) {
                        std::optional<std::uint64_t> length;
                        if (parser->is_header_done() && parser->content_length())
                            length = *parser->content_length();
                        return timedOut(std::uint64_t(parser->body().size()), length);
                    }
                    return failure(QStringLiteral("Recv failure: ") + socket.errorString());
                }
                return closed(*parser);
            }
            char chunk[16 * 1024];
            const qint64 got = socket.read(chunk, sizeof chunk);
            if (got < 0) {
                if (socket.error() == QAbstractSocket::RemoteHostClosedError)
                    return closed(*parser);
                return failure(QStringLiteral("Recv failure: ") + socket.errorString());
            }
            m_received += got;
            buffer.append(chunk, qsizetype(got));
        }
    }

    static HttpAnswer delivered(const AnswerParser &parser)
    {
        HttpAnswer answer;
        answer.delivered = true;
        answer.body = parser.body();
        return answer;
    }

    // The server closed the connection: the end of a body read to the close, or an answer cut off.
    HttpAnswer closed(AnswerParser &parser)
    {
        if (m_received == 0)
            return failure(QStringLiteral("Empty reply from server"));
        boost::system::error_code error;
        if (parser.is_header_done())
            parser.put_eof(error);
        if (parser.is_done() && !error)
            return delivered(parser);
        if (parser.is_header_done() && parser.content_length_remaining()) {
            return failure(QStringLiteral("transfer closed with %1 bytes remaining to read")
                               .arg(*parser.content_length_remaining()));
        }
        return failure(QStringLiteral("transfer closed with outstanding read data remaining"));
    }

    HttpAnswer parseFailure(const boost::system::error_code &error, const QByteArray &unparsed)
    {
        if (error == http::error::body_limit)
            return failure(QStringLiteral("Answer too large: more than %1 bytes").arg(m_maxBodyBytes));
        if (error == http::error::header_limit)
            return failure(QStringLiteral("Answer headers too large: more than %1 bytes").arg(kMaxHeadBytes));
        if (error == http::error::bad_version) {
            return failure(unparsed.startsWith("HTTP/")
                               ? QStringLiteral("Unsupported HTTP version in response")
                               : QStringLiteral("Received HTTP/0.9 when not allowed"));
        }
        if (error == http::error::bad_chunk || error == http::error::bad_chunk_extension)
            return failure(QStringLiteral("Illegal or missing hexadecimal sequence in chunked-encoding"));
        return failure(
            QStringLiteral("Weird server reply (%1)").arg(QString::fromStdString(error.message())));
    }

    const Address &m_address;
    const int m_timeoutMs;
    const qsizetype m_maxBodyBytes;
    QElapsedTimer m_clock;
    QString m_connectError;
    qint64 m_received = 0;
    bool m_keepAlive = false;
    bool m_timedOut = false;
};

} // namespace

HttpAnswer sendHttpRequest(const QByteArray &url, const QByteArray *postBody, int timeoutMs,
                           qsizetype maxBodyBytes)
{
    QString error;
    const std::optional<Address> address = parseAddress(url, &error);
    if (!address) {
        HttpAnswer answer;
        answer.error = error;
        return answer;
    }
    Exchange exchange(*address, timeoutMs, maxBodyBytes);
    return exchange.run(requestBytes(*address, postBody), postBody == nullptr);
}

} // namespace nimbara
