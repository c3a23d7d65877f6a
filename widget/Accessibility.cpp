#include "WXDesktopWindow.h"

#include "ui_WXDesktopWindow.h"

#include "Localized.h"

#include <QAccessibleWidget>

#include <QPointer>

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

// A part of the widget whose children, for a screen reader, are the elements it lists, in order.
// The elements are held weakly: the window's form is gone before its elements are, and a screen
// reader may still ask while they go.
class ListingAccessible : public QAccessibleWidget
{
public:
    ListingAccessible(QWidget *widget, QAccessible::Role role, const QList<QWidget *> &elements)
        : QAccessibleWidget(widget, role)
        , m_elements(elements.begin(), elements.end())
    {}

    int childCount() const override { return int(elements().size()); }
    QAccessibleInterface *child(int index) const override
    {
        const QList<QWidget *> all = elements();
        return index >= 0 && index < all.size() ? QAccessible::queryAccessibleInterface(all[index]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child ? int(elements().indexOf(qobject_cast<QWidget *>(child->object()))) : -1;
    }

private:
    QList<QWidget *> elements() const
    {
        QList<QWidget *> present;
        for (const QPointer<QWidget> &element : m_elements)
            if (element)
                present.append(element);
        return present;
    }

    const QList<QPointer<QWidget>> m_elements;
};

// The backing box stands for the group: it lies behind the lines and has nothing to say itself.
class LinesAccessible : public ListingAccessible
{
public:
    LinesAccessible(QWidget *box, const Ui::WXDesktopWindow &ui)
        : ListingAccessible(box, QAccessible::Grouping, {ui.date, ui.title, ui.subtitle})
    {}

    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Name ? localized("LINES_ACCESSIBLE_NAME") : QAccessibleWidget::text(kind);
    }
};

// A line reads as its text, inside the group.
class LineAccessible : public QAccessibleWidget
{
public:
    LineAccessible(TextLine *line, QWidget *group)
        : QAccessibleWidget(line, QAccessible::StaticText)
        , m_group(group)
    {}

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<TextLine *>(widget())->text();
        return QAccessibleWidget::text(kind);
    }
    QAccessibleInterface *parent() const override
    {
        return m_group ? QAccessible::queryAccessibleInterface(m_group) : QAccessibleWidget::parent();
    }

private:
    const QPointer<QWidget> m_group;
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
        if (WXDesktopWindow *window = widgetOfView(object)) {
            const Ui::WXDesktopWindow &ui = *window->ui;
            return new ListingAccessible(widget, QAccessible::Client,
                                         {ui.box, ui.buttons, ui.progressIndicator, ui.lockButton});
        }
    } else if (className == QLatin1String(BackingBox::staticMetaObject.className())) {
        if (WXDesktopWindow *window = widgetOfElement(object))
            return new LinesAccessible(widget, *window->ui);
    } else if (className == QLatin1String(TextLine::staticMetaObject.className())) {
        if (WXDesktopWindow *window = widgetOfElement(object))
            return new LineAccessible(static_cast<TextLine *>(widget), window->ui->box);
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
