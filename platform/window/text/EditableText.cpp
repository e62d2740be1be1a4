#include "EditableText.h"

#include <algorithm>
#include <tuple>
#include <utility>

namespace {

// How a double-click groups characters into words; space groups nothing.
enum class WordClass { Space, Word, Other };

WordClass wordClassOf(QChar c)
{
    if (c.isSpace())
        return WordClass::Space;
    if (c.isLetterOrNumber() || c.isMark() || c == u'_')
        return WordClass::Word;
    return WordClass::Other;
}

// How Qt's text layout moves by words (QTextEngine::atWordSeparator, and the
// white-space attribute QTextLayout::nextCursorPosition and
// previousCursorPosition skip): a run of separators is a word, and so is a
// run of anything else that is not white space.
bool isWordSeparator(QChar c)
{
    switch (c.unicode()) {
    case u'.': case u',': case u'?': case u'!': case u'@': case u'#': case u'$': case u':':
    case u';': case u'-': case u'<': case u'>': case u'[': case u']': case u'(': case u')':
    case u'{': case u'}': case u'=': case u'/': case u'+': case u'%': case u'&': case u'^':
    case u'*': case u'\'': case u'"': case u'`': case u'~': case u'|': case u'\\':
        return true;
    default:
        return false;
    }
}

// Qt sets it from the code point, on a pair's second half; no character
// beyond U+FFFF is white space, so either half of a pair is not.
bool isWhiteSpace(QChar c)
{
    return c.isSpace();
}

bool isWordCharacter(QChar c)
{
    return !isWhiteSpace(c) && !isWordSeparator(c);
}

} // namespace

template<typename Keep>
qsizetype EditableText::scanForward(qsizetype from, qsizetype limit, Keep keep) const
{
    while (from < limit) {
        const qsizetype length = std::min(ScanBlock, limit - from);
        const QString block = m_text.mid(from, length);
        for (qsizetype i = 0; i < length; ++i) {
            if (!keep(block.at(i)))
                return from + i;
        }
        from += length;
    }
    return limit;
}

template<typename Keep>
qsizetype EditableText::scanBackward(qsizetype from, qsizetype limit, Keep keep) const
{
    while (from > limit) {
        const qsizetype length = std::min(ScanBlock, from - limit);
        const QString block = m_text.mid(from - length, length);
        for (qsizetype i = length; i > 0; --i) {
            if (!keep(block.at(i - 1)))
                return from - length + i;
        }
        from -= length;
    }
    return limit;
}

QString EditableText::selectedText() const
{
    return m_text.mid(selectionStart(), selectionEnd() - selectionStart());
}

qsizetype EditableText::column(qsizetype position) const
{
    return m_lines.columnOf(m_lines.lineAt(position), position);
}

EditableText::Change EditableText::setText(const TextValue &text)
{
    const Caret before = caret();
    Change change{.position = 0, .removed = m_text.size(), .inserted = text.size(), .before = m_text};
    const qsizetype oldLineCount = m_lines.lineCount();
    if (text.extends(m_text)) {
        const qsizetype oldSize = m_text.size();
        change.position = oldSize;
        change.removed = 0;
        change.inserted = text.size() - oldSize;
        if (change.inserted == 0)
            return change;
        change.appended = true;
        m_text = text;
        m_lines = LineIndex(m_text);
        // A trailing "\r" that the append turned into a "\r\n": a caret after
        // it goes after the whole break, on the line it was on.
        m_cursor = afterBreak(m_cursor);
        m_anchor = afterBreak(m_anchor);
        // What was the last line changes from where the text ended; when the
        // append only completed its "\r\n", from the start of the line after.
        change.line = oldLineCount - 1;
        const qsizetype lineStart = m_lines.lineStart(change.line);
        change.column = oldSize >= lineStart ? m_lines.columnOf({.start = lineStart}, oldSize) : 0;
    } else {
        change.replaced = true;
        change.caretPlaced = true;
        m_text = text;
        m_lines = LineIndex(m_text);
        m_cursor = m_anchor = m_text.size();
        m_goalColumn = -1;
        // Positions recorded in another text mean nothing in this one.
        m_history.clear();
        m_drag = Drag::None;
        m_heldStart = m_heldEnd = 0;
    }
    change.linesChanged = m_lines.lineCount() != oldLineCount;
    return noted(std::move(change), before);
}

EditableText::Change EditableText::placeCursor(qsizetype position, bool extendSelection)
{
    const Caret before = caret();
    setCaret(position, extendSelection);
    return noted({.caretPlaced = true}, before);
}

qsizetype EditableText::offBreak(qsizetype position) const
{
    position = clamped(position);
    return LineIndex::splitsBreak(m_text, position) ? position - 1 : position;
}

