#pragma once

#include <QLabel>
#include <QPainterPath>

namespace nimbara {

// One text line of the widget. Drawn as a plain label where the screen composes translucent
// windows; outlined otherwise, so that it reads on any wallpaper once the window is shaped to it.
class TextLine : public QLabel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TextLine)

public:
    static constexpr qreal kOutlineWidth = 1.5;

    explicit TextLine(QWidget *parent = nullptr);
    ~TextLine() override;

    QColor textColor() const;
    void setTextColor(const QColor &color);
    // Dark around light text, light around dark text.
    QColor outlineColor() const;

    bool isOutlined() const { return m_outlined; }
    void setOutlined(bool outlined);

    // The glyph outlines where the line draws them, in the line's own coordinates.
    QPainterPath textPath() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_outlined = false;
};

} // namespace nimbara
