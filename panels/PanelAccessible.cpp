#include "PanelAccessible.h"

#include "WXAboutWindow.h"
#include "WXFeedbackWindow.h"
#include "WXForecastWindow.h"
#include "WXPlaceChooser.h"
#include "WXTourWindow.h"

#include <QAccessibleWidget>

namespace nimbara {

namespace {

QAccessibleInterface *panelAccessible(const QString &className, QObject *object)
{
    // Asked once per class up the hierarchy: answered at the object's own class.
    if (!object || !object->isWidgetType() || className != QLatin1String(object->metaObject()->className()))
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    const bool panel = qobject_cast<WXTourWindow *>(object) || qobject_cast<WXAboutWindow *>(object) ||
                       qobject_cast<WXFeedbackWindow *>(object) || qobject_cast<WXForecastWindow *>(object) ||
                       qobject_cast<WXPlaceChooser *>(object);
    return panel && widget->isWindow() ? new QAccessibleWidget(widget, QAccessible::Window) : nullptr;
}

} // namespace

void installPanelAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(panelAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace nimbara
