#include "TextLine.h"

#include <QFontMetricsF>
#include <QPainter>

namespace nimbara {

TextLine::TextLine(QWidget *parent)
    : QLabel(parent)
{
    // The texts come from the network and the settings: never markup, and never a document layout
    // that a long hostile text could stall.
    setTextFormat(Qt::PlainText);
}

TextLine::~TextLine() = default;

QColor TextLine::textColor() const
{
    return palette().color(QPalette::WindowText);
}

void TextLine::setTextColor(const QColor &color)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, color);
    setPalette(p);
}

QColor TextLine::outlineColor() const
{
    return textColor().lightnessF() > 0.5 ? QColor(0, 0, 0) : QColor(255, 255, 255);
}

void TextLine::setOutlined(bool outlined)
{
    m_outlined = outlined;
    update();
}

QPainterPath TextLine::textPath() const
{
    QPainterPath path;
    if (text().isEmpty())
        return path;
    const QFontMetricsF metrics(font());
    const QRectF area = contentsRect();
    const qreal width = metrics.horizontalAdvance(text());
    qreal x = area.left();
    if (alignment() & Qt::AlignRight)
        x = area.right() + 1 - width;
    else if (alignment() & Qt::AlignHCenter)
        x = area.left() + (area.width() - width) / 2;
    const qreal baseline = area.top() + (area.height() - metrics.height()) / 2 + metrics.ascent();
    path.addText(QPointF(x, baseline), font(), text());
    return path;
}

void TextLine::paintEvent(QPaintEvent *)
{
    // Glyph outlines, filled: vector shapes stay sharp at any device pixel ratio. Where the window
    // is translucent a faint halo of the outline colour keeps the text apart from a wallpaper of its
    // own colour; where it is shaped, the outline is solid and the shape follows it.
    const QPainterPath path = textPath();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRect(contentsRect());
    QColor outline = outlineColor();
    if (!m_outlined)
        outline.setAlphaF(0.35);
    painter.strokePath(path, QPen(outline, 2 * kOutlineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.fillPath(path, textColor());
}

} // namespace nimbara
