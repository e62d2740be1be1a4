#pragma once

#include <QtCore/QStringView>
#include <QtGui/QFont>
#include <QtGui/QPalette>
#include <QtGui/QRawFont>
#include <QtGui/QTextLayout>

#include <bitset>

class EditableText;
class QPainter;
class QPointF;
class QRectF;

// Draws a text box's lines on a grid of cells in a monospace font: every
// character (UTF-16 code unit) takes one cell, except a tab, which reaches the
// next stop of eight, and "\r\n", a lone "\r" and a lone "\n" are breaks.
// What has no visible glyph of its own is shown by a symbol in its cell:
// U+0000..U+001F as U+2400..U+241F, U+007F as U+2421, other invisible
// characters (C1 controls, format characters) as U+FFFD. Where the font has no
// control pictures (many monospace fonts lack them), the painter draws them
// itself: a framed cell with the character's code as two stacked hex digits,
// the same for a raw control and for its picture character in the text.
//
// It knows the font's metrics and paints one line's visible columns at a
// time, with the selection and an input method's composition; it reads the
// text and never changes it. It is not a widget: the box says where to paint,
// in which colours, and where its view starts sideways. The caret, the frame
// and the background outside the lines are the box's.
class TextPainter
{
public:
    // Measures the font: cell, line height, which characters it draws in one
    // cell on its own.
    void setFont(const QFont &font);
    const QFont &font() const { return m_font; }

    qreal cellWidth() const { return m_cellWidth; }
    int lineHeight() const { return m_lineHeight; }
    int ascent() const { return m_ascent; }
    // Whether the font itself draws `c` in exactly one cell, so that it can go
    // into a run drawn in one go, unshaped.
    bool drawsInOneCell(QChar c) const;

    // What a line is painted with besides its characters.
    struct View
    {
        const QPalette &palette;
        // The x offset of column 0: minus the sideways scroll.
        qreal left = 0;
        // An input method's composition, shown at the caret and pushing what
        // follows the caret right: in the input method's clause formats, or
        // underlined where it gives none.
        QStringView preedit;
        const QList<QTextLayout::FormatRange> &preeditFormats;
    };

    // Paints the columns [fromColumn, toColumn) of `line`, whose top is at
    // `top`, over an already filled background.
    void paintLine(QPainter &painter, const EditableText &text, const View &view, qsizetype line, int top,
                   qsizetype fromColumn, qsizetype toColumn) const;

private:
    // Draws a run of characters that each take one cell, from the baseline
    // point `origin`.
    void drawRun(QPainter &painter, QPointF origin, QStringView run) const;
    // Draws a character that cannot go into a run; true when it was the
    // first half of a surrogate pair and drew `next` with it.
    bool drawCharacter(QPainter &painter, QChar c, QChar next, QChar previous, qreal x, int baseline) const;
    void drawPreedit(QPainter &painter, const View &view, qreal x, int top) const;
    void drawControlPicture(QPainter &painter, QChar picture, const QRectF &cell) const;

    // Characters below this are looked up in a table; above it, in the
    // scripts a monospace font seldom covers, every character is drawn alone.
    static constexpr char16_t UniformTableSize = 0x0590;

    QFont m_font;
    qreal m_cellWidth = 1.0;
    int m_lineHeight = 1;
    int m_ascent = 0;
    bool m_hasControlPictures = false;
    // The font's own glyphs, for runs: no fallback font is looked at.
    QRawFont m_rawFont;
    QFont m_pictureFont;
    // Characters that the font itself draws in exactly one cell; everything
    // else is drawn alone, where a fallback font may supply it.
    std::bitset<UniformTableSize> m_uniform;
};
