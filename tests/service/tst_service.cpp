#include "Log.h"
#include "LoopbackServer.h"
#include "ServiceRequest.h"
#include "WXWeather.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <limits>

using namespace nimbara;

namespace {

const QString kEmptyJson = QStringLiteral(" ! ERROR : empty JSON response");
const QString kRequestError = QStringLiteral(" ! ERROR : request error ");
const QByteArray kOkBody = R"({"ok":true})";
// What the service answers once it stored a feedback message.
const QByteArray kStoredBody = R"({"status":"ok"})";
const QVariantMap kOkResult{{QStringLiteral("ok"), true}};

// "127.0.0.1:port" of a port that nothing listens on.
QString closedHost()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return QStringLiteral("127.0.0.1:%1").arg(server.serverPort());
}

// The target of a recorded request line: "GET /check/ HTTP/1.1" gives "/check/".
QByteArray target(const LoopbackServer::Request &request)
{
    const QList<QByteArray> parts = request.requestLine.split(' ');
    return parts.size() == 3 ? parts.at(1) : QByteArray();
}

// The "key=value" pieces of a pair text, sorted; the pair order is not part of the format.
QStringList sortedPairs(const QString &pairText)
{
    static const QRegularExpression pairStart(QStringLiteral("&(?=v[1-6]=)"));
    QStringList pairs = pairText.split(pairStart);
    if (pairs.value(0).isEmpty())
        pairs.removeFirst(); // every pair, the first too, begins with "&"
    else
        pairs.prepend(QStringLiteral("(no leading ampersand)"));
    pairs.sort();
    return pairs;
}

QByteArray bigObject(qsizetype totalSize)
{
    return R"({"a":")" + QByteArray(totalSize - 8, 'x') + R"("})";
}

} // namespace

class TestWXWeather : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void get_appendsPairTextToAddress_data();
    void get_appendsPairTextToAddress();
    void get_addressCharactersNeverCrash_data();
    void get_addressCharactersNeverCrash();
    void post_sendsUnescapedFormBody_data();
    void post_sendsUnescapedFormBody();
    void exchange_badAnswers_data();
    void exchange_badAnswers();
    void exchange_keepsOneConnectionAlive_data();
    void exchange_keepsOneConnectionAlive();
    void exchange_sendsAPostOnlyOnce();
    void exchange_runsNoEventsWhileWaiting();
    void eventLoopRequest_keepsTheExchangeLimits_data();
    void eventLoopRequest_keepsTheExchangeLimits();

    void gate_sendsSixPairs_data();
    void gate_sendsSixPairs();
    void feedback_postsFourPairs_data();
    void feedback_postsFourPairs();
    void probe_asksItsOwnHostWithoutQuery_data();
    void probe_asksItsOwnHostWithoutQuery();

    void fingerprints_data();
    void fingerprints();
    void serialNumber_isMachineIdOrNull();

private:
    LoopbackServer m_service;
    LoopbackServer m_probe;
};

