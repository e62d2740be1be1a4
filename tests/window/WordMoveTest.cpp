// Ctrl+Left and Ctrl+Right in the text box's model against Qt's own: the
// model moves by words as QPlainTextEdit does, so its stops are compared with
// QTextLayout's (within a line) and QTextCursor's (across blocks) on many
// texts. Needs Qt GUI, for the text layout; the model itself needs Qt Core.
#include "EditableText.h"

#include "TextPrinters.h"

#include <QtGui/QTextCursor>
#include <QtGui/QTextDocument>
#include <QtGui/QTextLayout>

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

using Move = EditableText::Move;

qsizetype movedFrom(EditableText &text, qsizetype position, Move move)
{
    text.placeCursor(position, false);
    text.move(move, false, 1);
    return text.cursor();
}

// One line of `length` pieces from a small alphabet: letters, a digit, "_",
// separators ("\\" among them), white space (a tab and a no-break space among
// it) and a surrogate pair.
QString randomLine(std::mt19937 &random, int length)
{
    static const QString pieces[] = {u"a"_s, u"Z"_s, u"7"_s, u"_"_s, u"\u00e9"_s, u"."_s, u"-"_s,
                                     u"("_s, u")"_s, u"\\"_s, u"\""_s, u"@"_s, u" "_s, u" "_s,
                                     u"\t"_s, u"\u00a0"_s, u"\U0001F600"_s};
    std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
    QString line;
    for (int i = 0; i < length; ++i)
        line += pieces[pick(random)];
    return line;
}

// Every character of the Basic Multilingual Plane but the breaks and the
// surrogates, between two letters: a separator stops a word move after the
// first letter, white space after itself, anything else lets it go on.
TEST(WordMoveTest, EveryCharacterIsClassedAsQtClassesIt)
{
    EditableText text;
    for (char32_t c = 1; c < 0x10000; ++c) {
        if (c == u'\r' || c == u'\n' || QChar::isSurrogate(c))
            continue;
        const QString sample = u"a"_s + QChar(char16_t(c)) + u"a"_s;
        QTextLayout layout(sample);
        text.setText(sample);
        ASSERT_EQ(movedFrom(text, 0, Move::NextWord), layout.nextCursorPosition(0, QTextLayout::SkipWords))
            << "U+" << std::hex << unsigned(c);
        ASSERT_EQ(movedFrom(text, 3, Move::PreviousWord), layout.previousCursorPosition(3, QTextLayout::SkipWords))
            << "U+" << std::hex << unsigned(c);
    }
}

// Within one line, from every position (a pair's second half too), both
// ways: QTextLayout::nextCursorPosition and previousCursorPosition with
// SkipWords.
TEST(WordMoveTest, WithinALineTheStopsAreQTextLayouts)
{
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> lengths(0, 40);
    EditableText text;
    for (int round = 0; round < 3000; ++round) {
        const QString line = randomLine(random, lengths(random));
        QTextLayout layout(line);
        text.setText(line);
        for (qsizetype at = 0; at <= line.size(); ++at) {
            const int position = int(at);
            ASSERT_EQ(movedFrom(text, at, Move::NextWord), layout.nextCursorPosition(position, QTextLayout::SkipWords))
                << "next from " << at << " in " << testing::PrintToString(line);
            ASSERT_EQ(movedFrom(text, at, Move::PreviousWord),
                      layout.previousCursorPosition(position, QTextLayout::SkipWords))
                << "previous from " << at << " in " << testing::PrintToString(line);
        }
    }
}

// Across lines: a QTextDocument holding the same text, one block a line, and
// QTextCursor's NextWord and PreviousWord, which is what Ctrl+Right and
// Ctrl+Left do in a QPlainTextEdit. The document's separators are one
// character each, so positions are mapped through the "\r\n" pairs.
TEST(WordMoveTest, AcrossLinesTheStopsAreQTextCursors)
{
    static const QString breaks[] = {u"\r\n"_s, u"\r"_s, u"\n"_s};
    std::mt19937 random(7);
    std::uniform_int_distribution<int> lineCounts(1, 5);
    std::uniform_int_distribution<int> lengths(0, 12);
    std::uniform_int_distribution<std::size_t> pickBreak(0, std::size(breaks) - 1);
    EditableText text;
    for (int round = 0; round < 1000; ++round) {
        QString whole;
        const int lineCount = lineCounts(random);
        for (int i = 0; i < lineCount; ++i) {
            if (i > 0)
                whole += breaks[pickBreak(random)];
            whole += randomLine(random, lengths(random));
        }
        text.setText(whole);
        QTextDocument document;
        document.setPlainText(whole);
        ASSERT_EQ(document.blockCount(), text.lines().lineCount()) << testing::PrintToString(whole);

        // Our position of each document position, and the other way, at
        // every caret position (never between "\r" and "\n").
        std::vector<int> inDocument(std::size_t(whole.size()) + 1, -1);
        std::vector<qsizetype> inText;
        for (qsizetype at = 0; at <= whole.size(); ++at) {
            if (at > 0 && at < whole.size() && whole.at(at - 1) == u'\r' && whole.at(at) == u'\n')
                continue;
            inDocument[std::size_t(at)] = int(inText.size());
            inText.push_back(at);
        }
        ASSERT_EQ(qsizetype(inText.size()), qsizetype(document.characterCount()));

        for (qsizetype at = 0; at <= whole.size(); ++at) {
            const int position = inDocument[std::size_t(at)];
            if (position < 0)
                continue;
            for (const auto &[move, operation] : {std::pair(Move::NextWord, QTextCursor::NextWord),
                                                 std::pair(Move::PreviousWord, QTextCursor::PreviousWord)}) {
                QTextCursor cursor(&document);
                cursor.setPosition(position);
                cursor.movePosition(operation);
                ASSERT_EQ(movedFrom(text, at, move), inText[std::size_t(cursor.position())])
                    << (move == Move::NextWord ? "next" : "previous") << " from " << at << " in "
                    << testing::PrintToString(whole);
            }
        }
    }
}

} // namespace
