#include "ChunkCompressor.h"
#include "EditableText.h"
#include "LineIndex.h"
#include "MemoryBudget.h"
#include "TextTree.h"
#include "TextPrinters.h"
#include "TextSamples.h"
#include "TextValue.h"
#include "MemoryLimit.h"
#include "Wait.h"

#include <QtCore/QCoreApplication>

#include <gtest/gtest.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

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

namespace {

qint64 residentAfterTrim()
{
#if defined(__GLIBC__)
    // Freed memory the allocator still holds is not the text's.
    ::malloc_trim(0);
#endif
    return MemoryLimit::resident();
}

} // namespace

// What the budget counts for a text must be what the process holds for it,
// or a device that repeats itself (a stuck sensor) fills memory while the box
// never says it is full: each chunk's nodes and bookkeeping cost far more
// than its few compressed bytes.
TEST_F(CompressionTest, ResidentMemoryOfARepeatedLineIsWhatTheBudgetCounts)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's allocator holds freed memory back and shadows the rest";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    GTEST_SKIP() << "a sanitizer's allocator holds freed memory back and shadows the rest";
#endif
#endif
    const QString burst = QString(u"T=21.50\r\n"_s).repeated(64 * 1024 / 9);
    const qint64 residentBefore = residentAfterTrim();
    const qsizetype countedBefore = TextValue::bytesInUse();
    {
        TextValue text;
        while (text.size() < 120'000'000)
            text = text + burst;
        ASSERT_TRUE(compressionDone());
        const double resident = static_cast<double>(residentAfterTrim() - residentBefore);
        const double counted = static_cast<double>(TextValue::bytesInUse() - countedBefore);
        ASSERT_GT(resident, 0);
        EXPECT_LT(resident, counted * 1.25) << "the text holds " << resident << " bytes, the budget counts " << counted;
        // Counting much more than is held would fill the box early.
        EXPECT_GT(resident, counted / 2) << "the text holds " << resident << " bytes, the budget counts " << counted;
    }
}

// A text is full only if it is full once compressed: chunks still waiting
// for the compressor must not make the box say so a burst or two early.
TEST_F(CompressionTest, ChunksWaitingForCompressionDoNotMakeTheTextFull)
{
    const QString expected = readings(400'000);
    // Joined faster than the compressor keeps up: most chunks still wait.
    const auto received = [&expected] {
        TextValue text;
        for (qsizetype at = 0; at < expected.size(); at += 1 << 20)
            text = text + QStringView(expected).sliced(at, std::min<qsizetype>(1 << 20, expected.size() - at));
        return text;
    };
    const qsizetype storedBefore = TextValue::bytesInUse();
    qsizetype compressed = 0;
    {
        const TextValue text = received();
        ASSERT_TRUE(compressionDone());
        compressed = TextValue::bytesInUse() - storedBefore;
    }
    ASSERT_LT(compressed, expected.size() / 3);

    const TextValue text = received();
    MemoryBudget budget;
    budget.setLimit(storedBefore + compressed * 3 / 2);
    EXPECT_FALSE(budget.isFull());
    EXPECT_EQ(TextTree::ChunkCompressor::pending(), 0);
    EXPECT_EQ(text, expected);

    budget.setLimit(storedBefore + compressed / 2);
    EXPECT_TRUE(budget.isFull());
}
