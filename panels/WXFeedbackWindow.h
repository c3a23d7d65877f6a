#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class WXFeedbackWindow;
}

// The feedback form: a type, the sender's name and e-mail address and a message, posted to the
// weather service. The send button is enabled exactly while the form is complete and the address is
// well formed.
class WXFeedbackWindow : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WXFeedbackWindow)

public:
    explicit WXFeedbackWindow(QWidget *parent = nullptr);
    ~WXFeedbackWindow() override;

    // Field limits that keep every form the user can send within the largest feedback body the
    // service takes, whatever the letters: a UTF-16 unit never needs more than three UTF-8 bytes.
    static constexpr int kNameMaxLength = 256;
    static constexpr int kEmailMaxLength = 254;
    static constexpr int kMessageMaxLength = 21000;
    // The message count shows from this length on.
    static constexpr int kMessageCountFrom = kMessageMaxLength * 9 / 10;

    bool validate() const;
    // True when the whole text matches the e-mail pattern, letters compared without regard to case.
    // A text the matcher cannot decide within its time or memory limit is refused.
    static bool validateEmail(const QString &email);

public slots:
    void controlTextDidChange(QObject *notification);
    void didPressSendButton(QObject *sender);

private:
    void showMessageCount();

    const std::unique_ptr<Ui::WXFeedbackWindow> m_ui;
};
