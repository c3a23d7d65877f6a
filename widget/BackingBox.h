#pragma once

#include <QColor>
#include <QWidget>

namespace nimbara {

// The backing box behind the text lines: a rounded rectangle with a fill and a border colour.
class BackingBox : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BackingBox)

public:
    explicit BackingBox(QWidget *parent = nullptr);
    ~BackingBox() override;

    QColor fillColor() const { return m_fillColor; }
    void setFillColor(const QColor &color);
    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor &color);
    qreal cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(qreal radius);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fillColor = Qt::black;
    QColor m_borderColor = Qt::transparent;
    qreal m_cornerRadius = 0.0;
};

} // namespace nimbara
