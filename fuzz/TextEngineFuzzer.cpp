// Runs the text box's engine (TextValue, LineIndex, EditableText) through a
// sequence of operations decoded from the input, and the same operations on
// plain QStrings, and compares after every one of them.
//
// Values: joins to the newest value and to older ones kept aside,
// replacements smaller and larger than a chunk, slices, lookups, chunks
// compressed at chosen points, and text padded to just before a chunk's or
// a leaf's edge. The characters mix Latin-1 and UTF-16, surrogate pairs and
// lone halves, tabs and every kind of line break.
//
// Editing: typing, Backspace and Delete, moves of every kind, the mouse,
// undo and redo between appends. What the box documents exactly is modelled
// on a QString; word and line moves are held to their invariants. Every
// Change, applied to a QString of its own, must give the content.
//
// After every operation: each value kept equals its model; its tree is
// balanced, every node's summary is what its characters say and every
// leaf lies within its chunk; the line index answers as a scan of the model
// does. An operation on values may be made to fail at a chosen allocation:
// then no value may have changed, and what follows must still work. At the
// end of an input, with every value gone, no chunk may be left.
#include "ChunkCompressor.h"
#include "FailingAllocation.h"
#include "EditableText.h"
#include "LineIndex.h"
#include "TextTree.h"
#include "TextValue.h"

#include <QtCore/QString>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <unordered_set>
#include <utility>
#include <vector>

using TextTree::LeafSize;

// The tree behind a value, which TextValue shows its probe alone.
struct TextValueProbe
{
    static const TextTree::NodePtr &root(const TextValue &text) { return text.m_root; }
    static const TextTree::NodePtr &sealed(const TextValue &text) { return text.m_sealed; }
    static const TextTree::NodePtr &openLeaf(const TextValue &text) { return text.m_openLeaf; }
    static const TextTree::Chunk *open(const TextValue &text) { return text.m_open.get(); }
    // Whether a join to this value writes on in its open chunk.
    static bool writesOn(const TextValue &text) { return text.m_lineage && text.m_lineage->newest == text.size(); }
};

namespace {

using Probe = TextValueProbe;

// The longest text an input makes: four leaves and a bit, so that the
// checks after every operation stay cheap.
constexpr qsizetype MostCharacters = 4 * LeafSize + 2048;
constexpr std::size_t MostKept = 5;
constexpr int MostOperations = 400;

const char *operationName = "start";
int operationNumber = 0;

[[noreturn]] void broken(const char *what)
{
    std::fprintf(stderr, "TextEngine: %s, after operation %d (%s)\n", what, operationNumber, operationName);
    std::abort();
}

void expect(bool holds, const char *what)
{
    if (!holds)
        broken(what);
}

// The input, a byte at a time from the front; zeros once it is used up.
class Input
{
public:
    Input(const std::uint8_t *data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }

    bool done() const { return m_at >= m_size; }
    unsigned byte() { return m_at < m_size ? m_data[m_at++] : 0U; }
    unsigned word() { return byte() | byte() << 8U; }
    // 0 to `most`.
    qsizetype upTo(qsizetype most) { return most <= 0 ? 0 : static_cast<qsizetype>(word()) % (most + 1); }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

// What text is made of: mostly letters, digits and blanks; line breaks of
// every kind; Latin-1 above ASCII; UTF-16; surrogate pairs and lone halves;
// word separators and characters Qt takes for space.
struct Token
{
    char16_t units[2];
    qsizetype length;
};
constexpr Token Tokens[] = {
    {{u'a'}, 1},    {{u'b'}, 1},    {{u'x'}, 1},     {{u'Z'}, 1},
    {{u'0'}, 1},    {{u'9'}, 1},    {{u' '}, 1},     {{u' '}, 1},
    {{u'\t'}, 1},   {{u'\r'}, 1},   {{u'\n'}, 1},    {{u'\r', u'\n'}, 2},
    {{u'\n', u'\r'}, 2}, {{u'.'}, 1}, {{u','}, 1},   {{u'_'}, 1},
    {{u'-'}, 1},    {{u'('}, 1},    {{0x00E9}, 1},   {{0x00A0}, 1},
    {{0x00FF}, 1},  {{0x0000}, 1},  {{0x20AC}, 1},   {{0x2028}, 1},
    {{0x0100}, 1},  {{0xD83D, 0xDE00}, 2}, {{0xD83D}, 1}, {{0xDE00}, 1},
    {{u'q'}, 1},    {{u'\r', u'\n'}, 2}, {{0xFFFD}, 1}, {{0x3000}, 1},
};
constexpr unsigned TokenCount = sizeof Tokens / sizeof Tokens[0];

QString tokenText(unsigned index)
{
    const Token &token = Tokens[index % TokenCount];
    return QString(reinterpret_cast<const QChar *>(token.units), token.length);
}

// Up to `most` tokens.
QString piece(Input &in, unsigned most)
{
    const unsigned count = in.byte() % (most + 1);
    QString text;
    for (unsigned i = 0; i < count; ++i)
        text += tokenText(in.byte());
    return text;
}

// `length` characters of one kind of filler: a long received line, lines
// with tabs, characters that need UTF-16, or a piece of the input again and
// again. Cut wherever the length ends, in a "\r\n" or a pair too.
QString filler(Input &in, qsizetype length)
{
    QString unit;
    switch (in.byte() % 4) {
    case 0: unit = QStringLiteral("x"); break;
    case 1: unit = QStringLiteral("line\t1;\r\n"); break;
    case 2: unit = QString(QChar(0x20AC)) + QStringLiteral("\n\r"); break;
    default: unit = piece(in, 6); break;
    }
    if (unit.isEmpty())
        unit = QStringLiteral("y");
    QString text;
    text.reserve(length + unit.size());
    while (text.size() < length)
        text += unit;
    text.truncate(length);
    return text;
}

// Where every leaf of a value ends.
std::vector<qsizetype> leafEdges(const TextValue &text)
{
    std::vector<qsizetype> edges{0};
    const auto walk = [&edges](const auto &self, const TextTree::Node &node) -> void {
        if (node.isLeaf()) {
            edges.push_back(edges.back() + node.size());
            return;
        }
        self(self, *node.left);
        self(self, *node.right);
    };
    if (const TextTree::NodePtr &root = Probe::root(text))
        walk(walk, *root);
    return edges;
}

// A position in [0, size]: near the start, near the end, around a leaf's
// edge, or anywhere.
qsizetype position(Input &in, const TextValue &text)
{
    const qsizetype size = text.size();
    const unsigned how = in.byte();
    switch (how % 4) {
    case 0: return std::min<qsizetype>(size, in.byte());
    case 1: return std::max<qsizetype>(0, size - in.byte());
    case 2: {
        const std::vector<qsizetype> edges = leafEdges(text);
        const qsizetype edge = edges[in.byte() % edges.size()];
        return std::clamp<qsizetype>(edge + static_cast<qsizetype>(how / 4 % 7) - 3, 0, size);
    }
    default: return in.upTo(size);
    }
}

// ---- Lines, found by reading every character
//
// The scans below read whole texts after every operation: they are left
// out of the coverage the fuzzer steers by, which would only slow them.

[[clang::no_sanitize("coverage")]] qsizetype width(const char16_t *characters, qsizetype count)
{
    qsizetype column = 0;
    for (qsizetype i = 0; i < count; ++i)
        column = characters[i] == u'\t' ? LineIndex::nextTabStop(column) : column + 1;
    return column;
}

[[clang::no_sanitize("coverage")]] bool isBreakAt(const char16_t *characters, qsizetype count, qsizetype i)
{
    return characters[i] == u'\n' || (characters[i] == u'\r' && (i + 1 == count || characters[i + 1] != u'\n'));
}

// Calls line(start, end) for each line of some characters, in order; a
// "\r" at their end ends a line, and a "\n" at their start.
template<typename Line>
[[clang::no_sanitize("coverage")]] void forEachLine(const char16_t *characters, qsizetype count, Line &&line)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i < count; ++i) {
        if (!isBreakAt(characters, count, i))
            continue;
        const bool crlf = characters[i] == u'\n' && i > start && characters[i - 1] == u'\r';
        line(start, i - (crlf ? 1 : 0));
        start = i + 1;
    }
    line(start, count);
}

