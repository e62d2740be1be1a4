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

// Words, separators, white space and every kind of break, as Qt's
// QPlainTextEdit moves over them with Ctrl+Left and Ctrl+Right:
//   0 "foo(bar) a.b\t--  x" 18 "\r\n"
//  20 "  \u00e9\U0001F600z, q" 29 "\r"
//  30 "\tend!" 35 "\n"
//  36 "" "\n"
//  37 "_x_ y\\z" 44
const QString wordSample = u"foo(bar) a.b\t--  x\r\n  \u00e9\U0001F600z, q\r\tend!\n\n_x_ y\\z"_s;

TEST(EditableTextTest, WordMovesWithShiftExtendAndWithoutMoveFromTheCaret)
{
    EditableText text;
    text.setText(wordSample);
    text.placeCursor(9, false);
    text.move(Move::NextWord, true, 1);
    text.move(Move::NextWord, true, 1);
    EXPECT_EQ(text.anchor(), 9);
    EXPECT_EQ(text.cursor(), 11);
    EXPECT_EQ(text.selectedText(), u"a."_s);
    text.move(Move::PreviousWord, true, 1);
    text.move(Move::PreviousWord, true, 1);
    const EditableText::Change past = text.move(Move::PreviousWord, true, 1);
    EXPECT_EQ(text.anchor(), 9) << "the anchor stays";
    EXPECT_EQ(text.cursor(), 7);
    EXPECT_TRUE(past.selectionChanged);

    // Across a line's end, a "\r\n" whole.
    text.placeCursor(17, false);
    text.move(Move::NextWord, true, 1);
    text.move(Move::NextWord, true, 1);
    EXPECT_EQ(text.selectedText(), u"x\r\n"_s);
    text.move(Move::PreviousWord, true, 1);
    EXPECT_EQ(text.cursor(), 18);

    // Without Shift a selection is dropped, not collapsed to an end: the
    // move goes from the caret, as QTextCursor's does.
    text.setSelection(9, 12);
    text.move(Move::NextWord, false, 1);
    EXPECT_FALSE(text.hasSelection());
    EXPECT_EQ(text.cursor(), 13);
    text.setSelection(12, 3);
    text.move(Move::PreviousWord, false, 1);
    EXPECT_FALSE(text.hasSelection());
    EXPECT_EQ(text.cursor(), 0);
}

TEST(EditableTextTest, WordRemovalTakesTheSelectionOrUpToWhereAWordMoveGoes)
{
    EditableText text;
    text.setText(u"one two.three\r\nfour"_s);

    // Ctrl+Delete: to where Ctrl+Right goes, the space after the word too.
    text.placeCursor(0, false);
    EditableText::Change removed = text.removeWord(true);
    EXPECT_EQ(removed.removedText(), u"one "_s);
    EXPECT_EQ(text.text(), u"two.three\r\nfour"_s);
    EXPECT_EQ(text.cursor(), 0);
    text.undo();
    EXPECT_EQ(text.text(), u"one two.three\r\nfour"_s);

    // Ctrl+Backspace: back to where Ctrl+Left goes, a run of separators
    // being a word.
    text.placeCursor(8, false);
    removed = text.removeWord(false);
    EXPECT_EQ(removed.removedText(), u"."_s);
    EXPECT_EQ(text.cursor(), 7);
    removed = text.removeWord(false);
    EXPECT_EQ(removed.removedText(), u"two"_s);
    EXPECT_EQ(text.text(), u"one three\r\nfour"_s);
    EXPECT_EQ(text.cursor(), 4);
    text.undo();
    text.undo();
    EXPECT_EQ(text.text(), u"one two.three\r\nfour"_s);

    // At a line's end and start, the "\r\n" whole.
    text.placeCursor(13, false);
    removed = text.removeWord(true);
    EXPECT_EQ(removed.removedText(), u"\r\n"_s);
    EXPECT_TRUE(removed.linesChanged);
    text.undo();
    text.placeCursor(15, false);
    removed = text.removeWord(false);
    EXPECT_EQ(removed.removedText(), u"\r\n"_s);
    EXPECT_EQ(text.cursor(), 13);
    text.undo();

    // Nothing before the start or after the end.
    text.placeCursor(0, false);
    EXPECT_FALSE(text.removeWord(false).textChanged());
    text.placeCursor(text.size(), false);
    EXPECT_FALSE(text.removeWord(true).textChanged());
    EXPECT_EQ(text.text(), u"one two.three\r\nfour"_s);

    // A selection goes whole, whichever way.
    text.setSelection(2, 6);
    removed = text.removeWord(false);
    EXPECT_EQ(removed.removedText(), u"e tw"_s);
    text.undo();
    EXPECT_EQ(text.anchor(), 2);
    EXPECT_EQ(text.cursor(), 6);
    removed = text.removeWord(true);
    EXPECT_EQ(removed.removedText(), u"e tw"_s);
    text.undo();

    // An undo step of its own, not joined to the typing before it.
    text.placeCursor(3, false);
    text.replaceSelection(u"s"_s, Step::Typing);
    text.removeWord(false);
    EXPECT_EQ(text.text(), u" two.three\r\nfour"_s);
    text.undo();
    EXPECT_EQ(text.text(), u"ones two.three\r\nfour"_s);
    EXPECT_EQ(text.cursor(), 4);
    text.undo();
    EXPECT_EQ(text.text(), u"one two.three\r\nfour"_s);
}