void TestWXWeather::initTestCase()
{
    // Nothing may leave the machine through a proxy of the environment.
    for (const char *name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
    // A comma locale must not leak into the numbers on the wire.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QVERIFY(m_service.port() != 0);
    QVERIFY(m_probe.port() != 0);
    cleanup();
}

void TestWXWeather::cleanup()
{
    WXWeather::setHostsForTesting(m_service.host(), m_probe.host());
    WXWeather::setTimeoutForTesting(0);
    m_service.clear();
    m_probe.clear();
}

void TestWXWeather::get_appendsPairTextToAddress_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QVariantMap>("data");
    QTest::addColumn<QByteArray>("expectedTarget");

    const QString gate = QStringLiteral("/api/0.5/gate?");
    QTest::newRow("probe, no map: no '?' added")
        << QStringLiteral("/check/") << QVariantMap() << QByteArray("/check/");
    QTest::newRow("empty map: address unchanged") << gate << QVariantMap() << QByteArray("/api/0.5/gate?");
    QTest::newRow("one entry begins with '&'")
        << gate << QVariantMap{{QStringLiteral("v3"), QStringLiteral("auto")}}
        << QByteArray("/api/0.5/gate?&v3=auto");
    QTest::newRow("'&', '=' and '+' unescaped")
        << gate << QVariantMap{{QStringLiteral("v2"), QStringLiteral("a&b=c+d%20")}}
        << QByteArray("/api/0.5/gate?&v2=a&b=c+d%20");
    QTest::newRow("point, not the locale's comma")
        << gate << QVariantMap{{QStringLiteral("v1"), 10.5}, {QStringLiteral("v2"), -20.25}}
        << QByteArray("/api/0.5/gate?&v1=10.5&v2=-20.25");
    QTest::newRow("shortest text that reads back")
        << gate << QVariantMap{{QStringLiteral("v1"), 52.520008}, {QStringLiteral("v2"), 1.0 / 3}}
        << QByteArray("/api/0.5/gate?&v1=52.520008&v2=0.3333333333333333");
    QTest::newRow("no exponent") << gate
                                 << QVariantMap{{QStringLiteral("v1"), 1e-5}, {QStringLiteral("v2"), 1e8}}
                                 << QByteArray("/api/0.5/gate?&v1=0.00001&v2=100000000");
}

void TestWXWeather::get_appendsPairTextToAddress()
{
    QFETCH(QString, path);
    QFETCH(QVariantMap, data);
    QFETCH(QByteArray, expectedTarget);
    m_service.setReply(LoopbackServer::answer(200, kOkBody));

    LogCapture capture;
    const QVariant result =
        WXWeather::makeRequestToURL(QStringLiteral("http://") + m_service.host() + path, data);

    QCOMPARE(result, QVariant(kOkResult));
    QCOMPARE(capture.lines(), QStringList{QString::fromLatin1(kOkBody)});
    const QList<LoopbackServer::Request> requests = m_service.requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].requestLine, "GET " + expectedTarget + " HTTP/1.1");
    QVERIFY(requests[0].body.isEmpty());
}

void TestWXWeather::get_addressCharactersNeverCrash_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("expectedTarget"); // empty: the client refuses the address

    QTest::newRow("space") << QStringLiteral("a b") << QByteArray();
    QTest::newRow("line break, header injection") << QStringLiteral("a\r\nX-Injected: 1") << QByteArray();
    QTest::newRow("non-ASCII letters")
        << QString::fromUtf8("M\xc3\xbcnchen") << QByteArray("/api/0.5/gate?&v2=M\xc3\xbcnchen");
}

void TestWXWeather::get_addressCharactersNeverCrash()
{
    QFETCH(QString, value);
    QFETCH(QByteArray, expectedTarget);
    m_service.setReply(LoopbackServer::answer(200, kOkBody));

    LogCapture capture;
    const QVariant result = WXWeather::makeRequestToURL(QStringLiteral("http://") + m_service.host() +
                                                            QStringLiteral("/api/0.5/gate?"),
                                                        {{QStringLiteral("v2"), value}});

    const QList<LoopbackServer::Request> requests = m_service.requests();
    if (expectedTarget.isEmpty()) {
        QVERIFY(result.isNull());
        QVERIFY(requests.isEmpty());
        QCOMPARE(capture.lines().size(), 1);
        QVERIFY2(capture.lines()[0].startsWith(kRequestError), qPrintable(capture.lines()[0]));
    } else {
        QCOMPARE(result, QVariant(kOkResult));
        QCOMPARE(requests.size(), 1);
        QCOMPARE(target(requests[0]), expectedTarget);
    }
}

void TestWXWeather::post_sendsUnescapedFormBody_data()
{
    QTest::addColumn<QVariantMap>("data");
    QTest::addColumn<QByteArray>("expectedBody");

    const QByteArray special = "a&b=c+d e\r\nf %41 \xc3\x84\xc3\x9f\xe2\x82\xac";
    QTest::newRow("empty map: empty body") << QVariantMap() << QByteArray();
    QTest::newRow("one entry begins with '&'")
        << QVariantMap{{QStringLiteral("v3"), QStringLiteral("auto")}} << QByteArray("&v3=auto");
    QTest::newRow("unescaped, UTF-8")
        << QVariantMap{{QStringLiteral("v4"), QString::fromUtf8(special)}} << "&v4=" + special;
    QTest::newRow("message over 1 MiB, no Expect")
        << QVariantMap{{QStringLiteral("v4"), QString(1100000, u'x')}} << "&v4=" + QByteArray(1100000, 'x');
}