void EditableText::setCaret(qsizetype position, bool extendSelection)
{
    position = offBreak(position);
    m_cursor = position;
    if (!extendSelection)
        m_anchor = position;
    m_goalColumn = -1;
    m_history.closeStep();
}

EditableText::Change EditableText::setSelection(qsizetype anchor, qsizetype cursor)
{
    const Caret before = caret();
    setCaret(anchor, false);
    setCaret(cursor, true);
    return noted({.caretPlaced = true}, before);
}

EditableText::Change EditableText::selectAll()
{
    const Caret before = caret();
    m_anchor = 0;
    m_cursor = size();
    m_history.closeStep();
    return noted({}, before);
}

qsizetype EditableText::onLine(qsizetype line)
{
    if (m_goalColumn < 0)
        m_goalColumn = column(m_cursor);
    return positionNear(line, static_cast<double>(m_goalColumn));
}

qsizetype EditableText::positionNear(qsizetype line, double column) const
{
    const qsizetype target = std::clamp<qsizetype>(line, 0, m_lines.lineCount() - 1);
    return snapToCharacter(m_lines.positionNear(target, std::max(column, 0.0)));
}

EditableText::Change EditableText::move(Move move, bool extendSelection, qsizetype pageLines)
{
    const Caret before = caret();
    const qsizetype line = lineAtCaret();
    const bool collapse = !extendSelection && hasSelection();
    const qsizetype page = std::max<qsizetype>(1, pageLines);
    qsizetype target = m_cursor;
    bool vertical = false;
    switch (move) {
    case Move::PreviousCharacter:
        target = collapse ? selectionStart() : previousPosition(m_cursor);
        break;
    case Move::NextCharacter:
        target = collapse ? selectionEnd() : nextPosition(m_cursor);
        break;
    case Move::PreviousLine:
        vertical = true;
        target = line == 0 ? 0 : onLine(line - 1);
        break;
    case Move::NextLine:
        vertical = true;
        target = line + 1 == m_lines.lineCount() ? size() : onLine(line + 1);
        break;
    case Move::PreviousPage:
        vertical = true;
        target = onLine(line - page);
        break;
    case Move::NextPage:
        vertical = true;
        target = onLine(line + page);
        break;
    case Move::StartOfLine:
        target = m_lines.lineStart(line);
        break;
    case Move::EndOfLine:
        target = m_lines.lineEnd(line);
        break;
    case Move::StartOfText:
        target = 0;
        break;
    case Move::EndOfText:
        target = size();
        break;
    // From the caret, whatever the selection, as QTextCursor moves by words.
    case Move::PreviousWord:
        target = wordBefore(m_cursor);
        break;
    case Move::NextWord:
        target = wordAfter(m_cursor);
        break;
    }
    const qsizetype goal = m_goalColumn;
    setCaret(target, extendSelection);
    if (vertical)
        m_goalColumn = goal;
    return noted({.caretPlaced = true}, before);
}

EditableText::Change EditableText::replaceSelection(const TextValue &replacement, Step step)
{
    return replaceRange(selectionStart(), selectionEnd(), replacement, step);
}

EditableText::Change EditableText::replaceRange(qsizetype from, qsizetype to, const TextValue &replacement,
                                                Step step)
{
    from = clamped(from);
    to = std::clamp(to, from, size());
    if (from == to && replacement.isEmpty())
        return {};
    const Caret before = caret();
    EditHistory::Edit edit{.position = from,
                           .removed = m_text.slice(from, to - from),
                           .inserted = replacement,
                           .cursorBefore = m_cursor,
                           .anchorBefore = m_anchor};
    Change done = change(from, to - from, edit.inserted);
    m_history.record(std::move(edit), step == Step::Typing);
    m_cursor = m_anchor = afterBreak(from + replacement.size());
    return noted(std::move(done), before);
}

EditableText::Change EditableText::moveSelection(qsizetype destination)
{
    const qsizetype start = selectionStart();
    const qsizetype end = selectionEnd();
    destination = clamped(destination);
    if (start == end || (destination >= start && destination <= end))
        return {};
    const Caret before = caret();
    const qsizetype length = end - start;
    const TextValue moved = m_text.slice(start, length);
    // One step: the stretch from the first place touched to the last,
    // written anew with the characters at their new place; all of it shared.
    const bool backward = destination < start;
    const qsizetype from = backward ? destination : start;
    const qsizetype to = backward ? end : destination;
    const TextValue passed = backward ? m_text.slice(destination, start - destination)
                                      : m_text.slice(end, destination - end);
    const TextValue rearranged = backward ? moved.replaced(length, 0, passed) : passed.replaced(passed.size(), 0, moved);
    Change done = replaceRange(from, to, rearranged, Step::Other);
    m_cursor = m_anchor = afterBreak(backward ? destination + length : destination);
    return noted(std::move(done), before);
}

