#include "EditHistory.h"

#include "TextPrinters.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

EditHistory::Edit typed(qsizetype position, const QString &text)
{
    return {.position = position, .inserted = text, .cursorBefore = position, .anchorBefore = position};
}

TEST(EditHistoryTest, TypingInARowIsOneStepAndAnythingElseStartsAnother)
{
    EditHistory history;
    history.record(typed(0, u"a"_s), true);
    history.record(typed(1, u"b"_s), true);
    // Typed elsewhere than where the typing ended.
    history.record(typed(0, u"c"_s), true);
    history.closeStep();
    history.record(typed(1, u"d"_s), true);
    // Typing over a selection replaces something: a step of its own.
    history.record({.position = 2, .removed = u"b"_s, .inserted = u"e"_s}, true);

    EXPECT_EQ(history.undo().inserted, u"e"_s);
    EXPECT_EQ(history.undo().inserted, u"d"_s);
    EXPECT_EQ(history.undo().inserted, u"c"_s);
    const EditHistory::Edit &first = history.undo();
    EXPECT_EQ(first.inserted, u"ab"_s);
    EXPECT_EQ(first.position, 0);
    EXPECT_FALSE(history.canUndo());
}

TEST(EditHistoryTest, RedoneTypingIsClosedAndANewEditDropsWhatWasUndone)
{
    EditHistory history;
    history.record(typed(0, u"ab"_s), true);
    history.undo();
    history.redo();
    // Typing on where the redone edit ended is a new step, not more of it.
    history.record(typed(2, u"c"_s), true);
    EXPECT_EQ(history.undo().inserted, u"c"_s);
    EXPECT_EQ(history.undo().inserted, u"ab"_s);

    ASSERT_TRUE(history.canRedo());
    history.record({.position = 0, .inserted = u"x"_s}, false);
    EXPECT_FALSE(history.canRedo());
    history.clear();
    EXPECT_FALSE(history.canUndo());
}

} // namespace