void TestWXWeather::post_sendsUnescapedFormBody()
{
    QFETCH(QVariantMap, data);
    QFETCH(QByteArray, expectedBody);
    m_service.setReply(LoopbackServer::answer(200, kOkBody));
    const QString address =
        QStringLiteral("http://") + m_service.host() + QStringLiteral("/api/0.5/feedback?");

    LogCapture capture;
    const QVariant result = WXWeather::makePostRequestToURL(address, data);

    QCOMPARE(result, QVariant(kOkResult));
    QCOMPARE(capture.lines(), (QStringList{QStringLiteral("POST ") + address, QString::fromLatin1(kOkBody)}));
    const QList<LoopbackServer::Request> requests = m_service.requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].requestLine, QByteArray("POST /api/0.5/feedback? HTTP/1.1"));
    // Ours are the last two; Host and Accept are the HTTP client's own.
    const QList<QByteArray> expectedHeaders{"Host: " + m_service.host().toLatin1(), "Accept: */*",
                                            "Content-Length: " + QByteArray::number(expectedBody.size()),
                                            "Content-Type: application/x-www-form-urlencoded"};
    QCOMPARE(requests[0].headers, expectedHeaders);
    QCOMPARE(requests[0].body, expectedBody);
}

void TestWXWeather::exchange_badAnswers_data()
{
    QTest::addColumn<QString>("host"); // empty: the loopback service
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QString>("transportError"); // part of the description; empty when a body arrived
    QTest::addColumn<QStringList>("expectedLines");
    QTest::addColumn<QVariant>("expectedResult");

    const auto ok = [](const QByteArray &body, const QByteArray &type = "application/json") {
        return LoopbackServer::answer(200, body, type);
    };
    const QByteArray html = "<!DOCTYPE html>\n<html><body><h1>Sign in to this network</h1></body></html>";
    const QByteArray envelope = R"({"status":"error","error":3,"data":{}})";
    const QVariantMap envelopeResult{{QStringLiteral("status"), QStringLiteral("error")},
                                     {QStringLiteral("error"), 3},
                                     {QStringLiteral("data"), QVariantMap()}};
    const QByteArray mebibyte = bigObject(1024 * 1024);
    // The overlong label makes the resolver refuse the name without sending a query anywhere.
    const QString unresolvable = QString(64, u'a') + QStringLiteral(".invalid");

    QTest::newRow("refused connection") << closedHost() << QByteArray() << false
                                        << QStringLiteral("Couldn't connect") << QStringList() << QVariant();
    QTest::newRow("host not found") << unresolvable << QByteArray() << false
                                    << QStringLiteral("Could not resolve host") << QStringList()
                                    << QVariant();
    QTest::newRow("never answers") << QString() << QByteArray() << true << QStringLiteral("timed out")
                                   << QStringList() << QVariant();
    QTest::newRow("body cut off") << QString()
                                  << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"status\":")
                                  << false << QStringLiteral("transfer closed") << QStringList()
                                  << QVariant();
    QTest::newRow("body over 1 MiB") << QString()
                                     << "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" +
                                            bigObject(1024 * 1024 + 1)
                                     << false << QStringLiteral("too large") << QStringList() << QVariant();
    QTest::newRow("body of exactly 1 MiB")
        << QString() << ok(mebibyte) << false << QString() << QStringList{QString::fromLatin1(mebibyte)}
        << QVariant(QVariantMap{{QStringLiteral("a"), QString(mebibyte.size() - 8, u'x')}});
    QTest::newRow("HTML page") << QString() << ok(html, "text/html") << false << QString()
                               << QStringList{QString::fromLatin1(html), kEmptyJson} << QVariant();
    QTest::newRow("empty body") << QString() << ok("") << false << QString()
                                << QStringList{QString(), kEmptyJson} << QVariant();
    QTest::newRow("empty object") << QString() << ok("{}") << false << QString()
                                  << QStringList{QStringLiteral("{}"), kEmptyJson} << QVariant();
    QTest::newRow("empty array") << QString() << ok(" [ ] ") << false << QString()
                                 << QStringList{QStringLiteral(" [ ] "), kEmptyJson} << QVariant();
    QTest::newRow("bare scalar") << QString() << ok("42") << false << QString()
                                 << QStringList{QStringLiteral("42"), kEmptyJson} << QVariant();
    QTest::newRow("trailing garbage")
        << QString() << ok(R"({"a":1} x)") << false << QString()
        << QStringList{QStringLiteral(R"({"a":1} x)"), kEmptyJson} << QVariant();
    QTest::newRow("invalid UTF-8") << QString() << ok("{\"a\":\"\xff\"}") << false << QString()
                                   << QStringList{QStringLiteral("{\"a\":\"\uFFFD\"}"), kEmptyJson}
                                   << QVariant();
    QTest::newRow("404 with JSON") << QString() << LoopbackServer::answer(404, envelope) << false << QString()
                                   << QStringList{QString::fromLatin1(envelope)} << QVariant(envelopeResult);
    QTest::newRow("500 with JSON array")
        << QString() << LoopbackServer::answer(500, "[1,2]") << false << QString()
        << QStringList{QStringLiteral("[1,2]")} << QVariant(QVariantList{1, 2});
    QTest::newRow("redirect not followed")
        << QString()
        << QByteArray(
               "HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 14\r\nConnection: close\r\n\r\n"
               "{\"moved\":true}")
        << false << QString() << QStringList{QStringLiteral("{\"moved\":true}")}
        << QVariant(QVariantMap{{QStringLiteral("moved"), true}});
    QTest::newRow("chunked body")
        << QString()
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                      "5\r\n{\"ok\"\r\n6;x=y\r\n:true}\r\n0\r\n\r\n")
        << false << QString() << QStringList{QString::fromLatin1(kOkBody)} << QVariant(kOkResult);
    QTest::newRow("chunked body over 1 MiB")
        << QString()
        << "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n100001\r\n" +
               bigObject(1024 * 1024 + 1) + "\r\n0\r\n\r\n"
        << false << QStringLiteral("too large") << QStringList() << QVariant();
    QTest::newRow("interim answer first")
        << QString() << "HTTP/1.1 100 Continue\r\n\r\n" + ok(kOkBody) << false << QString()
        << QStringList{QString::fromLatin1(kOkBody)} << QVariant(kOkResult);
    QTest::newRow("head over 100 KiB")
        << QString() << "HTTP/1.1 200 OK\r\nX-Padding: " + QByteArray(200 * 1024, 'x') + "\r\n\r\n{}" << false
        << QStringLiteral("headers too large") << QStringList() << QVariant();
}

