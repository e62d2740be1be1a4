#include "TextBoxAccessible.h"

#include "LineIndex.h"
#include "TextBox.h"

#include <QtCore/QTextBoundaryFinder>
#include <QtWidgets/QScrollBar>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

// Assistive technology counts in int; a text longer than that is cut short
// for it, never for the box.
int toOffset(qsizetype position)
{
    return static_cast<int>(std::min<qsizetype>(position, std::numeric_limits<int>::max()));
}

// How far either side of a position an item query looks for the item's
// ends.
constexpr qsizetype Reach = TextBoxAccessible::PieceLength / 2;
// Characters read beyond where a boundary may be found: the rules that place
// a boundary look at the characters around it, and must see the text's, not
// the window's edge.
constexpr qsizetype Context = 256;

bool splitsSurrogatePair(const TextValue &text, qsizetype position)
{
    return position > 0 && position < text.size() && text.at(position - 1).isHighSurrogate()
        && text.at(position).isLowSurrogate();
}

// What an event carries of the `length` characters changed at `position`.
// A cut one short keeps a surrogate pair whole: half of one is no character
// a reader could speak.
QString announced(const TextValue &text, qsizetype position, qsizetype length)
{
    qsizetype count = std::min(length, TextBoxAccessible::AnnouncedLength);
    if (count < length && splitsSurrogatePair(text, position + count))
        --count;
    return text.mid(position, count);
}

// Characters [start, end); {-1, -1}: no item.
struct Range
{
    qsizetype start = -1;
    qsizetype end = -1;

    bool isNone() const { return start < 0; }
};

enum class Relation { Before, At, After };

// Items as assistive technology reads them, found by reading a window of
// the text around where they are looked for, never the whole text.
class Items
{
public:
    // `length`: how much of the text assistive technology sees.
    Items(TextValue text, qsizetype length)
        : m_text(std::move(text))
        , m_length(length)
    {
    }

    Range find(Relation relation, QAccessible::TextBoundaryType boundaryType, qsizetype offset) const
    {
        switch (boundaryType) {
        case QAccessible::CharBoundary:
            return finderItem(relation, QTextBoundaryFinder::Grapheme, offset);
        case QAccessible::WordBoundary:
            return finderItem(relation, QTextBoundaryFinder::Word, offset);
        case QAccessible::SentenceBoundary:
            return finderItem(relation, QTextBoundaryFinder::Sentence, offset);
        case QAccessible::ParagraphBoundary:
        case QAccessible::LineBoundary:
            return line(relation, offset);
        case QAccessible::NoBoundary:
            return relation == Relation::At ? Range{0, m_length} : Range{};
        }
        return {};
    }

private:
    using Type = QTextBoundaryFinder::BoundaryType;

