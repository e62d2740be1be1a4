#include "FailingAllocation.h"
#include "TextValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <new>
#include <random>

using namespace Qt::StringLiterals;

namespace {

// Longer than one storage chunk, so joins and reads cross chunk boundaries.
QString pattern(qsizetype length, char16_t seed = u'a')
{
    QString text(length, Qt::Uninitialized);
    for (qsizetype i = 0; i < length; ++i)
        text[i] = QChar(static_cast<char16_t>(seed + i % 23));
    return text;
}

TEST(TextValueTest, JoinsReadBackExactlyAcrossChunkBoundaries)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> lengths(0, 70000);
    QString expected;
    TextValue text;
    for (int join = 0; join < 12; ++join) {
        const QString tail = pattern(lengths(random), static_cast<char16_t>(u'A' + join));
        text = text + tail;
        expected += tail;
        ASSERT_EQ(text.size(), expected.size());
    }
    EXPECT_EQ(text.toString(), expected);
    EXPECT_TRUE(text == expected);
    for (qsizetype position : {qsizetype(0), qsizetype(65535), qsizetype(65536), expected.size() - 1})
        EXPECT_EQ(text.at(position), expected.at(position)) << position;
    EXPECT_EQ(text.mid(65530, 20), expected.mid(65530, 20));
    EXPECT_EQ(text.mid(expected.size() - 3, 100), expected.right(3));
}

TEST(TextValueTest, OlderValuesNeverChange)
{
    const TextValue first = u"Text1"_s;
    const TextValue second = first + u"\r\nabc"_s;
    // `first` is no longer its buffer's newest value: this join must not
    // write over what `second` holds.
    const TextValue branch = first + u"XYZ"_s;
    const TextValue third = second + pattern(100000);

    EXPECT_EQ(first.toString(), u"Text1"_s);
    EXPECT_EQ(second.toString(), u"Text1\r\nabc"_s);
    EXPECT_EQ(branch.toString(), u"Text1XYZ"_s);
    EXPECT_EQ(third.toString(), u"Text1\r\nabc"_s + pattern(100000));
}

TEST(TextValueTest, ExtensionIsToldWithoutLookingAtCharactersWithinOneBuffer)
{
    const TextValue base = pattern(200000);
    const TextValue longer = base + u"tail"_s;
    EXPECT_TRUE(longer.extends(base));
    EXPECT_TRUE(base.extends(base));
    EXPECT_FALSE(base.extends(longer));

    // Same characters in another buffer: still an extension, found by comparing.
    const TextValue copy = TextValue(pattern(200000)) + u"tail"_s;
    EXPECT_TRUE(copy.extends(base));
    const TextValue differentLate = TextValue(pattern(199999) + u"!"_s) + u"tail"_s;
    EXPECT_FALSE(differentLate.extends(base));
    EXPECT_TRUE(longer == copy);
    EXPECT_FALSE(longer == differentLate);
}

TEST(TextValueTest, ReplacedMakesANewValueAndLeavesTheOldOne)
{
    const TextValue text = u"Text1\r\nline"_s;
    const TextValue edited = text.replaced(4, 1, u"X\0Y"_s);

    EXPECT_EQ(edited.toString(), u"TextX\0Y\r\nline"_s);
    EXPECT_EQ(text.toString(), u"Text1\r\nline"_s);
    EXPECT_EQ(text.replaced(0, 100, u""_s).toString(), u""_s);
    // The edited value is its own buffer's newest: joins to it stay cheap and exact.
    const TextValue joined = edited + u"!"_s;
    EXPECT_TRUE(joined.extends(edited));
    EXPECT_EQ(joined.toString(), u"TextX\0Y\r\nline!"_s);
}

// A join may fail after its first characters went into the chunk that the
// value shares with the values joined from it: the next join to the value
// must neither take them for its own nor write after them.
TEST(TextValueTest, AJoinThatFailsLeavesTheValueToJoinToExactly)
{
    for (long failing = 0;; ++failing) {
        const TextValue text = TextValue() + u"abc"_s;
        if (FailingAllocation::attempt(failing, [&text] { const TextValue joined = text + u"DEF"_s; })) {
            ASSERT_GT(failing, 0) << "no allocation to fail";
            break;
        }
        EXPECT_EQ(text.toString(), u"abc"_s) << "allocation " << failing;
        EXPECT_EQ((text + u"xyz"_s).toString(), u"abcxyz"_s) << "allocation " << failing;
    }
}