// The summary of some characters taken alone, from their lines: what every
// node of a tree must hold for the characters below it.
[[clang::no_sanitize("coverage")]] TextTree::Summary summaryOf(QStringView text)
{
    TextTree::Summary summary;
    summary.size = text.size();
    if (text.isEmpty())
        return summary;
    const char16_t *characters = text.utf16();
    summary.startsWithLineFeed = characters[0] == u'\n';
    summary.endsWithCarriageReturn = characters[text.size() - 1] == u'\r';
    qsizetype lines = 0;
    qsizetype lastWidth = 0;
    forEachLine(characters, text.size(), [&](qsizetype start, qsizetype end) {
        if (lines++ == 0) {
            const QStringView first = text.sliced(start, end - start);
            const qsizetype tab = first.indexOf(u'\t');
            summary.first.tab = tab >= 0;
            summary.first.before = tab >= 0 ? tab : first.size();
            summary.first.after = tab >= 0 ? width(first.utf16() + tab + 1, first.size() - tab - 1) : 0;
            return;
        }
        // The line before was not the last: it lies between two breaks.
        if (lines > 2)
            summary.widestInside = std::max(summary.widestInside, lastWidth);
        lastWidth = width(characters + start, end - start);
    });
    summary.breaks = lines - 1;
    summary.lastWidth = lastWidth;
    return summary;
}

bool operator==(const TextTree::Run &a, const TextTree::Run &b)
{
    return a.tab == b.tab && a.before == b.before && a.after == b.after;
}

bool operator==(const TextTree::Summary &a, const TextTree::Summary &b)
{
    return a.size == b.size && a.breaks == b.breaks && a.startsWithLineFeed == b.startsWithLineFeed
        && a.endsWithCarriageReturn == b.endsWithCarriageReturn && a.first == b.first
        && a.widestInside == b.widestInside && a.lastWidth == b.lastWidth;
}

// The lines of a text and the column of every position on them, by one
// scan.
class Lines
{
public:
    Lines() = default;

    // Reads `text`, keeping the storage of the last text read.
    [[clang::no_sanitize("coverage")]] void read(const QString &text)
    {
        m_text = text;
        m_starts.clear();
        m_ends.clear();
        m_columns.resize(static_cast<std::size_t>(text.size() + 1));
        m_widest = 0;
        const char16_t *characters = QStringView(text).utf16();
        forEachLine(characters, text.size(), [&](qsizetype start, qsizetype end) {
            m_starts.push_back(start);
            m_ends.push_back(end);
            qsizetype column = 0;
            for (qsizetype at = start; at < end; ++at) {
                m_columns[static_cast<std::size_t>(at)] = column;
                column = characters[at] == u'\t' ? LineIndex::nextTabStop(column) : column + 1;
            }
            m_columns[static_cast<std::size_t>(end)] = column;
            m_widest = std::max(m_widest, column);
        });
    }

    qsizetype count() const { return static_cast<qsizetype>(m_starts.size()); }
    qsizetype start(qsizetype line) const { return m_starts[static_cast<std::size_t>(line)]; }
    qsizetype end(qsizetype line) const { return m_ends[static_cast<std::size_t>(line)]; }
    qsizetype lineAt(qsizetype position) const
    {
        return static_cast<qsizetype>(std::upper_bound(m_starts.begin(), m_starts.end(), position) - m_starts.begin())
            - 1;
    }
    bool isStart(qsizetype position) const { return std::binary_search(m_starts.begin(), m_starts.end(), position); }
    bool splitsBreak(qsizetype position) const
    {
        return position > 0 && position < m_text.size() && m_text[position - 1] == u'\r' && m_text[position] == u'\n';
    }
    // Of a position on its line, from the line's start to its end.
    qsizetype column(qsizetype position) const { return m_columns[static_cast<std::size_t>(position)]; }
    qsizetype width(qsizetype line) const { return column(end(line)); }
    qsizetype widest() const { return m_widest; }

