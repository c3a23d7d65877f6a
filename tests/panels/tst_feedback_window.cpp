#include "Localized.h"
#include "LoopbackServer.h"
#include "WXFeedbackWindow.h"
#include "WXWeather.h"

#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace {

// The outlets of a form, found by their names.
struct Form
{
    explicit Form(WXFeedbackWindow &window)
        : selectedType(window.findChild<QButtonGroup *>(QStringLiteral("selectedType")))
        , nameField(window.findChild<QLineEdit *>(QStringLiteral("nameField")))
        , emailField(window.findChild<QLineEdit *>(QStringLiteral("emailField")))
        , messageField(window.findChild<QPlainTextEdit *>(QStringLiteral("messageField")))
        , sendButton(window.findChild<QPushButton *>(QStringLiteral("sendButton")))
        , notice(window.findChild<QLabel *>(QStringLiteral("notice")))
    {}

    // Types the texts as a user would, field by field.
    void type(const QString &name, const QString &email, const QString &message) const
    {
        QTest::keyClicks(nameField, name);
        QTest::keyClicks(emailField, email);
        QTest::keyClicks(messageField, message);
    }

    QButtonGroup *selectedType;
    QLineEdit *nameField;
    QLineEdit *emailField;
    QPlainTextEdit *messageField;
    QPushButton *sendButton;
    QLabel *notice;
};

// The pairs of a form body "&v1=…&v2=…", by key. Values hold no "&" in these tests.
QMap<QByteArray, QByteArray> pairs(const QByteArray &body)
{
    QMap<QByteArray, QByteArray> result;
    for (const QByteArray &piece : body.split('&')) {
        const qsizetype equals = piece.indexOf('=');
        if (equals > 0)
            result.insert(piece.left(equals), piece.mid(equals + 1));
    }
    return result;
}

const QByteArray kAnswered = LoopbackServer::answer(200, R"({"status":"ok"})");

} // namespace

class TestFeedbackWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void validateEmail_data();
    void validateEmail();
    void edits_enableSendExactlyWhenValid_data();
    void edits_enableSendExactlyWhenValid();
    void send_postsAndEmptiesFields_data();
    void send_postsAndEmptiesFields();
    void send_failureKeepsTextsAndSaysSo_data();
    void send_failureKeepsTextsAndSaysSo();
    void message_limitStopsTheSendAndShowsTheCount();
    void longestForm_fitsWhatTheServiceTakes();
    void enter_sendsOnlyACompleteForm_data();
    void enter_sendsOnlyACompleteForm();

private:
    std::unique_ptr<LoopbackServer> server;
};

void TestFeedbackWindow::init()
{
    server = std::make_unique<LoopbackServer>();
    server->setReply(kAnswered);
    WXWeather::setHostsForTesting(server->host(), server->host());
    WXWeather::setTimeoutForTesting(5000);
}

void TestFeedbackWindow::cleanup()
{
    WXWeather::setHostsForTesting(QString(), QString());
    WXWeather::setTimeoutForTesting(0);
    server.reset();
}

void TestFeedbackWindow::validateEmail_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<bool>("valid");

    QTest::newRow("two one-letter labels") << "a@b.c" << true;
    QTest::newRow("bare host") << "a@b" << false;
    QTest::newRow("upper case") << "Jane.DOE@Example.COM" << true;
    QTest::newRow("blank before") << " jane@example.com" << false;
    QTest::newRow("blank after") << "jane@example.com " << false;
    QTest::newRow("bracketed IPv4") << "jane@[192.168.0.255]" << true;
    QTest::newRow("256 in IPv4") << "jane@[192.168.0.256]" << false;
    QTest::newRow("plus sign") << "jane+news@example.com" << true;
    QTest::newRow("double dot in user") << "jane..doe@example.com" << false;
    QTest::newRow("leading dot in user") << ".jane@example.com" << false;
    QTest::newRow("hyphen inside label") << "jane@ex-ample.com" << true;
    QTest::newRow("hyphen at label start") << "jane@-example.com" << false;
    QTest::newRow("hyphen at label end") << "jane@example-.com" << false;
    QTest::newRow("quoted user") << R"("jane.doe"@example.com)" << true;
    QTest::newRow("quoted user, blank") << R"("jane doe"@example.com)" << false;
    QTest::newRow("quoted user, escaped blank") << R"("jane\ doe"@example.com)" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("two at-signs") << "jane@doe@example.com" << false;
    QTest::newRow("letter outside ASCII") << QStringLiteral("jäne@example.com") << false;

    // 50,000 characters. The pattern has no length limit, so a long plain address is well formed.
    QTest::newRow("long plain address")
        << QString(QString(49988, u'a') + QStringLiteral("@example.com")) << true;
    // Each "\a" in the last bracketed part can be read two ways, so an unclosed bracket costs the
    // engine 2^25,000 tries: only the time limit ends it.
    QString hostile = QStringLiteral("jane@[1.2.3.tag:");
    while (hostile.size() < 50000)
        hostile += QStringLiteral("\\a");
    QTest::newRow("hostile 50,000 characters") << hostile.left(50000) << false;
    QTest::newRow("hostile, short") << QString(QStringLiteral("jane@[1.2.3.tag:") +
                                               QString(QStringLiteral("\\a")).repeated(40))
                                    << false;
}

