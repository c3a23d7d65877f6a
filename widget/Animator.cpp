#include "Animator.h"

#include <QGraphicsOpacityEffect>
#include <QPointer>
#include <QPropertyAnimation>
#include <QWidget>

namespace nimbara {

namespace {
const QString kFadeName = QStringLiteral("nimbara-fade");
QList<QPointer<QPropertyAnimation>> g_fades;

struct Target
{
    QObject *object = nullptr;
    QByteArray property;
};

Target targetOf(const QWidget *widget, bool create)
{
    auto w = const_cast<QWidget *>(widget);
    if (w->isWindow())
        return {w, QByteArrayLiteral("windowOpacity")};
    auto effect = qobject_cast<QGraphicsOpacityEffect *>(w->graphicsEffect());
    if (!effect && create) {
        effect = new QGraphicsOpacityEffect(w);
        effect->setOpacity(1.0);
        w->setGraphicsEffect(effect);
    }
    return {effect, QByteArrayLiteral("opacity")};
}

QPropertyAnimation *runningFade(const Target &target)
{
    if (!target.object)
        return nullptr;
    // A finished fade lingers until its deferred deletion.
    const auto fades =
        target.object->findChildren<QPropertyAnimation *>(kFadeName, Qt::FindDirectChildrenOnly);
    for (QPropertyAnimation *fade : fades) {
        if (fade->state() == QAbstractAnimation::Running)
            return fade;
    }
    return nullptr;
}

void stopFade(const Target &target)
{
    if (QPropertyAnimation *fade = runningFade(target)) {
        fade->stop();
        delete fade;
    }
}
} // namespace

Animator *Animator::instance()
{
    static Animator animator;
    return &animator;
}

qreal Animator::opacity(const QWidget *widget)
{
    const Target target = targetOf(widget, false);
    return target.object ? target.object->property(target.property.constData()).toReal() : 1.0;
}

void Animator::setOpacity(QWidget *widget, qreal value)
{
    const Target target = targetOf(widget, true);
    stopFade(target);
    target.object->setProperty(target.property.constData(), value);
    emit instance()->opacityChanged(widget);
}

void Animator::animateOpacity(QWidget *widget, qreal value)
{
    const Target target = targetOf(widget, true);
    stopFade(target);
    const qreal from = opacity(widget);
    if (qFuzzyCompare(1.0 + from, 1.0 + value))
        return;
    auto fade = new QPropertyAnimation(target.object, target.property, target.object);
    fade->setObjectName(kFadeName);
    fade->setDuration(kDurationMs);
    fade->setStartValue(from);
    fade->setEndValue(value);
    QPointer<QWidget> guard(widget);
    connect(fade, &QVariantAnimation::valueChanged, instance(), [guard] {
        if (guard)
            emit instance()->opacityChanged(guard);
    });
    g_fades.removeAll(nullptr);
    g_fades.append(fade);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

bool Animator::isAnimating(const QWidget *widget)
{
    return runningFade(targetOf(widget, false)) != nullptr;
}

void Animator::finishAll()
{
    const auto fades = g_fades;
    g_fades.clear();
    for (const QPointer<QPropertyAnimation> &fade : fades) {
        if (fade && fade->state() == QAbstractAnimation::Running)
            fade->setCurrentTime(fade->totalDuration());
    }
}

} // namespace nimbara
