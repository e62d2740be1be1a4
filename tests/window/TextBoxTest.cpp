#include "LineIndex.h"
#include "TextBox.h"

#include <QtTest/QTest>

#include <QtWidgets/QApplication>
#include <QtWidgets/QScrollBar>

#include <QtGui/QClipboard>
#include <QtGui/QFontMetrics>
#include <QtGui/QFontMetricsF>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <ostream>
#include <random>
#include <vector>

using namespace Qt::StringLiterals;

// Failures show control characters by their code, so "\r\n" and "\n\r" differ
// on screen too.
static void PrintTo(const QString &text, std::ostream *out)
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

namespace {

// Text built mostly of line-break characters, so that "\r\n" pairs, lone
// "\r" and "\n", and "\n\r" all turn up often, with U+0000 among them.
QString breakHeavyText(std::mt19937 &random, qsizetype length)
{
    static constexpr char16_t alphabet[] = {u'a', u'b', u'\r', u'\n', u'\r', u'\n', u'\0'};
    std::uniform_int_distribution<std::size_t> pick(0, std::size(alphabet) - 1);
    QString text;
    for (qsizetype i = 0; i < length; ++i)
        text.append(QChar(alphabet[pick(random)]));
    return text;
}

QString latin1Text(std::mt19937 &random, qsizetype length)
{
    std::uniform_int_distribution<int> pick(0, 0xFF);
    QString text;
    for (qsizetype i = 0; i < length; ++i)
        text.append(QChar(static_cast<char16_t>(pick(random))));
    return text;
}

LineIndex indexOf(QStringView text)
{
    LineIndex index;
    index.rebuild(text);
    return index;
}

QString numberedLines(int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += u"line %1\r\n"_s.arg(i);
    return text;
}

} // namespace

// ---------------------------------------------------------------------------
// The line index on its own

TEST(LineIndexTest, CountsEachKindOfBreakAsOneLineBreak)
{
    const QString text = u"a\r\nb\rc\nd"_s;
    const LineIndex index = indexOf(text);
    EXPECT_EQ(index.lineStarts(), (std::vector<qsizetype>{0, 3, 5, 7}));
    EXPECT_EQ(index.lineEnd(text, 0), 1);
    EXPECT_EQ(index.lineEnd(text, 1), 4);
    EXPECT_EQ(index.lineEnd(text, 3), 8);

    // "\n\r" is two breaks, not a pair.
    EXPECT_EQ(indexOf(u"\n\r"_s).lineCount(), 3);
    EXPECT_EQ(indexOf(u""_s).lineCount(), 1);
    EXPECT_EQ(indexOf(u"x\r\n"_s).lineCount(), 2);
    EXPECT_EQ(indexOf(u"x\r\n"_s).lineEnd(u"x\r\n", 0), 1);
    EXPECT_EQ(indexOf(u"\r\r\n\n"_s).lineCount(), 4);
}

TEST(LineIndexTest, MapsPositionsToTheLineHoldingThem)
{
    const QString text = u"ab\r\ncd\ne"_s;
    const LineIndex index = indexOf(text);
    EXPECT_EQ(index.lineAt(0), 0);
    EXPECT_EQ(index.lineAt(2), 0); // end of "ab", before its break
    EXPECT_EQ(index.lineAt(4), 1);
    EXPECT_EQ(index.lineAt(6), 1);
    EXPECT_EQ(index.lineAt(7), 2);
    EXPECT_EQ(index.lineAt(8), 2);
    EXPECT_TRUE(LineIndex::splitsBreak(text, 3));
    EXPECT_FALSE(LineIndex::splitsBreak(text, 2));
    EXPECT_FALSE(LineIndex::splitsBreak(text, 7));
}

TEST(LineIndexTest, JoinsTrailingCarriageReturnWithLaterLineFeed)
{
    QString text = u"ab\r"_s;
    LineIndex index = indexOf(text);
    ASSERT_EQ(index.lineCount(), 2);

    text += u"\ncd"_s;
    index.append(text, 3);
    EXPECT_EQ(index.lineStarts(), (std::vector<qsizetype>{0, 4}));
    EXPECT_EQ(index.lineEnd(text, 0), 2);

    // A second "\r" after a "\r" is a second break.
    text += u"\r"_s;
    index.append(text, 6);
    text += u"\r"_s;
    index.append(text, 7);
    EXPECT_EQ(index.lineCount(), 4);
}

