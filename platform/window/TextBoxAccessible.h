#pragma once

#include "EditableText.h"

#include <QtGui/QAccessibleInterface>
#include <QtWidgets/QAccessibleWidget>

class TextBox;

// What assistive technology sees of a text box: an editable, multi-line text
// whose characters, caret and selection a screen reader can read and set.
// Offsets are the box's own positions (UTF-16 characters, exact content:
// "\r\n" is two).
class TextBoxAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit TextBoxAccessible(TextBox *textBox);

    // For QAccessible::installFactory: answers for TextBox widgets only.
    static QAccessibleInterface *create(const QString &className, QObject *object);

    // Tells assistive technology, when any listens, what an operation on the
    // box's content changed: the characters that went and came (a screen
    // reader keeps its own copy of the text), the selection and the caret.
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

private:
    TextBox *textBox() const;
};