void TestWXWeather::exchange_badAnswers()
{
    QFETCH(QString, host);
    QFETCH(QByteArray, reply);
    QFETCH(bool, silent);
    QFETCH(QString, transportError);
    QFETCH(QStringList, expectedLines);
    QFETCH(QVariant, expectedResult);
    const bool ourServer = host.isEmpty();
    if (ourServer)
        host = m_service.host();
    if (silent) {
        m_service.setSilent();
        WXWeather::setTimeoutForTesting(300);
    } else {
        m_service.setReply(reply);
    }
    const QString address = QStringLiteral("http://") + host + QStringLiteral("/api/0.5/gate?");
    const QVariantMap data{{QStringLiteral("v3"), QStringLiteral("auto")}};

    for (const bool post : {false, true}) {
        m_service.clear();
        LogCapture capture;
        const QVariant result = post ? WXWeather::makePostRequestToURL(address, data)
                                     : WXWeather::makeRequestToURL(address, data);

        QStringList lines = capture.lines();
        if (post) // the request's description comes first
            QCOMPARE(lines.takeFirst(), QStringLiteral("POST ") + address);
        if (transportError.isEmpty()) {
            QCOMPARE(lines, expectedLines);
        } else {
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines[0].startsWith(kRequestError) &&
                         lines[0].contains(transportError, Qt::CaseInsensitive),
                     qPrintable(lines[0]));
        }
        QCOMPARE(result, expectedResult);
        QCOMPARE(m_service.requests().size(), ourServer ? 1 : 0);
    }
}

