#pragma once

#include "EditableText.h"

#include <QtGui/QAccessibleInterface>
#include <QtWidgets/QAccessibleWidget>

class TextBox;

// What assistive technology sees of a text box: an editable, multi-line text
// whose characters, caret and selection a screen reader can read and set.
// Offsets are the box's own positions (UTF-16 characters, exact content:
// "\r\n" is two); a text longer than an int counts is seen cut there.
//
// The box may hold a billion characters, so nothing here builds the whole
// text unless assistive technology asks for all of it (text() over the whole
// range, or textAtOffset() with NoBoundary): events carry at most
// AnnouncedLength characters of a change, and the item queries read a window
// around their offset and answer at most PieceLength characters.
//
// Assistive technology calls it from Qt's event handling; every call runs
// through the box's catch point, so that what fails (memory running out on a
// long read) answers nothing, and the box tells the failure (actionFailed()).
class TextBoxAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit TextBoxAccessible(TextBox *textBox);

    // For QAccessible::installFactory: answers for TextBox widgets only.
    static QAccessibleInterface *create(const QString &className, QObject *object);

    // The most characters of a change an event carries: about a screenful,
    // what a screen reader would speak of it.
    static constexpr qsizetype AnnouncedLength = 4096;
    // The most characters an item query answers: an item longer than this
    // (a line of hundreds of megabytes from the serial line, one unbroken
    // word) is answered in pieces.
    static constexpr qsizetype PieceLength = 4096;

    // Tells assistive technology, when any listens, what an operation on the
    // box's content changed: where characters went and came, exactly, and the
    // first AnnouncedLength of them (fewer rather than half a surrogate
    // pair), the selection and the caret.
    static void announce(TextBox *textBox, const EditableText::Change &change);

    // Both bases read text: the widget's by kind, the text interface's by range.
    using QAccessibleWidget::text;

    void *interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

    // The character, word, sentence, line or paragraph at, before or after
    // an offset, with Qt's own conventions: the item runs from *startOffset
    // to *endOffset; none (an offset out of range, nothing before the first
    // or after the last item) is an empty text at -1, -1; offset -1 means the
    // end of the text (the caller turns -2, the caret, into its position).
    // - Characters, words and sentences are QTextBoundaryFinder's graphemes
    //   (a surrogate pair, a "\r\n" is one), words (the stretches between
    //   words are items too) and sentences.
    // - A line ends after its break, "\r\n", a lone "\r" or a lone "\n"; the
    //   box never wraps, so a paragraph is a line. A text ending in a break
    //   ends with an empty line.
    // - An item is found within PieceLength / 2 characters either side of
    //   where it is looked for: a longer one is cut there, as if the cut were
    //   its end. A line longer than PieceLength comes in pieces of
    //   PieceLength characters counted from its start (one more rather than
    //   half a surrogate pair or of "\r\n"): the piece holding the offset,
    //   the previous line's last piece, the next line's first. Asking at the
    //   end of a piece gives the next one.
    // - NoBoundary: the whole text at any offset, as Qt's own does; nothing
    //   before or after it.
    // Where Qt's own would answer an empty item at -1, 0 (before the first
    // word or sentence), this answers none. Qt's own never returns from a
    // word or sentence at the end of a text, nor from a word at the start of
    // one that starts with none: this answers no item at the end, and the
    // stretch before the first word at the start.
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                         int *endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                             int *endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                            int *endOffset) const override;

private:
    TextBox *textBox() const;
    // Runs a call from assistive technology through the box's catch point:
    // one that fails answers what `fallback` returns, nothing or none.
    template<typename Call, typename Fallback>
    auto guarded(Call &&call, Fallback &&fallback) const;
};