EditableText::Change EditableText::removeSelection()
{
    if (!hasSelection())
        return {};
    return replaceSelection(QString());
}

EditableText::Change EditableText::removeAround(bool forward)
{
    if (hasSelection())
        return removeSelection();
    const qsizetype other = forward ? nextPosition(m_cursor) : previousPosition(m_cursor);
    return replaceRange(std::min(m_cursor, other), std::max(m_cursor, other), QString(), Step::Other);
}

EditableText::Change EditableText::removeWord(bool forward)
{
    if (hasSelection())
        return removeSelection();
    const qsizetype other = forward ? wordAfter(m_cursor) : wordBefore(m_cursor);
    return replaceRange(std::min(m_cursor, other), std::max(m_cursor, other), QString(), Step::Other);
}

EditableText::Change EditableText::removeToEndOfLine()
{
    // QWidgetTextControl keeps the anchor and moves the caret to the end of
    // its block, by QTextCursor::EndOfBlock, or by QTextCursor::Right when
    // the caret is at block.length() - 2: one character before the end,
    // since a block's length counts its separator as one character, and
    // Right from there ends at the end too. Whether our break is one
    // character or two, the caret goes to the end of its line's characters.
    const qsizetype end = m_lines.lineEnd(lineAtCaret());
    return replaceRange(std::min(m_anchor, end), std::max(m_anchor, end), QString(), Step::Other);
}

qsizetype EditableText::wordAfter(qsizetype position) const
{
    position = clamped(position);
    const qsizetype line = m_lines.lineAt(position);
    const qsizetype end = m_lines.lineEnd(line);
    // At a line's end, over the break (QTextDocumentPrivate::nextCursorPosition).
    if (position >= end)
        return afterLine(line);
    // QTextLayout::nextCursorPosition with SkipWords: the run the character
    // at the caret starts, then the white space after it.
    if (isWordSeparator(m_text.at(position)))
        position = scanForward(position + 1, end, isWordSeparator);
    else
        position = scanForward(position, end, isWordCharacter);
    return scanForward(position, end, isWhiteSpace);
}

qsizetype EditableText::wordBefore(qsizetype position) const
{
    position = clamped(position);
    const qsizetype line = m_lines.lineAt(position);
    const qsizetype start = m_lines.lineStart(line);
    // At a line's start, to the end of the line before.
    if (position <= start)
        return line == 0 ? 0 : m_lines.lineEnd(line - 1);
    // QTextLayout::previousCursorPosition with SkipWords: the white space
    // before the caret, then the run that ends where it starts.
    position = scanBackward(position, start, isWhiteSpace);
    if (position > start && isWordSeparator(m_text.at(position - 1)))
        return scanBackward(position - 1, start, isWordSeparator);
    return scanBackward(position, start, isWordCharacter);
}

qsizetype EditableText::afterLine(qsizetype line) const
{
    return line + 1 < m_lines.lineCount() ? m_lines.lineStart(line + 1) : size();
}

EditableText::Change EditableText::undo()
{
    if (!canUndo())
        return {};
    const Caret before = caret();
    const EditHistory::Edit &edit = m_history.undo();
    Q_ASSERT(m_text.slice(edit.position, edit.inserted.size()) == edit.inserted);
    Change done = change(edit.position, edit.inserted.size(), edit.removed);
    m_cursor = afterBreak(std::min(edit.cursorBefore, size()));
    m_anchor = afterBreak(std::min(edit.anchorBefore, size()));
    return noted(std::move(done), before);
}

EditableText::Change EditableText::redo()
{
    if (!canRedo())
        return {};
    const Caret before = caret();
    const EditHistory::Edit &edit = m_history.redo();
    Change done = change(edit.position, edit.removed.size(), edit.inserted);
    m_cursor = m_anchor = afterBreak(edit.position + edit.inserted.size());
    return noted(std::move(done), before);
}

EditableText::Change EditableText::press(qsizetype position, bool extendSelection)
{
    m_drag = Drag::Characters;
    return placeCursor(position, extendSelection);
}

EditableText::Change EditableText::doubleClick(qsizetype position)
{
    std::tie(m_heldStart, m_heldEnd) = wordAt(clamped(position));
    m_drag = Drag::Words;
    return setSelection(m_heldStart, m_heldEnd);
}

EditableText::Change EditableText::tripleClick(qsizetype position)
{
    // QWidgetTextControlPrivate::mousePressEvent: StartOfBlock, then
    // EndOfBlock and NextCharacter keeping the anchor.
    const qsizetype line = m_lines.lineAt(offBreak(position));
    m_heldStart = m_lines.lineStart(line);
    m_heldEnd = afterLine(line);
    m_drag = Drag::Lines;
    return setSelection(m_heldStart, m_heldEnd);
}

