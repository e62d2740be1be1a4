#include "LineIndex.h"

#include <algorithm>
#include <cmath>

namespace {

// Appends to `starts` every line start p with max(from, 1) <= p <= to and to
// `tabs` every tab at from <= t < to. A start at p depends only on the
// characters at p - 1 and p, so the scan begins one character early.
void scan(const TextValue &text, qsizetype from, qsizetype to, std::vector<qsizetype> &starts,
          std::vector<qsizetype> &tabs)
{
    const qsizetype size = text.size();
    const qsizetype first = std::max<qsizetype>(from - 1, 0);
    qsizetype i = first;
    text.forEachPiece(first, to, [&](QStringView part) {
        const char16_t *characters = part.utf16();
        const qsizetype count = part.size();
        for (qsizetype k = 0; k < count; ++k, ++i) {
            const char16_t c = characters[k];
            // Everything above "\r" is neither a break nor a tab: one test
            // for almost every character.
            if (c > u'\r')
                continue;
            if (c == u'\n') {
                starts.push_back(i + 1);
            } else if (c == u'\r') {
                const bool last = i + 1 == size;
                const char16_t next = last ? u'\0' : k + 1 < count ? characters[k + 1] : text.at(i + 1).unicode();
                if (last || next != u'\n')
                    starts.push_back(i + 1);
            } else if (c == u'\t' && i >= from) {
                tabs.push_back(i);
            }
        }
    });
}

} // namespace

bool LineIndex::isLineStart(const TextValue &text, qsizetype position)
{
    if (position <= 0)
        return true;
    const QChar before = text.at(position - 1);
    return before == u'\n'
        || (before == u'\r' && (position == text.size() || text.at(position) != u'\n'));
}

bool LineIndex::splitsBreak(const TextValue &text, qsizetype position)
{
    return position > 0 && position < text.size() && text.at(position - 1) == u'\r'
        && text.at(position) == u'\n';
}

void LineIndex::rebuild(const TextValue &text)
{
    m_starts.assign(1, 0);
    m_tabs.clear();
    scan(text, 0, text.size(), m_starts, m_tabs);
    m_widest = widestOf(text, 0, lineCount() - 1);
}

void LineIndex::append(const TextValue &text, qsizetype oldSize)
{
    replace(text, oldSize, 0, text.size() - oldSize);
}

void LineIndex::replace(const TextValue &text, qsizetype from, qsizetype removed, qsizetype inserted)
{
    const qsizetype oldSize = text.size() - inserted + removed;
    const bool appending = removed == 0 && from == oldSize;
    const qsizetype delta = inserted - removed;

    // The starts that can change lie from `from` to the end of the changed
    // range, inclusive (old positions before, new positions after); the ones
    // further on only move by the change in length.
    const qsizetype low = std::max<qsizetype>(from, 1);
    const auto first = std::lower_bound(m_starts.begin(), m_starts.end(), low);
    const auto last = std::upper_bound(first, m_starts.end(), from + removed);
    for (auto it = last; it != m_starts.end(); ++it)
        *it += delta;

    // Tabs only go with the characters removed; the others move.
    const auto firstTab = std::lower_bound(m_tabs.begin(), m_tabs.end(), from);
    const auto lastTab = std::lower_bound(firstTab, m_tabs.end(), from + removed);
    for (auto it = lastTab; it != m_tabs.end(); ++it)
        *it += delta;

    std::vector<qsizetype> freshStarts;
    std::vector<qsizetype> freshTabs;
    scan(text, from, std::min(from + inserted, text.size()), freshStarts, freshTabs);
    const bool sameCount = static_cast<std::size_t>(last - first) == freshStarts.size();
    m_starts.insert(m_starts.erase(first, last), freshStarts.begin(), freshStarts.end());
    m_tabs.insert(m_tabs.erase(firstTab, lastTab), freshTabs.begin(), freshTabs.end());

    const qsizetype changedWidest = widestOf(text, lineAt(std::max<qsizetype>(from - 1, 0)),
                                             lineAt(std::min(from + inserted, text.size())));
    // An append or an insertion that leaves the lines as they were only
    // widens lines (a character before a tab at most fills the tab); anything
    // else may have narrowed the widest one, which only a look at every line
    // can tell.
    const bool mayHaveNarrowed = !appending && (removed > 0 || !sameCount);
    if (changedWidest >= m_widest)
        m_widest = changedWidest;
    else if (mayHaveNarrowed)
        m_widest = widestOf(text, 0, lineCount() - 1);
}

