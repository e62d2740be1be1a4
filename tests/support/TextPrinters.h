#pragma once

// How failed checks print texts: control characters by their code, so that
// "\r\n" and "\n\r" differ on screen too. GoogleTest finds these by argument
// lookup.

#include "TextValue.h"

#include <QtCore/QString>
#include <QtCore/QStringView>

#include <ostream>

inline void printCharacters(QStringView text, std::ostream *out)
{
    *out << '"';
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u < 0x7F)
            *out << static_cast<char>(u);
        else
            *out << "\\u{" << std::hex << static_cast<unsigned>(u) << std::dec << '}';
    }
    *out << '"';
}

inline void PrintTo(const QString &text, std::ostream *out)
{
    printCharacters(text, out);
}

inline void PrintTo(const TextValue &text, std::ostream *out)
{
    printCharacters(text.toString(), out);
}
