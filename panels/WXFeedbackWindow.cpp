#include "WXFeedbackWindow.h"

#include "Localized.h"
#include "PanelAccessible.h"
#include "PanelKeys.h"
#include "WXWeather.h"
#include "ui_WXFeedbackWindow.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <QLocale>
#include <QPalette>

#include <algorithm>
#include <iterator>
#include <limits>

using nimbara::localized;

namespace {

// The address check, in ICU's syntax. Kept exactly as it is, odd last range included.
constexpr char16_t kEmailPattern[] =
    uR"pattern((?:[a-z0-9!#$%\&'*+/=?\^_`{|}~-]+(?:\.[a-z0-9!#$%\&'*+/=?\^_`{|}~-]+)*|"(?:[\x01-\x08\x0b\x0c\x0e-\x1f\x21\x23-\x5b\x5d-\x7f]|\\[\x01-\x09\x0b\x0c\x0e-\x7f])*")@(?:(?:[a-z0-9](?:[a-z0-9-]*[a-z0-9])?\.)+[a-z0-9](?:[a-z0-9-]*[a-z0-9])?|\[(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?|[a-z0-9-]*[a-z0-9]:(?:[\x01-\x08\x0b\x0c\x0e-\x1f\x21-\x5a\x53-\x7f]|\\[\x01-\x09\x0b\x0c\x0e-\x7f])+)\]))pattern";
static_assert(std::size(kEmailPattern) - 1 == 430);

// Steps of ICU's match engine, in units of about 10,000 steps (a few milliseconds): far beyond what
// any real address needs, small enough that a hostile text cannot freeze the form while it is typed.
constexpr int32_t kMatchTimeLimit = 100;

// The longest body the form can send: "&v1=" and a type of at most 20 characters, then the three
// texts at three bytes per UTF-16 unit, each after its "&vN=".
constexpr qint64 kLongestBody = 4 + 20 + 4 + 3 * qint64(WXFeedbackWindow::kNameMaxLength) + 4 +
                                3 * qint64(WXFeedbackWindow::kEmailMaxLength) + 4 +
                                3 * qint64(WXFeedbackWindow::kMessageMaxLength);
static_assert(kLongestBody <= NIMBARA_FEEDBACK_MAX_BYTES, "the form could send more than the service takes");

const icu::RegexPattern *emailPattern()
{
    static const std::unique_ptr<icu::RegexPattern> pattern = [] {
        UErrorCode status = U_ZERO_ERROR;
        UParseError parseError;
        std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
            icu::UnicodeString(kEmailPattern), UREGEX_CASE_INSENSITIVE, parseError, status));
        return U_SUCCESS(status) ? std::move(compiled) : nullptr;
    }();
    return pattern.get();
}

// Empty, or nothing but white space (the service's blanks and any other).
bool isBlank(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isSpace(); });
}

} // namespace

WXFeedbackWindow::WXFeedbackWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::WXFeedbackWindow>())
{
    nimbara::installPanelAccessibility();
    m_ui->setupUi(this);
    // Closing the form must never end the application.
    setAttribute(Qt::WA_QuitOnClose, false);

    // The index of the chosen segment is what the service receives; none chosen reads -1.
    const QList<QAbstractButton *> segments = {m_ui->bugButton, m_ui->ideaButton, m_ui->questionButton,
                                               m_ui->otherButton};
    for (int index = 0; index < segments.size(); ++index)
        m_ui->selectedType->setId(segments[index], index);

    setWindowTitle(localized("FEEDBACK_WINDOW_TITLE"));
    m_ui->bugButton->setText(localized("FEEDBACK_TYPE_BUG"));
    m_ui->ideaButton->setText(localized("FEEDBACK_TYPE_IDEA"));
    m_ui->questionButton->setText(localized("FEEDBACK_TYPE_QUESTION"));
    m_ui->otherButton->setText(localized("FEEDBACK_TYPE_OTHER"));
    m_ui->nameLabel->setText(localized("FEEDBACK_NAME"));
    m_ui->emailLabel->setText(localized("FEEDBACK_EMAIL"));
    m_ui->messageLabel->setText(localized("FEEDBACK_MESSAGE"));
    m_ui->sendButton->setText(localized("FEEDBACK_SEND"));
    m_ui->notice->setText(localized("FEEDBACK_NOT_SENT"));
    m_ui->notice->hide();
    m_ui->blankHint->setText(localized("FEEDBACK_BLANK"));
    m_ui->blankHint->hide();
    m_ui->nameField->setMaxLength(kNameMaxLength);
    m_ui->emailField->setMaxLength(kEmailMaxLength);
    showMessageCount();

    // Every change of a field re-validates, the emptying after a send included, so the button
    // never offers to send an incomplete form.
    connect(m_ui->nameField, &QLineEdit::textChanged, this,
            [this] { controlTextDidChange(m_ui->nameField); });
    connect(m_ui->emailField, &QLineEdit::textChanged, this,
            [this] { controlTextDidChange(m_ui->emailField); });
    connect(m_ui->messageField, &QPlainTextEdit::textChanged, this,
            [this] { controlTextDidChange(m_ui->messageField); });
    connect(m_ui->sendButton, &QPushButton::clicked, this, [this] { didPressSendButton(m_ui->sendButton); });
    // Enter in the name or address field sends a complete form; the message field keeps its new lines.
    new nimbara::PanelKeys(this, [this] { return m_ui->sendButton; });
}

