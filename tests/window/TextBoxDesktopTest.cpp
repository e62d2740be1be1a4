// The text box under a desktop's own mouse: real X events through Qt's xcb
// platform, and the selection clipboard another X program reads and fills.
#include "TextBox.h"
#include "TextPrinters.h"
#include "Wait.h"
#include "XInput.h"

#include <QtCore/QProcess>
#include <QtGui/QClipboard>
#include <QtGui/QFontMetrics>
#include <QtGui/QFontMetricsF>
#include <QtGui/QGuiApplication>
#include <QtGui/QStyleHints>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QScrollBar>

#include <gtest/gtest.h>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

class TextBoxDesktopTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const QString why = XInput::unavailableReason(); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        box.resize(400, 160);
        box.move(0, 0);
        box.show();
        ASSERT_TRUE(XInput::focus(&box));
        cellWidth = QFontMetricsF(box.font()).horizontalAdvance(QLatin1Char('0'));
        lineHeight = QFontMetrics(box.font()).lineSpacing();
    }

    // A point in the left part of a cell of the view.
    QPoint cell(int row, qsizetype column) const
    {
        return QPoint(static_cast<int>(std::lround((static_cast<double>(column) + 0.25) * cellWidth)),
                      row * lineHeight + lineHeight / 2);
    }

    // What another X program reads of the selection clipboard.
    static QString primaryAsReadElsewhere()
    {
        QProcess xclip;
        xclip.start(u"xclip"_s, {u"-o"_s, u"-selection"_s, u"primary"_s});
        // The reader waits on this program, whose event loop must answer it.
        waitUntil([&xclip] { return xclip.state() == QProcess::NotRunning; }, 10000);
        return QString::fromUtf8(xclip.readAllStandardOutput());
    }

    TextBox box;
    double cellWidth = 0;
    int lineHeight = 0;
};

TEST_F(TextBoxDesktopTest, SelectingOffersTheSelectionToOtherPrograms)
{
    box.setText(u"alpha beta gamma\r\nsecond"_s);
    ASSERT_TRUE(XInput::drag(box.viewport(), cell(0, 6), cell(0, 10)));
    ASSERT_EQ(box.selectedText(), u"beta"_s);
    EXPECT_EQ(primaryAsReadElsewhere(), u"beta"_s);

    // Selected with the keys too.
    ASSERT_TRUE(XInput::typeKey(Qt::SHIFT | Qt::Key_End));
    ASSERT_EQ(box.selectedText(), u"beta gamma"_s);
    EXPECT_EQ(primaryAsReadElsewhere(), u"beta gamma"_s);
}

TEST_F(TextBoxDesktopTest, AMiddleClickPastesTheSelectionClipboardAtThePointer)
{
    box.setText(u"abcdef\r\nghi"_s);
    box.setCursorPosition(0);
    QProcess owner;
    owner.start(u"xclip"_s, {u"-i"_s, u"-selection"_s, u"primary"_s, u"-quiet"_s});
    owner.write("XY");
    owner.closeWriteChannel();
    ASSERT_TRUE(waitUntil([] { return QGuiApplication::clipboard()->text(QClipboard::Selection) == u"XY"_s; }))
        << "xclip did not take the selection";
    ASSERT_TRUE(XInput::click(box.viewport(), cell(0, 3), Qt::MiddleButton));
    EXPECT_EQ(box.Text(), u"abcXYdef\r\nghi"_s);
    EXPECT_EQ(box.cursorPosition(), 5);
    owner.kill();
    owner.waitForFinished();
}

TEST_F(TextBoxDesktopTest, ATripleClickSelectsTheLineWithItsBreak)
{
    box.setText(u"one two\r\nthree four\r\nfive"_s);
    ASSERT_TRUE(XInput::click(box.viewport(), cell(1, 2), Qt::LeftButton, 3));
    EXPECT_EQ(box.selectionStart(), 9);
    EXPECT_EQ(box.selectionEnd(), 21);
    EXPECT_EQ(primaryAsReadElsewhere(), u"three four\r\n"_s);
}

