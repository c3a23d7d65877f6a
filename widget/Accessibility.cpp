#include "WXDesktopWindow.h"

#include "ui_WXDesktopWindow.h"

#include "Localized.h"

#include <QAccessibleWidget>

using namespace nimbara;

// What a screen reader finds in the widget. Its elements are laid side by side in one view, as the
// interface definition places them; read that way, the backdrop, the three lines and the controls
// are one flat list. The view reads instead as the lines, as one group in reading order, then the
// setting buttons, the activity bar and the lock button.

namespace {

WXDesktopWindow *widgetOfView(QObject *view)
{
    auto *window = qobject_cast<WXDesktopWindow *>(view ? view->parent() : nullptr);
    return window && window->ui->mainView == view ? window : nullptr;
}

WXDesktopWindow *widgetOfElement(QObject *element)
{
    return widgetOfView(element ? element->parent() : nullptr);
}

int indexIn(const QList<QWidget *> &widgets, const QAccessibleInterface *child)
{
    return child ? int(widgets.indexOf(qobject_cast<QWidget *>(child->object()))) : -1;
}

class ViewAccessible : public QAccessibleWidget
{
public:
    ViewAccessible(QWidget *view, WXDesktopWindow *window)
        : QAccessibleWidget(view, QAccessible::Client)
        , m_window(window)
    {}

    int childCount() const override { return int(children().size()); }
    QAccessibleInterface *child(int index) const override
    {
        const QList<QWidget *> all = children();
        return index >= 0 && index < all.size() ? QAccessible::queryAccessibleInterface(all[index]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override { return indexIn(children(), child); }

private:
    QList<QWidget *> children() const
    {
        const Ui::WXDesktopWindow &ui = *m_window->ui;
        return {ui.box, ui.buttons, ui.progressIndicator, ui.lockButton};
    }

    WXDesktopWindow *const m_window;
};

// The backing box stands for the group: it lies behind the lines and has nothing to say itself.
class LinesAccessible : public QAccessibleWidget
{
public:
    LinesAccessible(QWidget *box, WXDesktopWindow *window)
        : QAccessibleWidget(box, QAccessible::Grouping)
        , m_window(window)
    {}

    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Name ? localized("LINES_ACCESSIBLE_NAME") : QAccessibleWidget::text(kind);
    }
    int childCount() const override { return int(lines().size()); }
    QAccessibleInterface *child(int index) const override
    {
        const QList<QWidget *> all = lines();
        return index >= 0 && index < all.size() ? QAccessible::queryAccessibleInterface(all[index]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override { return indexIn(lines(), child); }

private:
    QList<QWidget *> lines() const
    {
        const Ui::WXDesktopWindow &ui = *m_window->ui;
        return {ui.date, ui.title, ui.subtitle};
    }

    WXDesktopWindow *const m_window;
};

// A line reads as its text, inside the group.
class LineAccessible : public QAccessibleWidget
{
public:
    LineAccessible(TextLine *line, WXDesktopWindow *window)
        : QAccessibleWidget(line, QAccessible::StaticText)
        , m_window(window)
    {}

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<TextLine *>(widget())->text();
        return QAccessibleWidget::text(kind);
    }
    QAccessibleInterface *parent() const override
    {
        return QAccessible::queryAccessibleInterface(m_window->ui->box);
    }

private:
    WXDesktopWindow *const m_window;
};

QAccessibleInterface *widgetAccessible(const QString &className, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    // A window of its own, not a filler inside something else.
    if (className == QLatin1String(WXDesktopWindow::staticMetaObject.className()))
        return new QAccessibleWidget(widget, QAccessible::Window);
    if (className == QLatin1String("QWidget")) {
        if (WXDesktopWindow *window = widgetOfView(object))
            return new ViewAccessible(widget, window);
    } else if (className == QLatin1String(BackingBox::staticMetaObject.className())) {
        if (WXDesktopWindow *window = widgetOfElement(object))
            return new LinesAccessible(widget, window);
    } else if (className == QLatin1String(TextLine::staticMetaObject.className())) {
        if (WXDesktopWindow *window = widgetOfElement(object))
            return new LineAccessible(static_cast<TextLine *>(widget), window);
    }
    return nullptr;
}

} // namespace

void WXDesktopWindow::installAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(widgetAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}