    // The first position of the line whose cell holds `column`, else its
    // end: the cell ending first past the column.
    qsizetype covering(qsizetype line, qsizetype column) const
    {
        const auto first = m_columns.begin() + start(line) + 1;
        const auto last = m_columns.begin() + end(line) + 1;
        const auto past = std::upper_bound(first, last, std::max<qsizetype>(column, 0));
        return past == last ? end(line) : static_cast<qsizetype>(past - m_columns.begin()) - 1;
    }

    // The cell edge of the line nearest to `column`; the later one of two as
    // near.
    qsizetype near(qsizetype line, double column) const
    {
        column = std::max(column, 0.0);
        const auto first = m_columns.begin() + start(line);
        const auto last = m_columns.begin() + end(line) + 1;
        const auto after = std::lower_bound(first, last, column,
                                            [](qsizetype edge, double x) { return static_cast<double>(edge) < x; });
        if (after == last)
            return end(line);
        const qsizetype at = static_cast<qsizetype>(after - m_columns.begin());
        if (after == first)
            return at;
        const double right = static_cast<double>(*after) - column;
        const double left = column - static_cast<double>(*(after - 1));
        return right <= left ? at : at - 1;
    }

private:
    QString m_text;
    std::vector<qsizetype> m_starts;
    std::vector<qsizetype> m_ends;
    std::vector<qsizetype> m_columns;
    qsizetype m_widest = 0;
};

// Asks the index about the lines of the given positions and of the first
// and last line, and a scan of the model answers the same. Every question
// about a line scans a leaf: a few positions and lines are asked about.
void checkLines(const LineIndex &index, const TextValue &text, const Lines &lines, std::vector<qsizetype> positions,
                std::uint32_t &random)
{
    constexpr std::size_t MostPositions = 12;
    constexpr std::size_t MostLines = 6;
    const qsizetype size = text.size();
    expect(index.lineCount() == lines.count(), "line count");
    expect(index.widestLineWidth() == lines.widest(), "widest line");
    positions.resize(std::min(positions.size(), MostPositions));
    positions.push_back(0);
    positions.push_back(size);
    std::vector<qsizetype> checked{0, lines.count() - 1};
    for (qsizetype at : positions) {
        at = std::clamp<qsizetype>(at, 0, size);
        const qsizetype line = lines.lineAt(at);
        expect(index.lineAt(at) == line, "the line of a position");
        expect(LineIndex::isLineStart(text, at) == lines.isStart(at), "whether a line starts at a position");
        expect(LineIndex::splitsBreak(text, at) == lines.splitsBreak(at), "whether a position splits a break");
        if (at <= lines.end(line))
            expect(index.columnOf(line, at) == lines.column(at), "the column of a position");
        if (checked.size() < MostLines)
            checked.push_back(line);
    }
    std::sort(checked.begin(), checked.end());
    checked.erase(std::unique(checked.begin(), checked.end()), checked.end());
    for (qsizetype line : checked) {
        const LineIndex::Bounds bounds = index.bounds(line);
        expect(bounds.start == lines.start(line), "a line's start");
        expect(bounds.end == lines.end(line), "a line's end");
        const qsizetype lineWidth = lines.width(line);
        expect(index.columnOf(bounds, bounds.end) == lineWidth, "a line's width");
        random = random * 1664525U + 1013904223U;
        const qsizetype some = static_cast<qsizetype>(random >> 8U) % (lineWidth + 3);
        for (qsizetype column : {qsizetype(-1), qsizetype(0), qsizetype(7), qsizetype(8), lineWidth - 1, lineWidth,
                                 lineWidth + 9, some})
            expect(index.positionCovering(bounds, column) == lines.covering(line, column), "the position at a column");
        // The same again, each finding the line's bounds itself.
        const double fraction = static_cast<double>(random & 3U) / 4 + 0.25;
        const double near = static_cast<double>(some) + fraction;
        expect(index.positionNear(line, near) == lines.near(line, near), "the position near a column");
        expect(index.positionCovering(line, some) == lines.covering(line, some), "the position at a column");
        expect(index.lineWidth(line) == lineWidth, "a line's width");
    }
}

// Walks a value's tree: whether its leaves lie in their chunks, whether
// every node's height and summary are right, whether everything but the
// leaf being appended to is balanced. A node, never changed once built, is
// looked at once per input: it is kept until the input ends, so that its
// address is not taken by another.
class Trees
{
public:
    void check(const TextValue &text, const QString &model)
    {
        const TextTree::NodePtr &root = Probe::root(text);
        const TextTree::NodePtr &sealed = Probe::sealed(text);
        const TextTree::NodePtr &openLeaf = Probe::openLeaf(text);
        expect(TextTree::sizeOf(root) == model.size(), "a tree's size");
        if (!openLeaf) {
            expect(root == sealed, "a root with no leaf open that is not the balanced tree");
        } else {
            expect(openLeaf->isLeaf() && openLeaf->chunk.get() == Probe::open(text), "the open leaf");
            if (sealed) {
                expect(root->left == sealed && root->right == openLeaf, "a root not over its tree and open leaf");
                expect(root->height == std::max(sealed->height, openLeaf->height) + 1, "a root's height");
                expect(root->summary == summaryOf(model), "a root's summary");
            } else {
                expect(root == openLeaf, "a root that is not its only leaf");
            }
            // The lineage's newest value owns every character of the open
            // chunk: a join writes on after them.
            if (Probe::writesOn(text))
                expect(Probe::open(text)->used() == openLeaf->size(),
                       "characters in the open chunk that the value writing on in it does not hold");
        }
        node(sealed, model, 0);
        node(openLeaf, model, TextTree::sizeOf(sealed));
    }

