#pragma once

#include <QtCore/QString>
#include <QtCore/QStringView>

#include <memory>
#include <vector>

// An immutable string of 16-bit characters, the value of a text box.
//
// Values share an append-only buffer and each sees only its own length of it,
// so joining input to the newest value of a buffer writes the input at the
// end of the buffer and costs the input's length, not the text's: a serial
// log that is read, joined and written back on every burst never copies what
// came before. Joining to a value that is no longer the newest (something
// else was joined to it already) copies it into a buffer of its own first.
// Either way no holder of an older value ever sees it change.
//
// The buffer is kept in fixed-size chunks, so growing it never moves what is
// already stored (no reallocation pause, no second copy in memory): about two
// bytes per character.
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

    qsizetype size() const noexcept { return m_size; }
    bool isEmpty() const noexcept { return m_size == 0; }

    QChar at(qsizetype position) const;
    QString mid(qsizetype position, qsizetype length) const;
    QString toString() const { return mid(0, m_size); }

    // Calls visit(QStringView) for the characters [from, to) in order, in as
    // few contiguous pieces as the storage allows.
    template<typename Visit>
    void forEachPiece(qsizetype from, qsizetype to, Visit &&visit) const;

    // The value followed by `tail`.
    TextValue appended(QStringView tail) const;
    friend TextValue operator+(const TextValue &text, QStringView tail) { return text.appended(tail); }
    friend TextValue operator+(const TextValue &text, const QString &tail) { return text.appended(tail); }

    // The value with [from, from + removed) replaced by `inserted`: a new
    // buffer, so this costs the whole length.
    TextValue replaced(qsizetype from, qsizetype removed, QStringView inserted) const;

    // Whether this value is `earlier` followed by more characters (or the
    // same), told in constant time when both come from one buffer, by
    // comparing characters otherwise.
    bool extends(const TextValue &earlier) const;

    friend bool operator==(const TextValue &a, const TextValue &b);
    friend bool operator==(const TextValue &a, QStringView b);
    friend bool operator==(const TextValue &a, const QString &b) { return a == QStringView(b); }

private:
    struct Buffer;
    // 64 Ki characters a chunk: small enough to waste little, large enough
    // that a line usually lies in one piece.
    static constexpr int ChunkBits = 16;
    static constexpr qsizetype ChunkSize = qsizetype(1) << ChunkBits;
    static constexpr qsizetype ChunkMask = ChunkSize - 1;

    QStringView piece(qsizetype from, qsizetype to) const;

    std::shared_ptr<Buffer> m_buffer;
    qsizetype m_size = 0;
};

struct TextValue::Buffer
{
    std::vector<std::unique_ptr<char16_t[]>> chunks;
    qsizetype size = 0;

    void append(QStringView text);
};

template<typename Visit>
void TextValue::forEachPiece(qsizetype from, qsizetype to, Visit &&visit) const
{
    while (from < to) {
        const QStringView part = piece(from, to);
        visit(part);
        from += part.size();
    }
}
