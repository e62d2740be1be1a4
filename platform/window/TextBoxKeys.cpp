// The text box's keys: one table of the platform's standard keys, both to
// claim a key from the window's shortcuts and to act on it, and typing.
#include "TextBox.h"

#include <QtGui/QClipboard>
#include <QtGui/QGuiApplication>
#include <QtGui/QKeyEvent>
#include <QtWidgets/QScrollBar>

#include <algorithm>
#include <array>

using namespace Qt::StringLiterals;

namespace {

// Typed text the box takes as content; control characters that come with
// Ctrl combinations or odd keys are not typing. Tab is, when it gets here.
bool isTyping(const QString &text)
{
    return !text.isEmpty() && std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        return c != u'\t' && (c.unicode() < 0x20 || c.unicode() == 0x7F);
    });
}

} // namespace

template<EditableText::Move move, bool extendSelection>
void TextBox::moveKey(TextBox &box, const QKeyEvent &)
{
    box.moveCursor(move, extendSelection);
}

template<EditableText::Change (EditableText::*remove)(bool), bool forward>
void TextBox::removeKey(TextBox &box, const QKeyEvent &)
{
    box.showChange(box.edited([](EditableText &text) { return (text.*remove)(forward); }));
}

TextBox::KeyAction TextBox::keyAction(const QKeyEvent &event)
{
    struct StandardKey
    {
        QKeySequence::StandardKey key;
        KeyAction action;
    };
    // Looked at in this order: the first that matches acts.
    static constexpr std::array standardKeys{
        StandardKey{QKeySequence::SelectAll, [](TextBox &box, const QKeyEvent &) { box.selectAll(); }},
        StandardKey{QKeySequence::Copy, [](TextBox &box, const QKeyEvent &) { box.copy(); }},
        StandardKey{QKeySequence::Cut, [](TextBox &box, const QKeyEvent &) { box.cut(); }},
        StandardKey{QKeySequence::Paste,
                    [](TextBox &box, const QKeyEvent &pressed) {
                        // Ctrl+Shift+Insert, in the X11 scheme, pastes the selection clipboard.
                        const bool selection = pressed.key() == Qt::Key_Insert
                            && pressed.modifiers() == (Qt::ControlModifier | Qt::ShiftModifier)
                            && QGuiApplication::clipboard()->supportsSelection();
                        box.paste(selection ? QClipboard::Selection : QClipboard::Clipboard);
                    }},
        StandardKey{QKeySequence::Undo, [](TextBox &box, const QKeyEvent &) { box.undo(); }},
        StandardKey{QKeySequence::Redo, [](TextBox &box, const QKeyEvent &) { box.redo(); }},
        StandardKey{QKeySequence::MoveToPreviousChar, &moveKey<Move::PreviousCharacter, false>},
        StandardKey{QKeySequence::MoveToNextChar, &moveKey<Move::NextCharacter, false>},
        StandardKey{QKeySequence::MoveToPreviousWord, &moveKey<Move::PreviousWord, false>},
        StandardKey{QKeySequence::MoveToNextWord, &moveKey<Move::NextWord, false>},
        StandardKey{QKeySequence::MoveToPreviousLine, &moveKey<Move::PreviousLine, false>},
        StandardKey{QKeySequence::MoveToNextLine, &moveKey<Move::NextLine, false>},
        StandardKey{QKeySequence::MoveToPreviousPage, &moveKey<Move::PreviousPage, false>},
        StandardKey{QKeySequence::MoveToNextPage, &moveKey<Move::NextPage, false>},
        StandardKey{QKeySequence::MoveToStartOfLine, &moveKey<Move::StartOfLine, false>},
        StandardKey{QKeySequence::MoveToEndOfLine, &moveKey<Move::EndOfLine, false>},
        StandardKey{QKeySequence::MoveToStartOfDocument, &moveKey<Move::StartOfText, false>},
        StandardKey{QKeySequence::MoveToEndOfDocument, &moveKey<Move::EndOfText, false>},
        StandardKey{QKeySequence::SelectPreviousChar, &moveKey<Move::PreviousCharacter, true>},
        StandardKey{QKeySequence::SelectNextChar, &moveKey<Move::NextCharacter, true>},
        StandardKey{QKeySequence::SelectPreviousWord, &moveKey<Move::PreviousWord, true>},
        StandardKey{QKeySequence::SelectNextWord, &moveKey<Move::NextWord, true>},
        StandardKey{QKeySequence::SelectPreviousLine, &moveKey<Move::PreviousLine, true>},
        StandardKey{QKeySequence::SelectNextLine, &moveKey<Move::NextLine, true>},
        StandardKey{QKeySequence::SelectPreviousPage, &moveKey<Move::PreviousPage, true>},
        StandardKey{QKeySequence::SelectNextPage, &moveKey<Move::NextPage, true>},
        StandardKey{QKeySequence::SelectStartOfLine, &moveKey<Move::StartOfLine, true>},
        StandardKey{QKeySequence::SelectEndOfLine, &moveKey<Move::EndOfLine, true>},
        StandardKey{QKeySequence::SelectStartOfDocument, &moveKey<Move::StartOfText, true>},
        StandardKey{QKeySequence::SelectEndOfDocument, &moveKey<Move::EndOfText, true>},
        StandardKey{QKeySequence::Delete, &removeKey<&EditableText::removeAround, true>},
        StandardKey{QKeySequence::Backspace, &removeKey<&EditableText::removeAround, false>},
        StandardKey{QKeySequence::DeleteStartOfWord, &removeKey<&EditableText::removeWord, false>},
        StandardKey{QKeySequence::DeleteEndOfWord, &removeKey<&EditableText::removeWord, true>},
        StandardKey{QKeySequence::DeleteEndOfLine,
                    [](TextBox &box, const QKeyEvent &) {
                        box.showChange(box.edited([](EditableText &text) { return text.removeToEndOfLine(); }));
                    }},
        // The box's one line break is the serial line's.
        StandardKey{QKeySequence::InsertParagraphSeparator, &TextBox::lineBreakKey},
        StandardKey{QKeySequence::InsertLineSeparator, &TextBox::lineBreakKey},
    };
    for (const StandardKey &standard : standardKeys) {
        if (event.matches(standard.key))
            return standard.action;
    }
    // Backspace, with or without Shift, is bound in no scheme but the Mac's
    // (Meta+H above); Qt's own text widgets take the key itself.
    if (event.key() == Qt::Key_Backspace && !(event.modifiers() & ~Qt::ShiftModifier))
        return &removeKey<&EditableText::removeAround, false>;
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier) || !isTyping(event.text()))
        return nullptr;
    return [](TextBox &box, const QKeyEvent &typed) {
        if (box.roomFor(MemoryBudget::storageOf(typed.text()) + MemoryBudget::EditCost)) {
            box.showChange(box.edited([&typed](EditableText &text) {
                return text.replaceSelection(typed.text(), EditableText::Step::Typing);
            }));
        }
    };
}

void TextBox::lineBreakKey(TextBox &box, const QKeyEvent &)
{
    if (box.roomFor(MemoryBudget::EditCost))
        box.showChange(box.edited([](EditableText &text) { return text.replaceSelection(u"\r\n"_s); }));
}

void TextBox::keyPressEvent(QKeyEvent *event)
{
    if (const KeyAction action = keyAction(*event)) {
        const qsizetype start = selectionStart();
        const qsizetype end = selectionEnd();
        action(*this, *event);
        // A selection made with the keys is offered as one made with the
        // mouse is.
        if (m_content.hasSelection() && (selectionStart() != start || selectionEnd() != end))
            offerSelection();
        restartCaretBlink();
        event->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void TextBox::moveCursor(Move move, bool extendSelection)
{
    const int page = std::max(1, visibleRows() - 1);
    // A page move takes the view along by the same number of lines.
    if (move == Move::PreviousPage || move == Move::NextPage)
        verticalScrollBar()->setValue(verticalScrollBar()->value() + (move == Move::NextPage ? page : -page));
    showChange(m_content.move(move, extendSelection, page));
}