void TestWXWeather::exchange_keepsOneConnectionAlive_data()
{
    QTest::addColumn<QList<QByteArray>>("keepAliveReplies"); // empty: answer once and close
    QTest::addColumn<QList<int>>("expectedConnections");     // of the recorded requests
    QTest::addColumn<QStringList>("expectedLines");          // of two probes

    const QByteArray answer = "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n" + kOkBody;
    const QString body = QString::fromLatin1(kOkBody);
    QTest::newRow("kept open: one connection")
        << QList<QByteArray>{answer, answer} << QList<int>{1, 1} << QStringList{body, body};
    QTest::newRow("closed after the answer: a new one")
        << QList<QByteArray>() << QList<int>{1, 2} << QStringList{body, body};
    QTest::newRow("closed as the request came: sent again on a new one")
        << QList<QByteArray>{answer} << QList<int>{1, 1, 2} << QStringList{body, body};
    QTest::newRow("new connection closed unanswered: no second try")
        << QList<QByteArray>{QByteArray()} << QList<int>{1, 2}
        << QStringList{kRequestError + QStringLiteral("Empty reply from server"),
                       kRequestError + QStringLiteral("Empty reply from server")};
}

void TestWXWeather::exchange_keepsOneConnectionAlive()
{
    QFETCH(QList<QByteArray>, keepAliveReplies);
    QFETCH(QList<int>, expectedConnections);
    QFETCH(QStringList, expectedLines);
    LoopbackServer server; // of its own, so that no connection of another test is reused
    if (keepAliveReplies.isEmpty())
        server.setReply("HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n" + kOkBody);
    else
        server.setKeepAliveReplies(keepAliveReplies);
    WXWeather::setHostsForTesting(m_service.host(), server.host());

    LogCapture capture;
    WXWeather::isConnected();
    WXWeather::isConnected();

    QCOMPARE(capture.lines(), expectedLines);
    QList<int> connections;
    for (const LoopbackServer::Request &request : server.requests()) {
        QCOMPARE(request.requestLine, QByteArray("GET /check/ HTTP/1.1"));
        connections.append(request.connection);
    }
    QCOMPARE(connections, expectedConnections);
}

void TestWXWeather::exchange_sendsAPostOnlyOnce()
{
    // The server answers the GET, keeps the connection and closes it when the next request comes,
    // unanswered: a feedback message sent there and again on a new connection would be stored twice.
    LoopbackServer server;
    const QByteArray stored = "HTTP/1.1 200 OK\r\nContent-Length: 15\r\n\r\n" + kStoredBody;
    server.setKeepAliveReplies({stored});
    WXWeather::setHostsForTesting(server.host(), server.host());

    QVERIFY(WXWeather::isConnected());
    QVERIFY(WXWeather::sendType(1, QStringLiteral("Ann"), QStringLiteral("ann@example.org"),
                                QStringLiteral("Hello")));

    const QList<LoopbackServer::Request> requests = server.requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[0].requestLine, QByteArray("GET /check/ HTTP/1.1"));
    QVERIFY(requests[1].requestLine.startsWith("POST /api/0.5/feedback?"));
    // Never on the kept connection, which the server may be closing.
    QCOMPARE(requests[1].connection, 2);
}

