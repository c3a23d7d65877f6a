#pragma once

#include <QObject>

class QWidget;

namespace nimbara {

// Opacity of a window (windowOpacity) or of an element inside it (a QGraphicsOpacityEffect), set at
// once or faded over the platform's default 250 ms. A new change of the same widget replaces a fade
// that is still running.
class Animator : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Animator)

public:
    static constexpr int kDurationMs = 250;

    static Animator *instance();

    static qreal opacity(const QWidget *widget);
    static void setOpacity(QWidget *widget, qreal value);
    static void animateOpacity(QWidget *widget, qreal value);
    static bool isAnimating(const QWidget *widget);
    // Brings every running fade to its end value at once (tests, and nothing else).
    static void finishAll();

signals:
    void opacityChanged(QWidget *widget);

private:
    Animator() = default;
};

} // namespace nimbara
