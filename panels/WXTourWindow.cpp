#include "WXTourWindow.h"

#include "Localized.h"
#include "PanelAccessible.h"
#include "PanelKeys.h"
#include "ui_WXTourWindow.h"

#include <QGuiApplication>
#include <QScreen>

using nimbara::localized;

namespace {
// Outlets are weak: an element that is gone is skipped.
template <typename Element>
void setLocalizedText(const QPointer<Element> &element, const char *key)
{
    if (element)
        element->setText(localized(key));
}
} // namespace

WXTourWindow::WXTourWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::WXTourWindow>())
{
    nimbara::installPanelAccessibility();
    m_ui->setupUi(this);
    // Closing the tour must never end the application.
    setAttribute(Qt::WA_QuitOnClose, false);

    textStep1 = m_ui->textStep1;
    textStep2 = m_ui->textStep2;
    step1 = m_ui->step1;
    step2 = m_ui->step2;
    skipButtonStep1 = m_ui->skipButtonStep1;
    nextButtonStep1 = m_ui->nextButtonStep1;
    finishButtonStep2 = m_ui->finishButtonStep2;
    progressStep1 = m_ui->progressStep1;
    progressStep2 = m_ui->progressStep2;

    connect(m_ui->skipButtonStep1, &QPushButton::clicked, this,
            [this] { didPressSkipButtonStep1(m_ui->skipButtonStep1); });
    connect(m_ui->nextButtonStep1, &QPushButton::clicked, this,
            [this] { didPressNextButtonStep1(m_ui->nextButtonStep1); });
    connect(m_ui->finishButtonStep2, &QPushButton::clicked, this,
            [this] { didPressFinishButton(m_ui->finishButtonStep2); });
    // Enter goes on: Next on the first page, Finish on the last.
    new nimbara::PanelKeys(this, [this]() -> QAbstractButton * {
        return contentView() == step2 ? finishButtonStep2.data() : nextButtonStep1.data();
    });

    awakeFromNib();
}

WXTourWindow::~WXTourWindow() = default;

void WXTourWindow::awakeFromNib()
{
    setContentView(step1);
    setWindowTitle(localized("TOUR_WINDOW_TITLE"));
    setLocalizedText(textStep1, "STEP_1");
    setLocalizedText(textStep2, "STEP_2");
    setLocalizedText(progressStep1, "PROGRESS_STEP_1");
    setLocalizedText(progressStep2, "PROGRESS_STEP_2");
    setLocalizedText(skipButtonStep1, "SKIP_BUTTON");
    setLocalizedText(nextButtonStep1, "NEXT_BUTTON");
    setLocalizedText(finishButtonStep2, "FINISH_BUTTON");
}

QWidget *WXTourWindow::contentView() const
{
    return m_ui->contentView->currentWidget();
}

void WXTourWindow::setContentView(QWidget *view)
{
    // A page that is gone leaves the content as it is.
    if (view && m_ui->contentView->indexOf(view) >= 0)
        m_ui->contentView->setCurrentWidget(view);
}

void WXTourWindow::showFromStart()
{
    setContentView(step1);
    show();
    raise();
    activateWindow();
}

void WXTourWindow::showEvent(QShowEvent *event)
{
    // Where no window manager places it, a new window opens at the screen's corner, under the
    // widget's text: the tour places itself once, and from then on stays where it was put.
    if (!testAttribute(Qt::WA_Moved)) {
        QScreen *screen = m_anchor ? QGuiApplication::screenAt(m_anchor->geometry().center()) : nullptr;
        if (!screen)
            screen = m_anchor ? m_anchor->screen() : this->screen();
        if (screen) {
            QRect frame(QPoint(), size());
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    QWidget::showEvent(event);
}

void WXTourWindow::didPressSkipButtonStep1(QObject *)
{
    close();
}

void WXTourWindow::didPressNextButtonStep1(QObject *)
{
    setContentView(step2);
}

void WXTourWindow::didPressFinishButton(QObject *)
{
    close();
}
