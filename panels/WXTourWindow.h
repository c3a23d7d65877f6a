#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;
class QShowEvent;

namespace Ui {
class WXTourWindow;
}

// The two-step quick tour shown on the first launch. Step 1 and step 2 are pages of one stack; the
// page on top is the window's content view.
class WXTourWindow : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WXTourWindow)

public:
    explicit WXTourWindow(QWidget *parent = nullptr);
    ~WXTourWindow() override;

    QWidget *contentView() const;
    void setContentView(QWidget *view);

    // The quick-tour menu item: the tour starts again at step 1.
    void showFromStart();
    // The window the tour speaks of: the tour first opens in the middle of the screen that holds it.
    void setAnchor(QWidget *anchor) { m_anchor = anchor; }

    // Outlets. The form owns the elements; the tour only looks at them, so each reads as null once
    // its element is gone.
    QPointer<QLabel> textStep1;
    QPointer<QLabel> textStep2;
    QPointer<QWidget> step1;
    QPointer<QWidget> step2;
    QPointer<QPushButton> skipButtonStep1;
    QPointer<QPushButton> nextButtonStep1;
    QPointer<QPushButton> finishButtonStep2;
    QPointer<QLabel> progressStep1;
    QPointer<QLabel> progressStep2;

public slots:
    void didPressSkipButtonStep1(QObject *sender);
    void didPressNextButtonStep1(QObject *sender);
    void didPressFinishButton(QObject *sender);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void awakeFromNib();

    const std::unique_ptr<Ui::WXTourWindow> m_ui;
    QPointer<QWidget> m_anchor;
};
