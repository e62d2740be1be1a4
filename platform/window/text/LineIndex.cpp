#include "LineIndex.h"

#include "TextTree.h"

#include <algorithm>
#include <cmath>

static_assert(LineIndex::TabWidth == TextTree::TabWidth);

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

qsizetype LineIndex::lineCount() const
{
    return m_text.m_root ? m_text.m_root->summary.breaks + 1 : 1;
}

qsizetype LineIndex::lineStart(qsizetype line) const
{
    if (line <= 0)
        return 0;
    return TextTree::lineStart(*m_text.m_root, line);
}

qsizetype LineIndex::lineEnd(qsizetype line) const
{
    if (line + 1 >= lineCount())
        return m_text.size();
    const qsizetype next = lineStart(line + 1);
    const bool crlf = next >= 2 && m_text.at(next - 1) == u'\n' && m_text.at(next - 2) == u'\r';
    return next - (crlf ? 2 : 1);
}

qsizetype LineIndex::lineAt(qsizetype position) const
{
    if (!m_text.m_root)
        return 0;
    return TextTree::breaksBefore(*m_text.m_root, std::min(position, m_text.size()));
}

qsizetype LineIndex::columnOf(qsizetype line, qsizetype position) const
{
    return columnOf(Bounds{.start = lineStart(line)}, position);
}

qsizetype LineIndex::columnOf(const Bounds &line, qsizetype position) const
{
    if (!m_text.m_root)
        return 0;
    return TextTree::runOf(*m_text.m_root, line.start, position).apply(0);
}

qsizetype LineIndex::lineWidth(qsizetype line) const
{
    const Bounds found = bounds(line);
    return columnOf(found, found.end);
}

qsizetype LineIndex::positionCovering(qsizetype line, qsizetype column) const
{
    return positionCovering(bounds(line), column);
}

qsizetype LineIndex::positionCovering(const Bounds &line, qsizetype column) const
{
    if (!m_text.m_root)
        return 0;
    return TextTree::positionCovering(*m_text.m_root, line.start, line.end, column);
}

qsizetype LineIndex::positionNear(qsizetype line, double column) const
{
    const Bounds found = bounds(line);
    const auto whole = static_cast<qsizetype>(std::floor(std::max(column, 0.0)));
    const qsizetype position = positionCovering(found, whole);
    if (position == found.end)
        return position;
    // Within the cell, the nearer edge.
    const qsizetype from = columnOf(found, position);
    const qsizetype to = m_text.at(position) == u'\t' ? nextTabStop(from) : from + 1;
    return column < static_cast<double>(from + to) / 2 ? position : position + 1;
}

qsizetype LineIndex::widestLineWidth() const
{
    return m_text.m_root ? m_text.m_root->summary.widest() : 0;
}

std::vector<qsizetype> LineIndex::lineStarts() const
{
    std::vector<qsizetype> starts{0};
    const QString text = m_text.toString();
    for (qsizetype position = 0; position < text.size(); ++position) {
        const QChar c = text.at(position);
        if (c == u'\n' || (c == u'\r' && (position + 1 == text.size() || text.at(position + 1) != u'\n')))
            starts.push_back(position + 1);
    }
    return starts;
}

std::vector<qsizetype> LineIndex::tabPositions() const
{
    std::vector<qsizetype> tabs;
    const QString text = m_text.toString();
    for (qsizetype position = 0; position < text.size(); ++position) {
        if (text.at(position) == u'\t')
            tabs.push_back(position);
    }
    return tabs;
}
