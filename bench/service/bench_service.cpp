// Times the client's requests against a loopback server. bench_service HOST COUNT prints
// "name requests/s median-microseconds failures" for isConnected, the gate request, the gate
// request's exchange alone (makeRequestToURL with the six pairs made once, so without reading the
// machine id, the language and the digests afresh), its transport alone (gate-transport: the same
// address through the HTTP client, without pair text, JSON or log), and the floor for them all: the
// same request bytes written and the answer read over a plain kept-alive socket, with nothing else
// (raw-probe, raw-gate). bench_service HOST --gate-url prints the gate address with the six pairs as
// the client sends them.
#include "BuildInfo.h"
#include "HttpClient.h"
#include "WXWeather.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocale>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

void measure(const char *name, int count, const std::function<bool()> &request)
{
    std::vector<qint64> nanoseconds;
    nanoseconds.reserve(size_t(count));
    int failures = 0;
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < count; ++i) {
        QElapsedTimer one;
        one.start();
        failures += request() ? 0 : 1;
        nanoseconds.push_back(one.nsecsElapsed());
    }
    const double seconds = double(total.nsecsElapsed()) / 1e9;
    std::sort(nanoseconds.begin(), nanoseconds.end());
    const double median = double(nanoseconds[nanoseconds.size() / 2]) / 1e3;
    std::printf("%s %.0f %.1f %d\n", name, count / seconds, median, failures);
}

// One kept-alive connection to 127.0.0.1:port that sends a request and reads the answer it frames
// with Content-Length, as the benchmark server answers.
class RawClient
{
public:
    explicit RawClient(quint16 port)
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            ::close(m_socket);
            m_socket = -1;
        }
    }
    ~RawClient()
    {
        if (m_socket >= 0)
            ::close(m_socket);
    }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool request(const std::string &bytes)
    {
        if (m_socket < 0 ||
            ::send(m_socket, bytes.data(), bytes.size(), MSG_NOSIGNAL) != ssize_t(bytes.size()))
            return false;
        std::string answer;
        char buffer[16384];
        size_t wanted = std::string::npos;
        while (wanted == std::string::npos || answer.size() < wanted) {
            const ssize_t got = ::recv(m_socket, buffer, sizeof buffer, 0);
            if (got <= 0)
                return false;
            answer.append(buffer, size_t(got));
            const size_t headEnd = answer.find("\r\n\r\n");
            if (wanted == std::string::npos && headEnd != std::string::npos) {
                const size_t length = answer.find("Content-Length: ");
                if (length == std::string::npos || length > headEnd)
                    return false;
                wanted = headEnd + 4 + std::strtoul(answer.c_str() + length + 16, nullptr, 10);
            }
        }
        return answer.compare(0, 12, "HTTP/1.1 200") == 0;
    }

private:
    int m_socket = -1;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(NIMBARA_VERSION));
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: bench_service HOST COUNT | bench_service HOST --gate-url\n");
        return 2;
    }
    const QString host = arguments[1];
    WXWeather::setHostsForTesting(host, host);

    const QString gate = QStringLiteral("http://%1/api/0.5/gate?").arg(host);
    const QVariantMap pairs{{QStringLiteral("v1"), 10.5},
                            {QStringLiteral("v2"), -20.25},
                            {QStringLiteral("v3"), QStringLiteral("auto")},
                            {QStringLiteral("v4"), QLocale::system().uiLanguages().value(0)},
                            {QStringLiteral("v5"), WXWeather::encrypt(WXWeather::serialNumber())},
                            {QStringLiteral("v6"), WXWeather::encrypt(QStringLiteral(NIMBARA_VERSION))}};

    if (arguments[2] == QLatin1String("--gate-url")) {
        QString url = gate;
        for (auto it = pairs.cbegin(); it != pairs.cend(); ++it)
            url += u'&' + it.key() + u'=' + it.value().toString();
        std::printf("%s\n", url.toUtf8().constData());
        return 0;
    }

    const int count = arguments[2].toInt();
    if (count <= 0)
        return 2;
    measure("isConnected", count, [] { return WXWeather::isConnected(); });
    measure("gate", count, [] { return !WXWeather::getWeatherByLatitude(10.5, -20.25).isNull(); });
    measure("gate-exchange", count, [&] { return !WXWeather::makeRequestToURL(gate, pairs).isNull(); });

    QByteArray target = "/api/0.5/gate?";
    for (auto it = pairs.cbegin(); it != pairs.cend(); ++it)
        target += '&' + it.key().toUtf8() + '=' + it.value().toString().toUtf8();
    const auto requestBytes = [&](const QByteArray &path) {
        return ("GET " + path + " HTTP/1.1\r\nHost: " + host.toUtf8() + "\r\nAccept: */*\r\n\r\n")
            .toStdString();
    };
    RawClient raw(quint16(host.section(u':', -1).toUInt()));
    const std::string probeRequest = requestBytes("/check/");
    const std::string gateRequest = requestBytes(target);
    // The transport alone, from the same address bytes: no pair text, no JSON, no log.
    const QByteArray gateUrl = "http://" + host.toUtf8() + target;
    measure("gate-transport", count,
            [&] { return nimbara::sendHttpRequest(gateUrl, nullptr, 10000, 1024 * 1024).delivered; });
    measure("raw-probe", count, [&] { return raw.request(probeRequest); });
    measure("raw-gate", count, [&] { return raw.request(gateRequest); });
    return 0;
}
