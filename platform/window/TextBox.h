#pragma once

#include "EditableText.h"
#include "MemoryBudget.h"
#include "TextPainter.h"
#include "TextValue.h"
#include "WidgetGuard.h"

#include <QtWidgets/QAbstractScrollArea>

#include <QtCore/QBasicTimer>
#include <QtCore/QElapsedTimer>
#include <QtCore/QString>
#include <QtCore/QTimer>

#include <QtGui/QClipboard>
#include <QtGui/QTextLayout>

#include <memory>
#include <optional>
#include <type_traits>

class QMenu;
class QMimeData;
class ScrollBar;
class TextMimeData;

// A multi-line, editable, never-wrapping text box whose content is exactly the
// text it was given plus what the user typed, character for character:
// "\r\n" stays two characters, a lone "\r" or "\n" stays, U+0000 stays.
//
// The content is a TextValue: reading it shares the characters, and a set
// with a value that extends the current one (the read content plus input, the
// way received data is added) costs the input's length, in time and in
// indexing, however long the text. Any other set replaces everything, puts
// the caret at the end and forgets the undo history. What the content, the
// caret and the selection do is EditableText's; how they look is
// TextPainter's (one monospace cell a character, a tab to the next stop of
// eight, symbols for what has no glyph). This class is the widget between
// them: it turns keys, the mouse, the context menu and input methods into
// editing operations, and shows what each one changed: repaint, scroll
// bars, the caret, the input method and assistive technology.
//
// Appending keeps the caret, the selection and the scroll position, both
// ways; only while the view shows the last line does it follow the new end.
// Appends are shown together, at most every AppendRepaintMs.
//
// The user edits as in the platform's own text widgets, with its bindings
// (QKeySequence's standard keys): typing, Enter inserts "\r\n", Backspace
// and Delete take a "\r\n" as one unit, moves by character, word, line,
// page and to either end, Shift extends the selection, word deletion, delete
// to the end of the line, clipboard, undo and redo. With the mouse: click
// places the caret, Shift+click extends the selection, drag selects (and
// scrolls on its own while the pointer is past an edge), double-click
// selects a word and triple-click a line, a drag after either extends by
// words or lines; a selection can be dragged elsewhere in the box or out
// of it (moved, or copied where the drop asks for a copy: Ctrl held), and
// text can be dropped in. Where the platform
// has a selection clipboard (X11's PRIMARY), selecting offers it there, a
// middle click pastes it at the pointer. Then the context menu and input
// methods (the composition shows at the caret, in the clause formats the
// input method gives, and becomes content only when committed). The caret
// blinks at the platform's rate. Undo takes back the user's own edits, typed
// characters in a row as one step; appends are not steps and leave earlier
// steps undoable. Tab itself moves the focus, as in a form; a tab gets into
// the content by paste, input method or set.
//
// Clipboard and drag transfers carry the exact characters, and are made
// only when a reader asks (TextMimeData): copying a selection costs nothing
// until it is pasted, and a copy that would not fit in the memory the
// process has left is refused; the box says so (transferRefused()).
//
// Its size limit is a memory budget (MemoryBudget): what the text's storage
// takes, the undo history's included, stays within half the memory the
// process may use. The box is full once less than a reserve, the most one
// append may add, is left; it says so (isFull()), and says when there is
// room again (roomAvailable()), for its owner to hold appends back
// meanwhile. It never refuses a set: the owner that asks before appending
// never goes past the budget. An edit by the user that would take the text
// past the budget (a paste, a drop, typing, an undo) is refused whole and
// changes nothing; the box says so (editRefused()). An edit that removes
// text while the box is full lets go of the undo history and of the
// selection it offered the platform, so that what was removed is really
// given back.
//
// An edit of the user's happens whole or not at all: one that fails (memory
// runs out on a paste, an ErrorReport from below) leaves the text, the caret
// and the undo history as they were (only when showing a complete edit
// fails does the edit stand). Either way the box says so once
// (actionFailed()). Every call Qt makes into it (events, input method
// queries, its context menu, assistive technology, the platform's clipboard
// asking for a copy) runs through one catch point (WidgetGuard): nothing
// thrown there reaches Qt.
//
// It does not interpret what it shows: no rich text, no markup, no links.
class TextBox : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit TextBox(QWidget *parent = nullptr);
    ~TextBox() override;

    TextValue Text() const { return m_content.text(); }
    void setText(const TextValue &text);

    // Lines as shown: one more than there are line breaks.
    qsizetype lineCount() const { return m_content.lines().lineCount(); }

    // Positions count characters from the start of the content, 0 to its
    // length. The caret never rests between the "\r" and "\n" of a break.
    qsizetype cursorPosition() const { return m_content.cursor(); }
    void setCursorPosition(qsizetype position); // clears the selection
    qsizetype selectionStart() const { return m_content.selectionStart(); }
    qsizetype selectionEnd() const { return m_content.selectionEnd(); }
    QString selectedText() const { return m_content.selectedText(); }
    void setSelection(qsizetype anchor, qsizetype cursor);
    void selectAll();
    void copy() const;
    void cut();
    // Pastes the clipboard (Ctrl+V) or, where the platform has one, the
    // selection clipboard (a middle click).
    void paste(QClipboard::Mode mode = QClipboard::Clipboard);
    void undo();
    void redo();
    bool isUndoAvailable() const { return m_content.canUndo(); }
    bool isRedoAvailable() const { return m_content.canRedo(); }

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

    bool isFull() const { return m_memory.isFull(); }
    // The most one append may add, in bytes of storage (one a character).
    void setReserve(qsizetype bytes) { m_memory.setReserve(bytes); }
    // The budget itself, half the memory the process may use unless set:
    // for tests, which fill a box without filling the machine.
    void setMemoryBudget(qsizetype bytes) { m_memory.setLimit(bytes); }
    qsizetype memoryBudget() const { return m_memory.limit(); }

    // Appends repaint at most this often: a device trickling a few bytes at a
    // time must not cost a full repaint per burst.
    static constexpr int AppendRepaintMs = 25;

    // Scrolling on its own while a drag selection is past an edge: first
    // after this long, then faster the further out, as Qt's text widgets do
    // (this divided by the square of the distance in pixels).
    static constexpr int AutoScrollFirstMs = 100;
    static constexpr int AutoScrollPace = 4900;
    // A drop hovering this close to an edge scrolls the view.
    static constexpr int AutoScrollDropMargin = 20;