TEST(LineIndexTest, AppendsInPiecesGiveTheSameIndexAsARebuild)
{
    std::mt19937 random(20240611);
    for (int round = 0; round < 50; ++round) {
        const QString whole = breakHeavyText(random, 400);
        std::uniform_int_distribution<qsizetype> pieceLength(0, 12);
        LineIndex incremental;
        qsizetype done = 0;
        incremental.rebuild(QStringView(whole).first(done));
        while (done < whole.size()) {
            const qsizetype next = std::min(whole.size(), done + pieceLength(random));
            const QStringView text = QStringView(whole).first(next);
            incremental.append(text, done);
            done = next;
            const LineIndex rebuilt = indexOf(text);
            ASSERT_EQ(incremental.lineStarts(), rebuilt.lineStarts()) << "round " << round << " at " << done;
            ASSERT_EQ(incremental.longestLineLength(), rebuilt.longestLineLength());
        }
    }
}

TEST(LineIndexTest, EditsAnywhereGiveTheSameIndexAsARebuild)
{
    std::mt19937 random(77);
    QString text = breakHeavyText(random, 300);
    LineIndex incremental = indexOf(text);
    for (int edit = 0; edit < 2000; ++edit) {
        std::uniform_int_distribution<qsizetype> at(0, text.size());
        const qsizetype from = at(random);
        std::uniform_int_distribution<qsizetype> removable(0, std::min<qsizetype>(4, text.size() - from));
        const qsizetype removed = removable(random);
        // Keep the size roughly level so edits keep hitting every kind of join.
        const QString inserted = breakHeavyText(random, text.size() > 300 ? removed : removed + 2);
        text.replace(from, removed, inserted);
        incremental.replace(text, from, removed, inserted.size());
        const LineIndex rebuilt = indexOf(text);
        ASSERT_EQ(incremental.lineStarts(), rebuilt.lineStarts()) << "edit " << edit;
        ASSERT_EQ(incremental.longestLineLength(), rebuilt.longestLineLength()) << "edit " << edit;
    }
}

TEST(LineIndexTest, LongestLineFollowsLinesThatGrowAndShrink)
{
    QString text = u"aaaaaa\nbb"_s;
    LineIndex index = indexOf(text);
    EXPECT_EQ(index.longestLineLength(), 6);

    text.replace(1, 4, QString()); // "aa\nbb"
    index.replace(text, 1, 4, 0);
    EXPECT_EQ(index.longestLineLength(), 2);

    text.insert(5, u"bbbbb"_s); // "aa\nbbbbbbb"
    index.replace(text, 5, 0, 5);
    EXPECT_EQ(index.longestLineLength(), 7);

    text.insert(6, u"\r"_s); // splits the long line: "aa\nbbb\rbbbb"
    index.replace(text, 6, 0, 1);
    EXPECT_EQ(index.longestLineLength(), 4);
}

// ---------------------------------------------------------------------------
// The widget

class TextBoxTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        box.resize(400, 300);
        box.show();
        QApplication::processEvents();
        ASSERT_TRUE(box.isVisible());
        const QFontMetricsF metrics(box.font());
        cellWidth = metrics.horizontalAdvance(QLatin1Char('0'));
        lineHeight = QFontMetrics(box.font()).lineSpacing();
    }

    // A point in the left part of a cell of the viewport, so that a click
    // there puts the caret before that cell's character.
    QPoint cell(int row, qsizetype column) const
    {
        return QPoint(static_cast<int>(std::lround((static_cast<double>(column) + 0.25) * cellWidth)),
                      row * lineHeight + lineHeight / 2);
    }

    QImage viewportImage()
    {
        return box.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    // Whether anything but background was painted in the viewport pixels
    // [left, right) of the first `rows` text rows.
    bool inkBetween(const QImage &image, int left, int right, int rows = 1) const
    {
        const QRgb background = box.palette().color(QPalette::Base).rgb();
        for (int y = 0; y < std::min(image.height(), rows * lineHeight); ++y)
            for (int x = std::max(0, left); x < std::min(image.width(), right); ++x)
                if (image.pixel(x, y) != background)
                    return true;
        return false;
    }

    // Cells have fractional widths; the pixels shared with a neighbour don't
    // count, so a frame drawn round the next cell is not taken for ink here.
    bool inkInCell(const QImage &image, qsizetype column) const
    {
        const double left = static_cast<double>(column) * cellWidth;
        return inkBetween(image, static_cast<int>(std::floor(left)) + 1,
                          static_cast<int>(std::ceil(left + cellWidth)) - 1);
    }

    static bool clipboardWorks()
    {
        QClipboard *clipboard = QGuiApplication::clipboard();
        clipboard->setText(u"probe"_s);
        return clipboard->text() == u"probe"_s;
    }

    TextBox box;
    double cellWidth = 0;
    int lineHeight = 0;
};

TEST_F(TextBoxTest, TextReadsBackExactlyWhatWasSet)
{
    std::mt19937 random(4242);
    const QString text = u"one\r\ntwo\rthree\nfour"_s + QChar(u'\0') + u"five"_s + QChar(u'\u00FF')
        + latin1Text(random, 2000);
    box.setText(text);
    EXPECT_EQ(box.Text(), text);
    EXPECT_EQ(box.Text().size(), text.size());

    // An extending set keeps every character too, the join included.
    const QString longer = text + u"\r"_s;
    box.setText(longer);
    box.setText(longer + u"\n"_s + QChar(u'\0'));
    EXPECT_EQ(box.Text(), longer + u"\n"_s + QChar(u'\0'));

    box.setText(QString());
    EXPECT_TRUE(box.Text().isEmpty());
    EXPECT_EQ(box.lineCount(), 1);
}

TEST_F(TextBoxTest, LineCountFollowsBreaksSplitAcrossAppends)
{
    box.setText(u"a\r"_s);
    EXPECT_EQ(box.lineCount(), 2);
    box.setText(box.Text() + u"\nb"_s);
    EXPECT_EQ(box.lineCount(), 2);
    box.setText(box.Text() + u"\r"_s);
    box.setText(box.Text() + u"\r"_s);
    EXPECT_EQ(box.lineCount(), 4);
    box.setText(box.Text() + u"\n\n"_s);
    EXPECT_EQ(box.lineCount(), 5);

    // Random bursts through the widget agree with indexing the whole text.
    std::mt19937 random(9);
    box.setText(QString());
    for (int burst = 0; burst < 200; ++burst)
        box.setText(box.Text() + breakHeavyText(random, std::uniform_int_distribution<qsizetype>(0, 6)(random)));
    EXPECT_EQ(box.lineCount(), indexOf(box.Text()).lineCount());
}

TEST_F(TextBoxTest, TypedTextStaysWhereTypedWhenTextIsAppended)
{
    box.setText(u"Text1"_s);
    QTest::mouseClick(box.viewport(), Qt::LeftButton, Qt::NoModifier, cell(0, 2));
    ASSERT_EQ(box.cursorPosition(), 2);
    QTest::keyClicks(&box, u"ab"_s);
    EXPECT_EQ(box.Text(), u"Teabxt1"_s);

    box.setText(box.Text() + u"xyz"_s);
    EXPECT_EQ(box.Text(), u"Teabxt1xyz"_s);
    EXPECT_EQ(box.cursorPosition(), 4);
    QTest::keyClicks(&box, u"!"_s);
    EXPECT_EQ(box.Text(), u"Teab!xt1xyz"_s);
}

TEST_F(TextBoxTest, CaretAfterATrailingReturnStaysOnItsLineWhenTheLineFeedArrives)
{
    box.setText(u"ab\r"_s);
    box.setCursorPosition(3); // the start of the empty line after "\r"
    box.setText(box.Text() + u"\ncd"_s);
    EXPECT_EQ(box.lineCount(), 2);
    EXPECT_EQ(box.cursorPosition(), 4);
    QTest::keyClicks(&box, u"X"_s);
    EXPECT_EQ(box.Text(), u"ab\r\nXcd"_s);
}

