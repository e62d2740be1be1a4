#include "EditHistory.h"

#include <utility>

void EditHistory::record(Edit edit, bool typing)
{
    m_undone.clear();
    if (typing && m_typingOpen && edit.removed.isEmpty()) {
        Edit &last = m_done.back();
        if (edit.position == last.position + last.inserted.size()) {
            last.inserted = last.inserted + edit.inserted.toString();
            return;
        }
    }
    m_done.push_back(std::move(edit));
    if (m_done.size() > MaxSteps)
        m_done.pop_front();
    m_typingOpen = typing;
}

void EditHistory::clear()
{
    m_done.clear();
    m_undone.clear();
    m_typingOpen = false;
}

const EditHistory::Edit &EditHistory::undo()
{
    Q_ASSERT(canUndo());
    m_typingOpen = false;
    m_undone.push_back(std::move(m_done.back()));
    m_done.pop_back();
    return m_undone.back();
}

const EditHistory::Edit &EditHistory::redo()
{
    Q_ASSERT(canRedo());
    m_typingOpen = false;
    m_done.push_back(std::move(m_undone.back()));
    m_undone.pop_back();
    return m_done.back();
}
