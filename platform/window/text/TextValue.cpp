#include "TextValue.h"

#include "ChunkCompressor.h"
#include "TextTree.h"

#include <algorithm>
#include <utility>

using TextTree::LeafSize;

TextValue::TextValue(QStringView text)
{
    *this = fromTree(TextTree::build(text));
}

TextValue TextValue::fromTree(NodePtr tree)
{
    TextValue value;
    value.m_sealed = std::move(tree);
    value.m_root = value.m_sealed;
    if (value.m_root)
        value.m_lineage = std::make_shared<Lineage>(Lineage{value.size()});
    return value;
}

qsizetype TextValue::size() const noexcept
{
    return TextTree::sizeOf(m_root);
}

QChar TextValue::at(qsizetype position) const
{
    Q_ASSERT(position >= 0 && position < size());
    return QChar(TextTree::at(*m_root, position));
}

QString TextValue::mid(qsizetype position, qsizetype length) const
{
    position = std::clamp<qsizetype>(position, 0, size());
    length = std::clamp<qsizetype>(length, 0, size() - position);
    QString text;
    if (length == 0)
        return text;
    text.reserve(length);
    TextTree::visit(*m_root, position, position + length, [&text](auto piece) { text.append(piece); });
    return text;
}

TextValue TextValue::slice(qsizetype position, qsizetype length) const
{
    position = std::clamp<qsizetype>(position, 0, size());
    length = std::clamp<qsizetype>(length, 0, size() - position);
    const NodePtr rest = TextTree::split(balancedTree(), position).second;
    return fromTree(TextTree::split(rest, length).first);
}

TextValue::NodePtr TextValue::balancedTree() const
{
    return TextTree::join(m_sealed, m_openLeaf);
}

void TextValue::sealOpen()
{
    m_sealed = TextTree::join(m_sealed, m_openLeaf);
    m_openLeaf.reset();
    m_open.reset();
}

TextValue TextValue::appended(QStringView tail) const
{
    if (tail.isEmpty())
        return *this;
    TextValue joined = *this;
    if (!m_lineage || m_lineage->newest != size()) {
        // Another value was joined to this one already and writes on in the
        // open chunk, or a join that failed closed it: this join starts a
        // lineage of its own, sharing the characters as they are.
        joined.sealOpen();
        joined.m_lineage = std::make_shared<Lineage>();
    }
    try {
        joined.appendInPlace(tail);
    } catch (...) {
        // A piece may already be in the open chunk, whose count of
        // characters the lineage shares, past the end of its newest value:
        // the next join to that value would take those characters for its
        // own, or write on after them. The chunk cannot be given them back,
        // so no value writes on in it again; each starts a lineage of its
        // own at its next join, as an older value does.
        joined.m_lineage->newest = Lineage::Closed;
        throw;
    }
    return joined;
}

void TextValue::appendInPlace(QStringView tail)
{
    TextTree::Summary summary = m_openLeaf ? m_openLeaf->summary : TextTree::Summary();
    while (!tail.isEmpty()) {
        if (m_open && m_open->room() > 0) {
            const QStringView piece = tail.first(std::min(tail.size(), m_open->room()));
            if (m_open->fits(piece)) {
                const qsizetype at = m_open->used();
                m_open->append(piece);
                if (m_open->full())
                    TextTree::ChunkCompressor::offer(m_open);
                // Summed up from the chunk: one byte a character to look at,
                // where the piece has two.
                summary = TextTree::Summary::join(summary, TextTree::summarize(*m_open, at, at + piece.size()));
                m_openLeaf = TextTree::leaf(m_open, summary.size, summary);
                tail = tail.sliced(piece.size());
                continue;
            }
        }
        // Full, or characters it cannot hold: what is open goes into the
        // tree and a new chunk opens, one byte a character where the input
        // allows.
        sealOpen();
        summary = TextTree::Summary();
        const QStringView next = tail.first(std::min(tail.size(), LeafSize));
        m_open = std::make_shared<TextTree::Chunk>(!TextTree::Chunk::isLatin1(next), LeafSize);
    }
    m_root = TextTree::pair(m_sealed, m_openLeaf);
    m_lineage->newest = size();
}

TextValue TextValue::replaced(qsizetype from, qsizetype removed, const TextValue &inserted) const
{
    from = std::clamp<qsizetype>(from, 0, size());
    removed = std::clamp<qsizetype>(removed, 0, size() - from);
    return fromTree(TextTree::replace(balancedTree(), from, removed, inserted.balancedTree()));
}

bool TextValue::extends(const TextValue &earlier) const
{
    if (earlier.size() > size())
        return false;
    if (earlier.isEmpty() || earlier.m_root == m_root || (m_lineage && earlier.m_lineage == m_lineage))
        return true;
    // Compared a piece of the earlier value at a time, against the same
    // stretch of this one.
    bool same = true;
    qsizetype position = 0;
    TextTree::visit(*earlier.m_root, 0, earlier.size(), [&](auto piece) {
        if (same)
            same = piece == QStringView(mid(position, piece.size()));
        position += piece.size();
    });
    return same;
}

qsizetype TextValue::bytesInUse()
{
    return TextTree::Chunk::bytesInUse();
}

int TextValue::depth() const
{
    return TextTree::heightOf(m_root);
}

bool operator==(const TextValue &a, const TextValue &b)
{
    return a.size() == b.size() && a.extends(b);
}

bool operator==(const TextValue &a, QStringView b)
{
    if (a.size() != b.size())
        return false;
    if (b.isEmpty())
        return true;
    bool same = true;
    qsizetype position = 0;
    TextTree::visit(*a.m_root, 0, a.size(), [&](auto piece) {
        if (same)
            same = piece == b.sliced(position, piece.size());
        position += piece.size();
    });
    return same;
}
