#include "TextBoxAccessible.h"

#include "TextBox.h"

#include <QtWidgets/QScrollBar>

#include <algorithm>
#include <limits>

namespace {

// Assistive technology counts in int; a text longer than that is cut short
// for it, never for the box.
int toOffset(qsizetype position)
{
    return static_cast<int>(std::min<qsizetype>(position, std::numeric_limits<int>::max()));
}

} // namespace

TextBoxAccessible::TextBoxAccessible(TextBox *textBox)
    : QAccessibleWidget(textBox, QAccessible::EditableText)
{
}

QAccessibleInterface *TextBoxAccessible::create(const QString &className, QObject *object)
{
    if (className == QLatin1String("TextBox") && object && object->isWidgetType())
        return new TextBoxAccessible(static_cast<TextBox *>(object));
    return nullptr;
}

void TextBoxAccessible::announce(TextBox *textBox, const EditableText::Change &change)
{
    if (!QAccessible::isActive())
        return;
    const QString inserted = textBox->Text().mid(change.position, change.inserted);
    const int position = toOffset(change.position);
    if (change.removed > 0 && change.inserted > 0) {
        QAccessibleTextUpdateEvent updated(textBox, position, change.removedText(), inserted);
        QAccessible::updateAccessibility(&updated);
    } else if (change.inserted > 0) {
        QAccessibleTextInsertEvent insertion(textBox, position, inserted);
        QAccessible::updateAccessibility(&insertion);
    } else if (change.removed > 0) {
        QAccessibleTextRemoveEvent removal(textBox, position, change.removedText());
        QAccessible::updateAccessibility(&removal);
    }
    if (change.selectionChanged) {
        QAccessibleTextSelectionEvent selected(textBox, toOffset(textBox->selectionStart()),
                                               toOffset(textBox->selectionEnd()));
        QAccessible::updateAccessibility(&selected);
    }
    if (change.caretMoved) {
        QAccessibleTextCursorEvent moved(textBox, toOffset(textBox->cursorPosition()));
        QAccessible::updateAccessibility(&moved);
    }
}

TextBox *TextBoxAccessible::textBox() const
{
    return static_cast<TextBox *>(widget());
}

void *TextBoxAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State TextBoxAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.editable = true;
    state.multiLine = true;
    state.selectableText = true;
    return state;
}

void TextBoxAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || selectionCount() == 0)
        return;
    *startOffset = toOffset(textBox()->selectionStart());
    *endOffset = toOffset(textBox()->selectionEnd());
}

int TextBoxAccessible::selectionCount() const
{
    return textBox()->selectionStart() == textBox()->selectionEnd() ? 0 : 1;
}

void TextBoxAccessible::addSelection(int startOffset, int endOffset)
{
    // The box has one selection; a new one replaces it.
    setSelection(0, startOffset, endOffset);
}

void TextBoxAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        textBox()->setCursorPosition(textBox()->cursorPosition());
}

void TextBoxAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        textBox()->setSelection(startOffset, endOffset);
}

int TextBoxAccessible::cursorPosition() const
{
    return toOffset(textBox()->cursorPosition());
}

void TextBoxAccessible::setCursorPosition(int position)
{
    textBox()->setCursorPosition(position);
}

QString TextBoxAccessible::text(int startOffset, int endOffset) const
{
    return textBox()->Text().mid(startOffset, endOffset - startOffset);
}

int TextBoxAccessible::characterCount() const
{
    return toOffset(textBox()->Text().size());
}

QRect TextBoxAccessible::characterRect(int offset) const
{
    const QRect cell = textBox()->characterRect(offset);
    return QRect(textBox()->viewport()->mapToGlobal(cell.topLeft()), cell.size());
}

int TextBoxAccessible::offsetAtPoint(const QPoint &point) const
{
    const QPoint inViewport = textBox()->viewport()->mapFromGlobal(point);
    if (!textBox()->viewport()->rect().contains(inViewport))
        return -1;
    return toOffset(textBox()->positionAt(inViewport));
}

void TextBoxAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    textBox()->scrollToPosition(endIndex);
    textBox()->scrollToPosition(startIndex);
}

QString TextBoxAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    // One font and colour throughout: no attribute runs.
    *startOffset = 0;
    *endOffset = characterCount();
    Q_UNUSED(offset);
    return {};
}