EditableText::Change EditableText::dragTo(qsizetype position)
{
    if (m_drag == Drag::Characters)
        return placeCursor(position, true);
    if (m_drag == Drag::None)
        return {};
    position = clamped(position);
    if (m_drag == Drag::Lines) {
        // As QWidgetTextControlPrivate::extendBlockwiseSelection: by lines,
        // never giving up the line first triple-clicked.
        position = offBreak(position);
        if (position >= m_heldStart && position <= m_heldEnd)
            return setSelection(m_heldStart, m_heldEnd);
        const qsizetype line = m_lines.lineAt(position);
        if (position < m_heldStart)
            return setSelection(m_heldEnd, m_lines.lineStart(line));
        return setSelection(m_heldStart, afterLine(line));
    }
    // By words, never giving up the word first double-clicked.
    const auto [first, last] = wordAt(position);
    if (first < m_heldStart)
        return setSelection(m_heldEnd, first);
    return setSelection(m_heldStart, std::max(last, m_heldEnd));
}

std::pair<qsizetype, qsizetype> EditableText::wordAt(qsizetype position) const
{
    // Between the "\r" and the "\n" of a break the position is past its
    // line's end: the word is looked for where the caret would go.
    position = offBreak(position);
    const qsizetype line = m_lines.lineAt(position);
    const qsizetype start = m_lines.lineStart(line);
    const qsizetype end = m_lines.lineEnd(line);
    // The characters either side of the position, in one read.
    const qsizetype from = std::max(start, position - 1);
    const QString around = m_text.mid(from, std::min(end, position + 1) - from);
    const auto classAt = [&](qsizetype at) { return wordClassOf(around.at(at - from)); };
    qsizetype inside = position;
    if (inside == end || classAt(inside) == WordClass::Space)
        --inside;
    if (inside < start || classAt(inside) == WordClass::Space)
        return {position, position};
    const WordClass kind = classAt(inside);
    const auto same = [kind](QChar c) { return wordClassOf(c) == kind; };
    return {scanBackward(inside, start, same), scanForward(inside + 1, end, same)};
}

std::pair<qsizetype, qsizetype> EditableText::surroundingRange() const
{
    const qsizetype line = lineAtCaret();
    return {std::max(m_lines.lineStart(line), m_cursor - SurroundingReach),
            std::min(m_lines.lineEnd(line), m_cursor + SurroundingReach)};
}

EditableText::Change EditableText::change(qsizetype from, qsizetype removed, const TextValue &inserted)
{
    const qsizetype oldLineCount = m_lines.lineCount();
    Change done{.position = from, .removed = removed, .inserted = inserted.size(), .before = m_text,
                .caretPlaced = true};
    m_text = m_text.replaced(from, removed, inserted);
    m_lines = LineIndex(m_text);
    m_goalColumn = -1;
    done.line = m_lines.lineAt(from);
    done.column = column(from);
    done.linesChanged = m_lines.lineCount() != oldLineCount;
    return done;
}

EditableText::Change EditableText::noted(Change change, Caret before) const
{
    change.caretMoved = m_cursor != before.cursor;
    // An empty selection is no selection, wherever the caret is.
    const bool hadSelection = before.cursor != before.anchor;
    change.selectionChanged = (hadSelection || hasSelection())
        && (selectionStart() != std::min(before.cursor, before.anchor)
            || selectionEnd() != std::max(before.cursor, before.anchor));
    return change;
}

qsizetype EditableText::afterBreak(qsizetype position) const
{
    // Removing what stood between a "\r" and a "\n" joins them into one
    // break; the caret goes after it rather than into its middle.
    return LineIndex::splitsBreak(m_text, position) ? position + 1 : position;
}

qsizetype EditableText::snapToCharacter(qsizetype position) const
{
    if (position > 0 && position < size() && m_text.at(position).isLowSurrogate()
        && m_text.at(position - 1).isHighSurrogate())
        return position - 1;
    return position;
}

qsizetype EditableText::previousPosition(qsizetype position) const
{
    if (position <= 0)
        return 0;
    qsizetype previous = position - 1;
    if (previous > 0
        && ((m_text.at(previous) == u'\n' && m_text.at(previous - 1) == u'\r')
            || (m_text.at(previous).isLowSurrogate() && m_text.at(previous - 1).isHighSurrogate())))
        --previous;
    return previous;
}

qsizetype EditableText::nextPosition(qsizetype position) const
{
    if (position >= size())
        return size();
    qsizetype next = position + 1;
    if (next < size()
        && ((m_text.at(position) == u'\r' && m_text.at(next) == u'\n')
            || (m_text.at(position).isHighSurrogate() && m_text.at(next).isLowSurrogate())))
        ++next;
    return next;
}
