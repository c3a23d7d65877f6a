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

    bool validate() const;
    // True when the whole text matches the e-mail pattern, letters compared without regard to case.
    // A text the matcher cannot decide within its time or memory limit is refused.
    static bool validateEmail(const QString &email);

public slots:
    void controlTextDidChange(QObject *notification);
    void didPressSendButton(QObject *sender);

private:
    const std::unique_ptr<Ui::WXFeedbackWindow> m_ui;
};
