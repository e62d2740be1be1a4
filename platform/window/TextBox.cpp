#include "TextBox.h"

#include "ScrollBar.h"
#include "TextBoxAccessible.h"

#include <QtCore/QScopedValueRollback>
#include <QtCore/QTimerEvent>

#include <QtWidgets/QMenu>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QStyle>
#include <QtWidgets/QStyleOptionFrame>

#include <QtGui/QAccessible>
#include <QtGui/QClipboard>
#include <QtGui/QContextMenuEvent>
#include <QtGui/QFontDatabase>
#include <QtGui/QGuiApplication>
#include <QtGui/QInputMethodEvent>
#include <QtGui/QKeyEvent>
#include <QtGui/QPaintEvent>
#include <QtGui/QPainter>
#include <QtGui/QStyleHints>
#include <QtGui/QTextCharFormat>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

int clampToInt(qsizetype value)
{
    return static_cast<int>(std::clamp<qsizetype>(value, 0, std::numeric_limits<int>::max()));
}

// A pixel coordinate far outside the view is kept well inside int, so that a
// rectangle built on it cannot overflow either.
int toCoordinate(qreal value)
{
    constexpr qreal limit = std::numeric_limits<int>::max() / 4;
    return static_cast<int>(std::clamp(std::floor(value), -limit, limit));
}

} // namespace

TextBox::TextBox(QWidget *parent)
    : QAbstractScrollArea(parent)
    , m_verticalBar(new ScrollBar(Qt::Vertical))
    , m_horizontalBar(new ScrollBar(Qt::Horizontal))
{
    // Before anything that lays the box out: the bars are this box's own.
    setVerticalScrollBar(m_verticalBar);
    setHorizontalScrollBar(m_horizontalBar);
    static const bool accessible = [] {
        QAccessible::installFactory(&TextBoxAccessible::create);
        return true;
    }();
    Q_UNUSED(accessible);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setInputMethodHints(Qt::ImhMultiLine);
    // A multi-line box with both bars shows them always, usable only while
    // there is something to scroll (ScrollBar sees to that).
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    // The paint fills what it paints; the base is not filled first as well.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    updateMetrics();
    updateScrollBars();
    m_appendRepaint.setSingleShot(true);
    connect(&m_appendRepaint, &QTimer::timeout, this, [this] { m_guard.run([this] { showAppended(); }); });
    connect(&m_memory, &MemoryBudget::roomAvailable, this, &TextBox::roomAvailable);
    connect(QGuiApplication::styleHints(), &QStyleHints::cursorFlashTimeChanged, this, [this] {
        m_guard.run([this] {
            if (hasFocus())
                restartCaretBlink();
        });
    });
    connect(&m_guard, &WidgetGuard::failed, this, &TextBox::actionFailed);
}

TextBox::~TextBox() = default;

void TextBox::setText(const TextValue &text)
{
    showChange(m_content.setText(text));
}

void TextBox::setCursorPosition(qsizetype position)
{
    showChange(m_content.placeCursor(position, false));
}

void TextBox::setSelection(qsizetype anchor, qsizetype cursor)
{
    showChange(m_content.setSelection(anchor, cursor));
}

void TextBox::selectAll()
{
    showChange(m_content.selectAll());
}

void TextBox::undo()
{
    if (m_content.canUndo() && roomFor(MemoryBudget::EditCost))
        showChange(edited([](EditableText &text) { return text.undo(); }));
}

void TextBox::redo()
{
    if (m_content.canRedo() && roomFor(MemoryBudget::EditCost))
        showChange(edited([](EditableText &text) { return text.redo(); }));
}

bool TextBox::roomFor(qsizetype bytes)
{
    if (m_memory.allows(bytes))
        return true;
    Q_EMIT editRefused();
    return false;
}

