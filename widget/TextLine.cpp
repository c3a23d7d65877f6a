#include "TextLine.h"

#include <QFontInfo>
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

QFont TextLine::drawnFont() const
{
    QFont fitted = font();
    const QString line = text();
    // The outline reaches past the glyphs on both sides.
    const qreal room = contentsRect().width() - 2 * kOutlineWidth;
    const auto fits = [&](int pixelSize) {
        fitted.setPixelSize(pixelSize);
        return QFontMetricsF(fitted).horizontalAdvance(line) <= room;
    };
    const int size = QFontInfo(font()).pixelSize();
    if (line.isEmpty() || room <= 0 || fits(size))
        return font();
    // The largest whole size that fits; a text too long even for the smallest stays at that.
    int low = 1;
    int high = size - 1;
    while (low < high) {
        const int middle = (low + high + 1) / 2;
        if (fits(middle))
            low = middle;
        else
            high = middle - 1;
    }
    fitted.setPixelSize(low);
    return fitted;
}

QPainterPath TextLine::textPath() const
{
    QPainterPath path;
    if (text().isEmpty())
        return path;
    const QFont drawn = drawnFont();
    const QFontMetricsF metrics(drawn);
    const QRectF area = contentsRect();
    const qreal width = metrics.horizontalAdvance(text());
    qreal x = area.left();
    if (alignment() & Qt::AlignRight)
        x = area.right() + 1 - width;
    else if (alignment() & Qt::AlignHCenter)
        x = area.left() + (area.width() - width) / 2;
    const qreal baseline = area.top() + (area.height() - metrics.height()) / 2 + metrics.ascent();
    path.addText(QPointF(x, baseline), drawn, text());
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