void TestWXWeather::exchange_runsNoEventsWhileWaiting()
{
    // The widget's tick and clock are timers and deferred calls on the calling thread: while an
    // exchange waits, none of them may run, or one tick could start inside another.
    m_service.setSilent();
    WXWeather::setTimeoutForTesting(300);
    const QString address = QStringLiteral("http://") + m_service.host() + QStringLiteral("/check/");

    for (const bool post : {false, true}) {
        int timerRuns = 0;
        int deferredRuns = 0;
        QTimer timer;
        timer.setInterval(1);
        connect(&timer, &QTimer::timeout, this, [&] { ++timerRuns; });
        timer.start();
        QTimer::singleShot(0, this, [&] { ++deferredRuns; });
        QMetaObject::invokeMethod(
            this, [&] { ++deferredRuns; }, Qt::QueuedConnection);

        QElapsedTimer waited;
        waited.start();
        const QVariant result =
            post ? WXWeather::makePostRequestToURL(address, {}) : WXWeather::makeRequestToURL(address, {});

        QVERIFY(result.isNull());
        QVERIFY2(waited.elapsed() >= 250, "the timer was due many times over while the exchange waited");
        QCOMPARE(timerRuns, 0);
        QCOMPARE(deferredRuns, 0);
        // They were armed all along, and run as soon as the caller's event loop does.
        QTRY_VERIFY(timerRuns > 0 && deferredRuns == 2);
    }
}

void TestWXWeather::eventLoopRequest_keepsTheExchangeLimits_data()
{
    QTest::addColumn<QByteArray>("reply"); // empty: a silent server
    QTest::addColumn<bool>("decoded");
    QTest::addColumn<QString>("lastLine");

    const QByteArray places = R"({"status":"ok","data":{"places":[]}})";
    QTest::newRow("answer") << LoopbackServer::answer(200, places) << true << QString::fromLatin1(places);
    QTest::newRow("error status, its body read")
        << LoopbackServer::answer(503, R"({"status":"error","error":3})") << true
        << QStringLiteral(R"({"status":"error","error":3})");
    QTest::newRow("silent: the time-out")
        << QByteArray() << false
        << kRequestError + QStringLiteral("Operation timed out after 300 milliseconds");
    QTest::newRow("body over the cap")
        << LoopbackServer::answer(200, bigObject(1024 * 1024 + 1)) << false
        << kRequestError + QStringLiteral("Answer too large: more than 1048576 bytes");
    QTest::newRow("redirect not followed")
        << QByteArray("HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/\r\nContent-Length: 2\r\n"
                      "Connection: close\r\n\r\n{}")
        << false << kEmptyJson;
}

void TestWXWeather::eventLoopRequest_keepsTheExchangeLimits()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, decoded);
    QFETCH(QString, lastLine);
    if (reply.isEmpty())
        m_service.setSilent();
    else
        m_service.setReply(reply);
    WXWeather::setTimeoutForTesting(300);

    LogCapture capture;
    ServiceRequest request;
    QSignalSpy finished(&request, &ServiceRequest::finished);
    request.searchPlaces(QStringLiteral("par"));
    QVERIFY(request.isRunning());
    QCOMPARE(finished.size(), 0); // never inside the call
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished[0][0].typeId() == QMetaType::QVariantMap, decoded);
    QVERIFY(!request.isRunning());
    QVERIFY2(capture.lines().value(capture.lines().size() - 1).startsWith(lastLine),
             qPrintable(capture.lines().join(u'\n')));
    // Asked once, on the address the blocking exchange would use.
    QCOMPARE(m_service.requests().size(), 1);
    QVERIFY(m_service.requests()[0].requestLine.startsWith("GET /api/0.5/places?&q=par&v4="));
}

void TestWXWeather::gate_sendsSixPairs_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("versionFingerprint");

    QTest::newRow("version 0.1.0") << QStringLiteral("0.1.0")
                                   << QStringLiteral("f42968679ee19fd3acb49f619d20c7ec");
    QTest::newRow("no version") << QString() << QStringLiteral("0144712dd81be0c3d9724f5e56ce6685");
}

