#pragma once

#include <QtCore/QString>
#include <QtCore/QStringView>

#include <memory>

namespace TextTree {
class Chunk;
struct Node;
} // namespace TextTree

// An immutable string of 16-bit characters, the value of a text box.
//
// The characters are kept in a persistent, balanced tree of chunks of a few
// thousand characters (TextTree). A chunk whose characters are all
// U+0000..U+00FF (everything a serial line brings) stores one byte a
// character; any other chunk stores UTF-16. Values share chunks and nodes;
// no holder of a value ever sees it change.
//
// - Joining input to the newest value of a text (the value that was read,
//   followed by more) writes the input at the end of the text's open chunk:
//   it costs the input's length, not the text's. A serial log that is read,
//   joined and written back on every burst never copies what came before.
//   Joining to an older value starts a branch of its own, sharing the rest.
// - An insert, removal or replacement anywhere costs about log(length) plus a
//   chunk or two, and shares everything else with the value it came from; so
//   does a slice.
// - Whether one value extends another is told in constant time when the one
//   was joined to from the other (however many joins between), and by
//   comparing characters otherwise.
//
// An operation that fails for want of memory (std::bad_alloc) changes no
// value: what each reads, and what a later join to it gives, are as if the
// operation had not been tried.
//
// Values are not shared across threads.
class TextValue
{
public:
    TextValue() = default;
    TextValue(QStringView text); // NOLINT(google-explicit-constructor): a text is a text
    TextValue(const QString &text)
        : TextValue(QStringView(text))
    {
    }
    TextValue(const char16_t *text)
        : TextValue(QStringView(text))
    {
    }

    qsizetype size() const noexcept;
    bool isEmpty() const noexcept { return size() == 0; }

    QChar at(qsizetype position) const;
    QString mid(qsizetype position, qsizetype length) const;
    QString toString() const { return mid(0, size()); }
    // The characters [position, position + length), sharing their storage.
    TextValue slice(qsizetype position, qsizetype length) const;

    // The value followed by `tail`.
    TextValue appended(QStringView tail) const;
    friend TextValue operator+(const TextValue &text, QStringView tail) { return text.appended(tail); }
    friend TextValue operator+(const TextValue &text, const QString &tail) { return text.appended(tail); }

    // The value with [from, from + removed) replaced by `inserted`.
    TextValue replaced(qsizetype from, qsizetype removed, const TextValue &inserted) const;

    // Whether this value is `earlier` followed by more characters (or the
    // same).
    bool extends(const TextValue &earlier) const;

    // The height of the tree: for tests that it stays balanced.
    int depth() const;

    // What the characters of every value take in memory together, compressed
    // chunks at their compressed size. Values share their characters, so
    // this is what the text box's text costs, with its undo history and
    // whatever other values are held.
    static qsizetype bytesInUse();

    friend bool operator==(const TextValue &a, const TextValue &b);
    friend bool operator==(const TextValue &a, QStringView b);
    friend bool operator==(const TextValue &a, const QString &b) { return a == QStringView(b); }

private:
    friend class LineIndex;
    // Fuzzers and tests look at the tree behind a value (its balance, its
    // summaries, its chunks) through a probe of their own; nothing else does.
    friend struct TextValueProbe;
    using NodePtr = std::shared_ptr<const TextTree::Node>;
    // The values joined one from the other, newest last: only the newest
    // writes on at the end of the open chunk.
    struct Lineage
    {
        // The size of the newest value, or Closed.
        qsizetype newest = 0;
        // No value writes on in the open chunk: a join that failed may have
        // left characters there that no value holds.
        static constexpr qsizetype Closed = -1;
    };

    static TextValue fromTree(NodePtr tree);
    // The whole value as one balanced tree.
    NodePtr balancedTree() const;
    void sealOpen();
    void appendInPlace(QStringView tail);

    // Everything but the open chunk, balanced.
    NodePtr m_sealed;
    // The chunk that joins write to, shared along the lineage, and this
    // value's part of it as a leaf.
    std::shared_ptr<TextTree::Chunk> m_open;
    NodePtr m_openLeaf;
    // The two together: what every lookup reads.
    NodePtr m_root;
    std::shared_ptr<Lineage> m_lineage;
};