    static bool isItemBoundary(const QTextBoundaryFinder &finder)
    {
        return finder.boundaryReasons()
            & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem);
    }

    // Qt's own walks the finder's boundaries to those that start or end an
    // item, and takes the text's ends as such; so does this, over a window.
    Range finderItem(Relation relation, Type type, qsizetype offset) const
    {
        Range item;
        switch (relation) {
        case Relation::Before:
            item.end = boundaryBefore(type, offset, true);
            if (item.end == 0)
                return {};
            item.start = boundaryBefore(type, item.end, false);
            break;
        case Relation::At:
            // Nothing ends the item between its start and the offset.
            item = {boundaryBefore(type, offset, true), boundaryAfter(type, offset)};
            break;
        case Relation::After:
            item.start = boundaryAfter(type, offset);
            if (item.start == m_length)
                return {};
            item.end = boundaryAfter(type, item.start);
            break;
        }
        return item.start == item.end ? Range{} : item;
    }

    // The last item boundary at (when `inclusive`) or before `position`;
    // the cut Reach before it when there is none nearer.
    qsizetype boundaryBefore(Type type, qsizetype position, bool inclusive) const
    {
        qsizetype cut = std::max<qsizetype>(0, position - Reach);
        if (splitsSurrogatePair(m_text, cut))
            ++cut;
        const qsizetype from = std::max<qsizetype>(0, cut - Context);
        const qsizetype to = std::min(m_length, position + Context);
        QTextBoundaryFinder finder(type, m_text.mid(from, to - from));
        finder.setPosition(position - from);
        qsizetype at = inclusive ? position - from : finder.toPreviousBoundary();
        while (from + at > cut && !isItemBoundary(finder))
            at = finder.toPreviousBoundary();
        return std::max(from + at, cut);
    }

    // The first item boundary after `position`; the cut Reach after it when
    // there is none nearer.
    qsizetype boundaryAfter(Type type, qsizetype position) const
    {
        qsizetype cut = std::min(m_length, position + Reach);
        if (splitsSurrogatePair(m_text, cut))
            --cut;
        const qsizetype from = std::max<qsizetype>(0, position - Context);
        const qsizetype to = std::min(m_length, cut + Context);
        QTextBoundaryFinder finder(type, m_text.mid(from, to - from));
        finder.setPosition(position - from);
        qsizetype at = finder.toNextBoundary();
        while (at >= 0 && from + at < cut && !isItemBoundary(finder))
            at = finder.toNextBoundary();
        return at < 0 ? cut : std::min(from + at, cut);
    }

    // Qt's own takes the line holding the offset, a break belonging to the
    // line it ends; the line before that one; the line after it.
    Range line(Relation relation, qsizetype offset) const
    {
        const LineIndex lines(m_text);
        const qsizetype holding = lines.lineAt(offset);
        switch (relation) {
        case Relation::Before:
            if (holding == 0)
                return {};
        {
            // Its last piece, next to the line the offset is on.
            const Range previous = wholeLine(lines, holding - 1);
            return clamped(pieceOf(previous, previous.end));
        }
        case Relation::At:
            return clamped(pieceOf(wholeLine(lines, holding), offset));
        case Relation::After:
            if (holding + 1 >= lines.lineCount())
                return {};
        {
            const Range next = wholeLine(lines, holding + 1);
            return clamped(pieceOf(next, next.start));
        }
        }
        return {};
    }

    // The line, its break included.
    Range wholeLine(const LineIndex &lines, qsizetype line) const
    {
        return {lines.lineStart(line), line + 1 < lines.lineCount() ? lines.lineStart(line + 1) : m_text.size()};
    }

    // The piece of the line holding `position`: the line itself unless it
    // is longer than PieceLength.
    Range pieceOf(const Range &line, qsizetype position) const
    {
        if (line.end - line.start <= TextBoxAccessible::PieceLength)
            return line;
        const auto pieceStart = [&](qsizetype index) {
            const qsizetype at = line.start + index * TextBoxAccessible::PieceLength;
            if (at >= line.end)
                return line.end;
            return splitsSurrogatePair(m_text, at) || LineIndex::splitsBreak(m_text, at) ? at + 1 : at;
        };
        // The end of the last line belongs to its last piece.
        const qsizetype inside = std::min(position, line.end - 1);
        qsizetype index = (inside - line.start) / TextBoxAccessible::PieceLength;
        if (inside < pieceStart(index))
            --index;
        return {pieceStart(index), pieceStart(index + 1)};
    }

    // What of the range assistive technology sees.
    Range clamped(const Range &range) const
    {
        if (range.start > m_length)
            return {};
        return {range.start, std::min(range.end, m_length)};
    }

    TextValue m_text;
    qsizetype m_length = 0;
};

// Qt's own answers for offsets out of range, and its convention that -1 is
// the end of the text.
QString answer(const TextValue &text, int length, Relation relation, QAccessible::TextBoundaryType boundaryType,
               int offset, int *startOffset, int *endOffset)
{
    *startOffset = *endOffset = -1;
    if (offset == -1)
        offset = length;
    const bool inRange = relation == Relation::Before ? offset > 0 && offset <= length
        : relation == Relation::After                 ? offset >= 0 && offset < length
                                                      : offset >= 0 && offset <= length;
    if (length == 0 || !inRange)
        return {};
    const Range item = Items(text, length).find(relation, boundaryType, offset);
    if (item.isNone())
        return {};
    *startOffset = toOffset(item.start);
    *endOffset = toOffset(item.end);
    return text.mid(item.start, item.end - item.start);
}

// What a query whose answer failed says: no item.
QString noItem(int *startOffset, int *endOffset)
{
    *startOffset = *endOffset = -1;
    return {};
}

} // namespace

TextBoxAccessible::TextBoxAccessible(TextBox *textBox)
    : QAccessibleWidget(textBox, QAccessible::EditableText)
{
}

QAccessibleInterface *TextBoxAccessible::create(const QString &className, QObject *object)
{
    if (className != QLatin1String("TextBox") || !object || !object->isWidgetType())
        return nullptr;
    auto *textBox = static_cast<TextBox *>(object);
    return textBox->m_guard.run([textBox]() -> QAccessibleInterface * { return new TextBoxAccessible(textBox); },
                                [] { return nullptr; });
}