    void clear()
    {
        m_seen.clear();
        m_kept.clear();
    }

private:
    void node(const TextTree::NodePtr &at, const QString &model, qsizetype offset)
    {
        if (!at || !m_seen.insert(at.get()).second)
            return;
        m_kept.push_back(at);
        const TextTree::Node &n = *at;
        expect(n.summary == summaryOf(QStringView(model).sliced(offset, n.size())), "a node's summary");
        if (n.isLeaf()) {
            expect(n.height == 1 && !n.right, "a leaf's shape");
            expect(n.size() > 0 && n.size() <= LeafSize && n.size() <= n.chunk->used()
                       && n.chunk->used() <= n.chunk->capacity(),
                   "a leaf outside its chunk");
            return;
        }
        expect(n.right != nullptr, "an inner node with one child");
        expect(n.height == std::max(n.left->height, n.right->height) + 1, "a node's height");
        expect(std::abs(n.left->height - n.right->height) <= 1, "an unbalanced node");
        expect(n.size() == n.left->size() + n.right->size(), "a node's size");
        node(n.left, model, offset);
        node(n.right, model, offset + n.left->size());
    }

    std::unordered_set<const TextTree::Node *> m_seen;
    std::vector<TextTree::NodePtr> m_kept;
};

// ---- Editing, as the box documents it, on a QString

// Whether `text` is `start` followed by more or nothing; unlike
// QString::startsWith, an empty string starts every string, null or not.
bool extends(const QString &text, const QString &start)
{
    return text.size() >= start.size() && QStringView(text).first(start.size()) == start;
}

bool splits(const QString &text, qsizetype at)
{
    return at > 0 && at < text.size() && text[at - 1] == u'\r' && text[at] == u'\n';
}

bool splitsPair(const QString &text, qsizetype at)
{
    return at > 0 && at < text.size() && text[at - 1].isHighSurrogate() && text[at].isLowSurrogate();
}

qsizetype afterBreak(const QString &text, qsizetype at)
{
    return splits(text, at) ? at + 1 : at;
}

// The character before or after a position, "\r\n" and a pair whole.
qsizetype previousPosition(const QString &text, qsizetype at)
{
    if (at <= 0)
        return 0;
    return splits(text, at - 1) || splitsPair(text, at - 1) ? at - 2 : at - 1;
}

qsizetype nextPosition(const QString &text, qsizetype at)
{
    if (at >= text.size())
        return text.size();
    return splits(text, at + 1) || splitsPair(text, at + 1) ? at + 2 : at + 1;
}

enum class WordClass { Space, Word, Other };

WordClass wordClassOf(QChar c)
{
    if (c.isSpace())
        return WordClass::Space;
    return c.isLetterOrNumber() || c.isMark() || c == u'_' ? WordClass::Word : WordClass::Other;
}

struct Held
{
    TextValue value;
    QString model;
};

// The box, and what it must hold.
struct Box
{
    EditableText text;
    // As documented, operation by operation.
    QString model;
    // The box's Changes, applied one after the other.
    QString changed;
    qsizetype cursor = 0;
    qsizetype anchor = 0;
    struct Step
    {
        qsizetype position = 0;
        QString removed;
        QString inserted;
        qsizetype cursorBefore = 0;
        qsizetype anchorBefore = 0;
    };
    std::vector<Step> done;
    std::vector<Step> undone;
    bool typingOpen = false;

    qsizetype selectionStart() const { return std::min(cursor, anchor); }
    qsizetype selectionEnd() const { return std::max(cursor, anchor); }

    void setCaret(qsizetype at, bool extend)
    {
        at = std::clamp<qsizetype>(at, 0, model.size());
        cursor = splits(model, at) ? at - 1 : at;
        if (!extend)
            anchor = cursor;
        typingOpen = false;
    }

    // A user's edit: recorded for undo, typing joining the typing before.
    void edit(qsizetype from, qsizetype to, const QString &inserted, bool typing)
    {
        from = std::clamp<qsizetype>(from, 0, model.size());
        to = std::clamp(to, from, model.size());
        if (from == to && inserted.isEmpty())
            return;
        Step step{from, model.mid(from, to - from), inserted, cursor, anchor};
        undone.clear();
        if (typing && typingOpen && step.removed.isEmpty()
            && step.position == done.back().position + done.back().inserted.size()) {
            done.back().inserted += inserted;
        } else {
            done.push_back(std::move(step));
            typingOpen = typing;
        }
        model.replace(from, to - from, inserted);
        cursor = anchor = afterBreak(model, from + inserted.size());
    }

    void undo()
    {
        if (done.empty())
            return;
        undone.push_back(std::move(done.back()));
        done.pop_back();
        const Step &step = undone.back();
        model.replace(step.position, step.inserted.size(), step.removed);
        cursor = afterBreak(model, std::min(step.cursorBefore, model.size()));
        anchor = afterBreak(model, std::min(step.anchorBefore, model.size()));
        typingOpen = false;
    }

    void redo()
    {
        if (undone.empty())
            return;
        done.push_back(std::move(undone.back()));
        undone.pop_back();
        const Step &step = done.back();
        model.replace(step.position, step.removed.size(), step.inserted);
        cursor = anchor = afterBreak(model, step.position + step.inserted.size());
        typingOpen = false;
    }

    // A set of the whole content.
    void set(const QString &content)
    {
        if (extends(content, model)) {
            model = content;
            cursor = afterBreak(model, cursor);
            anchor = afterBreak(model, anchor);
            return;
        }
        model = content;
        cursor = anchor = model.size();
        done.clear();
        undone.clear();
        typingOpen = false;
    }

    // After an operation whose caret is held to invariants only.
    void takeCaret()
    {
        cursor = text.cursor();
        anchor = text.anchor();
        typingOpen = false;
    }
};

struct State
{
    Held current;
    std::vector<Held> kept;
    Box box;
    Trees trees;
    // The allocation at which the next operation on values fails.
    long failure = -1;
    // Positions the last operation touched, for the line index to be asked
    // about.
    std::vector<qsizetype> touched;
    std::uint32_t random = 1;
    // The lines of the box's content as the operation finds it, and as it
    // leaves it; and of the current value.
    Lines boxLines;
    Lines nextBoxLines;
    Lines valueLines;
};

