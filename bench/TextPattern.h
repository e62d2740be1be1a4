#pragma once

#include <QtCore/QtGlobal>

// Printable text as a line would carry it, addressable by position so that a
// stream can be continued exactly where a filled text box left off.
//
// With line breaks every line is 78 printable characters and "\r\n" (80 in
// all); without, it is printable characters only, one endless line. Lines
// differ from one another so that nothing can be shared or compressed.
class TextPattern
{
public:
    static constexpr qsizetype LineLength = 80;

    explicit TextPattern(bool lineBreaks, qsizetype position = 0)
        : m_lineBreaks(lineBreaks)
        , m_position(position)
    {
    }

    qsizetype position() const { return m_position; }
    bool lineBreaks() const { return m_lineBreaks; }

    // Writes the next `count` characters (char or char16_t) and moves on.
    template<typename Char>
    void generate(Char *out, qsizetype count)
    {
        for (qsizetype i = 0; i < count; ++i)
            out[i] = static_cast<Char>(at(m_position + i));
        m_position += count;
    }

    char at(qsizetype position) const
    {
        constexpr qsizetype printable = 0x7f - 0x20;
        if (!m_lineBreaks)
            return static_cast<char>(0x20 + (position + position / printable) % printable);
        const qsizetype line = position / LineLength;
        const qsizetype column = position % LineLength;
        if (column == LineLength - 2)
            return '\r';
        if (column == LineLength - 1)
            return '\n';
        return static_cast<char>(0x20 + (line * 7 + column) % printable);
    }

private:
    bool m_lineBreaks;
    qsizetype m_position;
};
