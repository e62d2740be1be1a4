#pragma once

#include "TextValue.h"

#include <vector>

// The lines of a text, whose line breaks are "\r\n", a lone "\r" and a lone
// "\n", each one break; the screen column of every position and the width of
// the widest line, which sets the horizontal extent.
//
// Columns: every character takes one cell except a tab, which reaches to the
// next multiple of TabWidth.
//
// It keeps nothing of its own: the text's storage knows, for every stretch of
// it, its breaks and how its columns add up, so every lookup here is a
// descent from the root plus a scan of one chunk, whatever the size of the
// text, and an index is made or kept up to date in constant time.
//
// A text always has at least one line; a text ending in a break ends with an
// empty line. A "\r" at the end that a later change follows with "\n" turns
// into one "\r\n" break.
class LineIndex
{
public:
    static constexpr qsizetype TabWidth = 8;

    LineIndex() = default;
    explicit LineIndex(const TextValue &text)
        : m_text(text)
    {
    }

    qsizetype lineCount() const;
    qsizetype lineStart(qsizetype line) const;
    // Where the line's characters end: at its break, or at the end of the text.
    qsizetype lineEnd(qsizetype line) const;
    // The line holding `position`; a position on a line start belongs to
    // that line, so the end of a line's characters still belongs to it.
    qsizetype lineAt(qsizetype position) const;

    // The screen column of `position`, which lies on `line`.
    qsizetype columnOf(qsizetype line, qsizetype position) const;
    // The line's width in columns: the column of its end.
    qsizetype lineWidth(qsizetype line) const;
    // The caret position on `line` nearest to the (fractional) column:
    // within a cell, the nearer of its two edges.
    qsizetype positionNear(qsizetype line, double column) const;
    // The position of the character whose cell holds `column`, or the line's
    // end past it.
    qsizetype positionCovering(qsizetype line, qsizetype column) const;
    qsizetype widestLineWidth() const;

    // Where a line's characters start and end. Finding them is the costly
    // part of a lookup, so a caller asking several things of one line (a
    // painter, for every line it draws) finds them once and passes them on.
    struct Bounds
    {
        qsizetype start = 0;
        qsizetype end = 0;
    };
    Bounds bounds(qsizetype line) const { return {lineStart(line), lineEnd(line)}; }
    qsizetype columnOf(const Bounds &line, qsizetype position) const;
    qsizetype positionCovering(const Bounds &line, qsizetype column) const;

    // Every line start and every tab, found by reading the whole text, not
    // from the storage's summaries: for tests.
    std::vector<qsizetype> lineStarts() const;
    std::vector<qsizetype> tabPositions() const;

    static qsizetype nextTabStop(qsizetype column) { return (column / TabWidth + 1) * TabWidth; }
    // Whether a line starts at `position` of `text` (always true at 0).
    static bool isLineStart(const TextValue &text, qsizetype position);
    // Whether `position` falls between the two characters of a "\r\n".
    static bool splitsBreak(const TextValue &text, qsizetype position);

private:
    TextValue m_text;
};