TEST(EditableTextTest, RemovingToTheEndOfTheLineKeepsTheBreak)
{
    EditableText text;
    // 0 "ab cd" 5 "\r\n" 7 "ef" 9 "\r" 10 "gh" 12
    text.setText(u"ab cd\r\nef\rgh"_s);

    text.placeCursor(1, false);
    EditableText::Change removed = text.removeToEndOfLine();
    EXPECT_EQ(removed.removedText(), u"b cd"_s);
    EXPECT_EQ(text.text(), u"a\r\nef\rgh"_s);
    EXPECT_EQ(text.cursor(), 1);

    // At the line's end, nothing: the break stays.
    removed = text.removeToEndOfLine();
    EXPECT_FALSE(removed.textChanged());
    EXPECT_EQ(text.text(), u"a\r\nef\rgh"_s);
    text.undo();
    EXPECT_EQ(text.text(), u"ab cd\r\nef\rgh"_s);

    // One character before the end (Qt's block.length() - 2): that character.
    text.placeCursor(4, false);
    EXPECT_EQ(text.removeToEndOfLine().removedText(), u"d"_s);
    text.undo();
    // On a line ending in a lone "\r", and on the last line.
    text.placeCursor(7, false);
    EXPECT_EQ(text.removeToEndOfLine().removedText(), u"ef"_s);
    text.undo();
    text.placeCursor(10, false);
    EXPECT_EQ(text.removeToEndOfLine().removedText(), u"gh"_s);
    EXPECT_EQ(text.text(), u"ab cd\r\nef\r"_s);
    text.undo();
    text.placeCursor(12, false);
    EXPECT_FALSE(text.removeToEndOfLine().textChanged());

    // From the anchor: one before the caret takes it to the line's end.
    text.setSelection(1, 3);
    EXPECT_EQ(text.removeToEndOfLine().removedText(), u"b cd"_s);
    text.undo();
    // One after, on a later line: from the caret's line's end to it, what
    // the selection held of the caret's line staying.
    text.setSelection(8, 2);
    removed = text.removeToEndOfLine();
    EXPECT_EQ(removed.removedText(), u"\r\ne"_s);
    EXPECT_EQ(text.text(), u"ab cdf\rgh"_s);
    EXPECT_EQ(text.cursor(), 5);
    EXPECT_FALSE(text.hasSelection());
    // Its own undo step.
    text.undo();
    EXPECT_EQ(text.text(), u"ab cd\r\nef\rgh"_s);
    EXPECT_EQ(text.anchor(), 8);
    EXPECT_EQ(text.cursor(), 2);
    EXPECT_FALSE(text.canUndo());
}

