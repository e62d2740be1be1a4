#pragma once

#include "EditHistory.h"
#include "LineIndex.h"
#include "TextValue.h"

#include <QtWidgets/QAbstractScrollArea>

#include <QtCore/QElapsedTimer>
#include <QtCore/QString>
#include <QtCore/QTimer>
#include <QtGui/QFont>
#include <QtGui/QRawFont>

#include <bitset>
#include <memory>
#include <utility>

class QMenu;
class ScrollBar;

// A multi-line, editable, never-wrapping text box whose content is exactly the
// text it was given plus what the user typed, character for character:
// "\r\n" stays two characters, a lone "\r" or "\n" stays, U+0000 stays.
//
// The content is a TextValue: reading it shares the characters, and a set
// with a value that extends the current one (the read content plus input, the
// way received data is added) costs the input's length, in time and in
// indexing, however long the text. Any other set replaces everything, puts
// the caret at the end and forgets the undo history.
//
// On screen "\r\n", a lone "\r" and a lone "\n" are each one line break; the
// view paints only the visible columns of the visible lines, found through an
// index of line starts and tabs, in a monospace font, with both scroll bars.
// Every character (UTF-16 code unit) takes one cell, except a tab, which
// reaches to the next multiple of eight columns while the content keeps the
// raw tab. What else has no visible glyph of its own is shown by a symbol in
// its cell: U+0000..U+001F as U+2400..U+241F, U+007F as U+2421, other
// invisible characters (C1 controls, format characters) as U+FFFD. Where the
// font has no control pictures (many monospace fonts lack them), the box
// draws them itself: a framed cell with the character's code as two stacked
// hex digits, the same for a raw control and for its picture character in the
// content.
//
// Appending keeps the caret, the selection and the scroll position, both
// ways; only while the view shows the last line does it follow the new end.
//
// The user edits with the keyboard (typing, Enter inserts "\r\n", Backspace
// and Delete take a "\r\n" as one unit, the standard movement, clipboard,
// undo and redo keys, Shift extends the selection), the mouse (click places
// the caret, Shift+click extends the selection, drag selects, double-click
// selects a word and a drag after it extends by words), the context menu and
// input methods (the composition shows underlined at the caret and becomes
// content only when committed). Undo takes back the user's own edits, typed
// characters in a row as one step; appends are not steps and leave earlier
// steps undoable. Clipboard transfers carry the exact characters. Tab itself
// moves the focus, as in a form; a tab gets into the content by paste, input
// method or set.
//
// It does not interpret what it shows: no rich text, no markup, no links. It
// has no word-wise caret movement and emits no signals.
class TextBox : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit TextBox(QWidget *parent = nullptr);
    ~TextBox() override;

    TextValue Text() const;
    void setText(const TextValue &text);

    // Lines as shown: one more than there are line breaks.
    qsizetype lineCount() const;

    // Positions count characters from the start of the content, 0 to its
    // length. The caret never rests between the "\r" and "\n" of a break.
    qsizetype cursorPosition() const;
    void setCursorPosition(qsizetype position); // clears the selection
    qsizetype selectionStart() const;
    qsizetype selectionEnd() const;
    QString selectedText() const;
    void setSelection(qsizetype anchor, qsizetype cursor);
    void selectAll();
    void copy() const;
    void cut();
    void paste();
    void undo();
    void redo();
    bool isUndoAvailable() const;
    bool isRedoAvailable() const;

    // Where a character is drawn and which position a point is nearest, in
    // the viewport's coordinates (for assistive technology); and a scroll
    // that brings a position into view without moving the caret.
    QRect characterRect(qsizetype position) const;
    qsizetype positionAt(QPoint point) const;
    void scrollToPosition(qsizetype position);

    // The context menu as it would open now, each action enabled only where
    // it applies. The caller owns it and drops it before the box (the box is
    // its parent, for style and placement).
    std::unique_ptr<QMenu> createContextMenu();

    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
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
    enum class Drag { None, Characters, Words };
    enum class Step { Typing, Other };

    bool handlesKey(const QKeyEvent *event) const;
    void moveCursor(Move move, bool extendSelection);
    void placeCursor(qsizetype position, bool extendSelection);
    void replaceSelection(const QString &replacement, Step step = Step::Other);
    void replaceRange(qsizetype from, qsizetype to, const QString &replacement, Step step);
    void removeSelection();
    void removeAround(bool forward);
    // Puts `inserted` in place of [from, from + removed) and brings the index
    // and the view up to date; the caller places the caret.
    void change(qsizetype from, qsizetype removed, const QString &inserted);
    // Moves a caret or anchor off the middle of a "\r\n" that a change made.
    qsizetype afterBreak(qsizetype position) const;
    void editDone();
    // The word [first, last) around `position`: a run of letters, digits and
    // underscores, or of other characters that are not space; empty on space.
    std::pair<qsizetype, qsizetype> wordAt(qsizetype position) const;
    // Moves a position off the second half of a surrogate pair.
    qsizetype snapToCharacter(qsizetype position) const;
    // The part of the caret's line an input method is told about: the line,
    // up to a bound either side of the caret.
    std::pair<qsizetype, qsizetype> surroundingRange() const;
    qsizetype previousPosition(qsizetype position) const;
    qsizetype nextPosition(qsizetype position) const;
    qsizetype column(qsizetype position) const;
    qsizetype lineAtCaret() const;
    QRect cursorRect() const;
    int caretWidth() const;
    int visibleRows() const;
    void ensureCursorVisible();
    void ensureVisible(qsizetype position, qsizetype extraColumns);
    void updateMetrics();
    void updateScrollBars();
    // Appends are shown together, at most every kAppendRepaintMs: the lines
    // still in view are moved by a scroll, and only what changed from the
    // first new character on is drawn.
    void repaintForAppend(qsizetype line, qsizetype column);
    void showAppended();
    void paintLine(QPainter &painter, qsizetype line, int top, qsizetype fromColumn,
                   qsizetype toColumn) const;
    // Draws a run of characters that each take one cell, starting at the
    // baseline point `origin`.
    void drawRun(QPainter &painter, QPointF origin, QStringView run) const;
    // Draws a character that cannot go into a run; true when it was the
    // first half of a surrogate pair and drew `next` with it.
    bool drawCharacter(QPainter &painter, QChar c, QChar next, QChar previous, qreal x,
                       int baseline) const;
    void drawPreedit(QPainter &painter, qreal x, int baseline) const;
    void drawControlPicture(QPainter &painter, QChar picture, const QRectF &cell) const;
    void drawFocusFrame();

    static constexpr char16_t kUniformTableSize = 0x0590;

    // The scroll area's own bars, which it owns.
    ScrollBar *m_verticalBar = nullptr;
    ScrollBar *m_horizontalBar = nullptr;
    TextValue m_text;
    LineIndex m_lines;
    EditHistory m_history;
    qsizetype m_cursor = 0;
    qsizetype m_anchor = 0;
    // The column Up and Down aim for, kept across lines too short to reach it.
    qsizetype m_goalColumn = -1;
    Drag m_drag = Drag::None;
    // The word a double-click selected, which a drag after it keeps selected.
    qsizetype m_wordStart = 0;
    qsizetype m_wordEnd = 0;
    // An input method's composition in progress: shown at the caret, not
    // content.
    QString m_preedit;
    qsizetype m_preeditCursor = 0;
    qreal m_cellWidth = 1.0;
    int m_lineHeight = 1;
    int m_ascent = 0;
    int m_caretWidth = 1;
    bool m_hasControlPictures = false;
    // The font's own glyphs, for runs: no fallback font is looked at.
    QRawFont m_rawFont;
    QFont m_pictureFont;
    // Characters below U+0590 that the font itself draws in exactly one cell
    // and so can go into a run drawn in one go; everything else is drawn
    // alone, where a fallback font may supply it.
    std::bitset<kUniformTableSize> m_uniform;
    // Appends repaint at most this often: a device trickling a few bytes at a
    // time must not cost a full repaint per burst.
    static constexpr int kAppendRepaintMs = 25;
    QTimer m_appendRepaint;
    QElapsedTimer m_sincePaint;
    // The first line and column an append changed since the view last
    // showed appends (line -1: none).
    qsizetype m_changedLine = -1;
    qsizetype m_changedColumn = 0;
    // The first line that what is on screen shows, which lags the vertical
    // scroll bar while an append's scroll waits to be shown.
    qsizetype m_shownTop = 0;
    bool m_appending = false;
};
