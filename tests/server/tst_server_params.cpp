#include "core/RawParams.h"

#include <QTest>

using namespace nimbara::server;

using Values = std::vector<std::string>; // v1..v4, "-" when absent

Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(Values)

class TestServerParams : public QObject
{
    Q_OBJECT

private slots:
    void parsePairs_keepsValuesAsSent_data();
    void parsePairs_keepsValuesAsSent();
};

void TestServerParams::parsePairs_keepsValuesAsSent_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<Values>("expected");

    QTest::newRow("widget order") << std::string("&v1=2&v2=Ann&v3=ann@example.org&v4=Hello")
                                  << Values{"2", "Ann", "ann@example.org", "Hello"};
    QTest::newRow("any order") << std::string("&v4=Hello&v2=Ann&v1=2&v3=a@b")
                               << Values{"2", "Ann", "a@b", "Hello"};
    QTest::newRow("ampersand in a value") << std::string("&v1=0&v2=Tom & Jerry&v3=x&v4=fish&chips & more")
                                          << Values{"0", "Tom & Jerry", "x", "fish&chips & more"};
    QTest::newRow("unknown key belongs to the value")
        << std::string("&v1=1&v4=see &v9=here and &v=there&v2=n")
        << Values{"1", "n", "-", "see &v9=here and &v=there"};
    QTest::newRow("equals signs") << std::string("&v4=a=b==c&v2==x") << Values{"-", "=x", "-", "a=b==c"};
    QTest::newRow("plus and percent stay")
        << std::string("&v2=A+B&v4=100% %41 %zz %") << Values{"-", "A+B", "-", "100% %41 %zz %"};
    QTest::newRow("spaces and line breaks") << std::string("&v4=line one\r\nline two\n  indented&v2= lead")
                                            << Values{"-", " lead", "-", "line one\r\nline two\n  indented"};
    QTest::newRow("non-ascii bytes") << std::string("&v2=Zoë Ødegård&v4=Привет, 世界")
                                     << Values{"-", "Zoë Ødegård", "-", "Привет, 世界"};
    QTest::newRow("empty values") << std::string("&v1=&v2=&v3=&v4=") << Values{"", "", "", ""};
    QTest::newRow("value ending in ampersand") << std::string("&v4=a&&v2=b&") << Values{"-", "b&", "-", "a&"};
    QTest::newRow("first piece without ampersand") << std::string("v1=3&v2=x") << Values{"3", "x", "-", "-"};
    QTest::newRow("leading junk ignored") << std::string("junk&v1=3") << Values{"3", "-", "-", "-"};
    QTest::newRow("key without equals is text")
        << std::string("&v4=a&v2&v1=1") << Values{"1", "-", "-", "a&v2"};
    QTest::newRow("longer key is not a key")
        << std::string("&v4=a&v10=b") << Values{"-", "-", "-", "a&v10=b"};
    QTest::newRow("repeated key: first wins")
        << std::string("&v2=first&v2=second&v1=1") << Values{"1", "first", "-", "-"};
    QTest::newRow("empty text") << std::string() << Values{"-", "-", "-", "-"};
    QTest::newRow("gate query") << std::string(
                                       "&v3=auto&v1=10.5&v6=74076346dee6d87ffe0f2f069dda57bb&v2=-20.25")
                                << Values{"10.5", "-20.25", "auto", "-"};
}

void TestServerParams::parsePairs_keepsValuesAsSent()
{
    QFETCH(std::string, text);
    QFETCH(Values, expected);
    const auto params = parsePairs(text, {"v1", "v2", "v3", "v4", "v5", "v6"});
    const char *keys[] = {"v1", "v2", "v3", "v4"};
    for (int i = 0; i < 4; ++i) {
        auto it = params.find(keys[i]);
        std::string actual = it == params.end() ? "-" : it->second;
        QCOMPARE(QByteArray::fromStdString(actual), QByteArray::fromStdString(expected[size_t(i)]));
    }
}

QTEST_APPLESS_MAIN(TestServerParams)
#include "tst_server_params.moc"