void TestWXWeather::gate_sendsSixPairs()
{
    QFETCH(QString, version);
    QFETCH(QString, versionFingerprint);
    QCoreApplication::setApplicationVersion(version);
    const QByteArray envelope = R"({"status":"ok","data":{"temp":70.3,"celsius":21.3,"condition":"rain"}})";
    m_service.setReply(LoopbackServer::answer(200, envelope));

    const QVariant first = WXWeather::getWeatherByLatitude(10.5, -20.25);
    const QVariant second = WXWeather::getWeatherByLatitude(10.5, -20.25);

    const QVariantMap data{{QStringLiteral("temp"), 70.3},
                           {QStringLiteral("celsius"), 21.3},
                           {QStringLiteral("condition"), QStringLiteral("rain")}};
    const QVariantMap expected{{QStringLiteral("status"), QStringLiteral("ok")},
                               {QStringLiteral("data"), data}};
    QCOMPARE(first, QVariant(expected));
    QCOMPARE(second, first);

    const QList<LoopbackServer::Request> requests = m_service.requests();
    QCOMPARE(requests.size(), 2);
    QVERIFY(m_probe.requests().isEmpty());
    const QByteArray path = "/api/0.5/gate?";
    QVERIFY2(target(requests[0]).startsWith(path + '&'), requests[0].requestLine.constData());
    // Nothing is cached, and nothing changes between two calls on the same machine.
    QCOMPARE(target(requests[1]), target(requests[0]));

    const QString machine = WXWeather::encrypt(WXWeather::serialNumber());
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(machine).hasMatch());
    QStringList expectedPairs{
        QStringLiteral("v1=10.5"),       QStringLiteral("v2=-20.25"),
        QStringLiteral("v3=auto"),       QStringLiteral("v4=") + QLocale::system().uiLanguages().value(0),
        QStringLiteral("v5=") + machine, QStringLiteral("v6=") + versionFingerprint};
    expectedPairs.sort();
    QCOMPARE(sortedPairs(QString::fromUtf8(target(requests[0]).mid(path.size()))), expectedPairs);
}

void TestWXWeather::feedback_postsFourPairs_data()
{
    QTest::addColumn<qint64>("type");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("expectedSent");

    QTest::newRow("type 2, texts as entered")
        << qint64(2) << QStringLiteral("Ann & Bob") << QStringLiteral("ann+bob@example.org")
        << QString::fromUtf8("Line one\nx=1 & y=2 \xc3\x84\xc3\x96\xe2\x82\xac") << kStoredBody << true;
    QTest::newRow("negative type, empty texts, empty answer")
        << qint64(-1) << QString() << QString() << QString() << QByteArray("{}") << false;
    QTest::newRow("largest type") << std::numeric_limits<qint64>::max() << QStringLiteral("n")
                                  << QStringLiteral("e") << QStringLiteral("m") << kStoredBody << true;
    // Answers, but not "stored": the caller must keep the message.
    QTest::newRow("refused") << qint64(1) << QStringLiteral("n") << QStringLiteral("e") << QStringLiteral("m")
                             << QByteArray(R"({"status":"error","error":2})") << false;
    QTest::newRow("any other object")
        << qint64(1) << QStringLiteral("n") << QStringLiteral("e") << QStringLiteral("m") << kOkBody << false;
}

void TestWXWeather::feedback_postsFourPairs()
{
    QFETCH(qint64, type);
    QFETCH(QString, name);
    QFETCH(QString, email);
    QFETCH(QString, message);
    QFETCH(QByteArray, answer);
    QFETCH(bool, expectedSent);
    m_service.setReply(LoopbackServer::answer(200, answer));

    QCOMPARE(WXWeather::sendType(type, name, email, message), expectedSent);

    const QList<LoopbackServer::Request> requests = m_service.requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].requestLine, QByteArray("POST /api/0.5/feedback? HTTP/1.1"));
    QVERIFY(requests[0].headers.contains("Content-Length: " + QByteArray::number(requests[0].body.size())));
    QStringList expectedPairs{QStringLiteral("v1=") + QString::number(type), QStringLiteral("v2=") + name,
                              QStringLiteral("v3=") + email, QStringLiteral("v4=") + message};
    expectedPairs.sort();
    QCOMPARE(sortedPairs(QString::fromUtf8(requests[0].body)), expectedPairs);
}

