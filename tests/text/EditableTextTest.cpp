#include "EditableText.h"

#include "TextPrinters.h"
#include "TextSamples.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

using Move = EditableText::Move;
using Step = EditableText::Step;

TEST(EditableTextTest, AnExtendingSetIsAnAppendThatSaysWhereTheScreenChanged)
{
    EditableText text;
    // Everything extends an empty text.
    EXPECT_TRUE(text.setText(u"ab\r"_s).appended);
    text.placeCursor(1, false);

    // The "\n" completes the break: the line after it is where it changed.
    EditableText::Change appended = text.setText(text.text() + u"\ncd"_s);
    EXPECT_TRUE(appended.appended);
    EXPECT_FALSE(appended.replaced);
    EXPECT_EQ(appended.position, 3);
    EXPECT_EQ(appended.inserted, 3);
    EXPECT_EQ(appended.removed, 0);
    EXPECT_EQ(appended.line, 1);
    EXPECT_EQ(appended.column, 0);
    EXPECT_FALSE(appended.linesChanged);
    EXPECT_FALSE(appended.caretMoved);
    EXPECT_EQ(text.cursor(), 1);

    appended = text.setText(text.text() + u"x\n"_s);
    EXPECT_EQ(appended.line, 1);
    EXPECT_EQ(appended.column, 2);
    EXPECT_TRUE(appended.linesChanged);

    // The same characters again change nothing; other characters replace.
    EXPECT_FALSE(text.setText(text.text()).textChanged());
    EXPECT_FALSE(text.setText(u"ab\r\ncdx\n"_s).textChanged());
    EXPECT_EQ(text.cursor(), 1);
    const EditableText::Change other = text.setText(u"ab\r\ncdy\n"_s);
    EXPECT_TRUE(other.replaced);
    EXPECT_EQ(other.removedText(), u"ab\r\ncdx\n"_s);
    EXPECT_EQ(text.cursor(), 8);
}

TEST(EditableTextTest, EditsReportWhatTheyReplacedAndUndoReportsTheReverse)
{
    EditableText text;
    text.setText(u"one two\r\nthree"_s);
    text.setSelection(4, 11);
    const EditableText::Change typed = text.replaceSelection(u"2"_s, Step::Typing);
    EXPECT_EQ(text.text(), u"one 2ree"_s);
    EXPECT_EQ(typed.position, 4);
    EXPECT_EQ(typed.removedText(), u"two\r\nth"_s);
    EXPECT_EQ(typed.inserted, 1);
    EXPECT_EQ(typed.line, 0);
    EXPECT_EQ(typed.column, 4);
    EXPECT_TRUE(typed.linesChanged);
    EXPECT_TRUE(typed.caretMoved);
    EXPECT_TRUE(typed.selectionChanged);

    const EditableText::Change undone = text.undo();
    EXPECT_EQ(text.text(), u"one two\r\nthree"_s);
    EXPECT_EQ(undone.position, 4);
    EXPECT_EQ(undone.removedText(), u"2"_s);
    EXPECT_EQ(undone.inserted, 7);
    EXPECT_TRUE(undone.linesChanged);
    // The selection comes back as it was, caret at its end.
    EXPECT_EQ(text.anchor(), 4);
    EXPECT_EQ(text.cursor(), 11);

    // Nothing to take at the start: no change at all.
    text.placeCursor(0, false);
    EXPECT_FALSE(text.removeAround(false).textChanged());
    EXPECT_EQ(text.text(), u"one two\r\nthree"_s);
}

// A drag belongs to the text it started in: after a set replaces that text,
// a word anchor from the old text must not select, or reach past the end of,
// the new one.
TEST(EditableTextTest, AReplacingSetEndsADragInProgress)
{
    EditableText text;
    text.setText(u"alpha beta gamma"_s);
    text.doubleClick(13);
    ASSERT_EQ(text.selectedText(), u"gamma"_s);
    ASSERT_TRUE(text.dragging());

    text.setText(u"ab"_s);
    EXPECT_FALSE(text.dragging());
    EXPECT_FALSE(text.dragTo(1).selectionChanged);
    EXPECT_FALSE(text.hasSelection());
    EXPECT_EQ(text.cursor(), 2);
    text.replaceSelection(u"c"_s, Step::Typing);
    EXPECT_EQ(text.text(), u"abc"_s);
    EXPECT_EQ(text.lines().lineCount(), 1);
}

TEST(EditableTextTest, PageMovesGoTheGivenLinesAndKeepTheColumn)
{
    EditableText text;
    text.setText(numberedLines(30) + u"en"_s);
    text.placeCursor(3, false);
    text.move(Move::NextPage, false, 10);
    EXPECT_EQ(text.lineAtCaret(), 10);
    EXPECT_EQ(text.column(text.cursor()), 3);
    text.move(Move::NextPage, true, 25);
    EXPECT_EQ(text.lineAtCaret(), 30) << "past the end, the last line";
    EXPECT_EQ(text.cursor(), text.size()) << "its end, short of the column";
    text.move(Move::PreviousPage, true, 5);
    EXPECT_EQ(text.lineAtCaret(), 25);
    EXPECT_EQ(text.column(text.cursor()), 3) << "the column aimed for is kept";
    EXPECT_EQ(text.anchor(), text.lines().lineStart(10) + 3);
}

// A surrogate pair is one character on screen: the caret steps over it,
// Backspace and Delete take it whole, and a pointer never lands inside it.
TEST(EditableTextTest, SurrogatePairsAreOneCharacterForCaretAndEdits)
{
    EditableText text;
    const QString pair = u"\U0001F600"_s;
    ASSERT_EQ(pair.size(), 2);
    text.setText(u"a"_s + pair + u"b"_s);
    text.placeCursor(1, false);
    text.move(Move::NextCharacter, false, 1);
    EXPECT_EQ(text.cursor(), 3);
    text.move(Move::PreviousCharacter, false, 1);
    EXPECT_EQ(text.cursor(), 1);
    EXPECT_EQ(text.positionNear(0, 2.0), 1);

    text.removeAround(true);
    EXPECT_EQ(text.text(), u"ab"_s);
    text.undo();
    text.placeCursor(3, false);
    text.removeAround(false);
    EXPECT_EQ(text.text(), u"ab"_s);
}

TEST(EditableTextTest, AnInputMethodIsToldOfTheCaretsLineWithinAReach)
{
    EditableText text;
    const qsizetype reach = EditableText::SurroundingReach;
    text.setText(u"first\r\n"_s + QString(3 * reach, u'x') + u"\r\nlast"_s);
    text.placeCursor(7 + reach + 10, false);
    EXPECT_EQ(text.surroundingRange(), std::pair(qsizetype(7 + 10), 7 + 2 * reach + 10));
    text.placeCursor(8, false);
    EXPECT_EQ(text.surroundingRange(), std::pair(qsizetype(7), 8 + reach));
    text.placeCursor(3, false);
    EXPECT_EQ(text.surroundingRange(), std::pair(qsizetype(0), qsizetype(5)));
}

} // namespace