WXFeedbackWindow::~WXFeedbackWindow() = default;

void WXFeedbackWindow::controlTextDidChange(QObject *)
{
    m_ui->sendButton->setEnabled(validate());
    // A field of blanks is filled in to the eye but empty to the service: say why Send stays off.
    const QString name = m_ui->nameField->text();
    const QString message = m_ui->messageField->toPlainText();
    m_ui->blankHint->setVisible((!name.isEmpty() && isBlank(name)) ||
                                (!message.isEmpty() && isBlank(message)));
    showMessageCount();
}

void WXFeedbackWindow::showMessageCount()
{
    // A pasted text may run past the limit: it stays in the field for the user to shorten, and the
    // count says by how much.
    const qsizetype length = m_ui->messageField->toPlainText().size();
    const QLocale locale;
    m_ui->messageCount->setText(locale.toString(length) + QStringLiteral(" / ") +
                                locale.toString(kMessageMaxLength));
    QPalette palette = this->palette();
    if (length > kMessageMaxLength)
        palette.setColor(QPalette::WindowText, QColor(0xc0, 0x1c, 0x28));
    m_ui->messageCount->setPalette(palette);
    m_ui->messageCount->setVisible(length >= kMessageCountFrom);
}

bool WXFeedbackWindow::validate() const
{
    // A text of blanks is empty: the service refuses a blank message, and nobody can answer a blank
    // name.
    if (isBlank(m_ui->nameField->text()))
        return false;
    if (m_ui->emailField->text().isEmpty())
        return false;
    if (!validateEmail(m_ui->emailField->text()))
        return false;
    const QString message = m_ui->messageField->toPlainText();
    return !isBlank(message) && message.size() <= kMessageMaxLength;
}

bool WXFeedbackWindow::validateEmail(const QString &email)
{
    const icu::RegexPattern *pattern = emailPattern();
    if (!pattern || email.size() > std::numeric_limits<int32_t>::max())
        return false;
    // A read-only alias of the text: no copy.
    const icu::UnicodeString text(false, reinterpret_cast<const char16_t *>(email.constData()),
                                  static_cast<int32_t>(email.size()));
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(text, status));
    if (U_FAILURE(status))
        return false;
    matcher->setTimeLimit(kMatchTimeLimit, status);
    // matches() is the whole text; a time-out or stack overflow leaves a failure status.
    const bool matched = matcher->matches(status);
    return U_SUCCESS(status) && matched;
}

void WXFeedbackWindow::didPressSendButton(QObject *)
{
    close();
    const qint64 type = m_ui->selectedType->checkedId();
    const QString name = m_ui->nameField->text();
    const QString email = m_ui->emailField->text();
    const QString message = m_ui->messageField->toPlainText();

    if (!WXWeather::sendType(type, name, email, message)) {
        // Nothing reached the service: keep what the user wrote, say so, and let them send again.
        m_ui->notice->show();
        show();
        raise();
        activateWindow();
        return;
    }

    m_ui->notice->hide();
    m_ui->nameField->setText(QString());
    m_ui->emailField->setText(QString());
    m_ui->messageField->setPlainText(QString());
}