void TextBox::showChange(const EditableText::Change &change)
{
    if (change.appended) {
        showAppend(change);
        TextBoxAccessible::announce(this, change);
        return;
    }
    if (!change.textChanged() && !change.caretPlaced && !change.selectionChanged)
        return;
    if (change.replaced) {
        // Nothing pending belongs to the new content.
        m_changedLine = -1;
        m_appendRepaint.stop();
        if (!m_preedit.isEmpty()) {
            m_preedit.clear();
            if (hasFocus())
                QGuiApplication::inputMethod()->reset();
        }
    }
    // Room is what a full box needs, not the means to undo its making, nor
    // a selection offered long ago that still holds what was removed.
    if (change.removed > 0 && !change.replaced && m_memory.isFull()) {
        m_content.forgetHistory();
        if (QGuiApplication::clipboard()->ownsSelection())
            QGuiApplication::clipboard()->clear(QClipboard::Selection);
    }
    if (change.textChanged())
        updateScrollBars();
    if (change.textChanged() || change.caretPlaced) {
        ensureCursorVisible();
        restartCaretBlink();
    }
    viewport()->update();
    updateMicroFocus();
    TextBoxAccessible::announce(this, change);
}

void TextBox::showAppend(const EditableText::Change &change)
{
    {
        // Following the end waits for the append repaint, like the text.
        const QScopedValueRollback appending(m_appending, true);
        updateScrollBars();
    }
    if (m_content.lineAtCaret() >= change.line)
        updateMicroFocus(); // the caret's line may have grown
    repaintForAppend(change.line, change.column);
}

QRect TextBox::characterRect(qsizetype position) const
{
    const TextValue &text = m_content.text();
    const LineIndex &lines = m_content.lines();
    position = std::clamp<qsizetype>(position, 0, text.size());
    const qsizetype line = lines.lineAt(position);
    const qsizetype first = m_content.column(position);
    // A tab is as wide as the gap to its stop; a break or the end, one cell.
    const bool inLine = position < text.size() && lines.lineAt(position + 1) == line
        && !LineIndex::splitsBreak(text, position + 1);
    const qsizetype cells = inLine ? std::max<qsizetype>(1, m_content.column(position + 1) - first) : 1;
    const qreal x = static_cast<qreal>(first) * m_painter.cellWidth() - scrollX();
    // A line above the view lies above it, at a negative y.
    const qreal y = static_cast<qreal>(line - verticalScrollBar()->value()) * m_painter.lineHeight();
    return QRect(toCoordinate(x), toCoordinate(y),
                 static_cast<int>(std::ceil(static_cast<qreal>(cells) * m_painter.cellWidth())), m_painter.lineHeight());
}

qsizetype TextBox::positionAt(QPoint point) const
{
    const int lineHeight = m_painter.lineHeight();
    const qsizetype row = point.y() >= 0 ? point.y() / lineHeight : -1 - (-point.y() - 1) / lineHeight;
    const qreal cells = (point.x() + scrollX()) / m_painter.cellWidth();
    return m_content.positionNear(verticalScrollBar()->value() + row, cells);
}

void TextBox::scrollToPosition(qsizetype position)
{
    ensureVisible(std::clamp<qsizetype>(position, 0, m_content.size()), 0);
}

QVariant TextBox::inputMethodQuery(Qt::InputMethodQuery query) const
{
    return m_guard.run([this, query] { return inputMethodAnswer(query); }, [] { return QVariant(); });
}