qsizetype LineIndex::lineStart(qsizetype line) const
{
    return m_starts[static_cast<std::size_t>(line)];
}

qsizetype LineIndex::lineEnd(const TextValue &text, qsizetype line) const
{
    if (line + 1 >= lineCount())
        return text.size();
    const qsizetype next = lineStart(line + 1);
    const bool crlf = next >= 2 && text.at(next - 1) == u'\n' && text.at(next - 2) == u'\r';
    return next - (crlf ? 2 : 1);
}

qsizetype LineIndex::lineAt(qsizetype position) const
{
    const auto after = std::upper_bound(m_starts.begin(), m_starts.end(), position);
    return std::max<qsizetype>(after - m_starts.begin() - 1, 0);
}

std::pair<std::vector<qsizetype>::const_iterator, std::vector<qsizetype>::const_iterator>
LineIndex::tabsBetween(qsizetype from, qsizetype to) const
{
    const auto first = std::lower_bound(m_tabs.cbegin(), m_tabs.cend(), from);
    return {first, std::lower_bound(first, m_tabs.cend(), to)};
}

qsizetype LineIndex::columnOf(qsizetype line, qsizetype position) const
{
    const qsizetype start = lineStart(line);
    auto [tab, lastTab] = tabsBetween(start, position);
    qsizetype column = 0;
    qsizetype previous = start;
    for (; tab != lastTab; ++tab) {
        column = nextTabStop(column + (*tab - previous));
        previous = *tab + 1;
    }
    return column + (position - previous);
}

qsizetype LineIndex::lineWidth(const TextValue &text, qsizetype line) const
{
    return columnOf(line, lineEnd(text, line));
}

qsizetype LineIndex::positionNear(const TextValue &text, qsizetype line, double column) const
{
    const qsizetype end = lineEnd(text, line);
    auto [tab, lastTab] = tabsBetween(lineStart(line), end);
    qsizetype reached = 0; // the column of `previous`
    qsizetype previous = lineStart(line);
    const auto within = [&](qsizetype limit) {
        const auto cells = static_cast<qsizetype>(std::floor(std::max(column - static_cast<double>(reached), 0.0) + 0.5));
        return previous + std::min(cells, limit - previous);
    };
    for (; tab != lastTab; ++tab) {
        const qsizetype tabFrom = reached + (*tab - previous);
        const qsizetype tabTo = nextTabStop(tabFrom);
        if (column < static_cast<double>(tabFrom + tabTo) / 2)
            return within(*tab);
        reached = tabTo;
        previous = *tab + 1;
    }
    return within(end);
}

qsizetype LineIndex::positionCovering(const TextValue &text, qsizetype line, qsizetype column) const
{
    const qsizetype end = lineEnd(text, line);
    auto [tab, lastTab] = tabsBetween(lineStart(line), end);
    column = std::max<qsizetype>(column, 0);
    qsizetype reached = 0;
    qsizetype previous = lineStart(line);
    for (; tab != lastTab; ++tab) {
        const qsizetype tabFrom = reached + (*tab - previous);
        if (column < tabFrom)
            return previous + (column - reached);
        reached = nextTabStop(tabFrom);
        if (column < reached)
            return *tab;
        previous = *tab + 1;
    }
    return std::min(previous + (column - reached), end);
}

qsizetype LineIndex::widestOf(const TextValue &text, qsizetype firstLine, qsizetype lastLine) const
{
    qsizetype widest = 0;
    for (qsizetype line = firstLine; line <= lastLine; ++line)
        widest = std::max(widest, lineWidth(text, line));
    return widest;
}