void TestFeedbackWindow::validateEmail()
{
    QFETCH(QString, email);
    QFETCH(bool, valid);
    QCOMPARE(WXFeedbackWindow::validateEmail(email), valid);
}

void TestFeedbackWindow::edits_enableSendExactlyWhenValid_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("blankHint");

    const auto row = [](const char *tag, const char *name, const char *email, const char *message,
                        bool enabled, bool blankHint = false) {
        QTest::newRow(tag) << QString::fromUtf8(name) << QString::fromUtf8(email)
                           << QString::fromUtf8(message) << enabled << blankHint;
    };
    row("complete", "Jane", "jane@example.com", "Hello", true);
    row("blanks around text", " Jane ", "jane@example.com", " Hello ", true);
    // The service refuses a message of blanks: the form treats one as empty, and says so.
    row("message of blanks", "Jane", "jane@example.com", "  \t \u00a0", false, true);
    row("name of blanks", "  ", "jane@example.com", "Hello", false, true);
    row("nothing but blanks", " ", "jane@example.com", " ", false, true);
    row("no name", "", "jane@example.com", "Hello", false);
    row("no e-mail", "Jane", "", "Hello", false);
    row("malformed e-mail", "Jane", "jane@example", "Hello", false);
    row("no message", "Jane", "jane@example.com", "", false);
    row("no name, malformed e-mail", "", "jane", "Hello", false);
    row("nothing", "", "", "", false);
}

void TestFeedbackWindow::edits_enableSendExactlyWhenValid()
{
    QFETCH(QString, name);
    QFETCH(QString, email);
    QFETCH(QString, message);
    QFETCH(bool, enabled);
    QFETCH(bool, blankHint);

    WXFeedbackWindow window;
    Form form(window);
    window.show();
    QVERIFY(!form.sendButton->isEnabled());
    const auto *hint = window.findChild<QLabel *>(QStringLiteral("blankHint"));
    QVERIFY(hint && hint->isHidden());
    form.type(name, email, message);
    QCOMPARE(window.validate(), enabled);
    QCOMPARE(form.sendButton->isEnabled(), enabled);
    QCOMPARE(hint->isVisible(), blankHint);
    QCOMPARE(hint->text(), nimbara::localized("FEEDBACK_BLANK"));

    // Taking the last character away again follows suit.
    QTest::keyClick(form.messageField, Qt::Key_Backspace);
    QCOMPARE(form.sendButton->isEnabled(), window.validate());
}

void TestFeedbackWindow::send_postsAndEmptiesFields_data()
{
    QTest::addColumn<int>("segment");

    QTest::newRow("no segment") << -1;
    QTest::newRow("question") << 2;
}

