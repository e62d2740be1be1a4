#pragma once

#include "LineIndex.h"

#include <QtWidgets/QAbstractScrollArea>

#include <QtCore/QString>
#include <QtGui/QFont>

#include <bitset>

// A multi-line, editable, never-wrapping text box whose content is exactly the
// text it was given plus what the user typed, character for character:
// "\r\n" stays two characters, a lone "\r" or "\n" stays, U+0000 stays.
//
// On screen "\r\n", a lone "\r" and a lone "\n" are each one line break; the
// view paints only the visible lines, found through an index of line starts,
// in a monospace font, with both scroll bars. Every character (UTF-16 code
// unit) takes one cell, so a line of any length is placed and painted by
// column, drawing only the part in view. What has no visible glyph of its own
// is shown by a symbol in its cell while the content keeps the raw character:
// U+0000..U+001F as U+2400..U+241F (tab included, as U+2409: one cell, not a
// tab stop), U+007F as U+2421, other invisible characters (C1 controls,
// format characters) as U+FFFD. Where the font has no control pictures (many
// monospace fonts lack them), the box draws them itself: a framed cell with
// the character's code as two stacked hex digits, the same for a raw control
// and for its picture character in the content.
//
// Appending (a set whose text starts with the current content) keeps the
// caret, the selection and the scroll position; only while the view shows the
// last line does it follow the new end. Any other set replaces everything and
// puts the caret at the end.
//
// The user edits with the keyboard (typing, Enter inserts "\r\n", Backspace
// and Delete take a "\r\n" as one unit, the standard movement and clipboard
// keys, Shift extends the selection) and the mouse (click places the caret,
// drag selects). Copy puts the exact characters on the clipboard.
//
// It does not interpret what it shows: no rich text, no markup, no links. It
// has no undo, no word-wise movement and emits no signals.
class TextBox : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit TextBox(QWidget *parent = nullptr);
    ~TextBox() override;

    // The whole content. A set replaces it; a set that extends the current
    // content only appends to the line index.
    QString Text() const;
    void setText(const QString &text);

    // Lines as shown: one more than there are line breaks.
    qsizetype lineCount() const;

    // Positions count characters from the start of the content, 0 to its
    // length. The caret never rests between the "\r" and "\n" of a break.
    qsizetype cursorPosition() const;
    void setCursorPosition(qsizetype position); // clears the selection
    qsizetype selectionStart() const;
    qsizetype selectionEnd() const;
    QString selectedText() const;
    void selectAll();
    void copy() const;
    void cut();
    void paste();

    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;

private:
    enum class Move {
        PreviousCharacter,
        NextCharacter,
        PreviousLine,
        NextLine,
        PreviousPage,
        NextPage,
        StartOfLine,
        EndOfLine,
        StartOfText,
        EndOfText,
    };

    bool handlesKey(const QKeyEvent *event) const;
    void moveCursor(Move move, bool extendSelection);
    void placeCursor(qsizetype position, bool extendSelection);
    void replaceSelection(const QString &replacement);
    void removeAround(bool forward);
    qsizetype positionAt(QPoint point) const;
    qsizetype previousPosition(qsizetype position) const;
    qsizetype nextPosition(qsizetype position) const;
    qsizetype column(qsizetype position) const;
    QRect cursorRect() const;
    int visibleRows() const;
    void ensureCursorVisible();
    void updateMetrics();
    void updateScrollBars();
    void drawSpan(QPainter &painter, qsizetype from, qsizetype to, qsizetype lineStart,
                  int baseline) const;
    void drawControlPicture(QPainter &painter, QChar picture, const QRectF &cell) const;

    static constexpr char16_t kUniformTableSize = 0x0590;

    QString m_text;
    LineIndex m_lines;
    qsizetype m_cursor = 0;
    qsizetype m_anchor = 0;
    // The column Up and Down aim for, kept across lines too short to reach it.
    qsizetype m_goalColumn = -1;
    bool m_selecting = false;
    qreal m_cellWidth = 1.0;
    int m_lineHeight = 1;
    int m_ascent = 0;
    bool m_hasControlPictures = false;
    QFont m_pictureFont;
    // Characters below U+0590 that the font draws in exactly one cell and so
    // can go into a run drawn in one go; everything else is drawn alone.
    std::bitset<kUniformTableSize> m_uniform;
};
