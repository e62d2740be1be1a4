#include "ChunkCompressor.h"
#include "EditableText.h"
#include "LineIndex.h"
#include "TextPrinters.h"
#include "TextSamples.h"
#include "TextValue.h"
#include "Wait.h"

#include <QtCore/QCoreApplication>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// What a sensor logs: lines that differ a little, which compress well.
QString readings(int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += u"#%1  T=%2 C  RH=%3 %\r\n"_s.arg(i, 6, 10, QLatin1Char('0')).arg(21 + (i % 37) / 10.0).arg(40 + i % 13);
    return text;
}

// Compression runs on a thread of its own and puts its results in place from
// the application's event loop; these tests have an application object.
class CompressionTest : public ::testing::Test
{
protected:
    static bool compressionDone()
    {
        return waitUntil([] { return TextTree::ChunkCompressor::pending() == 0; }, 60000);
    }

    int m_argc = 1;
    char m_name[11] = "text_tests";
    char *m_argv[2] = {m_name, nullptr};
    QCoreApplication m_application{m_argc, m_argv};
};

TEST_F(CompressionTest, CompressedChunksReadBackExactlyAndIndexAsBefore)
{
    const QString expected = u"Text1\r\n"_s + readings(40000) + QString(20000, u'\u00e9') + u"\u20ac end"_s;
    const qsizetype bytesBefore = TextValue::bytesInUse();
    TextValue text = u"Text1\r\n"_s;
    // Joined a burst at a time, as received.
    for (qsizetype at = text.size(); at < expected.size(); at += 4000)
        text = text + QStringView(expected).sliced(at, std::min<qsizetype>(4000, expected.size() - at));
    ASSERT_TRUE(compressionDone());
    EXPECT_LT(TextValue::bytesInUse() - bytesBefore, expected.size() / 3)
        << "the full chunks of readings were not compressed";

    // Every chunk read in turn, more of them than are ever kept decompressed.
    EXPECT_EQ(text, expected);
    for (qsizetype at = 0; at < expected.size(); at += 997)
        ASSERT_EQ(text.at(at), expected.at(at)) << at;
    EXPECT_EQ(text.mid(8190, 20), expected.mid(8190, 20));

    const LineIndex compressed(text);
    const LineIndex fresh = indexOf(text);
    EXPECT_EQ(compressed.lineCount(), fresh.lineCount());
    for (qsizetype line = 0; line < fresh.lineCount(); line += 997) {
        ASSERT_EQ(compressed.lineStart(line), fresh.lineStart(line)) << line;
        ASSERT_EQ(compressed.lineEnd(line), fresh.lineEnd(line)) << line;
        ASSERT_EQ(compressed.positionCovering(line, 9), fresh.positionCovering(line, 9)) << line;
    }
}

TEST_F(CompressionTest, EditsAndUndoReachIntoCompressedChunks)
{
    const QString expected = readings(20000);
    EditableText text;
    text.setText(expected);
    ASSERT_TRUE(compressionDone());

    text.setSelection(100000, 100010);
    text.replaceSelection(u"<mark>"_s, EditableText::Step::Typing);
    QString edited = expected;
    edited.replace(100000, 10, u"<mark>"_s);
    EXPECT_EQ(text.text(), edited);

    text.selectAll();
    text.removeSelection();
    ASSERT_TRUE(compressionDone());
    EXPECT_TRUE(text.text().isEmpty());
    text.undo();
    EXPECT_EQ(text.text(), edited);
    text.undo();
    EXPECT_EQ(text.text(), expected);
}

} // namespace