QVariant TextBox::inputMethodAnswer(Qt::InputMethodQuery query) const
{
    const auto [start, end] = m_content.surroundingRange();
    const qsizetype cursor = m_content.cursor();
    const TextValue &text = m_content.text();
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImFont:
        return font();
    case Qt::ImCursorRectangle:
        return cursorRect().translated(viewport()->geometry().topLeft());
    case Qt::ImCursorPosition:
        return clampToInt(cursor - start);
    case Qt::ImAnchorPosition:
        return clampToInt(std::clamp(m_content.anchor(), start, end) - start);
    case Qt::ImSurroundingText:
        return text.mid(start, end - start);
    case Qt::ImTextBeforeCursor:
        return text.mid(start, cursor - start);
    case Qt::ImTextAfterCursor:
        return text.mid(cursor, end - cursor);
    case Qt::ImCurrentSelection: {
        const qsizetype from = std::clamp(selectionStart(), start, end);
        return text.mid(from, std::clamp(selectionEnd(), start, end) - from);
    }
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

// An event whose handling failed counts as handled: nothing else is to act
// on it instead.
bool TextBox::event(QEvent *event)
{
    return m_guard.run([this, event] { return boxEvent(event); }, [event] {
        event->accept();
        return true;
    });
}

// The viewport's events (paint, the pointer, the wheel, drag and drop, the
// context menu) come here from its event filter, not through event().
bool TextBox::viewportEvent(QEvent *event)
{
    return m_guard.run([this, event] { return QAbstractScrollArea::viewportEvent(event); }, [event] {
        event->accept();
        return true;
    });
}

bool TextBox::boxEvent(QEvent *event)
{
    // The box's own paint is its frame (the text is the viewport's); the
    // style's scroll-area frame looks the same with and without the focus,
    // so a focused box gets the style's focused text-field frame over it.
    if (event->type() == QEvent::Paint) {
        const bool handled = QAbstractScrollArea::event(event);
        if (hasFocus())
            drawFocusFrame();
        return handled;
    }
    // Keys the box edits with are its own, not the window's shortcuts.
    if (event->type() == QEvent::ShortcutOverride && keyAction(*static_cast<QKeyEvent *>(event))) {
        event->accept();
        return true;
    }
    return QAbstractScrollArea::event(event);
}

void TextBox::drawFocusFrame()
{
    QPainter painter(this);
    QStyleOptionFrame option;
    initStyleOption(&option);
    style()->drawPrimitive(QStyle::PE_FrameLineEdit, &option, &painter, this);
}

void TextBox::paintEvent(QPaintEvent *event)
{
    m_sincePaint.start();
    const qsizetype firstLine = verticalScrollBar()->value();
    if (firstLine != m_shownTop) {
        // The view scrolled since it was last brought up to date; a paint of
        // part of it would leave the rest showing other lines.
        m_shownTop = firstLine;
        if (event->rect() != viewport()->rect())
            viewport()->update();
    }
    QPainter painter(viewport());
    const QRect area = event->rect();
    painter.fillRect(area, palette().brush(QPalette::Base));
    painter.setFont(m_painter.font());

    const qreal cellWidth = m_painter.cellWidth();
    const int lineHeight = m_painter.lineHeight();
    const qsizetype firstColumn = horizontalScrollBar()->value();
    const auto columns = static_cast<qsizetype>(std::ceil(viewport()->width() / cellWidth)) + 1;
    const qsizetype fromRow = std::max(0, area.top() / lineHeight);
    const qsizetype toRow = area.bottom() / lineHeight + 1;
    const qsizetype lastLine = std::min(lineCount(), firstLine + toRow);
    const TextPainter::View view{
        .palette = palette(), .left = -scrollX(), .preedit = m_preedit, .preeditFormats = m_preeditFormats};
    for (qsizetype line = firstLine + fromRow; line < lastLine; ++line)
        m_painter.paintLine(painter, m_content, view, line, static_cast<int>(line - firstLine) * lineHeight,
                            firstColumn, firstColumn + columns);

    if (hasFocus() && m_caretShown)
        painter.fillRect(cursorRect(), palette().brush(QPalette::Text));
    if (m_dropPosition >= 0)
        painter.fillRect(caretRectAt(m_dropPosition, 0), palette().brush(QPalette::Text));
}

void TextBox::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void TextBox::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        updateMetrics();
        updateScrollBars();
        viewport()->update();
    }
}

void TextBox::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_caretBlink.timerId()) {
        m_caretShown = !m_caretShown;
        viewport()->update(cursorRect());
    } else if (event->timerId() == m_autoScroll.timerId()) {
        autoScroll();
    } else if (event->timerId() == m_tripleClick.timerId()) {
        m_tripleClick.stop();
    } else {
        QAbstractScrollArea::timerEvent(event);
    }
}

void TextBox::restartCaretBlink()
{
    const int flashTime = QGuiApplication::styleHints()->cursorFlashTime();
    if (!m_caretShown)
        viewport()->update(cursorRect());
    m_caretShown = true;
    if (hasFocus() && flashTime > 0)
        m_caretBlink.start(flashTime / 2, this);
    else
        m_caretBlink.stop();
}

void TextBox::commitPreedit()
{
    if (m_preedit.isEmpty())
        return;
    QGuiApplication::inputMethod()->commit();
    // An input method that does not commit when asked loses its composition.
    if (!m_preedit.isEmpty()) {
        m_preedit.clear();
        m_preeditFormats.clear();
        viewport()->update();
        updateMicroFocus();
    }
}

