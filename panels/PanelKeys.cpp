#include "PanelKeys.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QWidget>

namespace nimbara {

PanelKeys::PanelKeys(QWidget *panel, std::function<QAbstractButton *()> defaultButton)
    : QObject(panel)
    , m_panel(panel)
    , m_defaultButton(std::move(defaultButton))
{
    // A key a control ignores travels up to its window, and the window's filters see it there.
    panel->installEventFilter(this);
}

PanelKeys::~PanelKeys() = default;

bool PanelKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_panel || event->type() != QEvent::KeyPress)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    if (modifiers != Qt::NoModifier)
        return false;
    if (key->key() == Qt::Key_Escape) {
        m_panel->close();
        return true;
    }
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        QAbstractButton *button = m_defaultButton ? m_defaultButton() : nullptr;
        if (!button || !button->isVisible() || !button->isEnabled())
            return false;
        button->click();
        return true;
    }
    return false;
}

} // namespace nimbara