TEST(EditableTextTest, ATripleClickSelectsTheLineAndADragGoesByLines)
{
    EditableText text;
    // 0 "one" 3 "\r\n" 5 "two" 8 "\r" 9 "three" 14 "\n" 15 "four" 19
    text.setText(u"one\r\ntwo\rthree\nfour"_s);

    EditableText::Change clicked = text.tripleClick(1);
    EXPECT_EQ(text.anchor(), 0);
    EXPECT_EQ(text.cursor(), 5);
    EXPECT_EQ(text.selectedText(), u"one\r\n"_s);
    EXPECT_TRUE(clicked.selectionChanged);
    EXPECT_TRUE(text.dragging());
    text.release();
    // Between the "\r" and the "\n": the line the break ends.
    text.tripleClick(4);
    EXPECT_EQ(text.selectedText(), u"one\r\n"_s);
    text.release();
    // The last line has no break.
    text.tripleClick(19);
    EXPECT_EQ(text.anchor(), 15);
    EXPECT_EQ(text.cursor(), 19);
    text.release();

    // A lone "\r" line, then down, up, and back over it.
    text.tripleClick(6);
    EXPECT_EQ(text.selectedText(), u"two\r"_s);
    EXPECT_EQ(text.anchor(), 5);
    EXPECT_EQ(text.cursor(), 9);
    text.dragTo(11);
    EXPECT_EQ(text.anchor(), 5);
    EXPECT_EQ(text.cursor(), 15) << "after the break of the line pointed at";
    text.dragTo(17);
    EXPECT_EQ(text.anchor(), 5);
    EXPECT_EQ(text.cursor(), 19);
    text.dragTo(9);
    EXPECT_EQ(text.selectedText(), u"two\r"_s) << "just after its break is still the first line";
    text.dragTo(7);
    EXPECT_EQ(text.selectedText(), u"two\r"_s);
    text.dragTo(1);
    EXPECT_EQ(text.anchor(), 9) << "the first line stays selected";
    EXPECT_EQ(text.cursor(), 0);
    text.dragTo(4);
    EXPECT_EQ(text.anchor(), 9);
    EXPECT_EQ(text.cursor(), 0);
    text.dragTo(5);
    EXPECT_EQ(text.anchor(), 5);
    EXPECT_EQ(text.cursor(), 9);
    text.dragTo(14);
    EXPECT_EQ(text.selectedText(), u"two\rthree\n"_s);

    text.release();
    EXPECT_FALSE(text.dragging());
    EXPECT_FALSE(text.dragTo(0).selectionChanged);
    EXPECT_EQ(text.selectedText(), u"two\rthree\n"_s);

    // A press after it drags by characters again.
    text.press(1, false);
    text.dragTo(2);
    EXPECT_EQ(text.selectedText(), u"n"_s);
}

// The scans for words read ScanBlock characters at a time: a word longer
// than three blocks, wherever the blocks' and the storage's chunks' edges
// fall in it, is found whole, by a double-click anywhere in it and by word
// moves from anywhere in it.
TEST(EditableTextTest, AMovedSelectionGoesWholeEitherWayInOneUndoStep)
{
    EditableText text;
    text.setText(u"ab\r\ncd\r"_s);
    // Back, to the start: "cd" goes before everything.
    text.setSelection(4, 6);
    text.moveSelection(0);
    EXPECT_EQ(text.text(), u"cdab\r\n\r"_s);
    EXPECT_EQ(text.cursor(), 2);
    EXPECT_FALSE(text.hasSelection());
    text.undo();
    EXPECT_EQ(text.text(), u"ab\r\ncd\r"_s);

    // Forward, past a lone "\r": "\r\n" taken out of the middle.
    text.setSelection(2, 4);
    text.moveSelection(7);
    EXPECT_EQ(text.text(), u"abcd\r\r\n"_s);
    EXPECT_EQ(text.cursor(), 7);
    EXPECT_EQ(text.lines().lineCount(), 3);
    text.undo();
    EXPECT_EQ(text.text(), u"ab\r\ncd\r"_s);
    EXPECT_FALSE(text.canUndo()) << "one step for the move, undone";

    // Onto itself or its edges: nothing.
    text.setSelection(0, 2);
    for (const qsizetype onto : {0, 1, 2})
        EXPECT_FALSE(text.moveSelection(onto).textChanged());
    EXPECT_EQ(text.text(), u"ab\r\ncd\r"_s);
}

