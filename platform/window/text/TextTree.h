#pragma once

// The storage behind TextValue and LineIndex, not for other users: a
// persistent, balanced tree of leaves, each leaf a run of at most LeafSize
// characters in a chunk of its own. Nothing in a tree ever changes once it is
// built; an edit builds the path it changes and shares every other node with
// the tree it came from.
//
// Every node knows, for the characters below it, what a lookup needs: their
// number, their line breaks and how their columns add up (Summary). Finding
// line N, the line of position P, or the column of a position is a descent
// from the root plus a scan of one leaf.

#include "Chunk.h"

#include <QtCore/QLatin1StringView>
#include <QtCore/QString>
#include <QtCore/QStringView>

#include <algorithm>
#include <memory>

namespace TextTree {

// Characters a leaf holds at most: a lookup scans one leaf.
inline constexpr qsizetype LeafSize = 8192;
inline constexpr qsizetype TabWidth = 8;

inline qsizetype nextTabStop(qsizetype column)
{
    return (column / TabWidth + 1) * TabWidth;
}

// How a run of characters without a line break moves the column: a run
// without tabs adds its length; a run with tabs ends `after` columns past
// the tab stop that its first tab reaches.
struct Run
{
    bool tab = false;
    // Without tabs: all the columns; with: the columns before the first tab.
    qsizetype before = 0;
    // With tabs: the columns after the first tab's stop.
    qsizetype after = 0;

    qsizetype apply(qsizetype column) const { return tab ? nextTabStop(column + before) + after : column + before; }
    // `x` followed by `y`.
    static Run then(const Run &x, const Run &y);
    void add(char16_t c);
};

// What a lookup needs to know of some characters. A "\r" at their end counts
// as a break and a "\n" at their start too; joining a "\r" end to a "\n"
// start makes them one break.
struct Summary
{
    qsizetype size = 0;
    qsizetype breaks = 0;
    bool startsWithLineFeed = false;
    bool endsWithCarriageReturn = false;
    // The characters before the first break (all of them when none).
    Run first;
    // The widest line between the first and the last break.
    qsizetype widestInside = 0;
    // The columns after the last break, from column 0.
    qsizetype lastWidth = 0;

    static Summary join(const Summary &x, const Summary &y);
    // The widest line of these characters taken as a whole text.
    qsizetype widest() const;
    static bool joinsBreak(const Summary &x, const Summary &y)
    {
        return x.endsWithCarriageReturn && y.startsWithLineFeed;
    }
};

struct Node;
using NodePtr = std::shared_ptr<const Node>;

// A leaf, the first summary.size characters of its chunk, or an inner node
// with two children.
struct Node
{
    NodePtr left;
    NodePtr right;
    std::shared_ptr<const Chunk> chunk;
    Summary summary;
    int height = 1;

    bool isLeaf() const { return !left; }
    qsizetype size() const { return summary.size; }
};

qsizetype sizeOf(const NodePtr &node);
int heightOf(const NodePtr &node);

// The summary of some of a chunk's characters, by looking at each.
Summary summarize(const Chunk &chunk, qsizetype from, qsizetype to);

NodePtr leaf(std::shared_ptr<const Chunk> chunk, qsizetype length, const Summary &summary);
NodePtr leaf(std::shared_ptr<const Chunk> chunk, qsizetype length);
// A balanced tree of leaves holding `text`.
NodePtr build(QStringView text);
// An inner node over the two, unbalanced: for a text's root over its tree
// and the leaf it is being appended to.
NodePtr pair(NodePtr left, NodePtr right);
// `left` followed by `right`, balanced.
NodePtr join(NodePtr left, NodePtr right);
// The first `position` characters and the rest.
std::pair<NodePtr, NodePtr> split(const NodePtr &node, qsizetype position);
// The node with [from, from + removed) replaced by `inserted`.
NodePtr replace(const NodePtr &node, qsizetype from, qsizetype removed, const NodePtr &inserted);

char16_t at(const Node &node, qsizetype position);

// Calls visit(QLatin1StringView) or visit(QStringView) for the characters
// [from, to) in order.
template<typename Visit>
void visit(const Node &node, qsizetype from, qsizetype to, Visit &&visitor)
{
    if (from >= to)
        return;
    if (node.isLeaf()) {
        node.chunk->visit(from, to, visitor);
        return;
    }
    const qsizetype leftSize = node.left->size();
    if (from < leftSize)
        visit(*node.left, from, std::min(to, leftSize), visitor);
    if (to > leftSize)
        visit(*node.right, std::max<qsizetype>(from - leftSize, 0), to - leftSize, visitor);
}

// The number of line breaks before `position`: a "\r" just before it counts
// only when no "\n" follows it.
qsizetype breaksBefore(const Node &node, qsizetype position);
// Where the line after the n-th break (n >= 1) starts.
qsizetype lineStart(const Node &node, qsizetype breakNumber);
// How the characters [from, to), which hold no break, move the column.
Run runOf(const Node &node, qsizetype from, qsizetype to);
// The first position in [from, to), a stretch without breaks starting at
// column 0, whose cell holds `column`; `to` when none does.
qsizetype positionCovering(const Node &node, qsizetype from, qsizetype to, qsizetype column);

} // namespace TextTree