void TestWXWeather::probe_asksItsOwnHostWithoutQuery_data()
{
    QTest::addColumn<bool>("probeDown");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("expectedConnected");

    QTest::newRow("non-empty object") << false << QByteArray(R"({"online":true})") << true;
    QTest::newRow("non-empty array") << false << QByteArray("[0]") << true;
    QTest::newRow("empty object") << false << QByteArray("{}") << false;
    QTest::newRow("HTML page") << false << QByteArray("<html></html>") << false;
    QTest::newRow("no answer") << true << QByteArray() << false;
}

void TestWXWeather::probe_asksItsOwnHostWithoutQuery()
{
    QFETCH(bool, probeDown);
    QFETCH(QByteArray, answer);
    QFETCH(bool, expectedConnected);
    m_probe.setReply(LoopbackServer::answer(200, answer));
    m_service.setReply(LoopbackServer::answer(200, kOkBody));
    if (probeDown)
        WXWeather::setHostsForTesting(m_service.host(), closedHost());

    QCOMPARE(WXWeather::isConnected(), expectedConnected);

    QVERIFY(m_service.requests().isEmpty());
    const QList<LoopbackServer::Request> requests = m_probe.requests();
    QCOMPARE(requests.size(), probeDown ? 0 : 1);
    if (!probeDown)
        QCOMPARE(requests[0].requestLine, QByteArray("GET /check/ HTTP/1.1"));
}

void TestWXWeather::fingerprints_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("sha1");
    QTest::addColumn<QString>("md5");
    QTest::addColumn<QString>("fingerprint");

    QTest::newRow("abc") << QStringLiteral("abc")
                         << QStringLiteral("a9993e364706816aba3e25717850c26c9cd0d89d")
                         << QStringLiteral("900150983cd24fb0d6963f7d28e17f72")
                         << QStringLiteral("74076346dee6d87ffe0f2f069dda57bb");
    QTest::newRow("empty") << QStringLiteral("") << QStringLiteral("da39a3ee5e6b4b0d3255bfef95601890afd80709")
                           << QStringLiteral("d41d8cd98f00b204e9800998ecf8427e")
                           << QStringLiteral("0144712dd81be0c3d9724f5e56ce6685");
    QTest::newRow("null") << QString() << QStringLiteral("da39a3ee5e6b4b0d3255bfef95601890afd80709")
                          << QStringLiteral("d41d8cd98f00b204e9800998ecf8427e")
                          << QStringLiteral("0144712dd81be0c3d9724f5e56ce6685");
    // Digests of the four bytes 61 c3 a9 62, from sha1sum and md5sum.
    QTest::newRow("two-byte middle letter") << QString::fromUtf8("a\xc3\xa9"
                                                                 "b")
                                            << QStringLiteral("4b6970254867f699ce70221cd476b2dcab220f3e")
                                            << QStringLiteral("669240e0a2c2ae39fda9944f1492162d")
                                            << QStringLiteral("28c82a8a317aef3251e7e1a3779fcb8e");
}

void TestWXWeather::fingerprints()
{
    QFETCH(QString, text);
    QFETCH(QString, sha1);
    QFETCH(QString, md5);
    QFETCH(QString, fingerprint);

    QCOMPARE(WXWeather::sha1(text), sha1);
    QCOMPARE(WXWeather::md5(text), md5);
    QCOMPARE(WXWeather::encrypt(text), fingerprint);
}

void TestWXWeather::serialNumber_isMachineIdOrNull()
{
    const QString serial = WXWeather::serialNumber();
    QCOMPARE(WXWeather::serialNumber(), serial);
    if (QSysInfo::machineUniqueId().isEmpty())
        QVERIFY(serial.isNull());
    else
        QCOMPARE(serial, QString::fromLatin1(QSysInfo::machineUniqueId()));
}

QTEST_GUILESS_MAIN(TestWXWeather)
#include "tst_service.moc"
