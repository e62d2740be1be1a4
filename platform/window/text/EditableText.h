#pragma once

#include "EditHistory.h"
#include "LineIndex.h"
#include "TextValue.h"

#include <QtCore/QString>

#include <algorithm>
#include <utility>

// The content of a multi-line text box and everything the user does to it,
// without a widget: the text and its line index, the caret, the selection's
// anchor, the column Up and Down aim for, a mouse drag in progress and the
// undo history, with every operation on them.
//
// Positions count characters (UTF-16 code units) from the start of the
// content, 0 to its length; every operation clamps the positions it is given
// to that range. The caret and the anchor never rest between the "\r" and the
// "\n" of a break, and the caret never on the second half of a surrogate pair
// when moved by line or pointed at.
//
// Words and lines are edited as Qt's QPlainTextEdit does under X11, one of
// our lines standing for one of its blocks. A word move goes over a run of
// word separators (ASCII punctuation but "_") or a run of other characters
// that are not white space, and then over white space after it (forward) or
// before it (backward); at a line's end or start it goes over the break
// instead, "\r\n" whole. Words never reach across a break, and no word
// rule splits a surrogate pair. Scans for words read the text in blocks of
// ScanBlock characters outward from where they start, never a character at a
// time: a received line can be hundreds of megabytes long.
//
// Each operation returns a Change saying what it did, so the view repaints,
// scrolls and tells assistive technology in one place. Nothing here knows of
// fonts, pixels, keys or the clipboard: a page move is given the page in
// lines, a pointer position is given as a text position, and text to paste
// comes in as a string.
//
// What the user edits is recorded for undo. A set of the whole content that
// extends it (the content as read, followed by more) is an append: the
// caret, the selection and the history stay, since an append moves no
// earlier position. Any other set replaces everything: the caret goes to the
// end, and the history, the goal column and any drag are dropped.
class EditableText
{
public:
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
        // Ctrl+Left and Ctrl+Right: to the start of the word before the
        // caret, or past the word at or after it and the white space that
        // follows. They move from the caret even with a selection: without
        // `extendSelection` the selection is dropped, not collapsed to one
        // of its ends.
        PreviousWord,
        NextWord,
    };

    // Typed characters in a row (and an input method's commits) make one
    // undo step; any other edit is a step of its own.
    enum class Step { Typing, Other };

    // What an operation did.
    struct Change
    {
        // The characters [position, position + removed) of `before` were
        // replaced by [position, position + inserted) of the content.
        qsizetype position = 0;
        qsizetype removed = 0;
        qsizetype inserted = 0;
        // The content before the operation; values share their characters,
        // so keeping it costs nothing.
        TextValue before;
        // The first line and column whose characters on screen changed.
        qsizetype line = 0;
        qsizetype column = 0;
        // The content gained or lost lines.
        bool linesChanged = false;
        // The change was an append: everything before `position` is as it was.
        bool appended = false;
        // Every earlier position lost its meaning: the content was replaced.
        bool replaced = false;
        // The operation put the caret somewhere, maybe where it was: the
        // view brings it into sight.
        bool caretPlaced = false;
        bool caretMoved = false;
        bool selectionChanged = false;

        bool textChanged() const { return removed > 0 || inserted > 0; }
        QString removedText() const { return before.mid(position, removed); }
    };

    const TextValue &text() const { return m_text; }
    const LineIndex &lines() const { return m_lines; }
    qsizetype size() const { return m_text.size(); }

    qsizetype cursor() const { return m_cursor; }
    qsizetype anchor() const { return m_anchor; }
    qsizetype selectionStart() const { return std::min(m_cursor, m_anchor); }
    qsizetype selectionEnd() const { return std::max(m_cursor, m_anchor); }
    bool hasSelection() const { return m_cursor != m_anchor; }
    QString selectedText() const;
    bool allSelected() const { return selectionStart() == 0 && selectionEnd() == size(); }

    // The screen column of a position, a tab reaching the next stop.
    qsizetype column(qsizetype position) const;
    qsizetype lineAtCaret() const { return m_lines.lineAt(m_cursor); }
    // The caret position on `line` nearest to a (fractional) column, never
    // on the second half of a surrogate pair: where a pointer lands.
    qsizetype positionNear(qsizetype line, double column) const;

    Change setText(const TextValue &text);

    // Moves the caret; with `extendSelection` the anchor stays where it is.
    Change placeCursor(qsizetype position, bool extendSelection);
    Change setSelection(qsizetype anchor, qsizetype cursor);
    Change selectAll();
    // A page is `pageLines` lines.
    Change move(Move move, bool extendSelection, qsizetype pageLines);

    // A replacement given as a value shares its characters: pasting what
    // was copied from the content costs no copy of it.
    Change replaceSelection(const TextValue &replacement, Step step = Step::Other);
    Change replaceRange(qsizetype from, qsizetype to, const TextValue &replacement, Step step);
    Change removeSelection();
    // Moves the selection's characters to `destination` (a position of the
    // content as it is now), as a drag and drop within the box does, in one
    // undo step; the caret goes after them and the selection is gone.
    // Nothing happens for a destination inside the selection or on its
    // edges.
    Change moveSelection(qsizetype destination);
    // Backspace (backward) and Delete (forward): the selection if there is
    // one, else the character or the "\r\n" beside the caret.
    Change removeAround(bool forward);
    // Ctrl+Backspace (backward) and Ctrl+Delete (forward): the selection if
    // there is one, else from the caret to where Move::PreviousWord or
    // Move::NextWord would take it, so at a line's start or end the break.
    // An undo step of its own.
    Change removeWord(bool forward);
    // Ctrl+K: from the anchor to the end of the caret's line's characters,
    // the break staying. Without a selection that is the rest of the line,
    // and at its end nothing. With one it is what lies between the anchor
    // and that end, whichever side the anchor is on: an anchor further down
    // takes what follows the line up to it, and what the selection held of
    // the caret's line stays. An undo step of its own.
    Change removeToEndOfLine();

    bool canUndo() const { return m_history.canUndo(); }
    bool canRedo() const { return m_history.canRedo(); }
    // Lets go of every step, and of the text the steps removed.
    void forgetHistory() { m_history.clear(); }
    Change undo();
    Change redo();

    // The mouse: a press places the caret (Shift extends) and starts a drag
    // by characters; a double-click selects the word there and starts a drag
    // by words, which never gives up the word first double-clicked.
    //
    // A triple click selects the whole line at `position` with its break
    // ("\r\n" whole; the last line has none), the anchor at the line's
    // start and the caret after the break, and starts a drag by lines, which
    // never gives up that line: dragged above it, the selection runs from
    // the start of the line pointed at to after the first line's break
    // (the caret at the start); below it, from the first line's start to
    // after the break of the line pointed at. Pointing anywhere from the
    // first line's start to just after its break selects it alone. The
    // widget decides when a press is a triple click.
    Change press(qsizetype position, bool extendSelection);
    Change doubleClick(qsizetype position);
    Change tripleClick(qsizetype position);
    Change dragTo(qsizetype position);
    void release() { m_drag = Drag::None; }
    bool dragging() const { return m_drag != Drag::None; }

    // The word [first, last) around `position`: a run of letters, digits,
    // marks and underscores, or of other characters that are not space;
    // empty on space. A position just after a word's last character is in it.
    std::pair<qsizetype, qsizetype> wordAt(qsizetype position) const;

    // The part of the caret's line an input method is told about: the line,
    // up to SurroundingReach characters either side of the caret (it asks
    // often, and a received line can be megabytes long).
    std::pair<qsizetype, qsizetype> surroundingRange() const;
    static constexpr qsizetype SurroundingReach = 1024;

    // How many characters a scan for words reads at a time.
    static constexpr qsizetype ScanBlock = 4096;