TEST(TextValueTest, EmptyValuesJoinAndCompare)
{
    const TextValue empty;
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_TRUE(empty == u""_s);
    EXPECT_EQ((empty + u""_s).size(), 0);
    EXPECT_EQ((empty + u"a"_s).toString(), u"a"_s);
    EXPECT_TRUE((empty + u"a"_s).extends(empty));
    EXPECT_EQ(empty.mid(0, 5), QString());
}

// Characters of every kind: mostly bytes, some of them line breaks, now and
// then a character above U+00FF or a surrogate pair.
QString mixedText(std::mt19937 &random, qsizetype length)
{
    std::uniform_int_distribution<int> kind(0, 99);
    std::uniform_int_distribution<int> byte(0, 0xFF);
    std::uniform_int_distribution<int> wide(0x100, 0xD7FF);
    QString text;
    text.reserve(length + 1);
    while (text.size() < length) {
        const int k = kind(random);
        if (k < 2)
            text += u"\U0001F600"_s;
        else if (k < 5)
            text += QChar(static_cast<char16_t>(wide(random)));
        else if (k < 15)
            text += k % 2 == 0 ? u"\r\n"_s : u"\r"_s;
        else
            text += QChar(static_cast<char16_t>(byte(random)));
    }
    return text;
}

// Joins, branches, edits and slices at random against a QString doing the
// same: chunks of one byte and of two a character, their edges, and the
// tree's joins and splits all get their turn.
TEST(TextValueTest, EveryOperationReadsBackExactlyWhateverTheChunksHold)
{
    std::mt19937 random(1011);
    const auto upTo = [&random](qsizetype most) { return std::uniform_int_distribution<qsizetype>(0, most)(random); };
    QString expected;
    TextValue text;
    for (int step = 0; step < 400; ++step) {
        switch (step % 5) {
        case 0:
        case 1: {
            const QString tail = step % 7 == 0 ? mixedText(random, upTo(30)) : QString(upTo(12000), u'x');
            text = text + tail;
            expected += tail;
            break;
        }
        case 2: {
            // A join to a value that is no longer the newest starts a branch;
            // the newest must not see it.
            const TextValue older = text;
            const QString oldExpected = expected;
            text = text + u"new"_s;
            const TextValue branch = older + u"branch"_s;
            ASSERT_EQ(branch, oldExpected + u"branch"_s) << "step " << step;
            expected += u"new"_s;
            break;
        }
        case 3: {
            const qsizetype from = upTo(expected.size());
            const qsizetype removed = upTo(std::min<qsizetype>(step % 4 == 0 ? 20000 : 10, expected.size() - from));
            const QString inserted = mixedText(random, upTo(step % 6 == 0 ? 9000 : 5));
            const TextValue before = text;
            const QString beforeExpected = expected;
            text = text.replaced(from, removed, inserted);
            expected.replace(from, removed, inserted);
            ASSERT_EQ(before, beforeExpected) << "an edit changed the value it came from, step " << step;
            break;
        }
        case 4: {
            const qsizetype from = upTo(expected.size());
            const qsizetype length = upTo(expected.size() - from);
            ASSERT_EQ(text.slice(from, length), expected.mid(from, length)) << "step " << step;
            break;
        }
        }
        ASSERT_EQ(text.size(), expected.size()) << "step " << step;
        ASSERT_EQ(text, expected) << "step " << step;
        for (int probe = 0; probe < 5 && !expected.isEmpty(); ++probe) {
            const qsizetype at = upTo(expected.size() - 1);
            ASSERT_EQ(text.at(at), expected.at(at)) << "step " << step << " at " << at;
        }
    }
}

// Edits in one place and all over a long text keep the tree as shallow as
// a balanced one: a lookup stays a short descent.
TEST(TextValueTest, EditsKeepTheTreeBalanced)
{
    std::mt19937 random(2024);
    TextValue text = QString(4'000'000, u'a');
    const TextValue original = text;
    for (int edit = 0; edit < 3000; ++edit) {
        const qsizetype from = edit % 2 == 0 ? text.size() / 2 : std::uniform_int_distribution<qsizetype>(0, text.size())(random);
        text = text.replaced(from, edit % 3, u"b\r\n"_s);
    }
    // An AVL tree of n leaves is at most 1.44 log2(n) + 2 high.
    const double leaves = static_cast<double>(text.size()) / 4096;
    EXPECT_LE(text.depth(), static_cast<int>(1.44 * std::log2(leaves) + 3)) << "over " << leaves << " leaves at most";
    EXPECT_EQ(original, QString(4'000'000, u'a'));
}

} // namespace
