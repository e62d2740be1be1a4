#include "TextMimeData.h"

#include "MemoryLimit.h"

#include <QtCore/QStringEncoder>

#include <algorithm>
#include <new>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

const QString PlainText = u"text/plain"_s;

bool isPlainText(const QString &mimeType)
{
    return mimeType.compare(PlainText, Qt::CaseInsensitive) == 0;
}

} // namespace

TextMimeData::TextMimeData(TextValue text, std::function<void()> refused, Room room, Failed failed)
    : m_text(std::move(text))
    , m_refused(std::move(refused))
    , m_room(std::move(room))
    , m_failed(std::move(failed))
{
}

bool TextMimeData::hasFormat(const QString &mimeType) const
{
    return isPlainText(mimeType);
}

QStringList TextMimeData::formats() const
{
    return {PlainText};
}

qint64 TextMimeData::defaultRoom()
{
    return std::max<qint64>(0, MemoryLimit::available() - MemoryLimit::resident());
}

QVariant TextMimeData::retrieveData(const QString &mimeType, QMetaType type) const
{
    if (!isPlainText(mimeType))
        return {};
    try {
        QVariant copy = copyFor(type);
        if (copy.isValid())
            return copy;
        tellOnce(m_refused);
    } catch (const std::bad_alloc &) {
        // Memory ran out on the way after all: refused like any other
        // request that does not fit.
        tellOnce(m_refused);
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        tellOnce([this, &failure] {
            if (m_failed)
                m_failed(failure);
        });
    }
    return {};
}

QVariant TextMimeData::copyFor(QMetaType type) const
{
    // Another program gets bytes; this one, a string.
    if (type.id() == QMetaType::QByteArray) {
        // UTF-8 takes one to three bytes a character: only a selection near
        // the limit is worth counting exactly first.
        const qint64 characters = m_text.size();
        if (fits(3 * characters) || (fits(characters) && fits(utf8Size())))
            return utf8();
    } else if (fits(2 * static_cast<qint64>(m_text.size()))) {
        return m_text.toString();
    }
    return {};
}

void TextMimeData::tellOnce(const std::function<void()> &tell) const noexcept
{
    if (std::exchange(m_told, true) || !tell)
        return;
    try {
        tell();
    } catch (...) {
        // Its owner could not even be told (no memory left to queue the
        // news): the reader has its answer all the same.
    }
}

bool TextMimeData::fits(qint64 bytes) const
{
    return bytes <= (m_room ? m_room() : 0) / 2;
}

qint64 TextMimeData::utf8Size() const
{
    QStringEncoder encoder(QStringEncoder::Utf8);
    qint64 bytes = 0;
    for (qsizetype position = 0; position < m_text.size(); position += Piece)
        bytes += QByteArray(encoder(m_text.mid(position, Piece))).size();
    return bytes;
}

QByteArray TextMimeData::utf8() const
{
    // The encoder carries a surrogate pair split between two pieces over.
    QStringEncoder encoder(QStringEncoder::Utf8);
    QByteArray bytes;
    if (m_text.size() > Piece)
        bytes.reserve(static_cast<qsizetype>(utf8Size()));
    for (qsizetype position = 0; position < m_text.size(); position += Piece)
        bytes += QByteArray(encoder(m_text.mid(position, Piece)));
    return bytes;
}