TEST_F(TextBoxDesktopTest, ADragSelectionPastTheBottomEdgeGoesOnScrollingWhileThePointerRests)
{
    QString text;
    for (int line = 0; line < 200; ++line)
        text += u"line %1\r\n"_s.arg(line);
    box.setText(text);
    box.setCursorPosition(0);
    box.verticalScrollBar()->setValue(0);
    const QPoint below(cell(0, 2).x(), box.viewport()->height() + 30);
    XInput::Script script;
    // xdotool waits for a move to where the pointer already is forever: the
    // pointer comes from elsewhere first.
    script.moveTo(box.viewport(), cell(4, 5))
        .moveTo(box.viewport(), cell(2, 3))
        .press()
        .moveTo(box.viewport(), below)
        .pause(800)
        .release();
    ASSERT_TRUE(script.start());
    ASSERT_TRUE(script.waitForFinished());
    // One move past the edge brings the view down a line or two; resting
    // there for most of a second brings it down many more.
    EXPECT_GT(box.verticalScrollBar()->value(), 15);
    EXPECT_EQ(box.selectionStart(), 2 * 8 + 3);
    EXPECT_GT(box.selectionEnd(), 15 * 9);
}

TEST_F(TextBoxDesktopTest, ASelectionDraggedWithinTheBoxMovesInOneUndoStep)
{
    box.setText(u"alpha beta gamma"_s);
    box.setSelection(6, 11); // "beta "
    ASSERT_TRUE(XInput::drag(box.viewport(), cell(0, 7), cell(0, 16)));
    EXPECT_EQ(box.Text(), u"alpha gammabeta "_s);
    EXPECT_EQ(box.cursorPosition(), 16);
    box.undo();
    EXPECT_EQ(box.Text(), u"alpha beta gamma"_s);
}

TEST_F(TextBoxDesktopTest, TextDropsInAndASelectionDragsOut)
{
    QLineEdit other;
    other.setText(u"dropped"_s);
    other.setDragEnabled(true);
    other.resize(200, 30);
    other.move(0, 300);
    other.show();
    ASSERT_TRUE(XInput::focus(&other));
    other.selectAll();
    box.setText(u"0123456789"_s);
    const QPoint inOther(30, other.height() / 2);
    // The line edit's own drag, onto the box.
    XInput::Script in;
    // A drag runs its own event loop once started: the pauses give it
    // the time to take the pointer, as a hand moving it would.
    in.moveTo(&other, QPoint(8, other.height() / 2))
        .press()
        .moveTo(&other, QPoint(40, other.height() / 2))
        .pause(200)
        .moveTo(box.viewport(), cell(0, 3))
        .pause(100)
        .moveTo(box.viewport(), cell(0, 2))
        .pause(100)
        .release();
    ASSERT_TRUE(in.start());
    ASSERT_TRUE(in.waitForFinished());
    EXPECT_EQ(box.Text(), u"01dropped23456789"_s);

    // And "dropped" back out, onto the line edit.
    box.setSelection(2, 9);
    other.clear();
    XInput::Script out;
    out.moveTo(box.viewport(), cell(0, 4))
        .press()
        .moveTo(box.viewport(), cell(0, 12))
        .pause(200)
        .moveTo(&other, inOther)
        .pause(100)
        .moveTo(&other, QPoint(10, other.height() / 2))
        .pause(100)
        .release();
    ASSERT_TRUE(out.start());
    ASSERT_TRUE(out.waitForFinished());
    EXPECT_EQ(other.text(), u"dropped"_s);
    EXPECT_EQ(box.Text(), u"0123456789"_s) << "a drag out moves, as the platform proposes";
}

TEST_F(TextBoxDesktopTest, TheCaretBlinksAtThePlatformsRate)
{
    QStyleHints *hints = QGuiApplication::styleHints();
    const int flashTime = hints->cursorFlashTime();
    hints->setCursorFlashTime(200);
    box.setText(u"abc"_s);
    box.setFocus();
    const QPoint caret = box.inputMethodQuery(Qt::ImCursorRectangle).toRect().center()
        - box.viewport()->geometry().topLeft();
    const auto caretShown = [&] {
        const QImage image = box.viewport()->grab(QRect(caret, QSize(1, 1))).toImage();
        return image.pixel(0, 0) == box.palette().color(QPalette::Text).rgb();
    };
    EXPECT_TRUE(waitUntil([&] { return !caretShown(); }, 2000)) << "the caret never went out";
    EXPECT_TRUE(waitUntil(caretShown, 2000)) << "the caret never came back";

    // No flash time: no blinking, the caret stays.
    hints->setCursorFlashTime(0);
    bool alwaysShown = true;
    waitUntil([&] {
        alwaysShown = alwaysShown && caretShown();
        return false;
    }, 500);
    EXPECT_TRUE(alwaysShown);
    hints->setCursorFlashTime(flashTime);
}

} // namespace