Held &pick(State &state, Input &in)
{
    const std::size_t index = in.byte() % (state.kept.size() + 1);
    return index == 0 ? state.current : state.kept[index - 1];
}

// Runs an operation on values, failing at the allocation chosen for it if
// one was; false when it failed, and then nothing may have changed.
template<typename Operation>
bool attempt(State &state, Operation &&operation)
{
    return FailingAllocation::attempt(std::exchange(state.failure, -1), std::forward<Operation>(operation));
}

void appendTo(State &state, const Held &base, const QString &tail)
{
    const qsizetype size = base.model.size();
    if (size + tail.size() > MostCharacters)
        return;
    TextValue joined;
    if (attempt(state, [&] { joined = base.value.appended(tail); }))
        state.current = {joined, base.model + tail};
    state.touched.push_back(size);
}

// Pads a value to `k` characters before a multiple of LeafSize, or to `k`
// characters before its open chunk is full.
QString padding(Input &in, const Held &base, bool toChunk)
{
    const qsizetype k = in.byte() % 24;
    const qsizetype size = base.model.size();
    qsizetype length = 0;
    if (toChunk) {
        const TextTree::Chunk *open = Probe::open(base.value);
        length = (open ? open->room() : LeafSize) - k;
    } else {
        length = (size / LeafSize + 1) * LeafSize - k - size;
        if (length <= 0)
            length += LeafSize;
    }
    return length > 0 && size + length <= MostCharacters ? filler(in, length) : QString();
}

// Compares two values, and reads one of them in pieces.
void compare(State &state, Input &in)
{
    const Held &a = pick(state, in);
    const Held &b = pick(state, in);
    expect(a.value.extends(b.value) == extends(a.model, b.model), "extends");
    expect((a.value == b.value) == (a.model == b.model), "== between values");
    const qsizetype size = a.model.size();
    const qsizetype from = static_cast<qsizetype>(in.byte() % 5) - 2 + position(in, a.value);
    const qsizetype length = static_cast<qsizetype>(in.word()) - 2;
    const qsizetype start = std::clamp<qsizetype>(from, 0, size);
    const qsizetype count = std::clamp<qsizetype>(length, 0, size - start);
    expect(a.value.mid(from, length) == a.model.mid(start, count), "mid");
    if (size > 0) {
        const qsizetype at = std::min(start, size - 1);
        expect(a.value.at(at) == a.model.at(at), "at");
    }
    state.touched.push_back(start);
}

void compress(State &state, Input &in)
{
    const Held &held = pick(state, in);
    std::vector<const TextTree::Chunk *> chunks;
    const auto walk = [&chunks](const auto &self, const TextTree::Node &node) -> void {
        if (node.isLeaf()) {
            if (node.chunk->full() && !node.chunk->compressed()
                && std::find(chunks.begin(), chunks.end(), node.chunk.get()) == chunks.end())
                chunks.push_back(node.chunk.get());
            return;
        }
        self(self, *node.left);
        self(self, *node.right);
    };
    if (const TextTree::NodePtr &root = Probe::root(held.value))
        walk(walk, *root);
    if (chunks.empty())
        return;
    const unsigned which = in.byte();
    if (which == 0xFF) {
        for (const TextTree::Chunk *chunk : chunks)
            TextTree::ChunkCompressor::compressNow(*chunk);
    } else {
        TextTree::ChunkCompressor::compressNow(*chunks[which % chunks.size()]);
    }
}

// ---- The box

// What every change the box reports must agree with, and what the box must
// hold after any operation.
void checkBox(State &state, const Lines &lines, const EditableText::Change &change, const QString &before,
              qsizetype cursorBefore)
{
    Box &box = state.box;
    const EditableText &text = box.text;
    if (change.textChanged()) {
        expect(change.before == box.changed, "a change's text before");
        expect(change.position >= 0 && change.position + change.removed <= box.changed.size(), "a change's range");
        box.changed.replace(change.position, change.removed, text.text().mid(change.position, change.inserted));
        const Lines &linesBefore = state.boxLines;
        // The first line and column on screen that changed.
        const qsizetype column = lines.splitsBreak(change.position) ? -1 : lines.column(change.position);
        if (change.appended) {
            expect(change.position == before.size() && change.removed == 0, "an append's change");
            expect(change.line == linesBefore.count() - 1, "an append's line");
            expect(change.column == std::max<qsizetype>(column, 0), "an append's column");
        } else if (!change.replaced) {
            expect(change.line == lines.lineAt(change.position), "a change's line");
            expect(column < 0 || change.column == column, "a change's column");
        }
        expect(change.linesChanged == (lines.count() != linesBefore.count()), "a change's line count");
    }
    expect(text.text() == box.changed, "the content differs from the changes it reported");
    expect(text.text() == box.model, "the content");
    expect(text.size() == box.model.size(), "the content's size");
    expect(text.cursor() == box.cursor && text.anchor() == box.anchor, "the caret or the anchor");
    expect(text.cursor() >= 0 && text.cursor() <= text.size() && text.anchor() >= 0 && text.anchor() <= text.size(),
           "a caret out of the content");
    expect(!splits(box.model, text.cursor()) && !splits(box.model, text.anchor()), "a caret inside a break");
    expect(change.caretMoved == (text.cursor() != cursorBefore), "whether the caret moved");
    expect(text.canUndo() == !box.done.empty() && text.canRedo() == !box.undone.empty(), "what can be undone");
    expect(text.selectedText() == box.model.mid(box.selectionStart(), box.selectionEnd() - box.selectionStart()),
           "the selected text");
}

void checkWordMove(const QString &model, const Lines &lines, qsizetype from, qsizetype to, bool forward)
{
    const qsizetype line = lines.lineAt(from);
    if (forward) {
        if (from >= lines.end(line))
            expect(to == (line + 1 < lines.count() ? lines.start(line + 1) : model.size()), "a word move over a break");
        else
            expect(to > from && to <= lines.end(line), "a word move forward");
    } else {
        if (from <= lines.start(line))
            expect(to == (line == 0 ? 0 : lines.end(line - 1)), "a word move back over a break");
        else
            expect(to < from && to >= lines.start(line), "a word move back");
    }
    expect(!splitsPair(model, to), "a word move into a surrogate pair");
}

