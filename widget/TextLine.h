#pragma once

#include <QLabel>
#include <QPainterPath>

namespace nimbara {

// One text line of the widget, on one line, with an outline of the opposite lightness: faint where
// the screen composes translucent windows, solid otherwise (the window is then shaped to it), so that
// the text reads on any wallpaper. A text too wide for the frame at the line's font is drawn smaller
// until it fits, outline included.
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

    // The font the text is drawn in: the line's font, or a smaller size of it that fits the frame.
    QFont drawnFont() const;
    // The glyph outlines where the line draws them, in the line's own coordinates.
    QPainterPath textPath() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_outlined = false;
};

} // namespace nimbara
