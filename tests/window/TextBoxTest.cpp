#include "LineIndex.h"
#include "TextBox.h"
#include "TextPrinters.h"
#include "TextSamples.h"
#include "Wait.h"

#include <QtTest/QTest>

#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QScrollBar>

#include <QtCore/QTimer>

#include <QtGui/QAction>
#include <QtGui/QClipboard>
#include <QtGui/QFontMetrics>
#include <QtGui/QFontMetricsF>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QInputMethodEvent>
#include <QtGui/QPaintEvent>
#include <QtGui/QPainter>
#include <QtGui/QRegion>
#include <QtGui/QScreen>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

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

    void click(int row, qsizetype column, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::mouseClick(box.viewport(), Qt::LeftButton, modifiers, cell(row, column));
    }

    QImage viewportImage()
    {
        return box.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    // Whether anything but background was painted in the viewport pixels
    // [left, right) of the first text row.
    bool inkBetween(const QImage &image, int left, int right) const
    {
        const QRgb background = box.palette().color(QPalette::Base).rgb();
        for (int y = 0; y < std::min(image.height(), lineHeight); ++y)
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

    // Where the caret is drawn, in the viewport.
    QRect caretRect() const
    {
        return box.inputMethodQuery(Qt::ImCursorRectangle).toRect().translated(-box.viewport()->geometry().topLeft());
    }

    // Runs the event loop until the box has shown everything done to it so
    // far. Appends are shown at most AppendRepaintMs apart: a timer started
    // now and due later fires only after the box's own, and the repaints
    // that brings are posted events, handled right after it.
    void showPending()
    {
        QTimer later;
        later.setSingleShot(true);
        later.setTimerType(Qt::PreciseTimer);
        later.start(2 * TextBox::AppendRepaintMs);
        ASSERT_TRUE(waitUntil([&later] { return !later.isActive(); })) << "the event loop does not run";
        QCoreApplication::sendPostedEvents();
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
    QString text = u"one\r\ntwo\rthree\nfour"_s + QChar(u'\0') + u"five"_s + QChar(u'\u00FF');
    for (int i = 0; i < 2000; ++i)
        text.append(QChar(static_cast<char16_t>(std::uniform_int_distribution<int>(0, 0xFF)(random))));
    box.setText(text);
    EXPECT_EQ(box.Text(), text);
    EXPECT_EQ(box.Text().size(), text.size());

    // An extending set keeps every character too, the join included.
    const QString longer = text + u"\r"_s;
    box.setText(longer);
    box.setText(box.Text() + u"\n"_s + QChar(u'\0'));
    EXPECT_EQ(box.Text(), longer + u"\n"_s + QChar(u'\0'));

    // Any other set replaces content and selection.
    box.setText(u"abcdef"_s);
    box.selectAll();
    box.setText(u"abX"_s);
    EXPECT_EQ(box.Text(), u"abX"_s);
    EXPECT_TRUE(box.selectedText().isEmpty());
    EXPECT_EQ(box.cursorPosition(), 3);
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
    click(0, 2);
    ASSERT_EQ(box.cursorPosition(), 2);
    QTest::keyClicks(&box, u"ab"_s);
    EXPECT_EQ(box.Text(), u"Teabxt1"_s);
    box.setText(box.Text() + u"xyz"_s);
    EXPECT_EQ(box.Text(), u"Teabxt1xyz"_s);
    EXPECT_EQ(box.cursorPosition(), 4);
    QTest::keyClicks(&box, u"!"_s);
    EXPECT_EQ(box.Text(), u"Teab!xt1xyz"_s);

    // A caret after a trailing "\r" stays on its line when the "\n" arrives.
    box.setText(u"ab\r"_s);
    box.setCursorPosition(3);
    box.setText(box.Text() + u"\ncd"_s);
    EXPECT_EQ(box.lineCount(), 2);
    EXPECT_EQ(box.cursorPosition(), 4);
    QTest::keyClicks(&box, u"X"_s);
    EXPECT_EQ(box.Text(), u"ab\r\nXcd"_s);
}

TEST_F(TextBoxTest, EditingKeysTakeMarkupAsTextAndALineBreakAsOneUnit)
{
    // Typing replaces the selection.
    box.setText(u"hello"_s);
    box.setCursorPosition(0);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClicks(&box, u"<b>"_s);
    EXPECT_EQ(box.Text(), u"<b>llo"_s);
    EXPECT_EQ(box.cursorPosition(), 3);
    EXPECT_EQ(box.selectionStart(), box.selectionEnd());

    box.setText(u"ab"_s);
    box.setCursorPosition(1);
    QTest::keyClick(&box, Qt::Key_Return);
    EXPECT_EQ(box.Text(), u"a\r\nb"_s);
    EXPECT_EQ(box.lineCount(), 2);
    EXPECT_EQ(box.cursorPosition(), 3);
    QTest::keyClick(&box, Qt::Key_Enter);
    EXPECT_EQ(box.Text(), u"a\r\n\r\nb"_s);

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

    // Deleting what stands between "\r" and "\n" joins them into one break,
    // and the caret is not left inside it.
    box.setText(u"a\rx\nb"_s);
    ASSERT_EQ(box.lineCount(), 3);
    box.setCursorPosition(3);
    QTest::keyClick(&box, Qt::Key_Backspace);
    EXPECT_EQ(box.Text(), u"a\r\nb"_s);
    EXPECT_EQ(box.lineCount(), 2);
    EXPECT_EQ(box.cursorPosition(), 3);

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

TEST_F(TextBoxTest, MovementKeysMoveTheCaretAndKeepItInView)
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

    // Pages move caret and view; the ends of the text bring the view along.
    box.setText(numberedLines(200));
    box.setCursorPosition(0);
    const int rows = box.viewport()->height() / lineHeight;
    ASSERT_GT(rows, 2);
    QTest::keyClick(&box, Qt::Key_PageDown);
    const qsizetype line = indexOf(box.Text()).lineAt(box.cursorPosition());
    EXPECT_GE(line, rows - 1);
    EXPECT_LE(line, rows);
    EXPECT_GT(box.verticalScrollBar()->value(), 0);
    EXPECT_LE(box.verticalScrollBar()->value(), line);
    QTest::keyClick(&box, Qt::Key_PageUp);
    EXPECT_EQ(box.cursorPosition(), 0);
    EXPECT_EQ(box.verticalScrollBar()->value(), 0);
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

TEST_F(TextBoxTest, ClipboardKeysMoveTheExactCharacters)
{
    if (!clipboardWorks())
        GTEST_SKIP() << "no clipboard on this platform";
    QClipboard *clipboard = QGuiApplication::clipboard();
    const QString text = u"a\r\nb\rc\n"_s + QChar(u'\0') + u"d"_s + QChar(u'\u00FF');
    box.setText(text);
    QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(box.selectedText(), text);
    QTest::keyClick(&box, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), text);
    box.setCursorPosition(1);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    box.copy();
    EXPECT_EQ(clipboard->text(), u"\r\nb"_s);

    const QString pasted = u"x\r\ny"_s + QChar(u'\0') + u"\r"_s;
    clipboard->setText(pasted);
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
    EXPECT_EQ(clipboard->text(), u"x\r\ny"_s);
    EXPECT_EQ(box.Text(), u"["_s + QChar(u'\0') + u"\r]"_s);
}

TEST_F(TextBoxTest, MouseClicksAndDragsPlaceTheCaretAndSelect)
{
    box.setText(u"first line\r\nsecond\nthird line here"_s);
    click(1, 3);
    EXPECT_EQ(box.cursorPosition(), 12 + 3);
    click(2, 10);
    EXPECT_EQ(box.cursorPosition(), 19 + 10);
    click(1, 30); // past the end of a line: its end, not the next line
    EXPECT_EQ(box.cursorPosition(), 18);
    click(8, 2); // below the last line: the last line
    EXPECT_EQ(box.cursorPosition(), 19 + 2);
    click(0, 1, Qt::ShiftModifier);
    EXPECT_EQ(box.selectedText(), u"irst line\r\nsecond\nth"_s);

    box.setText(u"abcdef\r\nghijkl"_s);
    QTest::mousePress(box.viewport(), Qt::LeftButton, Qt::NoModifier, cell(0, 2));
    QTest::mouseMove(box.viewport(), cell(1, 3));
    QTest::mouseRelease(box.viewport(), Qt::LeftButton, Qt::NoModifier, cell(1, 3));
    EXPECT_EQ(box.selectionStart(), 2);
    EXPECT_EQ(box.selectionEnd(), 11);

    // A double-click selects a word: letters, digits and underscores, or a
    // run of other characters that are not space; a drag on goes by words.
    box.setText(u"foo_bar1 +-= baz\r\nnext"_s);
    QTest::mouseDClick(box.viewport(), Qt::LeftButton, Qt::NoModifier, cell(0, 5));
    QTest::mouseRelease(box.viewport(), Qt::LeftButton, Qt::NoModifier, cell(0, 5));
    EXPECT_EQ(box.selectedText(), u"foo_bar1"_s);
    QTest::mouseDClick(box.viewport(), Qt::LeftButton, Qt::NoModifier, cell(0, 10));
    EXPECT_EQ(box.selectedText(), u"+-="_s);
    QTest::mouseMove(box.viewport(), cell(0, 14));
    EXPECT_EQ(box.selectedText(), u"+-= baz"_s);
    QTest::mouseMove(box.viewport(), cell(0, 2));
    EXPECT_EQ(box.selectedText(), u"foo_bar1 +-="_s);
    QTest::mouseRelease(box.viewport(), Qt::LeftButton, Qt::NoModifier, cell(0, 2));
    // Shift+click extends from the anchor, here the end of the word first
    // double-clicked.
    click(1, 2, Qt::ShiftModifier);
    EXPECT_EQ(box.selectedText(), u" baz\r\nne"_s);
}

TEST_F(TextBoxTest, AppendKeepsCaretSelectionAndViewWhenScrolledAway)
{
    // A long first line gives the view somewhere to be scrolled sideways.
    const QString longLine = QString(300, u'w') + u"\r\n"_s;
    box.setText(longLine + numberedLines(200));
    box.verticalScrollBar()->setValue(10);
    const qsizetype at = longLine.size() + 120;
    box.setCursorPosition(at);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    box.horizontalScrollBar()->setValue(box.horizontalScrollBar()->maximum() / 2);
    const int view = box.verticalScrollBar()->value();
    const int sideways = box.horizontalScrollBar()->value();
    ASSERT_LT(view, box.verticalScrollBar()->maximum());
    ASSERT_GT(sideways, 0);
    const QString selected = box.selectedText();

    box.setText(box.Text() + numberedLines(50) + QString(500, u'w'));
    EXPECT_EQ(box.verticalScrollBar()->value(), view);
    EXPECT_EQ(box.horizontalScrollBar()->value(), sideways);
    EXPECT_EQ(box.selectionStart(), at);
    EXPECT_EQ(box.cursorPosition(), at + 2);
    EXPECT_EQ(box.selectedText(), selected);
}

TEST_F(TextBoxTest, AppendFollowsTheEndWhileTheEndIsShown)
{
    box.setText(numberedLines(200));
    box.setCursorPosition(5);
    box.verticalScrollBar()->setValue(box.verticalScrollBar()->maximum());
    const int before = box.verticalScrollBar()->maximum();
    box.setText(box.Text() + numberedLines(50));
    EXPECT_EQ(box.verticalScrollBar()->maximum(), before + 50);
    EXPECT_EQ(box.verticalScrollBar()->value(), box.verticalScrollBar()->maximum());
    EXPECT_EQ(box.cursorPosition(), 5);

    // Also when a long line makes the horizontal bar usable; the bar is
    // there all along, so the view keeps its height.
    ASSERT_FALSE(box.horizontalScrollBar()->isEnabled());
    const int viewportHeight = box.viewport()->height();
    box.setText(box.Text() + QString(500, u'w'));
    QApplication::processEvents();
    ASSERT_TRUE(box.horizontalScrollBar()->isEnabled());
    EXPECT_EQ(box.viewport()->height(), viewportHeight);
    EXPECT_EQ(box.verticalScrollBar()->value(), box.verticalScrollBar()->maximum());
    const auto lastShownFully = box.verticalScrollBar()->value() + box.viewport()->height() / lineHeight - 1;
    EXPECT_EQ(lastShownFully, box.lineCount() - 1);
}

// Counts the paints of a widget, and gathers when and where they painted.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int paints = 0;
    QRegion painted;
    std::vector<std::chrono::steady_clock::time_point> times;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            painted += static_cast<QPaintEvent *>(event)->region();
            times.push_back(std::chrono::steady_clock::now());
        }
        return false;
    }
};

