#include "BackingBox.h"

#include <QPainter>

namespace nimbara {

BackingBox::BackingBox(QWidget *parent)
    : QWidget(parent)
{}

BackingBox::~BackingBox() = default;

void BackingBox::setFillColor(const QColor &color)
{
    m_fillColor = color;
    update();
}

void BackingBox::setBorderColor(const QColor &color)
{
    m_borderColor = color;
    update();
}

void BackingBox::setCornerRadius(qreal radius)
{
    m_cornerRadius = radius;
    update();
}

void BackingBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(m_borderColor.alpha() ? QPen(m_borderColor, 1.0) : QPen(Qt::NoPen));
    painter.setBrush(m_fillColor);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_cornerRadius, m_cornerRadius);
}

} // namespace nimbara
