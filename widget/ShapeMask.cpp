#include "ShapeMask.h"

#include "Animator.h"
#include "BackingBox.h"
#include "TextLine.h"

#include <QAbstractButton>
#include <QBitmap>
#include <QEvent>
#include <QPainter>
#include <QPainterPathStroker>
#include <QTimer>

namespace nimbara {

namespace {
void addShown(QPainter &painter, const QWidget *window, const QWidget *parent)
{
    for (QObject *object : parent->children()) {
        auto child = qobject_cast<QWidget *>(object);
        if (!child || child->isWindow() || child->isHidden() || Animator::opacity(child) <= 0.0)
            continue;
        const QPoint offset = child->mapTo(window, QPoint(0, 0));
        if (auto line = qobject_cast<TextLine *>(child)) {
            QPainterPathStroker stroker;
            stroker.setWidth(2 * TextLine::kOutlineWidth + 2);
            stroker.setJoinStyle(Qt::RoundJoin);
            const QPainterPath glyphs = line->textPath();
            painter.save();
            painter.setClipRect(QRect(offset, child->size()));
            painter.translate(offset);
            // Two fills of one bitmap make their union; QPainterPath::united() would compute it
            // with a path clipper, tens of milliseconds for one line of large glyphs.
            painter.drawPath(glyphs);
            painter.drawPath(stroker.createStroke(glyphs));
            painter.restore();
        } else if (auto box = qobject_cast<BackingBox *>(child)) {
            painter.drawRoundedRect(QRect(offset, child->size()), box->cornerRadius(), box->cornerRadius());
        } else if (qobject_cast<QAbstractButton *>(child)) {
            painter.drawRect(QRect(offset, child->size()));
        } else {
            addShown(painter, window, child);
        }
    }
}
} // namespace

ShapeMask::ShapeMask(QWidget *window)
    : QObject(window)
    , m_window(window)
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setInterval(0);
    connect(m_timer, &QTimer::timeout, this, &ShapeMask::apply);
    m_window->installEventFilter(this);
    const auto elements = m_window->findChildren<QWidget *>();
    for (QWidget *element : elements)
        element->installEventFilter(this);
    connect(Animator::instance(), &Animator::opacityChanged, this, [this](QWidget *widget) {
        if (widget == m_window || m_window->isAncestorOf(widget))
            schedule();
    });
    // A window that loses its compositing manager while shown gets its shape without waiting
    // for a repaint.
    schedule();
}

ShapeMask::~ShapeMask() = default;

QRegion ShapeMask::visibleRegion() const
{
    QBitmap bitmap(m_window->size());
    bitmap.fill(Qt::color0);
    {
        QPainter painter(&bitmap);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::color1);
        addShown(painter, m_window, m_window);
    }
    return QRegion(bitmap);
}

void ShapeMask::apply()
{
    QRegion region = visibleRegion();
    // An empty mask would mean no mask at all, that is the whole rectangle.
    if (region.isEmpty())
        region = QRegion(0, 0, 1, 1);
    const QRegion previous = m_window->mask();
    if (region == previous)
        return;
    m_window->setMask(region);
    // What the new shape uncovers was never painted (the X server shows no backing there): paint it.
    m_window->update(region - previous);
}

bool ShapeMask::eventFilter(QObject *, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Paint:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Resize:
    case QEvent::Move:
    case QEvent::FontChange:
        schedule();
        break;
    default:
        break;
    }
    return false;
}

void ShapeMask::schedule()
{
    if (!m_timer->isActive())
        m_timer->start();
}

} // namespace nimbara