Q_SIGNALS:
    // The box was full and is no longer: after an edit that removed text, or
    // once compression has caught up.
    void roomAvailable();
    // An edit of the user's was refused, whole: the text would have gone
    // past the memory budget.
    void editRefused();
    // Another program (or a paste here) asked for copied or dragged text
    // that the process has no memory left to produce; it got nothing. Once
    // for each copy, however often it is asked for. Always queued: it never
    // comes inside the platform's clipboard handling.
    void transferRefused(qsizetype characters);
    // Something the user did failed (out of memory on a paste, say), or a
    // call from assistive technology or the platform failed and was
    // answered with nothing. Always from the event loop, and once for a
    // burst: failures while one is waiting to be told, or while its
    // receivers run, are dropped (WidgetGuard).
    void actionFailed(const ErrorReport &failure);

protected:
    bool event(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;
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
    void timerEvent(QTimerEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    friend class TextBoxAccessible;

    using Move = EditableText::Move;
    // What a key the box takes does to it.
    using KeyAction = void (*)(TextBox &box, const QKeyEvent &event);

    // The one table of keys: null for a key the box leaves to others (the
    // window's shortcuts, focus keys).
    static KeyAction keyAction(const QKeyEvent &event);
    static void lineBreakKey(TextBox &box, const QKeyEvent &event);
    template<Move move, bool extendSelection>
    static void moveKey(TextBox &box, const QKeyEvent &event);
    // Delete, Backspace and their word forms.
    template<EditableText::Change (EditableText::*remove)(bool), bool forward>
    static void removeKey(TextBox &box, const QKeyEvent &event);
    void moveCursor(Move move, bool extendSelection);

    // What event() and viewportEvent() do, inside the catch point.
    bool boxEvent(QEvent *event);
    QVariant inputMethodAnswer(Qt::InputMethodQuery query) const;

    // Runs an edit of the content on a copy, which takes the content's place
    // only once the edit is complete: an edit that fails part of the way
    // (the model's operations do not undo what they did before a failure)
    // leaves the content as it was. Returns what it changed, to be shown.
    template<typename Edit>
    auto edited(Edit edit);
    // Whether an edit adding `bytes` of storage fits in the budget; says so
    // when not.
    bool roomFor(qsizetype bytes);
    // Puts the text a clipboard or a drop holds in place of the selection,
    // or at `position` (a drop's) when one is given, unless the budget
    // refuses it; whether it did. Text copied in this process is shared,
    // not copied.
    bool insertFrom(const QMimeData *mimeData, std::optional<qsizetype> position = std::nullopt);
    // The selection, as the clipboard and drags take it.
    TextMimeData *selectionData() const;
    // Offers the selection to the platform's selection clipboard, after the
    // user selected something.
    void offerSelection();
    void startDrag();
    void restartCaretBlink();
    void autoScroll();
    // Ends an input method's composition: it commits, or is dropped.
    void commitPreedit();

    // Shows what an operation changed: scroll bars, repaint, the caret in
    // view, the input method and assistive technology.
    void showChange(const EditableText::Change &change);
    void showAppend(const EditableText::Change &change);

    QRect cursorRect() const;
    // The caret's rectangle at `position`, `extraColumns` further right.
    QRect caretRectAt(qsizetype position, qsizetype extraColumns) const;
    int visibleRows() const;
    // Whole columns in view. The view scrolls sideways by columns, so that a
    // line of any length can be scrolled to its end.
    int visibleColumns() const;
    // The sideways scroll in pixels.
    qreal scrollX() const;
    void ensureCursorVisible();
    void ensureVisible(qsizetype position, qsizetype extraColumns);
    void updateMetrics();
    void updateScrollBars();
    // Appends are shown together: the lines still in view are moved by a
    // scroll, and only what changed from the first new character on is drawn.
    void repaintForAppend(qsizetype line, qsizetype column);
    void showAppended();
    void drawFocusFrame();

    // First, so that it is the last to go: Qt may call in until then. It
    // notes failures even for the box's queries, which are const.
    mutable WidgetGuard m_guard;
    // The scroll area's own bars, which it owns.
    ScrollBar *m_verticalBar = nullptr;
    ScrollBar *m_horizontalBar = nullptr;
    EditableText m_content;
    TextPainter m_painter;
    // An input method's composition in progress: shown at the caret, not
    // content.
    QString m_preedit;
    qsizetype m_preeditCursor = 0;
    // The input method's clause formats, over the composition.
    QList<QTextLayout::FormatRange> m_preeditFormats;
    // The caret blinks while the box has the focus; it shows after every
    // keystroke and click.
    QBasicTimer m_caretBlink;
    bool m_caretShown = true;
    // While a drag selection is past an edge, or a drop hovers near one.
    QBasicTimer m_autoScroll;
    QPoint m_autoScrollPoint;
    // A press within this long of a double click, near it, is a triple click.
    QBasicTimer m_tripleClick;
    QPoint m_tripleClickPoint;
    // A press in the selection may start a drag of it rather than a new
    // selection, once the pointer moves far enough.
    bool m_mightStartDrag = false;
    QPoint m_dragStartPoint;
    // Where a drop would go, shown as a caret while a drag hovers (-1: none).
    qsizetype m_dropPosition = -1;
    int m_caretWidth = 1;
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
    MemoryBudget m_memory;
};

template<typename Edit>
auto TextBox::edited(Edit edit)
{
    // The copy shares the text, its index and the history's values: it
    // costs a few references per undo step, not the characters.
    EditableText working = m_content;
    auto changes = edit(working);
    static_assert(std::is_nothrow_move_assignable_v<EditableText>, "taking the copy's place must not fail half-way");
    m_content = std::move(working);
    return changes;
}
