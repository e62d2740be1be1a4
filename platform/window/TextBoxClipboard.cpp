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
    showChange(m_content.removeSelection());
}

void TextBox::paste(QClipboard::Mode mode)
{
    insertFrom(QGuiApplication::clipboard()->mimeData(mode));
}

bool TextBox::insertFrom(const QMimeData *mimeData)
{
    if (!mimeData || !mimeData->hasText())
        return false;
    // Characters copied in this process are shared, not copied again.
    if (const auto *own = qobject_cast<const TextMimeData *>(mimeData)) {
        if (own->value().isEmpty() || !roomFor(MemoryBudget::EditCost))
            return false;
        showChange(m_content.replaceSelection(own->value()));
        return true;
    }
    const QString text = mimeData->text();
    if (text.isEmpty() || !roomFor(MemoryBudget::storageOf(text) + MemoryBudget::EditCost))
        return false;
    showChange(m_content.replaceSelection(text));
    return true;
}

TextMimeData *TextBox::selectionData() const
{
    const qsizetype start = selectionStart();
    const TextValue selected = m_content.text().slice(start, selectionEnd() - start);
    // Told from inside the platform's clipboard handling: said later, from
    // the event loop, and not at all once the box is gone.
    QPointer<TextBox> box(const_cast<TextBox *>(this));
    const qsizetype characters = selected.size();
    return new TextMimeData(selected, [box, characters] {
        if (box) {
            QMetaObject::invokeMethod(
                box.data(), [box, characters] { Q_EMIT box->transferRefused(characters); }, Qt::QueuedConnection);
        }
    });
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
    const auto add = [this, &menu](const QString &text, QKeySequence::StandardKey key, bool enabled,
                                   auto slot) {
        QAction *action = menu->addAction(text + QChar(u'\t') + QKeySequence(key).toString(QKeySequence::NativeText));
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, this, slot);
    };
    add(tr("&Undo"), QKeySequence::Undo, isUndoAvailable(), &TextBox::undo);
    add(tr("&Redo"), QKeySequence::Redo, isRedoAvailable(), &TextBox::redo);
    menu->addSeparator();
    add(tr("Cu&t"), QKeySequence::Cut, hasSelection, &TextBox::cut);
    add(tr("&Copy"), QKeySequence::Copy, hasSelection, &TextBox::copy);
    // What the clipboard holds is asked, not read: it may be a gigabyte.
    const QMimeData *clipboard = QGuiApplication::clipboard()->mimeData();
    add(tr("&Paste"), QKeySequence::Paste, clipboard && clipboard->hasText(), [this] { paste(); });
    add(tr("Delete"), QKeySequence::Delete, hasSelection, [this] { showChange(m_content.removeSelection()); });
    menu->addSeparator();
    add(tr("Select All"), QKeySequence::SelectAll, m_content.size() > 0 && !m_content.allSelected(), [this] {
        selectAll();
        offerSelection();
    });
    return menu;
}
