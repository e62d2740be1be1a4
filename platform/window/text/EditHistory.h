#pragma once

#include "TextValue.h"

#include <deque>

// The user's own edits of a text box, for undo and redo.
//
// An edit is kept as what it removed and inserted at a position, never as a
// copy of the whole text: values that share their storage with the text they
// came from, so even removing everything costs the history next to nothing
// while the text holds the same characters. At most MaxSteps edits are kept;
// the oldest go first.
//
// Undoing the newest edit, then the one before, and so on, always finds its
// characters where they were: the only other changes a text box gets while
// keeping its history are appends at the end, which move nothing. The owner
// clears the history on any other change of the text.
//
// Typed characters that continue the previous typing (inserted right where it
// ended, removing nothing, with no other step in between) join it into one
// step.
class EditHistory
{
public:
    struct Edit
    {
        qsizetype position = 0;
        TextValue removed;
        TextValue inserted;
        // Where the caret and the selection's anchor were before the edit,
        // for its undo to put them back.
        qsizetype cursorBefore = 0;
        qsizetype anchorBefore = 0;
    };

    // An edit the user has just made; it drops whatever was undone before.
    void record(Edit edit, bool typing);
    // Ends the current typing step: the next typed character starts another.
    void closeStep() { m_typingOpen = false; }
    void clear();

    bool canUndo() const { return !m_done.empty(); }
    bool canRedo() const { return !m_undone.empty(); }
    // The newest edit, now moved to the redo side, for the owner to reverse.
    // Only when canUndo().
    const Edit &undo();
    // The newest undone edit, back on the undo side, for the owner to repeat.
    // Only when canRedo().
    const Edit &redo();

    static constexpr std::size_t MaxSteps = 1000;

private:
    std::deque<Edit> m_done;
    std::deque<Edit> m_undone;
    bool m_typingOpen = false;
};