void TextBox::contextMenuEvent(QContextMenuEvent *event)
{
    const std::unique_ptr<QMenu> menu = createContextMenu();
    menu->exec(event->globalPos());
    event->accept();
}

void TextBox::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    restartCaretBlink();
    viewport()->update();
}

void TextBox::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    m_caretBlink.stop();
    viewport()->update();
}

void TextBox::inputMethodEvent(QInputMethodEvent *event)
{
    const QString commit = event->commitString();
    const bool gettingInput = !commit.isEmpty() || event->replacementLength() > 0 || event->preeditString() != m_preedit;
    const bool replacing = !commit.isEmpty() || event->replacementLength() > 0;
    // Both steps or neither.
    const auto [removed, replaced] = edited([&](EditableText &text) {
        std::pair<EditableText::Change, EditableText::Change> changes;
        // Input, composed or committed, takes the place of the selection,
        // and the composition's commit joins that into one undo step.
        if (gettingInput && text.hasSelection())
            changes.first = text.replaceSelection(QString(), EditableText::Step::Typing);
        if (replacing) {
            // A replacement is around the caret, within the text the input
            // method was told of.
            const auto [start, end] = text.surroundingRange();
            const qsizetype from = std::clamp(text.cursor() + event->replacementStart(), start, end);
            const qsizetype to = std::clamp(from + event->replacementLength(), from, end);
            changes.second = text.replaceRange(from, to, commit, EditableText::Step::Typing);
        }
        return changes;
    });
    showChange(removed);
    showChange(replaced);
    m_preedit = event->preeditString();
    m_preeditCursor = m_preedit.size();
    m_preeditFormats.clear();
    for (const QInputMethodEvent::Attribute &attribute : event->attributes()) {
        if (attribute.type == QInputMethodEvent::Cursor) {
            m_preeditCursor = std::clamp<qsizetype>(attribute.start, 0, m_preedit.size());
        } else if (attribute.type == QInputMethodEvent::TextFormat) {
            // The clauses of a composition: which one is being converted,
            // which are settled.
            const QTextCharFormat format = qvariant_cast<QTextFormat>(attribute.value).toCharFormat();
            const int start = std::clamp(attribute.start, 0, static_cast<int>(m_preedit.size()));
            const int length = std::clamp(attribute.length, 0, static_cast<int>(m_preedit.size()) - start);
            if (format.isValid() && length > 0)
                m_preeditFormats.append({start, length, format});
        }
    }
    restartCaretBlink();
    ensureCursorVisible();
    viewport()->update();
    updateMicroFocus();
    event->accept();
}

QRect TextBox::cursorRect() const
{
    // While composing, the caret is inside the composition.
    return caretRectAt(m_content.cursor(), m_preedit.isEmpty() ? 0 : m_preeditCursor);
}

QRect TextBox::caretRectAt(qsizetype position, qsizetype extraColumns) const
{
    const qsizetype row = m_content.lines().lineAt(position) - verticalScrollBar()->value();
    const qsizetype caretColumn = m_content.column(position) + extraColumns;
    const qreal x = static_cast<qreal>(caretColumn) * m_painter.cellWidth() - scrollX();
    // Far out of view the caret still gets a rectangle, just off the edge.
    const auto clampedX =
        static_cast<int>(std::clamp<qreal>(std::floor(x), -m_caretWidth - 1, viewport()->width() + 1));
    const auto top = static_cast<int>(std::clamp<qsizetype>(row, -1, visibleRows() + 1)) * m_painter.lineHeight();
    return QRect(clampedX, top, m_caretWidth, m_painter.lineHeight());
}

// Called from the scroll bars' signals.
void TextBox::scrollContentsBy(int dx, int dy)
{
    Q_UNUSED(dy);
    m_guard.run([this, dx] {
        if (m_appending && dx == 0)
            return;
        m_shownTop = verticalScrollBar()->value();
        viewport()->update();
    });
}

void TextBox::repaintForAppend(qsizetype line, qsizetype column)
{
    if (m_changedLine < 0 || line < m_changedLine) {
        m_changedLine = line;
        m_changedColumn = column;
    } else if (line == m_changedLine) {
        m_changedColumn = std::min(m_changedColumn, column);
    }
    if (m_appendRepaint.isActive())
        return;
    const qint64 since = m_sincePaint.isValid() ? m_sincePaint.elapsed() : AppendRepaintMs;
    if (since >= AppendRepaintMs)
        showAppended();
    else
        m_appendRepaint.start(static_cast<int>(AppendRepaintMs - since));
}

