// The text box and the clipboard: copies handed over as TextMimeData, made
// only when read; pastes that share what this process copied; the context
// menu, which asks the clipboard what it holds without reading it.
#include "TextBox.h"

#include "TextMimeData.h"

#include <QtCore/QMimeData>
#include <QtCore/QPointer>
#include <QtGui/QAction>
#include <QtGui/QClipboard>
#include <QtGui/QGuiApplication>
#include <QtWidgets/QMenu>

void TextBox::copy() const
{
    if (m_content.hasSelection())
        QGuiApplication::clipboard()->setMimeData(selectionData());
}

void TextBox::cut()
{
    if (!m_content.hasSelection())
        return;
    copy();
    showChange(edited([](EditableText &text) { return text.removeSelection(); }));
}

void TextBox::paste(QClipboard::Mode mode)
{
    insertFrom(QGuiApplication::clipboard()->mimeData(mode));
}

bool TextBox::insertFrom(const QMimeData *mimeData, std::optional<qsizetype> position)
{
    if (!mimeData || !mimeData->hasText())
        return false;
    const auto insert = [this, position](const TextValue &inserted) {
        // The caret goes to a drop's place with the text, or not at all.
        showChange(edited([position, &inserted](EditableText &text) {
            if (position)
                text.placeCursor(*position, false);
            return text.replaceSelection(inserted);
        }));
    };
    // Characters copied in this process are shared, not copied again.
    if (const auto *own = qobject_cast<const TextMimeData *>(mimeData)) {
        if (own->value().isEmpty() || !roomFor(MemoryBudget::EditCost))
            return false;
        insert(own->value());
        return true;
    }
    // Another program's text is read here whole: that, and storing it, may
    // run out of memory, with nothing changed yet.
    const QString text = mimeData->text();
    if (text.isEmpty() || !roomFor(MemoryBudget::storageOf(text) + MemoryBudget::EditCost))
        return false;
    insert(text);
    return true;
}

TextMimeData *TextBox::selectionData() const
{
    const qsizetype start = selectionStart();
    const TextValue selected = m_content.text().slice(start, selectionEnd() - start);
    // Told from inside the platform's clipboard handling: said later, from
    // the event loop, and not at all once the box is gone. A copy that
    // failed otherwise is a failure of the box's, told as any other.
    QPointer<TextBox> box(const_cast<TextBox *>(this));
    const qsizetype characters = selected.size();
    const auto refused = [box, characters] {
        if (box) {
            QMetaObject::invokeMethod(
                box.data(), [box, characters] { Q_EMIT box->transferRefused(characters); }, Qt::QueuedConnection);
        }
    };
    const auto failed = [box](const std::exception_ptr &failure) {
        if (box)
            box->m_guard.note(failure);
    };
    return new TextMimeData(selected, refused, TextMimeData::defaultRoom, failed);
}

void TextBox::offerSelection()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (m_content.hasSelection() && clipboard->supportsSelection())
        clipboard->setMimeData(selectionData(), QClipboard::Selection);
}

std::unique_ptr<QMenu> TextBox::createContextMenu()
{
    auto menu = std::make_unique<QMenu>(this);
    const bool hasSelection = m_content.hasSelection();
    // An action runs from the menu's own event handling, outside the box's
    // events: through the box's catch point of its own.
    const auto add = [this, &menu](const QString &text, QKeySequence::StandardKey key, bool enabled,
                                   auto slot) {
        QAction *action = menu->addAction(text + QChar(u'\t') + QKeySequence(key).toString(QKeySequence::NativeText));
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, this, [this, slot] { m_guard.run(slot); });
    };
    add(tr("&Undo"), QKeySequence::Undo, isUndoAvailable(), [this] { undo(); });
    add(tr("&Redo"), QKeySequence::Redo, isRedoAvailable(), [this] { redo(); });
    menu->addSeparator();
    add(tr("Cu&t"), QKeySequence::Cut, hasSelection, [this] { cut(); });
    add(tr("&Copy"), QKeySequence::Copy, hasSelection, [this] { copy(); });
    // What the clipboard holds is asked, not read: it may be a gigabyte.
    const QMimeData *clipboard = QGuiApplication::clipboard()->mimeData();
    add(tr("&Paste"), QKeySequence::Paste, clipboard && clipboard->hasText(), [this] { paste(); });
    add(tr("Delete"), QKeySequence::Delete, hasSelection,
        [this] { showChange(edited([](EditableText &text) { return text.removeSelection(); })); });
    menu->addSeparator();
    add(tr("Select All"), QKeySequence::SelectAll, m_content.size() > 0 && !m_content.allSelected(), [this] {
        selectAll();
        offerSelection();
    });
    return menu;
}
