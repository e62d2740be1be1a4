#include "LineIndex.h"

#include <algorithm>

namespace {

// Appends to `starts` every line start p with low <= p <= high (low >= 1).
// A start at p depends only on the characters at p - 1 and p.
void collectStarts(QStringView text, qsizetype low, qsizetype high, std::vector<qsizetype> &starts)
{
    const qsizetype size = text.size();
    for (qsizetype i = low - 1; i < high; ++i) {
        const QChar c = text[i];
        if (c == u'\n' || (c == u'\r' && (i + 1 == size || text[i + 1] != u'\n')))
            starts.push_back(i + 1);
    }
}

} // namespace

bool LineIndex::isLineStart(QStringView text, qsizetype position)
{
    if (position <= 0)
        return true;
    const QChar before = text[position - 1];
    return before == u'\n'
        || (before == u'\r' && (position == text.size() || text[position] != u'\n'));
}

bool LineIndex::splitsBreak(QStringView text, qsizetype position)
{
    return position > 0 && position < text.size() && text[position - 1] == u'\r'
        && text[position] == u'\n';
}

void LineIndex::rebuild(QStringView text)
{
    m_starts.assign(1, 0);
    collectStarts(text, 1, text.size(), m_starts);
    m_longest = longestOf(text, 0, lineCount() - 1);
}

void LineIndex::append(QStringView text, qsizetype oldSize)
{
    replace(text, oldSize, 0, text.size() - oldSize);
}

void LineIndex::replace(QStringView text, qsizetype from, qsizetype removed, qsizetype inserted)
{
    const qsizetype oldSize = text.size() - inserted + removed;
    const bool appending = removed == 0 && from == oldSize;

    // The starts that can change lie from `from` to the end of the changed
    // range, inclusive (old positions before, new positions after); the ones
    // further on only move by the change in length.
    const qsizetype low = std::max<qsizetype>(from, 1);
    const auto first = std::lower_bound(m_starts.begin(), m_starts.end(), low);
    const auto last = std::upper_bound(first, m_starts.end(), from + removed);
    const qsizetype delta = inserted - removed;
    for (auto it = last; it != m_starts.end(); ++it)
        *it += delta;

    std::vector<qsizetype> fresh;
    collectStarts(text, low, std::min(from + inserted, text.size()), fresh);
    const bool sameCount = static_cast<std::size_t>(last - first) == fresh.size();
    const auto at = m_starts.erase(first, last);
    m_starts.insert(at, fresh.begin(), fresh.end());

    const qsizetype changedLongest = longestOf(text, lineAt(std::max<qsizetype>(from - 1, 0)),
                                               lineAt(std::min(from + inserted, text.size())));
    // An append or an insertion that leaves the lines as they were only
    // lengthens lines; anything else may have shortened the longest one,
    // which only a look at every line can tell.
    const bool mayHaveShortened = !appending && (removed > 0 || !sameCount);
    if (changedLongest >= m_longest)
        m_longest = changedLongest;
    else if (mayHaveShortened)
        m_longest = longestOf(text, 0, lineCount() - 1);
}

qsizetype LineIndex::lineStart(qsizetype line) const
{
    return m_starts[static_cast<std::size_t>(line)];
}

qsizetype LineIndex::lineEnd(QStringView text, qsizetype line) const
{
    if (line + 1 >= lineCount())
        return text.size();
    const qsizetype next = lineStart(line + 1);
    const bool crlf = next >= 2 && text[next - 1] == u'\n' && text[next - 2] == u'\r';
    return next - (crlf ? 2 : 1);
}

qsizetype LineIndex::lineLength(QStringView text, qsizetype line) const
{
    return lineEnd(text, line) - lineStart(line);
}

qsizetype LineIndex::lineAt(qsizetype position) const
{
    const auto after = std::upper_bound(m_starts.begin(), m_starts.end(), position);
    return std::max<qsizetype>(after - m_starts.begin() - 1, 0);
}

qsizetype LineIndex::longestOf(QStringView text, qsizetype firstLine, qsizetype lastLine) const
{
    qsizetype longest = 0;
    for (qsizetype line = firstLine; line <= lastLine; ++line)
        longest = std::max(longest, lineLength(text, line));
    return longest;
}