void TextBox::showAppended()
{
    const QRect view = viewport()->rect();
    const int lineHeight = m_painter.lineHeight();
    const int top = verticalScrollBar()->value();
    const qsizetype shift = top - m_shownTop;
    const qsizetype line = std::exchange(m_changedLine, -1);
    if (shift != 0) {
        m_shownTop = top;
        if (std::abs(shift) > visibleRows()) {
            viewport()->update();
            return;
        }
        // What is still in view moves with its lines instead of being drawn
        // again.
        viewport()->scroll(0, static_cast<int>(-shift) * lineHeight);
    }
    const qsizetype row = line - top;
    if (line < 0 || row > visibleRows())
        return; // appended below the view: only the scroll bars show it
    if (row < 0) {
        viewport()->update();
        return;
    }
    // The changed line from the first new character on (and the caret just
    // before it), and every line under it.
    const int y = static_cast<int>(row) * lineHeight;
    const qreal x = static_cast<qreal>(m_changedColumn) * m_painter.cellWidth() - scrollX();
    const int left = static_cast<int>(std::clamp<qreal>(std::floor(x) - m_caretWidth, 0, view.width()));
    const int below = static_cast<int>(std::min<qsizetype>(lineCount() - line - 1, visibleRows()));
    QRegion changed(QRect(left, y, view.width() - left, lineHeight) & view);
    changed += QRect(0, y + lineHeight, view.width(), below * lineHeight) & view;
    if (!changed.isEmpty())
        viewport()->update(changed);
}

int TextBox::visibleRows() const
{
    return std::max(1, viewport()->height() / m_painter.lineHeight());
}

int TextBox::visibleColumns() const
{
    // The caret after the last column in view must show too.
    return std::max(1, static_cast<int>(std::floor((viewport()->width() - m_caretWidth) / m_painter.cellWidth())));
}

qreal TextBox::scrollX() const
{
    return static_cast<qreal>(horizontalScrollBar()->value()) * m_painter.cellWidth();
}

void TextBox::ensureCursorVisible()
{
    // While composing, the caret is inside the composition.
    ensureVisible(m_content.cursor(), m_preedit.isEmpty() ? 0 : m_preeditCursor);
}

void TextBox::ensureVisible(qsizetype position, qsizetype extraColumns)
{
    const qsizetype line = m_content.lines().lineAt(position);
    QScrollBar *vertical = verticalScrollBar();
    const int rows = visibleRows();
    if (line < vertical->value())
        vertical->setValue(clampToInt(line));
    else if (line >= vertical->value() + rows)
        vertical->setValue(clampToInt(line - rows + 1));

    QScrollBar *horizontal = horizontalScrollBar();
    const qsizetype column = m_content.column(position) + extraColumns;
    const int columns = visibleColumns();
    if (column < horizontal->value())
        horizontal->setValue(clampToInt(column));
    else if (column >= horizontal->value() + static_cast<qsizetype>(columns))
        horizontal->setValue(clampToInt(column - columns + 1));
}

void TextBox::updateMetrics()
{
    m_painter.setFont(font());
    m_caretWidth = std::max(1, style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this));
}

void TextBox::updateScrollBars()
{
    const int rows = visibleRows();
    QScrollBar *vertical = verticalScrollBar();
    // A view showing the end keeps showing it as lines arrive, and also when
    // the viewport shrinks (the window made smaller).
    const bool followEnd = vertical->value() == vertical->maximum();
    m_verticalBar->setMaximumKeepingLayout(clampToInt(lineCount() - rows));
    if (followEnd)
        vertical->setValue(vertical->maximum());
    vertical->setPageStep(rows);
    vertical->setSingleStep(1);

    // Sideways the bar counts columns: the caret after the widest line's
    // end is the last one to show.
    const int columns = visibleColumns();
    QScrollBar *horizontal = horizontalScrollBar();
    m_horizontalBar->setMaximumKeepingLayout(clampToInt(m_content.lines().widestLineWidth() + 1 - columns));
    horizontal->setPageStep(columns);
    horizontal->setSingleStep(1);
}
