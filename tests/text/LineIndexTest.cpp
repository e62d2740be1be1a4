#include "LineIndex.h"
#include "TextPrinters.h"
#include "TextSamples.h"
#include "TextValue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

void expectSameIndex(const LineIndex &incremental, const TextValue &text, int step)
{
    const LineIndex rebuilt = indexOf(text);
    const std::vector<qsizetype> starts = rebuilt.lineStarts();
    ASSERT_EQ(incremental.lineStarts(), starts) << "step " << step;
    ASSERT_EQ(incremental.lineCount(), static_cast<qsizetype>(starts.size())) << "step " << step;
    ASSERT_EQ(rebuilt.lineCount(), static_cast<qsizetype>(starts.size())) << "step " << step;
    for (std::size_t line = 0; line < starts.size(); line += 1 + starts.size() / 29) {
        ASSERT_EQ(incremental.lineStart(static_cast<qsizetype>(line)), starts[line]) << "step " << step;
        ASSERT_EQ(rebuilt.lineStart(static_cast<qsizetype>(line)), starts[line]) << "step " << step;
    }
    ASSERT_EQ(incremental.tabPositions(), rebuilt.tabPositions()) << "step " << step;
    ASSERT_EQ(incremental.widestLineWidth(), rebuilt.widestLineWidth()) << "step " << step;
    // Lines and columns at positions spread over the text.
    for (qsizetype position = 0; position <= text.size(); position += 1 + text.size() / 37) {
        const qsizetype line = rebuilt.lineAt(position);
        ASSERT_EQ(incremental.lineAt(position), line) << "step " << step << " position " << position;
        ASSERT_EQ(incremental.columnOf(line, position), rebuilt.columnOf(line, position))
            << "step " << step << " position " << position;
    }
}

} // namespace

TEST(LineIndexTest, FindsLinesForEveryKindOfBreak)
{
    const QString text = u"a\r\nb\rc\nd"_s;
    const LineIndex index = indexOf(text);
    EXPECT_EQ(index.lineStarts(), (std::vector<qsizetype>{0, 3, 5, 7}));
    EXPECT_EQ(index.lineEnd(0), 1);
    EXPECT_EQ(index.lineEnd(1), 4);
    EXPECT_EQ(index.lineEnd(3), 8);
    // "\n\r" is two breaks, not a pair.
    EXPECT_EQ(indexOf(u"\n\r"_s).lineCount(), 3);
    EXPECT_EQ(indexOf(u""_s).lineCount(), 1);
    EXPECT_EQ(indexOf(u"x\r\n"_s).lineCount(), 2);
    EXPECT_EQ(indexOf(u"x\r\n"_s).lineEnd(0), 1);
    EXPECT_EQ(indexOf(u"\r\r\n\n"_s).lineCount(), 4);

    // A position on a line's end, before its break, belongs to that line.
    const QString lines = u"ab\r\ncd\ne"_s;
    const LineIndex at = indexOf(lines);
    EXPECT_EQ(at.lineAt(0), 0);
    EXPECT_EQ(at.lineAt(2), 0);
    EXPECT_EQ(at.lineAt(4), 1);
    EXPECT_EQ(at.lineAt(6), 1);
    EXPECT_EQ(at.lineAt(7), 2);
    EXPECT_EQ(at.lineAt(8), 2);
    EXPECT_TRUE(LineIndex::splitsBreak(lines, 3));
    EXPECT_FALSE(LineIndex::splitsBreak(lines, 2));
    EXPECT_FALSE(LineIndex::splitsBreak(lines, 7));

    // A trailing "\r" joins a "\n" appended later; a second "\r" is a break.
    TextValue joined = u"ab\r"_s;
    LineIndex growing = indexOf(joined);
    ASSERT_EQ(growing.lineCount(), 2);
    joined = joined + u"\ncd"_s;
    growing = LineIndex(joined);
    EXPECT_EQ(growing.lineStarts(), (std::vector<qsizetype>{0, 4}));
    EXPECT_EQ(growing.lineEnd(0), 2);
    joined = joined + u"\r"_s;
    growing = LineIndex(joined);
    joined = joined + u"\r"_s;
    growing = LineIndex(joined);
    EXPECT_EQ(growing.lineCount(), 4);
}

TEST(LineIndexTest, AppendsAndEditsGiveTheSameIndexAsARebuild)
{
    std::mt19937 random(20240611);
    std::uniform_int_distribution<qsizetype> pieceLength(0, 12);
    for (int round = 0; round < 50; ++round) {
        const QString whole = breakHeavyText(random, 400);
        TextValue text;
        while (text.size() < whole.size()) {
            const qsizetype done = text.size();
            text = text + QStringView(whole).sliced(done, std::min(whole.size() - done, pieceLength(random)));
            expectSameIndex(LineIndex(text), text, round);
        }
    }

    // Texts of many chunks, joined in pieces large and small and edited
    // anywhere: breaks split by the edges of chunks and of the tree's joins.
    const QString whole = breakHeavyText(random, 60000);
    TextValue text;
    std::uniform_int_distribution<qsizetype> largePiece(0, 9000);
    for (int step = 0; text.size() < whole.size(); ++step) {
        const qsizetype done = text.size();
        const qsizetype length = step % 2 == 0 ? largePiece(random) : pieceLength(random);
        text = text + QStringView(whole).sliced(done, std::min(whole.size() - done, length));
        expectSameIndex(LineIndex(text), text, step);
    }
    QString edited = whole;
    for (int edit = 0; edit < 300; ++edit) {
        const qsizetype from = std::uniform_int_distribution<qsizetype>(0, edited.size())(random);
        const qsizetype removed = std::uniform_int_distribution<qsizetype>(
            0, std::min<qsizetype>(edit % 10 == 0 ? 20000 : 4, edited.size() - from))(random);
        // Keep the size roughly level so edits keep hitting every kind of join.
        const QString inserted = breakHeavyText(random, edited.size() > 60000 ? removed : removed + 2);
        edited.replace(from, removed, inserted);
        text = text.replaced(from, removed, inserted);
        ASSERT_EQ(text, edited) << "edit " << edit;
        expectSameIndex(LineIndex(text), text, edit);
    }
}