private:
    enum class Drag { None, Characters, Words, Lines };

    // Puts `inserted` in place of [from, from + removed) of the content and
    // brings the index up to date; the caller places the caret.
    Change change(qsizetype from, qsizetype removed, const TextValue &inserted);
    struct Caret
    {
        qsizetype cursor = 0;
        qsizetype anchor = 0;
    };
    Caret caret() const { return {m_cursor, m_anchor}; }
    // Fills in what happened to the caret and the selection since `before`.
    Change noted(Change change, Caret before) const;
    qsizetype clamped(qsizetype position) const { return std::clamp<qsizetype>(position, 0, size()); }
    // Moves a position off the middle of a "\r\n" that a change made.
    qsizetype afterBreak(qsizetype position) const;
    // Clamps a position given from outside and moves it off the middle of a
    // "\r\n", to before the break.
    qsizetype offBreak(qsizetype position) const;
    qsizetype snapToCharacter(qsizetype position) const;
    qsizetype previousPosition(qsizetype position) const;
    qsizetype nextPosition(qsizetype position) const;
    // Where a vertical move to `line` puts the caret: the goal column's place.
    qsizetype onLine(qsizetype line);
    void setCaret(qsizetype position, bool extendSelection);
    // The scans for words: from `from` towards `limit`, the first position
    // forward (the last backward) at which a character fails `keep`, or
    // `limit`. Forward reads [from, limit), backward [limit, from), a block
    // of ScanBlock characters at a time, the nearest first.
    template<typename Keep>
    qsizetype scanForward(qsizetype from, qsizetype limit, Keep keep) const;
    template<typename Keep>
    qsizetype scanBackward(qsizetype from, qsizetype limit, Keep keep) const;
    // Where the line after `line` starts, after its break; for the last
    // line, the end of the text.
    qsizetype afterLine(qsizetype line) const;
    // Where Move::PreviousWord and Move::NextWord take a caret at `position`.
    qsizetype wordBefore(qsizetype position) const;
    qsizetype wordAfter(qsizetype position) const;

    TextValue m_text;
    LineIndex m_lines;
    EditHistory m_history;
    qsizetype m_cursor = 0;
    qsizetype m_anchor = 0;
    // The column Up and Down aim for, kept across lines too short to reach it.
    qsizetype m_goalColumn = -1;
    Drag m_drag = Drag::None;
    // The word a double-click selected, or the line (with its break) a
    // triple click did, which a drag after it keeps selected.
    qsizetype m_heldStart = 0;
    qsizetype m_heldEnd = 0;
};