TEST_F(TextBoxTest, AppendsRepaintOnlyWhatShowsAndNotOncePerBurst)
{
    box.setText(numberedLines(200));
    box.verticalScrollBar()->setValue(0);
    showPending();
    PaintCounter counter(box.viewport());

    // Below the view: nothing on screen changes.
    box.setText(box.Text() + u"tail"_s);
    showPending();
    EXPECT_EQ(counter.paints, 0);

    // At the end, a burst of small appends is painted at most once in each
    // repaint window (a burst quicker than one: once or twice), and the last
    // of them does get painted: the new characters only, not the lines
    // above them or what was on their own line before.
    box.verticalScrollBar()->setValue(box.verticalScrollBar()->maximum());
    showPending();
    counter.paints = 0;
    counter.painted = QRegion();
    counter.times.clear();
    int paintsBeforeTheLast = 0;
    for (int burst = 0; burst < 20; ++burst) {
        paintsBeforeTheLast = counter.paints;
        box.setText(box.Text() + u"x"_s);
        QApplication::processEvents();
    }
    showPending();
    EXPECT_GT(counter.paints, paintsBeforeTheLast) << "the last append was never painted";
    // Qt may round a timer's due time to the millisecond, either way.
    double closestMs = TextBox::AppendRepaintMs;
    for (std::size_t i = 1; i < counter.times.size(); ++i)
        closestMs = std::min(closestMs, std::chrono::duration<double, std::milli>(counter.times[i] - counter.times[i - 1]).count());
    EXPECT_GE(closestMs, TextBox::AppendRepaintMs - 2) << "ms between two of " << counter.paints << " paints";
    const int lastRow = static_cast<int>(box.lineCount() - 1 - box.verticalScrollBar()->value());
    const QRect painted = counter.painted.boundingRect();
    EXPECT_GE(painted.top(), lastRow * lineHeight);
    EXPECT_LE(painted.bottom(), (lastRow + 1) * lineHeight);
    EXPECT_GT(painted.left(), static_cast<int>(3 * cellWidth)) << "the start of the line, \"tail\", was painted again";
}

