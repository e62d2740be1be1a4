#include "TextTree.h"

#include "ChunkCompressor.h"

#include <cstring>
#include <utility>
#include <vector>

namespace TextTree {

namespace {

NodePtr inner(NodePtr left, NodePtr right)
{
    auto node = std::make_shared<Node>();
    node->summary = Summary::join(left->summary, right->summary);
    node->height = std::max(left->height, right->height) + 1;
    node->left = std::move(left);
    node->right = std::move(right);
    return node;
}

// `left` followed by `right` as one node, rotated until balanced.
NodePtr balanced(NodePtr left, NodePtr right)
{
    const int leftHeight = heightOf(left);
    const int rightHeight = heightOf(right);
    if (leftHeight > rightHeight + 1) {
        if (heightOf(left->left) >= heightOf(left->right))
            return inner(left->left, balanced(left->right, std::move(right)));
        const Node &middle = *left->right;
        return inner(balanced(left->left, middle.left), balanced(middle.right, std::move(right)));
    }
    if (rightHeight > leftHeight + 1) {
        if (heightOf(right->right) >= heightOf(right->left))
            return inner(balanced(std::move(left), right->left), right->right);
        const Node &middle = *right->left;
        return inner(balanced(std::move(left), middle.left), balanced(middle.right, right->right));
    }
    return inner(std::move(left), std::move(right));
}

NodePtr buildBalanced(const std::vector<NodePtr> &leaves, std::size_t from, std::size_t to)
{
    if (to - from == 1)
        return leaves[from];
    const std::size_t middle = from + (to - from) / 2;
    return inner(buildBalanced(leaves, from, middle), buildBalanced(leaves, middle, to));
}

template<typename Char>
Summary summarizeCharacters(const Char *characters, qsizetype count)
{
    Summary summary;
    summary.size = count;
    if (count == 0)
        return summary;
    summary.startsWithLineFeed = characters[0] == u'\n';
    summary.endsWithCarriageReturn = characters[count - 1] == u'\r';
    qsizetype column = 0;
    bool first = true;
    for (qsizetype i = 0; i < count; ++i) {
        const char16_t c = characters[i];
        // Everything above "\r" is one cell: one test for almost every
        // character.
        if (c > u'\r') {
            if (!first)
                ++column;
            else if (summary.first.tab)
                ++summary.first.after;
            else
                ++summary.first.before;
            continue;
        }
        if (c == u'\n' || (c == u'\r' && (i + 1 == count || characters[i + 1] != u'\n'))) {
            if (!first)
                summary.widestInside = std::max(summary.widestInside, column);
            first = false;
            ++summary.breaks;
            column = 0;
        } else if (c == u'\r') {
            // The first half of a "\r\n": the "\n" is the break.
        } else if (first) {
            summary.first.add(c);
        } else {
            column = c == u'\t' ? nextTabStop(column) : column + 1;
        }
    }
    summary.lastWidth = first ? 0 : column;
    return summary;
}

// Calls f(characters, count) with [from, to) of the chunk as bytes or UTF-16.
template<typename F>
decltype(auto) withCharacters(const Chunk &chunk, qsizetype from, qsizetype to, F &&f)
{
    const Chunk::Reading reading = chunk.read();
    if (chunk.wide())
        return f(reading.utf16 + from, to - from);
    return f(reading.latin1 + from, to - from);
}

// A leaf holding a copy of [from, to) of `chunk`, one byte a character where
// that is enough.
NodePtr copiedLeaf(const Chunk &chunk, qsizetype from, qsizetype to)
{
    QString characters;
    characters.reserve(to - from);
    chunk.visit(from, to, [&characters](auto piece) { characters.append(piece); });
    return build(characters);
}

// Counts the breaks in [0, position) of a leaf's characters; `followedByLineFeed`
// tells whether a "\n" comes right after the leaf. With `stopAt`, returns the
// position after the stopAt-th break instead, -1 when there is none.
template<typename Char>
qsizetype scanBreaks(const Char *characters, qsizetype length, qsizetype position, bool followedByLineFeed,
                     qsizetype stopAt)
{
    qsizetype breaks = 0;
    for (qsizetype i = 0; i < position; ++i) {
        const char16_t c = characters[i];
        if (c > u'\r')
            continue;
        const bool isBreak = c == u'\n'
            || (c == u'\r' && !(i + 1 < length ? characters[i + 1] == u'\n' : followedByLineFeed));
        if (isBreak && ++breaks == stopAt)
            return i + 1;
    }
    return stopAt > 0 ? -1 : breaks;
}

qsizetype breaksBefore(const Node &node, qsizetype position, bool followedByLineFeed)
{
    if (position <= 0)
        return 0;
    if (node.isLeaf()) {
        return withCharacters(*node.chunk, 0, node.size(), [&](const auto *characters, qsizetype length) {
            return scanBreaks(characters, length, position, followedByLineFeed, 0);
        });
    }
    const Node &left = *node.left;
    const Node &right = *node.right;
    if (position < left.size())
        return breaksBefore(left, position, right.summary.startsWithLineFeed);
    const qsizetype leftBreaks = left.summary.breaks - (Summary::joinsBreak(left.summary, right.summary) ? 1 : 0);
    return leftBreaks + breaksBefore(right, position - left.size(), followedByLineFeed);
}

qsizetype lineStart(const Node &node, qsizetype breakNumber, bool followedByLineFeed)
{
    if (node.isLeaf()) {
        return withCharacters(*node.chunk, 0, node.size(), [&](const auto *characters, qsizetype length) {
            return scanBreaks(characters, length, length, followedByLineFeed, breakNumber);
        });
    }
    const Node &left = *node.left;
    const Node &right = *node.right;
    const qsizetype leftBreaks = left.summary.breaks - (Summary::joinsBreak(left.summary, right.summary) ? 1 : 0);
    if (breakNumber <= leftBreaks)
        return lineStart(left, breakNumber, right.summary.startsWithLineFeed);
    return left.size() + lineStart(right, breakNumber - leftBreaks, followedByLineFeed);
}

// Walks [from, to) of the node from `column` on; returns the position
// (counted from `offset`) whose cell holds `target`, or -1 with `column`
// moved past the range.
qsizetype covering(const Node &node, qsizetype offset, qsizetype from, qsizetype to, qsizetype target,
                   qsizetype &column)
{
    if (from >= to)
        return -1;
    if (from == 0 && to == node.size() && node.summary.breaks == 0) {
        const qsizetype end = node.summary.first.apply(column);
        if (target >= end) {
            column = end;
            return -1;
        }
    }
    if (node.isLeaf()) {
        return withCharacters(*node.chunk, from, to, [&](const auto *characters, qsizetype length) -> qsizetype {
            for (qsizetype i = 0; i < length; ++i) {
                const qsizetype next = characters[i] == u'\t' ? nextTabStop(column) : column + 1;
                if (target < next)
                    return offset + from + i;
                column = next;
            }
            return -1;
        });
    }
    const qsizetype leftSize = node.left->size();
    const qsizetype found = covering(*node.left, offset, from, std::min(to, leftSize), target, column);
    if (found >= 0)
        return found;
    return covering(*node.right, offset + leftSize, std::max<qsizetype>(from - leftSize, 0), to - leftSize, target,
                    column);
}

// The leaf holding the character at `position`, and where that leaf starts.
std::pair<const Node *, qsizetype> leafAt(const Node &node, qsizetype position)
{
    qsizetype offset = 0;
    const Node *at = &node;
    while (!at->isLeaf()) {
        const qsizetype leftSize = at->left->size();
        if (position - offset < leftSize) {
            at = at->left.get();
        } else {
            offset += leftSize;
            at = at->right.get();
        }
    }
    return {at, offset};
}

// The bounds of the leaf holding the character at `position`.
std::pair<qsizetype, qsizetype> leafAround(const Node &node, qsizetype position)
{
    const auto [leaf, start] = leafAt(node, position);
    return {start, start + leaf->size()};
}

} // namespace

Run Run::then(const Run &x, const Run &y)
{
    if (!x.tab)
        return {.tab = y.tab, .before = x.before + y.before, .after = y.after};
    if (!y.tab)
        return {.tab = true, .before = x.before, .after = x.after + y.before};
    return {.tab = true, .before = x.before, .after = nextTabStop(x.after + y.before) + y.after};
}

void Run::add(char16_t c)
{
    if (c == u'\t') {
        if (tab)
            after = nextTabStop(after);
        tab = true;
    } else if (tab) {
        ++after;
    } else {
        ++before;
    }
}

Summary Summary::join(const Summary &x, const Summary &y)
{
    if (x.size == 0)
        return y;
    if (y.size == 0)
        return x;
    Summary joined;
    joined.size = x.size + y.size;
    joined.breaks = x.breaks + y.breaks - (joinsBreak(x, y) ? 1 : 0);
    joined.startsWithLineFeed = x.startsWithLineFeed;
    joined.endsWithCarriageReturn = y.endsWithCarriageReturn;
    if (x.breaks == 0) {
        joined.first = Run::then(x.first, y.first);
        joined.widestInside = y.widestInside;
        joined.lastWidth = y.lastWidth;
    } else if (y.breaks == 0) {
        joined.first = x.first;
        joined.widestInside = x.widestInside;
        joined.lastWidth = y.first.apply(x.lastWidth);
    } else {
        joined.first = x.first;
        joined.widestInside = std::max({x.widestInside, y.widestInside, y.first.apply(x.lastWidth)});
        joined.lastWidth = y.lastWidth;
    }
    return joined;
}

qsizetype Summary::widest() const
{
    const qsizetype firstWidth = first.apply(0);
    return breaks == 0 ? firstWidth : std::max({firstWidth, widestInside, lastWidth});
}

qsizetype sizeOf(const NodePtr &node)
{
    return node ? node->size() : 0;
}

int heightOf(const NodePtr &node)
{
    return node ? node->height : 0;
}

Summary summarize(const Chunk &chunk, qsizetype from, qsizetype to)
{
    return withCharacters(chunk, from, to, [](const auto *characters, qsizetype length) {
        return summarizeCharacters(characters, length);
    });
}

NodePtr leaf(std::shared_ptr<const Chunk> chunk, qsizetype length, const Summary &summary)
{
    Q_ASSERT(summary.size == length && length <= chunk->used());
    auto node = std::make_shared<Node>();
    node->summary = summary;
    node->chunk = std::move(chunk);
    return node;
}

NodePtr leaf(std::shared_ptr<const Chunk> chunk, qsizetype length)
{
    const Summary summary = summarize(*chunk, 0, length);
    return leaf(std::move(chunk), length, summary);
}

NodePtr build(QStringView text)
{
    // Leaves of even size: a few characters over a chunk make two half
    // chunks, not a full one and a sliver.
    const qsizetype count = (text.size() + LeafSize - 1) / LeafSize;
    const qsizetype each = count == 0 ? 0 : (text.size() + count - 1) / count;
    std::vector<NodePtr> leaves;
    leaves.reserve(static_cast<std::size_t>(count));
    for (qsizetype from = 0; from < text.size(); from += each) {
        const QStringView piece = text.sliced(from, std::min(each, text.size() - from));
        auto chunk = std::make_shared<Chunk>(!Chunk::isLatin1(piece), piece.size());
        chunk->append(piece);
        ChunkCompressor::offer(chunk);
        leaves.push_back(leaf(std::move(chunk), piece.size()));
    }
    return leaves.empty() ? NodePtr() : buildBalanced(leaves, 0, leaves.size());
}

NodePtr pair(NodePtr left, NodePtr right)
{
    if (!left)
        return right;
    if (!right)
        return left;
    return inner(std::move(left), std::move(right));
}

NodePtr join(NodePtr left, NodePtr right)
{
    if (!left)
        return right;
    if (!right)
        return left;
    if (left->height > right->height + 1)
        return balanced(left->left, join(left->right, std::move(right)));
    if (right->height > left->height + 1)
        return balanced(join(std::move(left), right->left), right->right);
    return inner(std::move(left), std::move(right));
}

std::pair<NodePtr, NodePtr> split(const NodePtr &node, qsizetype position)
{
    if (position <= 0)
        return {nullptr, node};
    if (position >= sizeOf(node))
        return {node, nullptr};
    if (node->isLeaf())
        return {copiedLeaf(*node->chunk, 0, position), copiedLeaf(*node->chunk, position, node->size())};
    const qsizetype leftSize = node->left->size();
    if (position <= leftSize) {
        auto [first, rest] = split(node->left, position);
        return {std::move(first), join(std::move(rest), node->right)};
    }
    auto [first, rest] = split(node->right, position - leftSize);
    return {join(node->left, std::move(first)), std::move(rest)};
}

NodePtr replace(const NodePtr &node, qsizetype from, qsizetype removed, const NodePtr &inserted)
{
    const qsizetype size = sizeOf(node);
    const qsizetype end = from + removed;
    if (size == 0)
        return inserted;
    // The leaves the change touches are built again around it, so that edits
    // leave no slivers behind: from the start of the leaf holding `from` (or
    // the last leaf, to add at the end) to the end of the leaf holding the
    // last removed character.
    qsizetype low = leafAround(*node, std::min(from, size - 1)).first;
    qsizetype high = leafAround(*node, std::min(std::max(end - 1, from), size - 1)).second;
    // A small remainder takes a neighbour along.
    if ((high - low) - removed + sizeOf(inserted) < LeafSize / 4) {
        if (low > 0)
            low = leafAround(*node, low - 1).first;
        else if (high < size)
            high = leafAround(*node, high).second;
    }
    auto [before, rest] = split(node, low);
    auto [touched, after] = split(rest, high - low);
    QString head;
    QString tail;
    visit(*touched, 0, from - low, [&head](auto piece) { head.append(piece); });
    visit(*touched, end - low, high - low, [&tail](auto piece) { tail.append(piece); });
    NodePtr middle;
    if (sizeOf(inserted) <= LeafSize) {
        if (inserted)
            visit(*inserted, 0, inserted->size(), [&head](auto piece) { head.append(piece); });
        middle = build(head + tail);
    } else {
        middle = join(join(build(head), inserted), build(tail));
    }
    return join(join(std::move(before), std::move(middle)), std::move(after));
}

char16_t at(const Node &node, qsizetype position)
{
    const auto [leaf, start] = leafAt(node, position);
    return leaf->chunk->at(position - start);
}

qsizetype breaksBefore(const Node &node, qsizetype position)
{
    return breaksBefore(node, position, false);
}

qsizetype lineStart(const Node &node, qsizetype breakNumber)
{
    return lineStart(node, breakNumber, false);
}

Run runOf(const Node &node, qsizetype from, qsizetype to)
{
    if (from >= to)
        return {};
    if (from == 0 && to == node.size() && node.summary.breaks == 0)
        return node.summary.first;
    if (node.isLeaf()) {
        return withCharacters(*node.chunk, from, to, [](const auto *characters, qsizetype length) {
            Run run;
            for (qsizetype i = 0; i < length; ++i)
                run.add(characters[i]);
            return run;
        });
    }
    const qsizetype leftSize = node.left->size();
    const Run left = runOf(*node.left, from, std::min(to, leftSize));
    const Run right = runOf(*node.right, std::max<qsizetype>(from - leftSize, 0), to - leftSize);
    return Run::then(left, right);
}

qsizetype positionCovering(const Node &node, qsizetype from, qsizetype to, qsizetype column)
{
    qsizetype reached = 0;
    const qsizetype found = covering(node, 0, from, to, std::max<qsizetype>(column, 0), reached);
    return found >= 0 ? found : to;
}

} // namespace TextTree
