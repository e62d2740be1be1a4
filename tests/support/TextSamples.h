#pragma once

// Texts that the text box's tests share.

#include "LineIndex.h"
#include "TextValue.h"

#include <QtCore/QString>

#include <iterator>
#include <random>

// Text built mostly of line-break characters, so that "\r\n" pairs, lone
// "\r" and "\n", and "\n\r" all turn up often, with U+0000 and tabs among
// them.
inline QString breakHeavyText(std::mt19937 &random, qsizetype length)
{
    static constexpr char16_t alphabet[] = {u'a', u'b', u'\r', u'\n', u'\r', u'\n', u'\0', u'\t'};
    std::uniform_int_distribution<std::size_t> pick(0, std::size(alphabet) - 1);
    QString text;
    for (qsizetype i = 0; i < length; ++i)
        text.append(QChar(alphabet[pick(random)]));
    return text;
}

// "line 0\r\nline 1\r\n...", `count` lines and a last empty one.
inline QString numberedLines(int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("line %1\r\n").arg(i);
    return text;
}

// The index of a whole text, from storage built afresh from its characters.
inline LineIndex indexOf(const TextValue &text)
{
    return LineIndex(TextValue(text.toString()));
}