EditableText::Change move(State &state, Input &in)
{
    Box &box = state.box;
    const auto kind = static_cast<EditableText::Move>(in.byte() % 12);
    const unsigned flags = in.byte();
    const bool extend = (flags & 1U) != 0;
    const qsizetype page = flags >> 1U & 7U;
    const Lines &lines = state.boxLines;
    const qsizetype from = box.cursor;
    const qsizetype line = lines.lineAt(from);
    const bool collapse = !extend && box.cursor != box.anchor;
    const EditableText::Change change = box.text.move(kind, extend, page);
    const qsizetype to = box.text.cursor();
    using Move = EditableText::Move;
    switch (kind) {
    case Move::PreviousCharacter:
        box.setCaret(collapse ? box.selectionStart() : previousPosition(box.model, from), extend);
        break;
    case Move::NextCharacter:
        box.setCaret(collapse ? box.selectionEnd() : nextPosition(box.model, from), extend);
        break;
    case Move::StartOfLine: box.setCaret(lines.start(line), extend); break;
    case Move::EndOfLine: box.setCaret(lines.end(line), extend); break;
    case Move::StartOfText: box.setCaret(0, extend); break;
    case Move::EndOfText: box.setCaret(box.model.size(), extend); break;
    case Move::PreviousWord:
    case Move::NextWord:
        checkWordMove(box.model, lines, from, to, kind == Move::NextWord);
        expect(box.text.anchor() == (extend ? box.anchor : to), "the anchor after a word move");
        box.takeCaret();
        break;
    default: {
        // By lines: to the line aimed at, never into a pair.
        const qsizetype steps = std::max<qsizetype>(page, 1);
        qsizetype aimed = line;
        if (kind == Move::PreviousLine)
            aimed = line - 1;
        else if (kind == Move::NextLine)
            aimed = line + 1;
        else
            aimed = kind == Move::PreviousPage ? line - steps : line + steps;
        aimed = std::clamp<qsizetype>(aimed, 0, lines.count() - 1);
        expect(lines.lineAt(to) == aimed, "a move by lines to another line");
        if (kind == Move::PreviousLine && line == 0)
            expect(to == 0, "up from the first line");
        else if (kind == Move::NextLine && line + 1 == lines.count())
            expect(to == box.model.size(), "down from the last line");
        else
            expect(!splitsPair(box.model, to), "a move by lines into a surrogate pair");
        expect(box.text.anchor() == (extend ? box.anchor : to), "the anchor after a move by lines");
        box.takeCaret();
        break;
    }
    }
    expect(!change.textChanged(), "a move changed the text");
    return change;
}

// The word a double-click selects: one run of one class, as long as it
// goes on the line.
void checkWordAt(const Box &box, const Lines &lines, qsizetype at)
{
    const auto [first, last] = box.text.wordAt(at);
    const qsizetype line = lines.lineAt(at);
    if (first == last) {
        expect(first == at, "an empty word away from the position");
        return;
    }
    expect(first >= lines.start(line) && last <= lines.end(line) && first <= at && at <= last,
           "a word away from the position or across a break");
    const WordClass kind = wordClassOf(box.model[first]);
    expect(kind != WordClass::Space, "a word of spaces");
    for (qsizetype i = first; i < last; ++i)
        expect(wordClassOf(box.model[i]) == kind, "a word of mixed characters");
    expect(first == lines.start(line) || wordClassOf(box.model[first - 1]) != kind, "a word that goes on before");
    expect(last == lines.end(line) || wordClassOf(box.model[last]) != kind, "a word that goes on after");
}

EditableText::Change click(State &state, Input &in)
{
    Box &box = state.box;
    const unsigned kind = in.byte();
    const qsizetype at = position(in, box.text.text()) + static_cast<qsizetype>(kind >> 4U) % 3 - 1;
    // Inside a "\r\n" a position is taken where the caret would go, before
    // the "\r"; the model checks words there.
    const qsizetype clamped = std::clamp<qsizetype>(splits(box.model, at) ? at - 1 : at, 0, box.model.size());
    EditableText::Change change;
    switch (kind % 5) {
    case 0:
        change = box.text.press(at, (kind & 8U) != 0);
        box.setCaret(at, (kind & 8U) != 0);
        break;
    case 1:
        change = box.text.doubleClick(at);
        checkWordAt(box, state.boxLines, clamped);
        expect(box.text.wordAt(at) == box.text.wordAt(clamped), "a word looked for inside a break");
        expect(std::pair(box.text.selectionStart(), box.text.selectionEnd()) == box.text.wordAt(clamped),
               "a double-click's selection");
        box.takeCaret();
        break;
    case 2: {
        change = box.text.tripleClick(at);
        const Lines &lines = state.boxLines;
        const qsizetype line = lines.lineAt(splits(box.model, clamped) ? clamped - 1 : clamped);
        box.setCaret(lines.start(line), false);
        box.setCaret(line + 1 < lines.count() ? lines.start(line + 1) : box.model.size(), true);
        break;
    }
    case 3:
        if (box.text.dragging()) {
            change = box.text.dragTo(at);
            box.takeCaret();
        } else {
            change = box.text.dragTo(at);
            expect(!change.caretPlaced, "a drag without a press");
        }
        break;
    default: box.text.release(); break;
    }
    return change;
}

EditableText::Change boxSet(State &state, const TextValue &value, const QString &model)
{
    const QString before = state.box.model;
    EditableText::Change change = state.box.text.setText(value);
    state.box.set(model);
    expect(change.appended == (extends(model, before) && model.size() > before.size()), "an append's change");
    expect(change.replaced == !extends(model, before), "a replacement's change");
    return change;
}

// ---- One input