TEST(EditableTextTest, AWordLongerThanTheScanBlocksIsFoundWhole)
{
    const qsizetype block = EditableText::ScanBlock;
    const qsizetype length = 3 * block + 1;
    QString word;
    for (qsizetype i = 0; i < length; ++i)
        word.append(QChar(u"ab_9"[i % 4]));
    const qsizetype leads[] = {0, 1, 2, block - 1, block, block + 1, 8192 - length / 2, 8191};
    for (const qsizetype lead : leads) {
        // A run of separators and a space before the word, ". z" after it.
        const QString line = QString(std::max<qsizetype>(lead - 1, 0), u'-') + (lead > 0 ? u" "_s : QString())
            + word + u" .z"_s;
        const QString whole = u"x\r\n"_s + line + u"\r\nnext"_s;
        // The storage built at once, and by appends in uneven pieces.
        TextValue appended;
        for (qsizetype at = 0; at < whole.size(); at += 1000 + at % 7)
            appended = appended + QStringView(whole).mid(at, 1000 + at % 7);
        ASSERT_EQ(appended, whole);
        for (const TextValue &value : {TextValue(whole), appended}) {
            EditableText text;
            text.setText(value);
            const qsizetype first = 3 + lead;
            const qsizetype last = first + length;
            const qsizetype points[] = {first, first + 1, first + block - 1, first + block, first + block + 1,
                                        first + length / 2, last - block - 1, last - block, last - 2, last - 1,
                                        last};
            for (const qsizetype at : points) {
                SCOPED_TRACE(testing::Message() << "lead " << lead << ", at " << at);
                EXPECT_EQ(text.wordAt(at), std::pair(first, last));
                text.doubleClick(at);
                EXPECT_EQ(text.anchor(), first);
                EXPECT_EQ(text.cursor(), last);
                text.release();
                text.placeCursor(at, false);
                text.move(Move::NextWord, false, 1);
                EXPECT_EQ(text.cursor(), last + 1);
                text.placeCursor(at, false);
                text.move(Move::PreviousWord, false, 1);
                EXPECT_EQ(text.cursor(), at == first ? (lead > 0 ? 3 : 1) : first);
            }
            // Over the whole word from either side, and the separators before it.
            text.placeCursor(last + 1, false);
            text.move(Move::PreviousWord, false, 1);
            EXPECT_EQ(text.cursor(), first);
            text.move(Move::PreviousWord, false, 1);
            EXPECT_EQ(text.cursor(), lead > 0 ? 3 : 1);
            text.placeCursor(3, false);
            text.move(Move::NextWord, false, 1);
            EXPECT_EQ(text.cursor(), lead > 0 ? first : last + 1);
            text.placeCursor(last, false);
            text.removeWord(false);
            EXPECT_EQ(text.lines().lineEnd(1) - text.lines().lineStart(1), lead + 3);
        }
    }
}

} // namespace

// Between the "\r" and the "\n" of a break a position is past its line's
// end; a word looked for there is the one where the caret would go, never
// a character read past the line.
TEST(EditableTextTest, AWordInsideALineBreakIsTheOneBeforeIt)
{
    EditableText text;
    text.setText(u"ab cd\r\nef"_s);
    EXPECT_EQ(text.wordAt(6), std::make_pair(qsizetype(3), qsizetype(5)));
    text.doubleClick(6);
    EXPECT_EQ(text.selectedText(), u"cd"_s);

    text.setText(u"\r\n"_s);
    EXPECT_EQ(text.wordAt(1), std::make_pair(qsizetype(0), qsizetype(0)));
}
