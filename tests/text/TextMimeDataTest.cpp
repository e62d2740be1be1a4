#include "TextMimeData.h"

#include <QtCore/QMimeData>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// Characters of every width UTF-8 gives, a NUL and a surrogate pair that
// falls across the edge of two pieces.
QString mixedText()
{
    QString text(TextMimeData::Piece - 1, u'a');
    text += u"\U0001F600"_s; // its halves are the last of one piece and the first of the next
    text += u"\0\r\n\u00e9\u20ac"_s;
    text += QString(TextMimeData::Piece, u'\u00ff');
    return text;
}

TEST(TextMimeDataTest, ReadersGetTheExactCharactersAsStringOrUtf8)
{
    const QString text = mixedText();
    const TextMimeData data(TextValue{text}, {}, [] { return qint64{1} << 40; });
    EXPECT_EQ(data.formats(), QStringList{u"text/plain"_s});
    EXPECT_TRUE(data.hasText());
    EXPECT_FALSE(data.hasHtml());
    EXPECT_EQ(data.text(), text);
    EXPECT_EQ(data.data(u"text/plain"_s), text.toUtf8());
    EXPECT_TRUE(data.data(u"text/html"_s).isEmpty());
}

TEST(TextMimeDataTest, ACopyThatDoesNotFitInWhatIsLeftIsRefusedAndToldOnce)
{
    const QString text(1000, u'\u00e9'); // two bytes a character in UTF-8
    int told = 0;
    qint64 room = 3000; // half of it is 1500 bytes: less than the 2000 it takes
    const TextMimeData data(TextValue{text}, [&told] { ++told; }, [&room] { return room; });
    EXPECT_TRUE(data.data(u"text/plain"_s).isEmpty());
    EXPECT_TRUE(data.text().isEmpty());
    EXPECT_TRUE(data.data(u"text/plain"_s).isEmpty());
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(data.hasText()) << "what it offers does not change";

    room = 4000;
    EXPECT_EQ(data.data(u"text/plain"_s), text.toUtf8()) << "with room again, the copy is made";
    EXPECT_EQ(data.text(), text);
    EXPECT_EQ(told, 1);
}

TEST(TextMimeDataTest, AnAsciiCopyIsCountedExactlyNotAtThreeBytesACharacter)
{
    const QString text(TextMimeData::Piece * 3, u'x');
    int told = 0;
    // Room for it at one byte a character, not at three.
    const qint64 room = 2 * text.size() + 2;
    const TextMimeData data(TextValue{text}, [&told] { ++told; }, [room] { return room; });
    EXPECT_EQ(data.data(u"text/plain"_s).size(), text.size());
    EXPECT_EQ(told, 0);
    // As a string it takes two bytes a character: more than half the room.
    EXPECT_TRUE(data.text().isEmpty());
    EXPECT_EQ(told, 1);
}

} // namespace