// A screen reader speaks what an event carries, and Qt's AT-SPI bridge sends
// it on as is: the event's text, at the event's position, with that text's
// length as the change's. It reads nothing else of the box for the event. So
// a reader told of a change of a billion characters hears where it happened
// and its first AnnouncedLength characters; whatever more it wants, it asks
// for with the queries below.
void TextBoxAccessible::announce(TextBox *textBox, const EditableText::Change &change)
{
    if (!QAccessible::isActive())
        return;
    const QString inserted = announced(textBox->Text(), change.position, change.inserted);
    const QString removed = announced(change.before, change.position, change.removed);
    const int position = toOffset(change.position);
    // Where typing the inserted characters would leave the caret: all of them.
    const int afterInserted = toOffset(change.position + change.inserted);
    if (change.removed > 0 && change.inserted > 0) {
        QAccessibleTextUpdateEvent updated(textBox, position, removed, inserted);
        updated.setCursorPosition(afterInserted);
        QAccessible::updateAccessibility(&updated);
    } else if (change.inserted > 0) {
        QAccessibleTextInsertEvent insertion(textBox, position, inserted);
        insertion.setCursorPosition(afterInserted);
        QAccessible::updateAccessibility(&insertion);
    } else if (change.removed > 0) {
        QAccessibleTextRemoveEvent removal(textBox, position, removed);
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

template<typename Call, typename Fallback>
auto TextBoxAccessible::guarded(Call &&call, Fallback &&fallback) const
{
    return textBox()->m_guard.run(std::forward<Call>(call), std::forward<Fallback>(fallback));
}

void *TextBoxAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State TextBoxAccessible::state() const
{
    return guarded(
        [this] {
            QAccessible::State state = QAccessibleWidget::state();
            state.editable = true;
            state.multiLine = true;
            state.selectableText = true;
            return state;
        },
        [] { return QAccessible::State(); });
}

void TextBoxAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = 0;
    guarded(
        [&] {
            if (selectionIndex != 0 || selectionCount() == 0)
                return;
            *startOffset = toOffset(textBox()->selectionStart());
            *endOffset = toOffset(textBox()->selectionEnd());
        },
        [&] { *startOffset = *endOffset = 0; });
}

int TextBoxAccessible::selectionCount() const
{
    return guarded([this] { return textBox()->selectionStart() == textBox()->selectionEnd() ? 0 : 1; },
                   [] { return 0; });
}

void TextBoxAccessible::addSelection(int startOffset, int endOffset)
{
    // The box has one selection; a new one replaces it.
    setSelection(0, startOffset, endOffset);
}

void TextBoxAccessible::removeSelection(int selectionIndex)
{
    guarded(
        [&] {
            if (selectionIndex == 0)
                textBox()->setCursorPosition(textBox()->cursorPosition());
        },
        [] {});
}

void TextBoxAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    guarded(
        [&] {
            if (selectionIndex == 0)
                textBox()->setSelection(startOffset, endOffset);
        },
        [] {});
}

int TextBoxAccessible::cursorPosition() const
{
    return guarded([this] { return toOffset(textBox()->cursorPosition()); }, [] { return 0; });
}

void TextBoxAccessible::setCursorPosition(int position)
{
    guarded([&] { textBox()->setCursorPosition(position); }, [] {});
}

QString TextBoxAccessible::text(int startOffset, int endOffset) const
{
    return guarded([&] { return textBox()->Text().mid(startOffset, endOffset - startOffset); },
                   [] { return QString(); });
}

int TextBoxAccessible::characterCount() const
{
    return guarded([this] { return toOffset(textBox()->Text().size()); }, [] { return 0; });
}

QRect TextBoxAccessible::characterRect(int offset) const
{
    return guarded(
        [&] {
            const QRect cell = textBox()->characterRect(offset);
            return QRect(textBox()->viewport()->mapToGlobal(cell.topLeft()), cell.size());
        },
        [] { return QRect(); });
}

int TextBoxAccessible::offsetAtPoint(const QPoint &point) const
{
    return guarded(
        [&] {
            const QPoint inViewport = textBox()->viewport()->mapFromGlobal(point);
            if (!textBox()->viewport()->rect().contains(inViewport))
                return -1;
            return toOffset(textBox()->positionAt(inViewport));
        },
        [] { return -1; });
}

void TextBoxAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    guarded(
        [&] {
            textBox()->scrollToPosition(endIndex);
            textBox()->scrollToPosition(startIndex);
        },
        [] {});
}

QString TextBoxAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    // One font and colour throughout: no attribute runs.
    *startOffset = 0;
    *endOffset = characterCount();
    Q_UNUSED(offset);
    return {};
}

QString TextBoxAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                                        int *endOffset) const
{
    return guarded(
        [&] { return answer(textBox()->Text(), characterCount(), Relation::At, boundaryType, offset, startOffset,
                            endOffset); },
        [&] { return noItem(startOffset, endOffset); });
}

QString TextBoxAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                                            int *endOffset) const
{
    return guarded(
        [&] { return answer(textBox()->Text(), characterCount(), Relation::Before, boundaryType, offset, startOffset,
                            endOffset); },
        [&] { return noItem(startOffset, endOffset); });
}

QString TextBoxAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                                           int *endOffset) const
{
    return guarded(
        [&] { return answer(textBox()->Text(), characterCount(), Relation::After, boundaryType, offset, startOffset,
                            endOffset); },
        [&] { return noItem(startOffset, endOffset); });
}
