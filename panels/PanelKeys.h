#pragma once

#include <QObject>

#include <functional>

class QAbstractButton;
class QWidget;

namespace nimbara {

// The keys a dialog answers, for panels that are plain windows: Esc closes the panel, and Enter or
// Return that no control inside took presses the panel's default button while it is shown and
// enabled. The panel owns it.
class PanelKeys : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PanelKeys)

public:
    // defaultButton: the button Enter presses now (null: none), asked at each press, since it may
    // change with the panel's page.
    explicit PanelKeys(QWidget *panel, std::function<QAbstractButton *()> defaultButton = {});
    ~PanelKeys() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *const m_panel;
    const std::function<QAbstractButton *()> m_defaultButton;
};

} // namespace nimbara
