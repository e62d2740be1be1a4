#include "TextBox.h"

#include <QtGui/QAccessible>
#include <QtGui/QFontMetricsF>
#include <QtWidgets/QApplication>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

class TextBoxAccessibleTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        box.resize(300, 200);
        box.setText(u"Text1\r\nab\tc\r\n<b>x</b>"_s);
        box.show();
        QApplication::processEvents();
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&box);
        ASSERT_NE(accessible, nullptr);
        text = accessible->textInterface();
        ASSERT_NE(text, nullptr) << "the text box offers no text interface";
    }

    TextBox box;
    QAccessibleTextInterface *text = nullptr;
};

TEST_F(TextBoxAccessibleTest, ReadsTheExactContentAndFollowsAppends)
{
    EXPECT_EQ(text->characterCount(), 21);
    EXPECT_EQ(text->text(0, 7), u"Text1\r\n"_s);
    EXPECT_EQ(text->text(13, 21), u"<b>x</b>"_s);

    box.setText(box.Text() + u"\u00ff"_s);
    EXPECT_EQ(text->characterCount(), 22);
    EXPECT_EQ(text->text(21, 22), u"\u00ff"_s);
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(&box)->state().multiLine);
}

TEST_F(TextBoxAccessibleTest, CaretAndSelectionAreTheBoxsOwnBothWays)
{
    box.setCursorPosition(3);
    EXPECT_EQ(text->cursorPosition(), 3);
    EXPECT_EQ(text->selectionCount(), 0);

    text->setSelection(0, 7, 9);
    EXPECT_EQ(box.selectedText(), u"ab"_s);
    int start = -1;
    int end = -1;
    text->selection(0, &start, &end);
    EXPECT_EQ(start, 7);
    EXPECT_EQ(end, 9);

    text->removeSelection(0);
    EXPECT_EQ(text->selectionCount(), 0);
    text->setCursorPosition(13);
    EXPECT_EQ(box.cursorPosition(), 13);
}

TEST_F(TextBoxAccessibleTest, CharacterRectanglesAndPointsMeetAtTheSameOffset)
{
    for (int offset : {0, 4, 7, 9, 10, 13, 20}) {
        const QRect cell = text->characterRect(offset);
        ASSERT_FALSE(cell.isEmpty()) << offset;
        EXPECT_EQ(text->offsetAtPoint(cell.topLeft() + QPoint(1, cell.height() / 2)), offset) << offset;
    }
    // The tab reaches its stop: the character after it starts at column 8.
    const qreal cell = QFontMetricsF(box.font()).horizontalAdvance(u'0');
    EXPECT_NEAR(text->characterRect(10).left() - text->characterRect(7).left(), 8 * cell, 1.0);
}

} // namespace
