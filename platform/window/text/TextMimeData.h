#pragma once

#include "TextValue.h"

#include <QtCore/QMimeData>

#include <exception>
#include <functional>

// Plain text for the clipboard, the selection and drags, produced only when
// someone reads it.
//
// It holds a value of the text, which shares the text's storage: handing
// over a selection of any size costs nothing until it is read, and then
// costs only the copy the reader asked for, made in pieces from the storage
// (never the whole text as one string first). A reader in this process that
// knows this class takes value() itself and makes no copy at all.
//
// A copy for a reader takes memory the text's storage does not: two bytes a
// character for a string in this process, the UTF-8 bytes for another
// program. Before making one it asks the room function how much the process
// may still take, and makes it only if it needs at most half of that (the
// platform may copy the data once more on its way out). Otherwise the
// reader gets nothing, and `refused` is called, once for the life of this
// object, for its owner to say so. A reader asking again is refused again,
// quietly. Memory running out while the copy is made is a refusal too.
//
// Nothing thrown while a reader is answered goes back to it (the platform's
// clipboard, which takes nothing thrown): any other failure also leaves the
// reader with nothing, and is handed to `failed`, for its owner to report,
// instead of `refused`: once for the life of this object, whichever comes
// first. Both are called from inside the reader's request; what they throw
// is dropped.
//
// It offers "text/plain" and nothing else: no rich text, no URLs.
class TextMimeData : public QMimeData
{
    Q_OBJECT

public:
    using Room = std::function<qint64()>;
    using Failed = std::function<void(const std::exception_ptr &failure)>;

    explicit TextMimeData(TextValue text, std::function<void()> refused = {}, Room room = defaultRoom,
                          Failed failed = {});

    const TextValue &value() const { return m_text; }

    bool hasFormat(const QString &mimeType) const override;
    QStringList formats() const override;

    // What the process may still take: its memory limit less what it holds.
    static qint64 defaultRoom();

    // Characters are handed out in pieces of this many, so that no copy but
    // the reader's own is ever larger.
    static constexpr qsizetype Piece = 64 * 1024;

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    // The copy a reader asks for, or nothing when it does not fit.
    QVariant copyFor(QMetaType type) const;
    QByteArray utf8() const;
    qint64 utf8Size() const;
    bool fits(qint64 bytes) const;
    // Calls `tell`, unless a refusal or failure was told before.
    void tellOnce(const std::function<void()> &tell) const noexcept;

    TextValue m_text;
    std::function<void()> m_refused;
    Room m_room;
    Failed m_failed;
    mutable bool m_told = false;
};