void TestFeedbackWindow::send_postsAndEmptiesFields()
{
    QFETCH(int, segment);

    WXFeedbackWindow window;
    Form form(window);
    window.show();
    if (segment >= 0)
        QTest::mouseClick(form.selectedType->button(segment), Qt::LeftButton);
    form.type(QStringLiteral("Jane"), QStringLiteral("jane+news@example.com"), QStringLiteral("Nice widget"));
    QVERIFY(form.sendButton->isEnabled());

    QTest::mouseClick(form.sendButton, Qt::LeftButton);

    const QList<LoopbackServer::Request> requests = server->requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].requestLine, QByteArray("POST /api/0.5/feedback? HTTP/1.1"));
    const auto sent = pairs(requests[0].body);
    QCOMPARE(sent.value("v1"), QByteArray::number(segment));
    QCOMPARE(sent.value("v2"), QByteArray("Jane"));
    QCOMPARE(sent.value("v3"), QByteArray("jane+news@example.com"));
    QCOMPARE(sent.value("v4"), QByteArray("Nice widget"));

    QVERIFY(!window.isVisible());
    QCOMPARE(form.nameField->text(), QString());
    QCOMPARE(form.emailField->text(), QString());
    QCOMPARE(form.messageField->toPlainText(), QString());
    QCOMPARE(form.selectedType->checkedId(), segment);
    // The emptied form cannot be sent again.
    QVERIFY(!form.sendButton->isEnabled());
    QVERIFY(form.notice->isHidden());
}

void TestFeedbackWindow::enter_sendsOnlyACompleteForm_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus"); // the field Enter is pressed in
    QTest::addColumn<bool>("sent");

    QTest::newRow("complete, address field")
        << QStringLiteral("Nice widget") << QStringLiteral("emailField") << true;
    QTest::newRow("complete, name field")
        << QStringLiteral("Nice widget") << QStringLiteral("nameField") << true;
    // The send button is off: Enter does nothing.
    QTest::newRow("no message") << QString() << QStringLiteral("emailField") << false;
    // In the message, Enter is a new line.
    QTest::newRow("complete, message field")
        << QStringLiteral("Nice widget") << QStringLiteral("messageField") << false;
}

void TestFeedbackWindow::enter_sendsOnlyACompleteForm()
{
    QFETCH(QString, message);
    QFETCH(QString, focus);
    QFETCH(bool, sent);

    WXFeedbackWindow window;
    Form form(window);
    window.show();
    form.type(QStringLiteral("Jane"), QStringLiteral("jane@example.com"), message);
    QWidget *field = window.findChild<QWidget *>(focus);
    field->setFocus();

    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(server->requests().size(), sent ? 1 : 0);
    QCOMPARE(window.isVisible(), !sent);
    if (field == form.messageField)
        QCOMPARE(form.messageField->toPlainText(), message + QLatin1Char('\n'));
}

void TestFeedbackWindow::send_failureKeepsTextsAndSaysSo_data()
{
    QTest::addColumn<QByteArray>("reply"); // empty: nothing listens

    QTest::newRow("service down") << QByteArray();
    QTest::newRow("empty JSON answer") << LoopbackServer::answer(200, "{}");
    QTest::newRow("error page") << LoopbackServer::answer(502, "<html>Bad Gateway</html>", "text/html");
    // The service's own refusals are answers too, but nothing was stored.
    QTest::newRow("413 too large") << LoopbackServer::answer(413, R"({"status":"error","error":2})");
    QTest::newRow("415 wrong type") << LoopbackServer::answer(415, R"({"status":"error","error":2})");
    QTest::newRow("429 too many") << LoopbackServer::answer(429, R"({"status":"error","error":3})");
    QTest::newRow("500 not stored") << LoopbackServer::answer(500, R"({"status":"error","error":3})");
    QTest::newRow("200 with error 3") << LoopbackServer::answer(200, R"({"status":"error","error":3})");
    QTest::newRow("200 without status") << LoopbackServer::answer(200, R"({"stored":true})");
}

void TestFeedbackWindow::send_failureKeepsTextsAndSaysSo()
{
    QFETCH(QByteArray, reply);

    const QString up = server->host();
    if (reply.isEmpty()) {
        // A port that was just let go of: the connection is refused.
        auto gone = std::make_unique<LoopbackServer>();
        const QString down = gone->host();
        gone.reset();
        WXWeather::setHostsForTesting(down, down);
    } else {
        server->setReply(reply);
    }

    WXFeedbackWindow window;
    Form form(window);
    window.show();
    QTest::mouseClick(form.selectedType->button(0), Qt::LeftButton);
    const QString message = QStringLiteral("First line\nSecond line");
    form.type(QStringLiteral("Jane"), QStringLiteral("jane@example.com"), QString());
    form.messageField->setPlainText(message);

    QTest::mouseClick(form.sendButton, Qt::LeftButton);

    QVERIFY(window.isVisible());
    QVERIFY(form.notice->isVisibleTo(&window));
    QCOMPARE(form.notice->text(), QStringLiteral("FEEDBACK_NOT_SENT"));
    QCOMPARE(form.nameField->text(), QStringLiteral("Jane"));
    QCOMPARE(form.emailField->text(), QStringLiteral("jane@example.com"));
    QCOMPARE(form.messageField->toPlainText(), message);
    QCOMPARE(form.selectedType->checkedId(), 0);
    QVERIFY(form.sendButton->isEnabled());

    // Once the service answers, the same form goes out and is emptied.
    server->clear();
    server->setReply(kAnswered);
    WXWeather::setHostsForTesting(up, up);
    QTest::mouseClick(form.sendButton, Qt::LeftButton);
    QCOMPARE(server->requests().size(), 1);
    QCOMPARE(pairs(server->requests()[0].body).value("v4"), message.toUtf8());
    QVERIFY(!window.isVisible());
    QVERIFY(form.notice->isHidden());
    QCOMPARE(form.nameField->text(), QString());
    QCOMPARE(form.messageField->toPlainText(), QString());
}

