#pragma once

#include "TextValue.h"

#include <utility>
#include <vector>

// Where each line of a text starts and where its tabs are, for a text whose
// line breaks are "\r\n", a lone "\r" and a lone "\n", each one break; from
// these, the screen column of every position and the width of the widest
// line, which sets the horizontal extent.
//
// Columns: every character takes one cell except a tab, which reaches to the
// next multiple of TabWidth. A line without tabs (the common case) maps
// column to offset directly; on a line with tabs a mapping walks only that
// line's tabs before the position, found by a binary search.
//
// It holds positions only, never the characters: every call that needs them
// is given the text the index describes, and the owner keeps the two in step.
// After a change of the text, exactly one of rebuild(), replace() or append()
// brings the index up to date; between changes every query is cheap (lookups
// and binary searches), whatever the size of the text.
//
// A text always has at least one line; a text ending in a break ends with an
// empty line. A "\r" at the end that a later change follows with "\n" turns
// into one "\r\n" break, exactly as if the text had been indexed whole.
class LineIndex
{
public:
    static constexpr qsizetype TabWidth = 8;

    // Indexes a whole text from scratch: O(length).
    void rebuild(const TextValue &text);

    // The characters [from, from + removed) of the previous text were replaced
    // by the characters [from, from + inserted) of `text`. Costs the inserted
    // length plus moving the later line starts and tabs; the widest width is
    // kept incrementally unless the change may have narrowed the widest line.
    void replace(const TextValue &text, qsizetype from, qsizetype removed, qsizetype inserted);

    // `text` is the previous text (`oldSize` characters) with more appended:
    // costs the appended length only.
    void append(const TextValue &text, qsizetype oldSize);

    qsizetype lineCount() const { return static_cast<qsizetype>(m_starts.size()); }
    qsizetype lineStart(qsizetype line) const;
    // Where the line's characters end: at its break, or at the end of the text.
    qsizetype lineEnd(const TextValue &text, qsizetype line) const;
    // The line holding `position`; a position on a line start belongs to
    // that line, so the end of a line's characters still belongs to it.
    qsizetype lineAt(qsizetype position) const;

    // The screen column of `position`, which lies on `line`.
    qsizetype columnOf(qsizetype line, qsizetype position) const;
    // The line's width in columns: the column of its end.
    qsizetype lineWidth(const TextValue &text, qsizetype line) const;
    // The caret position on `line` nearest to the (fractional) column:
    // within a cell, the nearer of its two edges.
    qsizetype positionNear(const TextValue &text, qsizetype line, double column) const;
    // The position of the character whose cell holds `column`, or the line's
    // end past it.
    qsizetype positionCovering(const TextValue &text, qsizetype line, qsizetype column) const;
    qsizetype widestLineWidth() const { return m_widest; }

    const std::vector<qsizetype> &lineStarts() const { return m_starts; }
    const std::vector<qsizetype> &tabPositions() const { return m_tabs; }

    static qsizetype nextTabStop(qsizetype column) { return (column / TabWidth + 1) * TabWidth; }
    // Whether a line starts at `position` of `text` (always true at 0).
    static bool isLineStart(const TextValue &text, qsizetype position);
    // Whether `position` falls between the two characters of a "\r\n".
    static bool splitsBreak(const TextValue &text, qsizetype position);

private:
    qsizetype widestOf(const TextValue &text, qsizetype firstLine, qsizetype lastLine) const;
    // The tabs at positions [from, to), as a range of m_tabs.
    std::pair<std::vector<qsizetype>::const_iterator, std::vector<qsizetype>::const_iterator>
    tabsBetween(qsizetype from, qsizetype to) const;

    std::vector<qsizetype> m_starts{0};
    std::vector<qsizetype> m_tabs;
    qsizetype m_widest = 0;
};
