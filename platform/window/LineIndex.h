#pragma once

#include <QtCore/QStringView>

#include <vector>

// Where each line of a text starts, for a text whose line breaks are "\r\n",
// a lone "\r" and a lone "\n", each one break. Also the length of the longest
// line (its characters, not its break), which sets the horizontal extent.
//
// It holds positions only, never the characters: every call that needs them
// is given the text the index describes, and the owner keeps the two in step.
// After a change of the text, exactly one of rebuild(), replace() or append()
// brings the index up to date; between changes every query is cheap (lookups
// and a binary search), whatever the size of the text.
//
// A text always has at least one line; a text ending in a break ends with an
// empty line. A "\r" at the end that a later change follows with "\n" turns
// into one "\r\n" break, exactly as if the text had been indexed whole.
class LineIndex
{
public:
    // Indexes a whole text from scratch: O(length).
    void rebuild(QStringView text);

    // The characters [from, from + removed) of the previous text were replaced
    // by the characters [from, from + inserted) of `text`. Costs the inserted
    // length plus moving the later line starts; the longest length is kept
    // incrementally unless the change may have shortened the longest line.
    void replace(QStringView text, qsizetype from, qsizetype removed, qsizetype inserted);

    // `text` is the previous text (`oldSize` characters) with more appended:
    // costs the appended length only.
    void append(QStringView text, qsizetype oldSize);

    qsizetype lineCount() const { return static_cast<qsizetype>(m_starts.size()); }
    qsizetype lineStart(qsizetype line) const;
    // Where the line's characters end: at its break, or at the end of the text.
    qsizetype lineEnd(QStringView text, qsizetype line) const;
    qsizetype lineLength(QStringView text, qsizetype line) const;
    // The line holding `position`; a position on a line start belongs to
    // that line, so the end of a line's characters still belongs to it.
    qsizetype lineAt(qsizetype position) const;
    qsizetype longestLineLength() const { return m_longest; }
    const std::vector<qsizetype> &lineStarts() const { return m_starts; }

    // Whether a line starts at `position` of `text` (always true at 0).
    static bool isLineStart(QStringView text, qsizetype position);
    // Whether `position` falls between the two characters of a "\r\n".
    static bool splitsBreak(QStringView text, qsizetype position);

private:
    qsizetype longestOf(QStringView text, qsizetype firstLine, qsizetype lastLine) const;

    std::vector<qsizetype> m_starts{0};
    qsizetype m_longest = 0;
};
