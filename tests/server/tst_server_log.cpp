// Log lines that no client can forge: every client byte escaped, the access line's shape.

#include "core/ServiceLog.h"
#include "http/AccessLog.h"

#include <QTest>

using namespace nimbara::server;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::string)

class TestServerLog : public QObject
{
    Q_OBJECT

private slots:
    void escape_data();
    void escape();
    void accessLine_escapesEveryClientField();
};

void TestServerLog::escape_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<std::string>("logged");
    QTest::newRow("plain") << std::string("/api/0.5/gate") << std::string("/api/0.5/gate");
    QTest::newRow("newline and carriage return")
        << std::string("/x\r\n6.6.6.6 GET / 200") << std::string("/x\\x0D\\x0A6.6.6.6 GET / 200");
    QTest::newRow("escape sequence") << std::string("\x1b[31mred") << std::string("\\x1B[31mred");
    QTest::newRow("nul, tab and delete")
        << std::string("a\0b\tc\x7f", 6) << std::string("a\\x00b\\x09c\\x7F");
    QTest::newRow("backslash doubled, so no text passes for an escape")
        << std::string("\\x0A") << std::string("\\\\x0A");
    QTest::newRow("valid utf-8 kept")
        << std::string("Zoë ёлка 雨 🌧") << std::string("Zoë ёлка 雨 🌧");
    QTest::newRow("lone continuation byte") << std::string("a\x80z") << std::string("a\\x80z");
    QTest::newRow("invalid lead byte") << std::string("\xff\xfe") << std::string("\\xFF\\xFE");
    QTest::newRow("truncated sequence") << std::string("\xe9\x9b") << std::string("\\xE9\\x9B");
    QTest::newRow("overlong slash") << std::string("\xc0\xaf") << std::string("\\xC0\\xAF");
    QTest::newRow("utf-16 surrogate") << std::string("\xed\xa0\x80") << std::string("\\xED\\xA0\\x80");
    QTest::newRow("c1 control (next line)") << std::string("a\xc2\x85z") << std::string("a\\xC2\\x85z");
}

void TestServerLog::escape()
{
    QFETCH(std::string, text);
    QFETCH(std::string, logged);
    QCOMPARE(QByteArray::fromStdString(escapeForLog(text)), QByteArray::fromStdString(logged));
}

void TestServerLog::accessLine_escapesEveryClientField()
{
    Request request;
    request.clientAddress = "192.0.2.1";
    request.method = "G\nET";
    request.path = "/check/%0a\n203.0.113.5 GET /api/0.5/gate 200 15 0.1ms machine=0123";
    Reply reply{404, "{}"};
    auto line = accessLogLine(request, reply, 1500us);
    QCOMPARE(QByteArray::fromStdString(line),
             QByteArray(
                 "192.0.2.1 G\\x0AET /check/%0a\\x0A203.0.113.5 GET /api/0.5/gate 200 15 0.1ms machine=0123 "
                 "404 2 1.5ms"));
    // What could not be read is a dash.
    QCOMPARE(QByteArray::fromStdString(accessLogLine(Request{}, Reply{400, "{}"}, 0us)),
             QByteArray("- - - 400 2 0.0ms"));
}

QTEST_GUILESS_MAIN(TestServerLog)
#include "tst_server_log.moc"