void TestFeedbackWindow::message_limitStopsTheSendAndShowsTheCount()
{
    WXFeedbackWindow window;
    Form form(window);
    auto *count = window.findChild<QLabel *>(QStringLiteral("messageCount"));
    QVERIFY(count);
    window.show();
    form.type(QStringLiteral("Jane"), QStringLiteral("jane@example.com"), QStringLiteral("Hi"));
    QVERIFY(form.sendButton->isEnabled());
    QVERIFY(!count->isVisibleTo(&window));

    // Near the limit the count shows; at the limit the form still goes out.
    form.messageField->setPlainText(QString(WXFeedbackWindow::kMessageCountFrom, u'a'));
    QVERIFY(count->isVisibleTo(&window));
    QVERIFY(count->text().startsWith(QLocale().toString(WXFeedbackWindow::kMessageCountFrom)));
    form.messageField->setPlainText(QString(WXFeedbackWindow::kMessageMaxLength, u'a'));
    QVERIFY(form.sendButton->isEnabled());

    // One past it (a paste), and the text stays for the user to shorten while the button is off.
    const QString pasted(WXFeedbackWindow::kMessageMaxLength + 1, u'a');
    form.messageField->setPlainText(pasted);
    QVERIFY(!form.sendButton->isEnabled());
    QCOMPARE(form.messageField->toPlainText(), pasted);
    QCOMPARE(count->text(), QLocale().toString(WXFeedbackWindow::kMessageMaxLength + 1) +
                                QStringLiteral(" / ") +
                                QLocale().toString(WXFeedbackWindow::kMessageMaxLength));
    form.messageField->moveCursor(QTextCursor::End);
    QTest::keyClick(form.messageField, Qt::Key_Backspace);
    QVERIFY(form.sendButton->isEnabled());

    // The name and the e-mail fields take no more than their limits.
    QCOMPARE(form.nameField->maxLength(), WXFeedbackWindow::kNameMaxLength);
    QCOMPARE(form.emailField->maxLength(), WXFeedbackWindow::kEmailMaxLength);
}

void TestFeedbackWindow::longestForm_fitsWhatTheServiceTakes()
{
    // Every field full, of letters that take three bytes each in UTF-8.
    WXFeedbackWindow window;
    Form form(window);
    window.show();
    QTest::mouseClick(form.selectedType->button(3), Qt::LeftButton);
    form.nameField->setText(QString(WXFeedbackWindow::kNameMaxLength + 10, u'\u20ac'));
    QString email = QString(WXFeedbackWindow::kEmailMaxLength, u'a');
    email.replace(email.size() - 6, 6, QStringLiteral("@b.org"));
    form.emailField->setText(email);
    form.messageField->setPlainText(QString(WXFeedbackWindow::kMessageMaxLength, u'\u20ac'));
    QVERIFY(form.sendButton->isEnabled());

    QTest::mouseClick(form.sendButton, Qt::LeftButton);
    QCOMPARE(server->requests().size(), 1);
    const QByteArray body = server->requests()[0].body;
    QCOMPARE(pairs(body).value("v2").size(), 3 * WXFeedbackWindow::kNameMaxLength);
    QVERIFY2(body.size() <= NIMBARA_FEEDBACK_MAX_BYTES, QByteArray::number(body.size()).constData());
}

QTEST_MAIN(TestFeedbackWindow)
#include "tst_feedback_window.moc"