// A "\r\n" whose halves fall in two chunks of storage is still one break,
// whether it came in one join or two, and edits between and around it keep
// it so.
TEST(LineIndexTest, ABreakSplitByAChunkEdgeIsOneBreak)
{
    const qsizetype edge = 8192;
    TextValue text = QString(edge - 1, u'a') + u"\r"_s;
    text = text + u"\nb\tc"_s;
    const LineIndex index(text);
    EXPECT_EQ(index.lineCount(), 2);
    EXPECT_EQ(index.lineEnd(0), edge - 1);
    EXPECT_EQ(index.lineStart(1), edge + 1);
    EXPECT_EQ(index.lineAt(edge), 0) << "between the \\r and the \\n is the end of the line before";
    EXPECT_EQ(index.lineAt(edge + 1), 1);
    EXPECT_EQ(index.columnOf(1, edge + 3), 8);
    EXPECT_EQ(index.widestLineWidth(), edge - 1);

    const TextValue parted = text.replaced(edge, 0, u"x"_s);
    EXPECT_EQ(LineIndex(parted).lineCount(), 3);
    EXPECT_EQ(LineIndex(parted).lineStarts(), (std::vector<qsizetype>{0, edge, edge + 2}));
    const TextValue joined = parted.replaced(edge, 1, QString());
    EXPECT_EQ(LineIndex(joined).lineCount(), 2);
    EXPECT_EQ(LineIndex(joined).lineStart(1), edge + 1);
    EXPECT_EQ(LineIndex(joined).lineEnd(0), edge - 1);
}

TEST(LineIndexTest, WidestLineFollowsLinesThatGrowAndShrink)
{
    QString text = u"aaaaaa\nbb"_s;
    LineIndex index = indexOf(text);
    EXPECT_EQ(index.widestLineWidth(), 6);
    TextValue value = text;
    const auto edit = [&](qsizetype from, qsizetype removed, const QString &inserted) {
        value = value.replaced(from, removed, inserted);
        index = LineIndex(value);
        return index.widestLineWidth();
    };
    EXPECT_EQ(edit(1, 4, QString()), 2);    // "aa\nbb"
    EXPECT_EQ(edit(5, 0, u"bbbbb"_s), 7);   // "aa\nbbbbbbb"
    EXPECT_EQ(edit(6, 0, u"\r"_s), 4);      // splits the long line: "aa\nbbb\rbbbb"
    // Widths count columns: a tab reaches the next stop, a character before
    // it only fills the tab, and taking the tab away narrows the line again.
    EXPECT_EQ(edit(0, 0, u"\t"_s), 10);     // "\taa\n..."
    EXPECT_EQ(edit(0, 0, u"x"_s), 10);      // "x\taa\n..."
    EXPECT_EQ(edit(1, 1, QString()), 4);    // "xaa\n..."
}

TEST(LineIndexTest, TabsReachTheNextStopOfEightColumns)
{
    // Columns of line 0: a 0, b 1, tab 2..8, c 8, tabs 9..16 and 16..24,
    // d 24 .. j 30, end 31.
    const QString text = u"ab\tc\t\tdefghij\r\n0123456789"_s;
    const LineIndex index = indexOf(text);
    EXPECT_EQ(index.tabPositions(), (std::vector<qsizetype>{2, 4, 5}));
    EXPECT_EQ(index.columnOf(0, 2), 2);
    EXPECT_EQ(index.columnOf(0, 3), 8);
    EXPECT_EQ(index.columnOf(0, 6), 24);
    EXPECT_EQ(index.lineWidth(0), 31);
    EXPECT_EQ(index.widestLineWidth(), 31);

    // The caret goes to the nearer edge of a cell, a tab's cell too.
    EXPECT_EQ(index.positionNear(0, 4.9), 2);
    EXPECT_EQ(index.positionNear(0, 5.1), 3);
    EXPECT_EQ(index.positionNear(0, 8.4), 3);
    EXPECT_EQ(index.positionNear(0, 8.6), 4);
    EXPECT_EQ(index.positionNear(0, 100.0), 13);
    // Painting starts at the character whose cell holds the first column.
    EXPECT_EQ(index.positionCovering(0, 7), 2);
    EXPECT_EQ(index.positionCovering(0, 8), 3);
    EXPECT_EQ(index.positionCovering(0, 20), 5);
    EXPECT_EQ(index.positionCovering(0, 25), 7);
    EXPECT_EQ(index.positionCovering(0, 99), 13);

    // On a line without tabs a column is an offset.
    EXPECT_EQ(index.columnOf(1, 20), 5);
    EXPECT_EQ(index.positionNear(1, 5.0), 20);
    EXPECT_EQ(index.positionCovering(1, 5), 20);
}
