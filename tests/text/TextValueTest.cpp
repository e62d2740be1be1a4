#include "TextValue.h"

#include <gtest/gtest.h>

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

} // namespace