// Lines that an append scrolls into view are moved on the screen rather
// than drawn again, and only what changed is drawn: the screen must then
// show what a paint of the whole view shows, caret and selection included.
TEST_F(TextBoxTest, AppendsShownByMovingTheViewMatchAPaintOfTheWholeView)
{
    box.activateWindow();
    box.setFocus(Qt::OtherFocusReason);
    box.setText(numberedLines(100) + u"partial"_s);
    const qsizetype end = box.Text().size();
    box.setSelection(end - 40, end - 3);
    box.verticalScrollBar()->setValue(box.verticalScrollBar()->maximum());
    showPending();
    const auto onScreen = [this] {
        const QRect viewport(box.viewport()->mapTo(&box, QPoint(0, 0)), box.viewport()->size());
        return box.screen()->grabWindow(box.winId()).toImage().copy(viewport).convertToFormat(QImage::Format_RGB32);
    };
    ASSERT_FALSE(onScreen().isNull()) << "this platform cannot show what is on screen";
    ASSERT_EQ(onScreen(), viewportImage());

    // Characters on the last line, breaks split across appends, a few lines,
    // more lines than the view holds, and appends faster than the repaints.
    const std::vector<QString> appends{u"ly"_s,          u" done\r"_s,      u"\nnext"_s,
                                       u"\r\nand\r\n"_s, numberedLines(3), numberedLines(60),
                                       u"\ttab"_s};
    for (const QString &input : appends) {
        box.setText(box.Text() + input);
        showPending();
        EXPECT_EQ(onScreen(), viewportImage()) << "after appending " << ::testing::PrintToString(input);
    }
    for (int i = 0; i < 30; ++i) {
        box.setText(box.Text() + (i % 4 == 0 ? u"\r\n"_s : u"quick"_s));
        runEventsFor(i % 3 == 0 ? 40 : 5);
    }
    showPending();
    EXPECT_EQ(onScreen(), viewportImage()) << "after quick appends";
    EXPECT_EQ(box.verticalScrollBar()->value(), box.verticalScrollBar()->maximum());
}

