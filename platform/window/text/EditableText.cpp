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

} // namespace

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
        m_wordStart = m_wordEnd = 0;
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

void EditableText::setCaret(qsizetype position, bool extendSelection)
{
    position = clamped(position);
    if (LineIndex::splitsBreak(m_text, position))
        --position;
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
    }
    const qsizetype goal = m_goalColumn;
    setCaret(target, extendSelection);
    if (vertical)
        m_goalColumn = goal;
    return noted({.caretPlaced = true}, before);
}

EditableText::Change EditableText::replaceSelection(const QString &replacement, Step step)
{
    return replaceRange(selectionStart(), selectionEnd(), replacement, step);
}

EditableText::Change EditableText::replaceRange(qsizetype from, qsizetype to, const QString &replacement,
                                                Step step)
{
    from = clamped(from);
    to = std::clamp(to, from, size());
    if (from == to && replacement.isEmpty())
        return {};
    const Caret before = caret();
    EditHistory::Edit edit{.position = from,
                           .removed = m_text.slice(from, to - from),
                           .inserted = TextValue(replacement),
                           .cursorBefore = m_cursor,
                           .anchorBefore = m_anchor};
    Change done = change(from, to - from, edit.inserted);
    m_history.record(std::move(edit), step == Step::Typing);
    m_cursor = m_anchor = afterBreak(from + replacement.size());
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
    std::tie(m_wordStart, m_wordEnd) = wordAt(clamped(position));
    m_drag = Drag::Words;
    return setSelection(m_wordStart, m_wordEnd);
}

EditableText::Change EditableText::dragTo(qsizetype position)
{
    if (m_drag == Drag::Characters)
        return placeCursor(position, true);
    if (m_drag == Drag::None)
        return {};
    // By words, never giving up the word first double-clicked.
    const auto [first, last] = wordAt(clamped(position));
    if (first < m_wordStart)
        return setSelection(m_wordEnd, first);
    return setSelection(m_wordStart, std::max(last, m_wordEnd));
}

std::pair<qsizetype, qsizetype> EditableText::wordAt(qsizetype position) const
{
    position = clamped(position);
    const qsizetype line = m_lines.lineAt(position);
    const qsizetype start = m_lines.lineStart(line);
    const qsizetype end = m_lines.lineEnd(line);
    qsizetype inside = position;
    if (inside == end || wordClassOf(m_text.at(inside)) == WordClass::Space)
        --inside;
    if (inside < start || wordClassOf(m_text.at(inside)) == WordClass::Space)
        return {position, position};
    const WordClass kind = wordClassOf(m_text.at(inside));
    qsizetype first = inside;
    while (first > start && wordClassOf(m_text.at(first - 1)) == kind)
        --first;
    qsizetype last = inside + 1;
    while (last < end && wordClassOf(m_text.at(last)) == kind)
        ++last;
    return {first, last};
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