TEST_F(TextBoxTest, TypingReplacesTheSelectionAndTakesMarkupAsText)
{
    box.setText(u"hello"_s);
    box.setCursorPosition(0);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClicks(&box, u"<b>"_s);
    EXPECT_EQ(box.Text(), u"<b>llo"_s);
    EXPECT_EQ(box.cursorPosition(), 3);
    EXPECT_EQ(box.selectionStart(), box.selectionEnd());
}

TEST_F(TextBoxTest, EnterInsertsCarriageReturnLineFeed)
{
    box.setText(u"ab"_s);
    box.setCursorPosition(1);
    QTest::keyClick(&box, Qt::Key_Return);
    EXPECT_EQ(box.Text(), u"a\r\nb"_s);
    EXPECT_EQ(box.lineCount(), 2);
    EXPECT_EQ(box.cursorPosition(), 3);
    QTest::keyClick(&box, Qt::Key_Enter);
    EXPECT_EQ(box.Text(), u"a\r\n\r\nb"_s);
}

TEST_F(TextBoxTest, BackspaceAndDeleteTakeALineBreakAsOneUnit)
{
    box.setText(u"a\r\nb"_s);
    box.setCursorPosition(3);
    QTest::keyClick(&box, Qt::Key_Backspace);
    EXPECT_EQ(box.Text(), u"ab"_s);
    EXPECT_EQ(box.cursorPosition(), 1);

    box.setText(u"a\r\nb"_s);
    box.setCursorPosition(1);
    QTest::keyClick(&box, Qt::Key_Delete);
    EXPECT_EQ(box.Text(), u"ab"_s);
    EXPECT_EQ(box.lineCount(), 1);

    // Lone breaks go one character at a time.
    box.setText(u"a\r\rb"_s);
    box.setCursorPosition(3);
    QTest::keyClick(&box, Qt::Key_Backspace);
    EXPECT_EQ(box.Text(), u"a\rb"_s);

    // Nothing to take at either end; a selection goes whole.
    box.setText(u"xyz"_s);
    box.setCursorPosition(0);
    QTest::keyClick(&box, Qt::Key_Backspace);
    box.setCursorPosition(3);
    QTest::keyClick(&box, Qt::Key_Delete);
    EXPECT_EQ(box.Text(), u"xyz"_s);
    QTest::keyClick(&box, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(&box, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(&box, Qt::Key_Delete);
    EXPECT_EQ(box.Text(), u"x"_s);
}

TEST_F(TextBoxTest, DeletingBetweenReturnAndLineFeedJoinsThemIntoOneBreak)
{
    box.setText(u"a\rx\nb"_s);
    ASSERT_EQ(box.lineCount(), 3);
    box.setCursorPosition(3);
    QTest::keyClick(&box, Qt::Key_Backspace);
    EXPECT_EQ(box.Text(), u"a\r\nb"_s);
    EXPECT_EQ(box.lineCount(), 2);
    // The caret is not left inside the new "\r\n".
    EXPECT_EQ(box.cursorPosition(), 3);
}

TEST_F(TextBoxTest, ArrowsHomeAndEndMoveTheCaret)
{
    box.setText(u"abcdef\r\nxy\nlmnopq"_s);
    box.setCursorPosition(4);

    // Up and Down aim for the same column, even past a shorter line.
    QTest::keyClick(&box, Qt::Key_Down);
    EXPECT_EQ(box.cursorPosition(), 10); // end of "xy"
    QTest::keyClick(&box, Qt::Key_Down);
    EXPECT_EQ(box.cursorPosition(), 15); // "lmno|pq"
    QTest::keyClick(&box, Qt::Key_Up);
    QTest::keyClick(&box, Qt::Key_Up);
    EXPECT_EQ(box.cursorPosition(), 4);

    // Left and Right step over a "\r\n" in one go.
    box.setCursorPosition(6);
    QTest::keyClick(&box, Qt::Key_Right);
    EXPECT_EQ(box.cursorPosition(), 8);
    QTest::keyClick(&box, Qt::Key_Left);
    EXPECT_EQ(box.cursorPosition(), 6);

    box.setCursorPosition(9);
    QTest::keyClick(&box, Qt::Key_End);
    EXPECT_EQ(box.cursorPosition(), 10);
    QTest::keyClick(&box, Qt::Key_Home);
    EXPECT_EQ(box.cursorPosition(), 8);
    QTest::keyClick(&box, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(box.cursorPosition(), box.Text().size());
    QTest::keyClick(&box, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(box.cursorPosition(), 0);
    QTest::keyClick(&box, Qt::Key_Left);
    EXPECT_EQ(box.cursorPosition(), 0);
}

TEST_F(TextBoxTest, PageKeysMoveTheCaretAndTheViewByAPage)
{
    box.setText(numberedLines(200));
    box.setCursorPosition(0);
    ASSERT_EQ(box.verticalScrollBar()->value(), 0);
    const int rows = box.viewport()->height() / lineHeight;
    ASSERT_GT(rows, 2);

    QTest::keyClick(&box, Qt::Key_PageDown);
    const LineIndex lines = indexOf(box.Text());
    const qsizetype line = lines.lineAt(box.cursorPosition());
    EXPECT_GE(line, rows - 1);
    EXPECT_LE(line, rows);
    EXPECT_GT(box.verticalScrollBar()->value(), 0);
    EXPECT_LE(box.verticalScrollBar()->value(), line);

    QTest::keyClick(&box, Qt::Key_PageUp);
    EXPECT_EQ(box.cursorPosition(), 0);
    EXPECT_EQ(box.verticalScrollBar()->value(), 0);
}

TEST_F(TextBoxTest, KeyboardMovesKeepTheCaretInView)
{
    box.setText(numberedLines(200));
    box.setCursorPosition(0);
    QTest::keyClick(&box, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(box.verticalScrollBar()->value(), box.verticalScrollBar()->maximum());
    QTest::keyClick(&box, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(box.verticalScrollBar()->value(), 0);

    box.setText(QString(5000, QLatin1Char('w')));
    box.setCursorPosition(0);
    EXPECT_EQ(box.horizontalScrollBar()->value(), 0);
    QTest::keyClick(&box, Qt::Key_End);
    EXPECT_EQ(box.horizontalScrollBar()->value(), box.horizontalScrollBar()->maximum());
}

TEST_F(TextBoxTest, ShiftWithAMoveExtendsTheSelection)
{
    box.setText(u"abcdef\r\nxy"_s);
    box.setCursorPosition(1);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(box.selectionStart(), 1);
    EXPECT_EQ(box.selectionEnd(), 3);
    EXPECT_EQ(box.selectedText(), u"bc"_s);

    QTest::keyClick(&box, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(box.selectedText(), u"bcdef\r\nxy"_s);
    QTest::keyClick(&box, Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(box.selectedText(), u"bcdef\r\n"_s);

    // A plain move ends the selection at its edge.
    QTest::keyClick(&box, Qt::Key_Left);
    EXPECT_EQ(box.cursorPosition(), 1);
    EXPECT_TRUE(box.selectedText().isEmpty());
}

TEST_F(TextBoxTest, SelectAllAndCopyPutTheExactCharactersOnTheClipboard)
{
    if (!clipboardWorks())
        GTEST_SKIP() << "no clipboard on this platform";
    const QString text = u"a\r\nb\rc\n"_s + QChar(u'\0') + u"d"_s + QChar(u'\u00FF');
    box.setText(text);
    QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(box.selectedText(), text);
    QTest::keyClick(&box, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), text);

    // A part of the text: exactly that part.
    box.setCursorPosition(1);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    box.copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"\r\nb"_s);
}

TEST_F(TextBoxTest, PasteAndCutMoveExactCharacters)
{
    if (!clipboardWorks())
        GTEST_SKIP() << "no clipboard on this platform";
    const QString pasted = u"x\r\ny"_s + QChar(u'\0') + u"\r"_s;
    QGuiApplication::clipboard()->setText(pasted);
    box.setText(u"[]"_s);
    box.setCursorPosition(1);
    QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(box.Text(), u"["_s + pasted + u"]"_s);
    EXPECT_EQ(box.cursorPosition(), 1 + pasted.size());
    EXPECT_EQ(box.lineCount(), 3);

    box.setCursorPosition(1);
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&box, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"x\r\ny"_s);
    EXPECT_EQ(box.Text(), u"["_s + QChar(u'\0') + u"\r]"_s);
}

TEST_F(TextBoxTest, MouseClickPlacesTheCaretAtTheClickedLineAndColumn)
{
    box.setText(u"first line\r\nsecond\nthird line here"_s);
    QTest::mouseClick(box.viewport(), Qt::LeftButton, Qt::NoModifier, cell(1, 3));
    EXPECT_EQ(box.cursorPosition(), 12 + 3);
    QTest::mouseClick(box.viewport(), Qt::LeftButton, Qt::NoModifier, cell(2, 10));
    EXPECT_EQ(box.cursorPosition(), 19 + 10);
    // Past the end of a line: its end, not the next line.
    QTest::mouseClick(box.viewport(), Qt::LeftButton, Qt::NoModifier, cell(1, 30));
    EXPECT_EQ(box.cursorPosition(), 18);
    // Below the last line: the last line.
    QTest::mouseClick(box.viewport(), Qt::LeftButton, Qt::NoModifier, cell(8, 2));
    EXPECT_EQ(box.cursorPosition(), 19 + 2);
    // Shift+click extends.
    QTest::mouseClick(box.viewport(), Qt::LeftButton, Qt::ShiftModifier, cell(0, 1));
    EXPECT_EQ(box.selectedText(), u"irst line\r\nsecond\nth"_s);
}

TEST_F(TextBoxTest, MouseDragSelects)
{
    box.setText(u"abcdef\r\nghijkl"_s);
    QTest::mousePress(box.viewport(), Qt::LeftButton, Qt::NoModifier, cell(0, 2));
    QTest::mouseMove(box.viewport(), cell(1, 3));
    QTest::mouseRelease(box.viewport(), Qt::LeftButton, Qt::NoModifier, cell(1, 3));
    EXPECT_EQ(box.selectionStart(), 2);
    EXPECT_EQ(box.selectionEnd(), 11);
    EXPECT_EQ(box.selectedText(), u"cdef\r\nghi"_s);
}

TEST_F(TextBoxTest, AppendKeepsCaretSelectionAndViewWhenScrolledUp)
{
    box.setText(numberedLines(200));
    box.verticalScrollBar()->setValue(10);
    box.setCursorPosition(120);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    const int view = box.verticalScrollBar()->value();
    ASSERT_LT(view, box.verticalScrollBar()->maximum());
    const QString selected = box.selectedText();

    box.setText(box.Text() + numberedLines(50));
    EXPECT_EQ(box.verticalScrollBar()->value(), view);
    EXPECT_EQ(box.selectionStart(), 120);
    EXPECT_EQ(box.selectionEnd(), 122);
    EXPECT_EQ(box.cursorPosition(), 122);
    EXPECT_EQ(box.selectedText(), selected);
}

TEST_F(TextBoxTest, AppendFollowsTheEndWhileTheEndIsShown)
{
    box.setText(numberedLines(200));
    box.verticalScrollBar()->setValue(box.verticalScrollBar()->maximum());
    const int before = box.verticalScrollBar()->maximum();
    box.setCursorPosition(5);
    box.verticalScrollBar()->setValue(box.verticalScrollBar()->maximum());

    box.setText(box.Text() + numberedLines(50));
    EXPECT_EQ(box.verticalScrollBar()->maximum(), before + 50);
    EXPECT_EQ(box.verticalScrollBar()->value(), box.verticalScrollBar()->maximum());
    EXPECT_EQ(box.cursorPosition(), 5);
}

TEST_F(TextBoxTest, ViewShowingTheEndKeepsTheLastLineInViewWhenALongLineBringsTheHorizontalBar)
{
    box.setText(numberedLines(200));
    box.verticalScrollBar()->setValue(box.verticalScrollBar()->maximum());
    ASSERT_FALSE(box.horizontalScrollBar()->isVisible());
    const int viewportHeight = box.viewport()->height();

    box.setText(box.Text() + QString(500, u'w'));
    QApplication::processEvents();

    ASSERT_LT(box.viewport()->height(), viewportHeight) << "the horizontal bar did not appear";
    EXPECT_EQ(box.verticalScrollBar()->value(), box.verticalScrollBar()->maximum());
    const auto lastShownFully = box.verticalScrollBar()->value() + box.viewport()->height() / lineHeight - 1;
    EXPECT_EQ(lastShownFully, box.lineCount() - 1);
}

TEST_F(TextBoxTest, NonExtendingSetReplacesContentAndSelection)
{
    box.setText(u"abcdef"_s);
    box.selectAll();
    box.setText(u"abX"_s);
    EXPECT_EQ(box.Text(), u"abX"_s);
    EXPECT_TRUE(box.selectedText().isEmpty());
    EXPECT_EQ(box.cursorPosition(), 3);
    EXPECT_EQ(box.lineCount(), 1);
}

TEST_F(TextBoxTest, DrawsMarkupLiterallyAndControlsAsTheirSymbols)
{
    // Rich text would show a bold "x" alone, leaving cells empty.
    const QString text = u"<b>x</b>"_s + QChar(u'\0') + u"\x01\t\x7f \x1b"_s;
    box.setText(text);
    box.setCursorPosition(0);
    box.clearFocus();
    const QImage image = viewportImage();
    for (qsizetype column = 0; column < text.size(); ++column) {
        if (text[column] == u' ')
            EXPECT_FALSE(inkInCell(image, column)) << "column " << column;
        else
            EXPECT_TRUE(inkInCell(image, column)) << "column " << column;
    }
    EXPECT_EQ(box.Text(), text);

    // Each control looks exactly like its symbol typed in as a character.
    const QString symbols = u"<b>x</b>\u2400\u2401\u2409\u2421 \u241B"_s;
    box.setText(symbols);
    box.setCursorPosition(0);
    EXPECT_EQ(viewportImage(), image);
}

TEST_F(TextBoxTest, VeryLongLinePaintsTheSliceInViewAndGrows)
{
    constexpr qsizetype length = 2'000'000;
    constexpr qsizetype marked = 1'000'000;
    QString line(length, QLatin1Char(' '));
    line[marked] = QLatin1Char('X');
    box.setText(line);
    ASSERT_EQ(box.lineCount(), 1);
    EXPECT_GE(box.horizontalScrollBar()->maximum(),
              static_cast<int>(static_cast<double>(length) * cellWidth) - box.viewport()->width());

    // Scroll so that the marked character lands in the fourth cell.
    const int scroll = static_cast<int>(std::lround(static_cast<double>(marked - 3) * cellWidth));
    box.horizontalScrollBar()->setValue(scroll);
    box.setCursorPosition(0);
    box.horizontalScrollBar()->setValue(scroll);
    const QImage image = viewportImage();
    const double markX = static_cast<double>(marked) * cellWidth - scroll;
    EXPECT_TRUE(inkBetween(image, static_cast<int>(std::floor(markX)), static_cast<int>(std::ceil(markX + cellWidth))));
    EXPECT_FALSE(inkBetween(image, 0, static_cast<int>(std::floor(markX - cellWidth / 2))));
    EXPECT_FALSE(inkBetween(image, static_cast<int>(std::ceil(markX + 1.5 * cellWidth)), image.width()));

    // A click there lands on the marked character.
    const QPoint onMark(static_cast<int>(std::lround(markX + 0.25 * cellWidth)), lineHeight / 2);
    QTest::mouseClick(box.viewport(), Qt::LeftButton, Qt::NoModifier, onMark);
    EXPECT_EQ(box.cursorPosition(), marked);

    const int range = box.horizontalScrollBar()->maximum();
    box.setText(box.Text() + QString(1000, QLatin1Char('y')));
    EXPECT_EQ(box.Text().size(), length + 1000);
    EXPECT_GT(box.horizontalScrollBar()->maximum(), range);
    EXPECT_EQ(box.cursorPosition(), marked);
    EXPECT_FALSE(viewportImage().isNull());
}