// Over a long text one more line moves neither slider by a pixel: the bars,
// and the frame under them, are not painted again for it. When a slider does
// move, its bar shows it.
TEST_F(TextBoxTest, AppendsToALongTextLeaveTheScrollBarsAndTheFrameAlone)
{
    box.setText(QString(20000, u'w') + u"\r\n"_s + numberedLines(100000));
    box.verticalScrollBar()->setValue(box.verticalScrollBar()->maximum());
    showPending();
    ASSERT_TRUE(box.verticalScrollBar()->isVisible());
    ASSERT_TRUE(box.horizontalScrollBar()->isVisible());
    PaintCounter vertical(box.verticalScrollBar());
    PaintCounter horizontal(box.horizontalScrollBar());
    PaintCounter frame(&box);
    PaintCounter text(box.viewport());

    for (int i = 0; i < 10; ++i) {
        box.setText(box.Text() + numberedLines(1));
        showPending();
    }
    EXPECT_GT(text.paints, 0);
    EXPECT_EQ(vertical.paints, 0);
    EXPECT_EQ(horizontal.paints, 0);
    EXPECT_EQ(frame.paints, 0);

    box.verticalScrollBar()->setValue(0);
    showPending();
    EXPECT_GT(vertical.paints, 0) << "the slider moved to the top unseen";
    // Scrolled right to the end of the widest line, a line much wider than
    // it moves the horizontal slider away from the end.
    box.horizontalScrollBar()->setValue(box.horizontalScrollBar()->maximum());
    showPending();
    horizontal.paints = 0;
    box.setText(box.Text() + QString(400000, u'w'));
    showPending();
    EXPECT_GT(horizontal.paints, 0) << "the horizontal slider shrank unseen";
}