void checkValues(State &state)
{
    const auto check = [&state](const Held &held) {
        expect(held.value.size() == held.model.size(), "a value's size");
        expect(held.value == held.model, "a value's characters");
        state.trees.check(held.value, held.model);
    };
    check(state.current);
    for (const Held &held : state.kept)
        check(held);
    check({state.box.text.text(), state.box.model});
}

void run(State &state, Input &in)
{
    enum Operation : unsigned {
        Append, AppendToKept, Keep, Swap, Drop, Pad, FillChunk, Replace, ReplaceLong, Slice, Build, Compare, Compress,
        FailNext, Type, Erase, MoveCaret, Place, SelectAll, BoxAppend, BoxSet, BoxTake, Undo, Redo, RemoveWord,
        RemoveToEndOfLine, MoveSelection, Paste, Click, ForgetHistory, Count
    };
    static const char *const names[] = {
        "Append", "AppendToKept", "Keep", "Swap", "Drop", "Pad", "FillChunk", "Replace", "ReplaceLong", "Slice",
        "Build", "Compare", "Compress", "FailNext", "Type", "Erase", "MoveCaret", "Place", "SelectAll",
        "BoxAppend", "BoxSet", "BoxTake", "Undo", "Redo", "RemoveWord", "RemoveToEndOfLine", "MoveSelection",
        "Paste", "Click", "ForgetHistory"};
    static_assert(sizeof names / sizeof names[0] == Count);

    Box &box = state.box;
    state.boxLines.read(box.model);
    for (operationNumber = 0; operationNumber < MostOperations && !in.done(); ++operationNumber) {
        const unsigned operation = in.byte() % Count;
        operationName = names[operation];
        state.touched.clear();
        const QString boxBefore = box.model;
        const qsizetype cursorBefore = box.cursor;
        const bool onBox = operation >= Type;
        EditableText::Change change;
        switch (operation) {
        case Append: appendTo(state, state.current, piece(in, 24)); break;
        case AppendToKept:
            if (!state.kept.empty()) {
                const Held base = state.kept[in.byte() % state.kept.size()];
                appendTo(state, base, piece(in, 24));
            }
            break;
        case Keep:
            if (state.kept.size() == MostKept)
                state.kept.erase(state.kept.begin() + in.byte() % MostKept);
            state.kept.push_back(state.current);
            break;
        case Swap:
            if (!state.kept.empty())
                std::swap(state.current, state.kept[in.byte() % state.kept.size()]);
            break;
        case Drop:
            if (!state.kept.empty())
                state.kept.erase(state.kept.begin() + in.byte() % state.kept.size());
            break;
        case Pad:
        case FillChunk: {
            const QString tail = padding(in, state.current, operation == FillChunk);
            appendTo(state, state.current, tail);
            state.touched.push_back(state.current.model.size());
            break;
        }
        case Replace:
        case ReplaceLong: {
            const Held base = pick(state, in);
            const qsizetype from = position(in, base.value);
            const bool longer = operation == ReplaceLong;
            const unsigned how = in.byte();
            const qsizetype removed = longer && (how & 1U) != 0 ? in.upTo(base.model.size() - from)
                                                                 : static_cast<qsizetype>(how >> 1U) % 9;
            // A long insertion, or a piece of a kept value, shared.
            Held inserted;
            if (longer && (how & 2U) != 0) {
                inserted.model = filler(in, LeafSize + in.upTo(2 * LeafSize));
            } else if ((how & 4U) != 0) {
                const Held &source = pick(state, in);
                const qsizetype at = position(in, source.value);
                inserted.model = source.model.mid(at, in.upTo(longer ? source.model.size() : 40));
                inserted.value = source.value.slice(at, inserted.model.size());
            } else {
                inserted.model = piece(in, 12);
            }
            const qsizetype cut = std::min(removed, base.model.size() - from);
            if (base.model.size() - cut + inserted.model.size() > MostCharacters)
                break;
            TextValue result;
            const bool shared = (how & 4U) != 0 && !(longer && (how & 2U) != 0);
            if (attempt(state, [&] {
                    result = base.value.replaced(from, removed, shared ? inserted.value : TextValue(inserted.model));
                }))
                state.current = {result, QString(base.model).replace(from, cut, inserted.model)};
            state.touched.push_back(from);
            state.touched.push_back(from + inserted.model.size());
            break;
        }
        case Slice: {
            const Held base = pick(state, in);
            const qsizetype from = position(in, base.value);
            const qsizetype length = in.upTo(base.model.size() - from);
            TextValue result;
            if (attempt(state, [&] { result = base.value.slice(from, length); })) {
                const Held sliced{result, base.model.mid(from, length)};
                state.trees.check(sliced.value, sliced.model);
                expect(sliced.value == sliced.model, "a slice");
                if ((in.byte() & 1U) != 0)
                    state.current = sliced;
            }
            break;
        }
        case Build: {
            const unsigned how = in.byte();
            const QString text = (how & 1U) != 0 ? filler(in, in.upTo(3 * LeafSize)) : piece(in, 24);
            TextValue result;
            if (attempt(state, [&] { result = TextValue(text); }))
                state.current = {result, text};
            break;
        }
        case Compare: compare(state, in); break;
        case Compress: compress(state, in); break;
        case FailNext: {
            const unsigned at = in.byte();
            state.failure = at < 0xF0 ? at % 12 : static_cast<long>(in.byte());
            break;
        }
        case Type: {
            const QString typed = piece(in, 3);
            change = box.text.replaceSelection(TextValue(typed), EditableText::Step::Typing);
            box.edit(box.selectionStart(), box.selectionEnd(), typed, true);
            break;
        }
        case Erase: {
            const bool forward = (in.byte() & 1U) != 0;
            change = box.text.removeAround(forward);
            if (box.cursor != box.anchor) {
                box.edit(box.selectionStart(), box.selectionEnd(), QString(), false);
            } else {
                const qsizetype other = forward ? nextPosition(box.model, box.cursor)
                                                : previousPosition(box.model, box.cursor);
                box.edit(std::min(box.cursor, other), std::max(box.cursor, other), QString(), false);
            }
            break;
        }
        case MoveCaret: change = move(state, in); break;
        case Place: {
            const unsigned how = in.byte();
            const qsizetype at = position(in, box.text.text());
            if ((how & 1U) != 0) {
                const qsizetype anchor = position(in, box.text.text());
                change = box.text.setSelection(anchor, at);
                box.setCaret(anchor, false);
                box.setCaret(at, true);
            } else {
                change = box.text.placeCursor(at, (how & 2U) != 0);
                box.setCaret(at, (how & 2U) != 0);
            }
            const Lines &lines = state.boxLines;
            expect(box.text.column(box.text.cursor()) == lines.column(box.text.cursor()), "the caret's column");
            const qsizetype line = lines.lineAt(box.text.cursor());
            const double column = static_cast<double>(how >> 2U) + 0.5;
            const qsizetype near = lines.near(line, column);
            expect(box.text.positionNear(line, column) == (splitsPair(box.model, near) ? near - 1 : near),
                   "where a pointer lands");
            const qsizetype cursor = box.text.cursor();
            const qsizetype caretLine = lines.lineAt(cursor);
            expect(box.text.surroundingRange()
                       == std::pair(std::max(lines.start(caretLine), cursor - EditableText::SurroundingReach),
                                    std::min(lines.end(caretLine), cursor + EditableText::SurroundingReach)),
                   "the text around the caret an input method is told");
            break;
        }
        case SelectAll:
            change = box.text.selectAll();
            box.anchor = 0;
            box.cursor = box.model.size();
            box.typingOpen = false;
            expect(box.text.allSelected(), "all selected");
            break;
        case BoxAppend: {
            const unsigned how = in.byte();
            const Held base{box.text.text(), box.model};
            const QString tail = (how & 1U) != 0 ? padding(in, base, (how & 2U) != 0) : piece(in, 12);
            if (tail.isEmpty() || base.model.size() + tail.size() > MostCharacters)
                break;
            TextValue joined;
            if (attempt(state, [&] { joined = base.value.appended(tail); }))
                change = boxSet(state, joined, base.model + tail);
            state.touched.push_back(base.model.size());
            break;
        }
        case BoxSet: {
            const Held held = pick(state, in);
            change = boxSet(state, held.value, held.model);
            break;
        }
        case BoxTake: state.current = {box.text.text(), box.model}; break;
        case Undo:
            change = box.text.undo();
            box.undo();
            break;
        case Redo:
            change = box.text.redo();
            box.redo();
            break;
        case RemoveWord: {
            const bool forward = (in.byte() & 1U) != 0;
            // Where the same word move would take the caret.
            EditableText mover = box.text;
            mover.move(forward ? EditableText::Move::NextWord : EditableText::Move::PreviousWord, false, 1);
            change = box.text.removeWord(forward);
            if (box.cursor != box.anchor)
                box.edit(box.selectionStart(), box.selectionEnd(), QString(), false);
            else
                box.edit(std::min(box.cursor, mover.cursor()), std::max(box.cursor, mover.cursor()), QString(), false);
            break;
        }
        case RemoveToEndOfLine: {
            const Lines &lines = state.boxLines;
            const qsizetype end = lines.end(lines.lineAt(box.cursor));
            change = box.text.removeToEndOfLine();
            box.edit(std::min(box.anchor, end), std::max(box.anchor, end), QString(), false);
            break;
        }
        case MoveSelection: {
            const qsizetype destination = position(in, box.text.text());
            change = box.text.moveSelection(destination);
            const qsizetype start = box.selectionStart();
            const qsizetype end = box.selectionEnd();
            if (start == end || (destination >= start && destination <= end))
                break;
            const QString moved = box.model.mid(start, end - start);
            const bool backward = destination < start;
            const qsizetype from = backward ? destination : start;
            const qsizetype to = backward ? end : destination;
            const QString passed = backward ? box.model.mid(destination, start - destination)
                                            : box.model.mid(end, destination - end);
            box.edit(from, to, backward ? moved + passed : passed + moved, false);
            box.cursor = box.anchor = afterBreak(box.model, backward ? destination + moved.size() : destination);
            break;
        }
        case Paste: {
            const Held &source = pick(state, in);
            const qsizetype at = position(in, source.value);
            const qsizetype length = in.upTo(std::min<qsizetype>(source.model.size() - at, 64));
            if (box.model.size() + length > MostCharacters)
                break;
            change = box.text.replaceSelection(source.value.slice(at, length));
            box.edit(box.selectionStart(), box.selectionEnd(), source.model.mid(at, length), false);
            break;
        }
        case Click: change = click(state, in); break;
        default:
            box.text.forgetHistory();
            box.done.clear();
            box.undone.clear();
            box.typingOpen = false;
            break;
        }
        if (onBox) {
            Lines &lines = state.nextBoxLines;
            lines.read(box.model);
            checkBox(state, lines, change, boxBefore, cursorBefore);
            if (change.textChanged()) {
                state.touched.push_back(change.position);
                state.touched.push_back(change.position + change.inserted);
            }
            state.touched.push_back(box.cursor);
            checkLines(box.text.lines(), box.text.text(), lines, state.touched, state.random);
            std::swap(state.boxLines, state.nextBoxLines);
        }
        checkValues(state);
        if (!onBox) {
            // Around the edges of leaves too, where a break may be split.
            const std::vector<qsizetype> edges = leafEdges(state.current.value);
            for (std::size_t i = 1; i + 1 < edges.size(); ++i) {
                state.touched.push_back(edges[i] - 1);
                state.touched.push_back(edges[i] + 1);
            }
            state.valueLines.read(state.current.model);
            checkLines(LineIndex(state.current.value), state.current.value, state.valueLines, state.touched,
                       state.random);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    operationName = "start";
    operationNumber = 0;
    expect(TextValue::bytesInUse() == 0, "chunks left from the input before");
    {
        Input in(data, size);
        State state;
        state.random = size > 0 ? data[0] + 1U : 1U;
        run(state, in);
    }
    operationName = "end";
    expect(TextValue::bytesInUse() == 0, "chunks left once every value is gone");
    return 0;
}