TEST_F(TextBoxTest, DrawsMarkupLiterallyAndControlsAsTheirSymbols)
{
    // Rich text would show a bold "x" alone, leaving cells empty.
    const QString text = u"<b>x</b>"_s + QChar(u'\0') + u"\x01\x7f \x1b"_s;
    box.setText(text);
    box.setCursorPosition(0);
    box.clearFocus();
    const QImage image = viewportImage();
    for (qsizetype column = 0; column < text.size(); ++column)
        EXPECT_EQ(inkInCell(image, column), text[column] != u' ') << "column " << column;

    // Each control looks exactly like its symbol typed in as a character.
    box.setText(u"<b>x</b>\u2400\u2401\u2421 \u241B"_s);
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
    // Sideways the view scrolls by columns.
    EXPECT_GE(box.horizontalScrollBar()->maximum(),
              length - static_cast<int>(static_cast<double>(box.viewport()->width()) / cellWidth));

    // Scroll so that the marked character lands in the fourth cell.
    box.setCursorPosition(0);
    box.horizontalScrollBar()->setValue(static_cast<int>(marked - 3));
    const QImage image = viewportImage();
    const double markX = 3 * cellWidth;
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
}

TEST_F(TextBoxTest, TheEndOfALineWiderThanThePixelRangeCanBeShown)
{
    // 40 M tabs reach column 320 M: more pixels than an int counts.
    constexpr qsizetype tabs = 40'000'000;
    box.setText(u"x\r\n"_s + QString(tabs, u'\t'));
    box.setFocus();
    QTest::keyClick(&box, Qt::Key_End, Qt::ControlModifier);
    ASSERT_EQ(box.cursorPosition(), tabs + 3);
    const QRect caret = caretRect();
    EXPECT_TRUE(box.viewport()->rect().contains(caret.center())) << caret.x();
    EXPECT_EQ(box.horizontalScrollBar()->value(), box.horizontalScrollBar()->maximum());
    QTest::keyClick(&box, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(box.horizontalScrollBar()->value(), 0);
}

TEST_F(TextBoxTest, TabReachesTheNextStopOnScreenForCaretAndMouse)
{
    box.setText(u"ab\r\n0123456789x"_s);
    box.setCursorPosition(1);
    QInputMethodEvent typed;
    typed.setCommitString(u"\t"_s);
    QCoreApplication::sendEvent(&box, &typed);
    ASSERT_EQ(box.Text(), u"a\tb\r\n0123456789x"_s);
    box.clearFocus();
    const QImage image = viewportImage();
    for (qsizetype column = 0; column <= 8; ++column)
        EXPECT_EQ(inkInCell(image, column), column == 0 || column == 8) << "column " << column;

    // A click on column 8 lands after the tab, one in its first half before it.
    click(0, 8);
    EXPECT_EQ(box.cursorPosition(), 2);
    EXPECT_NEAR(caretRect().x(), 8 * cellWidth, 1.0);
    click(0, 3);
    EXPECT_EQ(box.cursorPosition(), 1);

    // Up and Down keep the screen column, not the offset.
    box.setCursorPosition(5 + 9); // "012345678|9x"
    QTest::keyClick(&box, Qt::Key_Up);
    EXPECT_EQ(box.cursorPosition(), 3); // after "b", column 9
    QTest::keyClick(&box, Qt::Key_Down);
    EXPECT_EQ(box.cursorPosition(), 5 + 9);
    box.setCursorPosition(2);
    QTest::keyClick(&box, Qt::Key_Down);
    EXPECT_EQ(box.cursorPosition(), 5 + 8);

    // The horizontal extent is in columns: 100 tabs and an "x" reach as far
    // as 801 spaces.
    box.setText(QString(100, u'\t') + u"x"_s);
    const int tabbed = box.horizontalScrollBar()->maximum();
    EXPECT_GT(tabbed, 0);
    box.setText(QString(801, u' '));
    EXPECT_EQ(box.horizontalScrollBar()->maximum(), tabbed);
}

TEST_F(TextBoxTest, UndoTakesBackTheUsersOwnEditsAndRedoRepeatsThem)
{
    box.setText(u"Text1"_s);
    box.setCursorPosition(5);
    QTest::keyClicks(&box, u" word"_s);
    QTest::keySequence(&box, QKeySequence::Undo);
    EXPECT_EQ(box.Text(), u"Text1"_s) << "the typed word is one step";
    EXPECT_EQ(box.cursorPosition(), 5);
    QTest::keySequence(&box, QKeySequence::Redo);
    EXPECT_EQ(box.Text(), u"Text1 word"_s);

    // A caret move ends the typing step; a Backspace is a step of its own.
    QTest::keyClick(&box, Qt::Key_Home);
    QTest::keyClicks(&box, u"> "_s);
    QTest::keyClick(&box, Qt::Key_End);
    QTest::keyClick(&box, Qt::Key_Backspace);
    ASSERT_EQ(box.Text(), u"> Text1 wor"_s);
    QTest::keySequence(&box, QKeySequence::Undo);
    EXPECT_EQ(box.Text(), u"> Text1 word"_s);
    QTest::keySequence(&box, QKeySequence::Undo);
    EXPECT_EQ(box.Text(), u"Text1 word"_s);

    // Received text is no step, and the user's steps before it still undo,
    // leaving it in place.
    box.setText(box.Text() + u"\r\nrx"_s);
    QTest::keySequence(&box, QKeySequence::Undo);
    EXPECT_EQ(box.Text(), u"Text1\r\nrx"_s);
    EXPECT_FALSE(box.isUndoAvailable());
    QTest::keySequence(&box, QKeySequence::Redo);
    EXPECT_EQ(box.Text(), u"Text1 word\r\nrx"_s);

    // A new edit drops what was undone; a set that is no append drops all.
    ASSERT_TRUE(box.isRedoAvailable());
    QTest::keyClicks(&box, u"!"_s);
    EXPECT_FALSE(box.isRedoAvailable());
    box.setText(u"other"_s);
    QTest::keySequence(&box, QKeySequence::Undo);
    EXPECT_EQ(box.Text(), u"other"_s);
    EXPECT_FALSE(box.isUndoAvailable());
}

TEST_F(TextBoxTest, ContextMenuOffersWhatAppliesWithItsShortcutAndDoesIt)
{
    if (!clipboardWorks())
        GTEST_SKIP() << "no clipboard on this platform";
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    // The action called `name`, mnemonic and shortcut aside; a missing one
    // fails and stands in as a disabled action that does nothing.
    QAction missing;
    missing.setEnabled(false);
    const auto action = [&missing](const QMenu &menu, const QString &name) -> QAction & {
        const QList<QAction *> actions = menu.actions();
        const auto found = std::find_if(actions.begin(), actions.end(), [&name](const QAction *candidate) {
            return candidate->text().section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&')) == name;
        });
        if (found == actions.end()) {
            ADD_FAILURE() << "no action " << name.toStdString();
            return missing;
        }
        return **found;
    };
    const auto enabled = [&action](const QMenu &menu) {
        QStringList names;
        for (const QString &name : {u"Undo"_s, u"Redo"_s, u"Cut"_s, u"Copy"_s, u"Paste"_s, u"Delete"_s, u"Select All"_s})
            if (action(menu, name).isEnabled())
                names.append(name);
        return names;
    };
    const auto trigger = [&](const QString &name) { action(*box.createContextMenu(), name).trigger(); };

    box.setText(u"alpha beta"_s);
    box.setCursorPosition(6);
    EXPECT_EQ(enabled(*box.createContextMenu()), QStringList{u"Select All"_s});
    EXPECT_TRUE(action(*box.createContextMenu(), u"Copy"_s)
                    .text()
                    .endsWith(QKeySequence(QKeySequence::Copy).toString(QKeySequence::NativeText)));

    QTest::keyClick(&box, Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(enabled(*box.createContextMenu()), (QStringList{u"Cut"_s, u"Copy"_s, u"Delete"_s, u"Select All"_s}));
    trigger(u"Cut"_s);
    EXPECT_EQ(box.Text(), u"alpha "_s);
    EXPECT_EQ(clipboard->text(), u"beta"_s);
    EXPECT_EQ(enabled(*box.createContextMenu()), (QStringList{u"Undo"_s, u"Paste"_s, u"Select All"_s}));
    trigger(u"Paste"_s);
    EXPECT_EQ(box.Text(), u"alpha beta"_s);
    trigger(u"Undo"_s);
    EXPECT_EQ(box.Text(), u"alpha "_s);
    trigger(u"Redo"_s);
    EXPECT_EQ(box.Text(), u"alpha beta"_s);

    trigger(u"Select All"_s);
    EXPECT_EQ(box.selectedText(), u"alpha beta"_s);
    EXPECT_FALSE(action(*box.createContextMenu(), u"Select All"_s).isEnabled());
    trigger(u"Delete"_s);
    EXPECT_TRUE(box.Text().isEmpty());
    EXPECT_EQ(clipboard->text(), u"beta"_s) << "Delete leaves the clipboard alone";
}

TEST_F(TextBoxTest, InputMethodCompositionShowsAtTheCaretAndOnlyTheCommitIsContent)
{
    box.setText(u"ab\r\ncd"_s);
    box.setCursorPosition(1);
    box.clearFocus();
    const QImage before = viewportImage();

    QInputMethodEvent compose(u"xy"_s, {QInputMethodEvent::Attribute(QInputMethodEvent::Cursor, 2, 1, QVariant())});
    QCoreApplication::sendEvent(&box, &compose);
    EXPECT_EQ(box.Text(), u"ab\r\ncd"_s);
    const QImage composing = viewportImage();
    EXPECT_NE(composing, before);
    // "a", the composition, then "b" pushed two cells on.
    for (qsizetype column = 0; column <= 4; ++column)
        EXPECT_EQ(inkInCell(composing, column), column < 4) << "column " << column;
    EXPECT_NEAR(caretRect().x(), 3 * cellWidth, 1.0) << "the caret is inside the composition";

    QInputMethodEvent commit;
    commit.setCommitString(u"XY"_s);
    QCoreApplication::sendEvent(&box, &commit);
    EXPECT_EQ(box.Text(), u"aXYb\r\ncd"_s);
    EXPECT_EQ(box.cursorPosition(), 3);
    const QImage committed = viewportImage();
    QTest::keySequence(&box, QKeySequence::Undo);
    EXPECT_EQ(box.Text(), u"ab\r\ncd"_s);
    // Nothing of the composition is left on screen.
    box.setText(u"aXYb\r\ncd"_s);
    box.setCursorPosition(3);
    EXPECT_EQ(viewportImage(), committed);

    // The input method is told of the caret's line.
    box.setCursorPosition(6);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(box.inputMethodQuery(Qt::ImSurroundingText).toString(), u"cd"_s);
    EXPECT_EQ(box.inputMethodQuery(Qt::ImAnchorPosition).toInt(), 0);
    EXPECT_EQ(box.inputMethodQuery(Qt::ImCursorPosition).toInt(), 1);
    EXPECT_EQ(box.inputMethodQuery(Qt::ImCurrentSelection).toString(), u"c"_s);
}

TEST_F(TextBoxTest, FrameShowsWhetherTheBoxHasTheFocus)
{
    box.activateWindow();
    box.setFocus(Qt::OtherFocusReason);
    // An X server gives the window the input focus when it gets round to it.
    if (!waitUntil([this] { return box.hasFocus(); }, 2000))
        GTEST_SKIP() << "this platform gives no window the keyboard focus";
    // The frame only: the viewport, where the caret is drawn, is blanked.
    const auto frame = [this] {
        QImage image = box.grab().toImage().convertToFormat(QImage::Format_RGB32);
        QPainter(&image).fillRect(box.viewport()->geometry(), Qt::black);
        return image;
    };
    const QImage focused = frame();
    box.clearFocus();
    QApplication::processEvents();
    EXPECT_NE(frame(), focused);
}

} // namespace
