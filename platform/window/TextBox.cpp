#include "TextBox.h"

#include "ScrollBar.h"
#include "TextBoxAccessible.h"

#include <QtCore/QScopedValueRollback>
#include <QtCore/QVarLengthArray>

#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QStyle>
#include <QtWidgets/QStyleOptionFrame>

#include <QtGui/QAccessible>
#include <QtGui/QAction>
#include <QtGui/QClipboard>
#include <QtGui/QContextMenuEvent>
#include <QtGui/QFontDatabase>
#include <QtGui/QFontMetricsF>
#include <QtGui/QGlyphRun>
#include <QtGui/QGuiApplication>
#include <QtGui/QInputMethodEvent>
#include <QtGui/QKeyEvent>
#include <QtGui/QMouseEvent>
#include <QtGui/QPaintEvent>
#include <QtGui/QPainter>
#include <QtGui/QRawFont>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <tuple>

using namespace Qt::StringLiterals;

namespace {

int clampToInt(qsizetype value)
{
    return static_cast<int>(std::clamp<qsizetype>(value, 0, std::numeric_limits<int>::max()));
}

bool isControl(char16_t u)
{
    return u < 0x20 || u == 0x7F;
}

// What stands in a cell for a character that has no glyph of its own.
QChar symbolFor(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x20)
        return QChar(static_cast<char16_t>(0x2400 + u));
    if (u == 0x7F)
        return QChar(u'\u2421');
    const QChar::Category category = c.category();
    if (category == QChar::Other_Control || category == QChar::Other_Format)
        return QChar(QChar::ReplacementCharacter);
    return c;
}

bool isControlPicture(QChar c)
{
    return (c.unicode() >= 0x2400 && c.unicode() < 0x2420) || c.unicode() == 0x2421;
}

// Typed text the box takes as content; control characters that come with
// Ctrl combinations or odd keys are not typing. Tab is, when it gets here.
bool isTyping(const QString &text)
{
    return !text.isEmpty() && std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        return c != u'\t' && isControl(c.unicode());
    });
}

// How a double-click groups characters into words; space groups nothing.
enum class WordClass { Space, Word, Other };

WordClass wordClassOf(QChar c)
{
    if (c.isSpace())
        return WordClass::Space;
    if (c.isLetterOrNumber() || c.isMark() || c == u'_')
        return WordClass::Word;
    return WordClass::Other;
}

// An input method is told at most this much of the caret's line either side
// of the caret: it asks often, and a received line can be megabytes long.
constexpr qsizetype kSurroundingReach = 1024;

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
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    // The paint fills what it paints; the base is not filled first as well.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    updateMetrics();
    updateScrollBars();
    m_appendRepaint.setSingleShot(true);
    connect(&m_appendRepaint, &QTimer::timeout, this, &TextBox::showAppended);
}

TextBox::~TextBox() = default;

TextValue TextBox::Text() const
{
    return m_text;
}

void TextBox::setText(const TextValue &text)
{
    if (text.extends(m_text)) {
        const qsizetype oldSize = m_text.size();
        if (text.size() == oldSize)
            return;
        const qsizetype oldLineCount = m_lines.lineCount();
        m_text = text;
        m_lines.append(m_text, oldSize);
        // A trailing "\r" that the append turned into a "\r\n": a caret after
        // it goes after the whole break, on the line it was on.
        m_cursor = afterBreak(m_cursor);
        m_anchor = afterBreak(m_anchor);
        {
            // Following the end waits for the append repaint, like the text.
            const QScopedValueRollback appending(m_appending, true);
            updateScrollBars();
        }
        if (lineAtCaret() + 1 >= oldLineCount)
            updateMicroFocus(); // the caret's line may have grown
        const qsizetype changedLine = oldLineCount - 1;
        repaintForAppend(changedLine, oldSize >= m_lines.lineStart(changedLine) ? column(oldSize) : 0);
        if (QAccessible::isActive()) {
            // A screen reader may read out what arrived.
            QAccessibleTextInsertEvent inserted(this, static_cast<int>(std::min<qsizetype>(oldSize, INT_MAX)),
                                                m_text.mid(oldSize, m_text.size() - oldSize));
            QAccessible::updateAccessibility(&inserted);
        }
        return;
    } else {
        m_text = text;
        m_lines.rebuild(m_text);
        m_cursor = m_anchor = m_text.size();
        m_goalColumn = -1;
        // The recorded edits' positions mean nothing in another text.
        m_history.clear();
        updateScrollBars();
        ensureCursorVisible();
        if (!m_preedit.isEmpty()) {
            m_preedit.clear();
            if (hasFocus())
                QGuiApplication::inputMethod()->reset();
        }
        updateMicroFocus();
    }
    viewport()->update();
}

qsizetype TextBox::lineCount() const
{
    return m_lines.lineCount();
}

qsizetype TextBox::cursorPosition() const
{
    return m_cursor;
}

void TextBox::setCursorPosition(qsizetype position)
{
    placeCursor(std::clamp<qsizetype>(position, 0, m_text.size()), false);
}

qsizetype TextBox::selectionStart() const
{
    return std::min(m_cursor, m_anchor);
}

qsizetype TextBox::selectionEnd() const
{
    return std::max(m_cursor, m_anchor);
}

QString TextBox::selectedText() const
{
    return m_text.mid(selectionStart(), selectionEnd() - selectionStart());
}

void TextBox::setSelection(qsizetype anchor, qsizetype cursor)
{
    placeCursor(std::clamp<qsizetype>(anchor, 0, m_text.size()), false);
    placeCursor(std::clamp<qsizetype>(cursor, 0, m_text.size()), true);
}

QRect TextBox::characterRect(qsizetype position) const
{
    position = std::clamp<qsizetype>(position, 0, m_text.size());
    const qsizetype line = m_lines.lineAt(position);
    const qsizetype first = column(position);
    // A tab is as wide as the gap to its stop; a break or the end, one cell.
    const bool inLine = position < m_text.size() && m_lines.lineAt(position + 1) == line
        && !LineIndex::splitsBreak(m_text, position + 1);
    const qsizetype cells = inLine ? std::max<qsizetype>(1, column(position + 1) - first) : 1;
    const qreal x = static_cast<qreal>(first) * m_cellWidth - horizontalScrollBar()->value();
    const qsizetype top = (line - verticalScrollBar()->value()) * m_lineHeight;
    return QRect(static_cast<int>(std::floor(x)), clampToInt(top),
                 static_cast<int>(std::ceil(static_cast<qreal>(cells) * m_cellWidth)), m_lineHeight);
}

void TextBox::selectAll()
{
    m_anchor = 0;
    m_cursor = m_text.size();
    m_history.closeStep();
    viewport()->update();
    updateMicroFocus();
}

void TextBox::copy() const
{
    if (selectionStart() != selectionEnd())
        QGuiApplication::clipboard()->setText(selectedText());
}

void TextBox::cut()
{
    if (selectionStart() == selectionEnd())
        return;
    copy();
    removeSelection();
}

void TextBox::paste()
{
    const QString pasted = QGuiApplication::clipboard()->text();
    if (!pasted.isEmpty())
        replaceSelection(pasted);
}

void TextBox::undo()
{
    if (!m_history.canUndo())
        return;
    const EditHistory::Edit &edit = m_history.undo();
    Q_ASSERT(m_text.mid(edit.position, edit.inserted.size()) == edit.inserted);
    change(edit.position, edit.inserted.size(), edit.removed);
    m_cursor = afterBreak(std::min(edit.cursorBefore, m_text.size()));
    m_anchor = afterBreak(std::min(edit.anchorBefore, m_text.size()));
    editDone();
}

void TextBox::redo()
{
    if (!m_history.canRedo())
        return;
    const EditHistory::Edit &edit = m_history.redo();
    change(edit.position, edit.removed.size(), edit.inserted);
    m_cursor = m_anchor = afterBreak(edit.position + edit.inserted.size());
    editDone();
}

bool TextBox::isUndoAvailable() const
{
    return m_history.canUndo();
}

bool TextBox::isRedoAvailable() const
{
    return m_history.canRedo();
}

std::unique_ptr<QMenu> TextBox::createContextMenu()
{
    auto menu = std::make_unique<QMenu>(this);
    const bool hasSelection = selectionStart() != selectionEnd();
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
    add(tr("&Paste"), QKeySequence::Paste, !QGuiApplication::clipboard()->text().isEmpty(), &TextBox::paste);
    add(tr("Delete"), QKeySequence::Delete, hasSelection, &TextBox::removeSelection);
    menu->addSeparator();
    const bool allSelected = selectionStart() == 0 && selectionEnd() == m_text.size();
    add(tr("Select All"), QKeySequence::SelectAll, !m_text.isEmpty() && !allSelected, &TextBox::selectAll);
    return menu;
}

std::pair<qsizetype, qsizetype> TextBox::surroundingRange() const
{
    const qsizetype line = lineAtCaret();
    return {std::max(m_lines.lineStart(line), m_cursor - kSurroundingReach),
            std::min(m_lines.lineEnd(m_text, line), m_cursor + kSurroundingReach)};
}

QVariant TextBox::inputMethodQuery(Qt::InputMethodQuery query) const
{
    const auto [start, end] = surroundingRange();
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImFont:
        return font();
    case Qt::ImCursorRectangle:
        return cursorRect().translated(viewport()->geometry().topLeft());
    case Qt::ImCursorPosition:
        return clampToInt(m_cursor - start);
    case Qt::ImAnchorPosition:
        return clampToInt(std::clamp(m_anchor, start, end) - start);
    case Qt::ImSurroundingText:
        return m_text.mid(start, end - start);
    case Qt::ImTextBeforeCursor:
        return m_text.mid(start, m_cursor - start);
    case Qt::ImTextAfterCursor:
        return m_text.mid(m_cursor, end - m_cursor);
    case Qt::ImCurrentSelection: {
        const qsizetype from = std::clamp(selectionStart(), start, end);
        return m_text.mid(from, std::clamp(selectionEnd(), start, end) - from);
    }
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

bool TextBox::event(QEvent *event)
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
    if (event->type() == QEvent::ShortcutOverride) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (handlesKey(key)) {
            key->accept();
            return true;
        }
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
    painter.setFont(font());

    const auto firstColumn = static_cast<qsizetype>(std::floor(horizontalScrollBar()->value() / m_cellWidth));
    const auto columns = static_cast<qsizetype>(std::ceil(viewport()->width() / m_cellWidth)) + 1;
    const qsizetype fromRow = std::max(0, area.top() / m_lineHeight);
    const qsizetype toRow = area.bottom() / m_lineHeight + 1;
    const qsizetype lastLine = std::min(m_lines.lineCount(), firstLine + toRow);
    for (qsizetype line = firstLine + fromRow; line < lastLine; ++line)
        paintLine(painter, line, static_cast<int>(line - firstLine) * m_lineHeight, firstColumn, firstColumn + columns);

    if (hasFocus())
        painter.fillRect(cursorRect(), palette().brush(QPalette::Text));
}

void TextBox::paintLine(QPainter &painter, qsizetype line, int top, qsizetype fromColumn,
                        qsizetype toColumn) const
{
    const qsizetype end = m_lines.lineEnd(m_text, line);
    const bool composing = !m_preedit.isEmpty() && lineAtCaret() == line;
    const qsizetype composed = composing ? m_preedit.size() : 0;
    // A composition pushes what follows the caret right, so what is in view
    // may start up to its length further left.
    const qsizetype from = m_lines.positionCovering(m_text, line, fromColumn - composed);
    const qsizetype to = std::min(m_lines.positionCovering(m_text, line, toColumn) + 1, end);
    // Only the slice in view is read, with a character either side for a
    // surrogate pair that an edge cuts.
    const qsizetype sliceFrom = std::max(from - 1, m_lines.lineStart(line));
    const QString slice = m_text.mid(sliceFrom, std::min(to + 1, end) - sliceFrom);
    const auto at = [&](qsizetype position) {
        const qsizetype offset = position - sliceFrom;
        return offset >= 0 && offset < slice.size() ? slice[offset] : QChar();
    };
    const int scrollX = horizontalScrollBar()->value();
    const auto xOf = [&](qsizetype column) { return static_cast<qreal>(column) * m_cellWidth - scrollX; };
    const auto advance = [](qsizetype column, QChar c) {
        return c == u'\t' ? LineIndex::nextTabStop(column) : column + 1;
    };
    const qsizetype startColumn = m_lines.columnOf(line, from) + (composing && from > m_cursor ? composed : 0);

    const qsizetype selStart = selectionStart();
    const qsizetype selEnd = selectionEnd();
    const qsizetype selFrom = std::clamp(selStart, from, to);
    const qsizetype selTo = std::clamp(selEnd, from, to);
    // A selected break shows as one selected cell after the line.
    const bool breakSelected = selStart <= end && selEnd > end && to == end;
    if (selFrom < selTo || breakSelected) {
        // The caret is at one edge of the selection, so a composition lies
        // just outside it.
        qsizetype column = startColumn;
        qsizetype highlightFrom = -1;
        qsizetype highlightTo = column;
        for (qsizetype i = from;; ++i) {
            if (i == selTo) {
                highlightTo = column;
                break;
            }
            if (composing && i == m_cursor)
                column += composed;
            if (i == selFrom)
                highlightFrom = column;
            column = advance(column, at(i));
        }
        if (highlightFrom < 0)
            highlightFrom = highlightTo;
        if (breakSelected)
            ++highlightTo;
        painter.fillRect(QRectF(xOf(highlightFrom), top, static_cast<qreal>(highlightTo - highlightFrom) * m_cellWidth,
                                m_lineHeight),
                         palette().brush(QPalette::Highlight));
    }

    // Runs of one-cell characters go out in one call each; the font's fixed
    // pitch places them. The rest are drawn alone at their own cell, so a
    // glyph of another width cannot shift the columns after it; a tab draws
    // nothing and moves to its stop.
    const int baseline = top + m_ascent;
    const QColor normal = palette().color(QPalette::Text);
    const QColor highlighted = palette().color(QPalette::HighlightedText);
    const auto penAt = [&](qsizetype position) { return position >= selFrom && position < selTo ? highlighted : normal; };
    qsizetype column = startColumn;
    qsizetype runStart = from;
    qsizetype runColumn = column;
    const auto flush = [&](qsizetype runEnd) {
        if (runEnd > runStart) {
            painter.setPen(penAt(runStart));
            drawRun(painter, QPointF(xOf(runColumn), baseline),
                    QStringView(slice).sliced(runStart - sliceFrom, runEnd - runStart));
        }
    };
    const auto restartRun = [&](qsizetype position) {
        runStart = position;
        runColumn = column;
    };
    for (qsizetype i = from;;) {
        if (composing && i == m_cursor) {
            flush(i);
            drawPreedit(painter, xOf(column), baseline);
            column += composed;
            restartRun(i);
        }
        if (i >= to)
            break;
        if (i == selFrom || i == selTo) {
            flush(i);
            restartRun(i);
        }
        const QChar c = at(i);
        const char16_t u = c.unicode();
        if (u < kUniformTableSize && m_uniform[u]) {
            ++column;
            ++i;
            continue;
        }
        flush(i);
        if (c != u'\t') {
            painter.setPen(penAt(i));
            if (drawCharacter(painter, c, at(i + 1), at(i - 1), xOf(column), baseline)) {
                ++column;
                ++i;
            }
        }
        column = advance(column, c);
        ++i;
        restartRun(i);
    }
    flush(to);
}

void TextBox::drawRun(QPainter &painter, QPointF origin, QStringView run) const
{
    // Each character of a run has a glyph of its own in the font, one cell
    // wide, so the glyphs go straight to their cells: nothing to shape.
    QVarLengthArray<quint32, 256> glyphs(run.size());
    int count = static_cast<int>(glyphs.size());
    if (!m_rawFont.glyphIndexesForChars(run.data(), count, glyphs.data(), &count)) {
        painter.drawText(origin, run.toString());
        return;
    }
    QVarLengthArray<QPointF, 256> positions(count);
    for (int i = 0; i < count; ++i)
        positions[i] = QPointF(i * m_cellWidth, 0);
    QGlyphRun glyphRun;
    glyphRun.setRawFont(m_rawFont);
    glyphRun.setRawData(glyphs.constData(), positions.constData(), count);
    painter.drawGlyphRun(origin, glyphRun);
}

bool TextBox::drawCharacter(QPainter &painter, QChar c, QChar next, QChar previous, qreal x,
                            int baseline) const
{
    if (c.isHighSurrogate() && next.isLowSurrogate()) {
        const std::array pair{c, next};
        painter.drawText(QPointF(x, baseline), QString(pair.data(), 2));
        return true;
    }
    if (c.isLowSurrogate() && previous.isHighSurrogate()) {
        // The other half of a pair whose first half is out of view.
    } else if (c.isSurrogate()) {
        painter.drawText(QPointF(x, baseline), QString(QChar(QChar::ReplacementCharacter)));
    } else if (const QChar shown = symbolFor(c); !m_hasControlPictures && isControlPicture(shown)) {
        drawControlPicture(painter, shown, QRectF(x, baseline - m_ascent, m_cellWidth, m_lineHeight));
    } else {
        painter.drawText(QPointF(x, baseline), QString(shown));
    }
    return false;
}

void TextBox::drawPreedit(QPainter &painter, qreal x, int baseline) const
{
    QFont underlined = font();
    underlined.setUnderline(true);
    painter.setFont(underlined);
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(QPointF(x, baseline), m_preedit);
    painter.setFont(font());
}

void TextBox::drawControlPicture(QPainter &painter, QChar picture, const QRectF &cell) const
{
    const char16_t code = picture.unicode() == 0x2421 ? char16_t(0x7F) : char16_t(picture.unicode() - 0x2400);
    const QString digits = QString::number(code, 16).toUpper().rightJustified(2, QLatin1Char('0'));
    const QRectF frame = cell.adjusted(0.5, 0.5, -0.5, -0.5);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame);
    painter.setFont(m_pictureFont);
    const qreal half = frame.height() / 2;
    painter.drawText(QRectF(frame.left(), frame.top(), frame.width(), half), Qt::AlignCenter, digits.first(1));
    painter.drawText(QRectF(frame.left(), frame.top() + half, frame.width(), half), Qt::AlignCenter, digits.last(1));
    painter.restore();
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

bool TextBox::handlesKey(const QKeyEvent *event) const
{
    static constexpr std::array standardKeys{
        QKeySequence::SelectAll, QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Paste,
        QKeySequence::Undo, QKeySequence::Redo,
        QKeySequence::MoveToPreviousChar, QKeySequence::MoveToNextChar,
        QKeySequence::MoveToPreviousLine, QKeySequence::MoveToNextLine,
        QKeySequence::MoveToPreviousPage, QKeySequence::MoveToNextPage,
        QKeySequence::MoveToStartOfLine, QKeySequence::MoveToEndOfLine,
        QKeySequence::MoveToStartOfDocument, QKeySequence::MoveToEndOfDocument,
        QKeySequence::SelectPreviousChar, QKeySequence::SelectNextChar,
        QKeySequence::SelectPreviousLine, QKeySequence::SelectNextLine,
        QKeySequence::SelectPreviousPage, QKeySequence::SelectNextPage,
        QKeySequence::SelectStartOfLine, QKeySequence::SelectEndOfLine,
        QKeySequence::SelectStartOfDocument, QKeySequence::SelectEndOfDocument,
    };
    if (std::any_of(standardKeys.begin(), standardKeys.end(),
                    [event](QKeySequence::StandardKey key) { return event->matches(key); }))
        return true;
    switch (event->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return true;
    default:
        return !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            && isTyping(event->text());
    }
}

void TextBox::keyPressEvent(QKeyEvent *event)
{
    struct MoveKey
    {
        QKeySequence::StandardKey key;
        Move move;
        bool extend;
    };
    static constexpr std::array moveKeys{
        MoveKey{QKeySequence::MoveToPreviousChar, Move::PreviousCharacter, false},
        MoveKey{QKeySequence::MoveToNextChar, Move::NextCharacter, false},
        MoveKey{QKeySequence::MoveToPreviousLine, Move::PreviousLine, false},
        MoveKey{QKeySequence::MoveToNextLine, Move::NextLine, false},
        MoveKey{QKeySequence::MoveToPreviousPage, Move::PreviousPage, false},
        MoveKey{QKeySequence::MoveToNextPage, Move::NextPage, false},
        MoveKey{QKeySequence::MoveToStartOfLine, Move::StartOfLine, false},
        MoveKey{QKeySequence::MoveToEndOfLine, Move::EndOfLine, false},
        MoveKey{QKeySequence::MoveToStartOfDocument, Move::StartOfText, false},
        MoveKey{QKeySequence::MoveToEndOfDocument, Move::EndOfText, false},
        MoveKey{QKeySequence::SelectPreviousChar, Move::PreviousCharacter, true},
        MoveKey{QKeySequence::SelectNextChar, Move::NextCharacter, true},
        MoveKey{QKeySequence::SelectPreviousLine, Move::PreviousLine, true},
        MoveKey{QKeySequence::SelectNextLine, Move::NextLine, true},
        MoveKey{QKeySequence::SelectPreviousPage, Move::PreviousPage, true},
        MoveKey{QKeySequence::SelectNextPage, Move::NextPage, true},
        MoveKey{QKeySequence::SelectStartOfLine, Move::StartOfLine, true},
        MoveKey{QKeySequence::SelectEndOfLine, Move::EndOfLine, true},
        MoveKey{QKeySequence::SelectStartOfDocument, Move::StartOfText, true},
        MoveKey{QKeySequence::SelectEndOfDocument, Move::EndOfText, true},
    };

    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::Cut)) {
        cut();
    } else if (event->matches(QKeySequence::Paste)) {
        paste();
    } else if (event->matches(QKeySequence::Undo)) {
        undo();
    } else if (event->matches(QKeySequence::Redo)) {
        redo();
    } else if (const auto found = std::find_if(moveKeys.begin(), moveKeys.end(),
                                               [event](const MoveKey &k) { return event->matches(k.key); });
               found != moveKeys.end()) {
        moveCursor(found->move, found->extend);
    } else if (event->key() == Qt::Key_Backspace) {
        removeAround(false);
    } else if (event->key() == Qt::Key_Delete) {
        removeAround(true);
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        replaceSelection(u"\r\n"_s);
    } else if (handlesKey(event)) {
        replaceSelection(event->text(), Step::Typing);
    } else {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TextBox::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_drag = Drag::Characters;
    placeCursor(positionAt(event->position().toPoint()), event->modifiers().testFlag(Qt::ShiftModifier));
    event->accept();
}

void TextBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    std::tie(m_wordStart, m_wordEnd) = wordAt(positionAt(event->position().toPoint()));
    m_drag = Drag::Words;
    m_anchor = m_wordStart;
    placeCursor(m_wordEnd, true);
    event->accept();
}

void TextBox::mouseMoveEvent(QMouseEvent *event)
{
    if (m_drag == Drag::None || !(event->buttons() & Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    const qsizetype position = positionAt(event->position().toPoint());
    if (m_drag == Drag::Characters) {
        placeCursor(position, true);
    } else {
        // By words, never giving up the word first double-clicked.
        const auto [first, last] = wordAt(position);
        if (first < m_wordStart) {
            m_anchor = m_wordEnd;
            placeCursor(first, true);
        } else {
            m_anchor = m_wordStart;
            placeCursor(std::max(last, m_wordEnd), true);
        }
    }
    event->accept();
}

void TextBox::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_drag = Drag::None;
    event->accept();
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
    viewport()->update();
}

void TextBox::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void TextBox::inputMethodEvent(QInputMethodEvent *event)
{
    const QString commit = event->commitString();
    const bool gettingInput = !commit.isEmpty() || event->replacementLength() > 0 || event->preeditString() != m_preedit;
    // Input, composed or committed, takes the place of the selection, and
    // the composition's commit joins that into one undo step.
    if (gettingInput && selectionStart() != selectionEnd())
        replaceSelection(QString(), Step::Typing);
    if (!commit.isEmpty() || event->replacementLength() > 0) {
        // A replacement is around the caret, within the text the input
        // method was told of.
        const auto [start, end] = surroundingRange();
        const qsizetype from = std::clamp(m_cursor + event->replacementStart(), start, end);
        const qsizetype to = std::clamp(from + event->replacementLength(), from, end);
        replaceRange(from, to, commit, Step::Typing);
    }
    m_preedit = event->preeditString();
    m_preeditCursor = m_preedit.size();
    for (const QInputMethodEvent::Attribute &attribute : event->attributes()) {
        if (attribute.type == QInputMethodEvent::Cursor)
            m_preeditCursor = std::clamp<qsizetype>(attribute.start, 0, m_preedit.size());
    }
    ensureCursorVisible();
    viewport()->update();
    updateMicroFocus();
    event->accept();
}

void TextBox::moveCursor(Move move, bool extendSelection)
{
    const qsizetype line = m_lines.lineAt(m_cursor);
    const auto toLine = [&](qsizetype target) {
        if (m_goalColumn < 0)
            m_goalColumn = column(m_cursor);
        const qsizetype clamped = std::clamp<qsizetype>(target, 0, m_lines.lineCount() - 1);
        return snapToCharacter(m_lines.positionNear(m_text, clamped, static_cast<double>(m_goalColumn)));
    };
    const bool collapse = !extendSelection && m_cursor != m_anchor;
    qsizetype target = m_cursor;
    switch (move) {
    case Move::PreviousCharacter:
        target = collapse ? selectionStart() : previousPosition(m_cursor);
        break;
    case Move::NextCharacter:
        target = collapse ? selectionEnd() : nextPosition(m_cursor);
        break;
    case Move::PreviousLine:
        target = line == 0 ? 0 : toLine(line - 1);
        break;
    case Move::NextLine:
        target = line + 1 == m_lines.lineCount() ? m_text.size() : toLine(line + 1);
        break;
    case Move::PreviousPage:
    case Move::NextPage: {
        const int page = std::max(1, visibleRows() - 1);
        const int step = move == Move::NextPage ? page : -page;
        verticalScrollBar()->setValue(verticalScrollBar()->value() + step);
        target = toLine(line + step);
        break;
    }
    case Move::StartOfLine:
        target = m_lines.lineStart(line);
        break;
    case Move::EndOfLine:
        target = m_lines.lineEnd(m_text, line);
        break;
    case Move::StartOfText:
        target = 0;
        break;
    case Move::EndOfText:
        target = m_text.size();
        break;
    }
    const bool vertical = move == Move::PreviousLine || move == Move::NextLine
        || move == Move::PreviousPage || move == Move::NextPage;
    const qsizetype goal = m_goalColumn;
    placeCursor(target, extendSelection);
    if (vertical)
        m_goalColumn = goal;
}

void TextBox::placeCursor(qsizetype position, bool extendSelection)
{
    if (LineIndex::splitsBreak(m_text, position))
        --position;
    m_cursor = position;
    if (!extendSelection)
        m_anchor = position;
    m_goalColumn = -1;
    m_history.closeStep();
    ensureCursorVisible();
    viewport()->update();
    updateMicroFocus();
    if (QAccessible::isActive()) {
        QAccessibleTextCursorEvent moved(this, static_cast<int>(std::min<qsizetype>(m_cursor, INT_MAX)));
        QAccessible::updateAccessibility(&moved);
    }
}

void TextBox::replaceSelection(const QString &replacement, Step step)
{
    replaceRange(selectionStart(), selectionEnd(), replacement, step);
}

void TextBox::replaceRange(qsizetype from, qsizetype to, const QString &replacement, Step step)
{
    if (from == to && replacement.isEmpty())
        return;
    EditHistory::Edit edit{.position = from,
                           .removed = m_text.mid(from, to - from),
                           .inserted = replacement,
                           .cursorBefore = m_cursor,
                           .anchorBefore = m_anchor};
    change(from, to - from, replacement);
    m_history.record(std::move(edit), step == Step::Typing);
    m_cursor = m_anchor = afterBreak(from + replacement.size());
    editDone();
}

void TextBox::removeSelection()
{
    if (selectionStart() != selectionEnd())
        replaceSelection(QString());
}

void TextBox::removeAround(bool forward)
{
    if (m_cursor != m_anchor) {
        removeSelection();
        return;
    }
    const qsizetype other = forward ? nextPosition(m_cursor) : previousPosition(m_cursor);
    replaceRange(std::min(m_cursor, other), std::max(m_cursor, other), QString(), Step::Other);
}

void TextBox::change(qsizetype from, qsizetype removed, const QString &inserted)
{
    m_text = m_text.replaced(from, removed, inserted);
    m_lines.replace(m_text, from, removed, inserted.size());
}

qsizetype TextBox::afterBreak(qsizetype position) const
{
    // Removing what stood between a "\r" and a "\n" joins them into one
    // break; the caret goes after it rather than into its middle.
    return LineIndex::splitsBreak(m_text, position) ? position + 1 : position;
}

void TextBox::editDone()
{
    m_goalColumn = -1;
    updateScrollBars();
    ensureCursorVisible();
    viewport()->update();
    updateMicroFocus();
}

std::pair<qsizetype, qsizetype> TextBox::wordAt(qsizetype position) const
{
    const qsizetype line = m_lines.lineAt(position);
    const qsizetype start = m_lines.lineStart(line);
    const qsizetype end = m_lines.lineEnd(m_text, line);
    // On a word's end (a click just after its last character) it is that word.
    qsizetype inside = position;
    if (inside == end || wordClassOf(m_text.at(inside)) == WordClass::Space)
        --inside;
    if (inside < start || wordClassOf(m_text.at(inside)) == WordClass::Space)
        return {position, position};
    const WordClass kind = wordClassOf(m_text.at(inside));
    qsizetype first = inside;
    while (first > start && wordClassOf(m_text.at(first - 1)) == kind)
        --first;
    qsizetype last = inside + 1;
    while (last < end && wordClassOf(m_text.at(last)) == kind)
        ++last;
    return {first, last};
}

qsizetype TextBox::snapToCharacter(qsizetype position) const
{
    if (position > 0 && position < m_text.size() && m_text.at(position).isLowSurrogate()
        && m_text.at(position - 1).isHighSurrogate())
        return position - 1;
    return position;
}

qsizetype TextBox::previousPosition(qsizetype position) const
{
    if (position <= 0)
        return 0;
    qsizetype previous = position - 1;
    if (previous > 0
        && ((m_text.at(previous) == u'\n' && m_text.at(previous - 1) == u'\r')
            || (m_text.at(previous).isLowSurrogate() && m_text.at(previous - 1).isHighSurrogate())))
        --previous;
    return previous;
}

qsizetype TextBox::nextPosition(qsizetype position) const
{
    const qsizetype size = m_text.size();
    if (position >= size)
        return size;
    qsizetype next = position + 1;
    if (next < size
        && ((m_text.at(position) == u'\r' && m_text.at(next) == u'\n')
            || (m_text.at(position).isHighSurrogate() && m_text.at(next).isLowSurrogate())))
        ++next;
    return next;
}

qsizetype TextBox::column(qsizetype position) const
{
    return m_lines.columnOf(m_lines.lineAt(position), position);
}

qsizetype TextBox::lineAtCaret() const
{
    return m_lines.lineAt(m_cursor);
}

qsizetype TextBox::positionAt(QPoint point) const
{
    const qsizetype row = point.y() >= 0 ? point.y() / m_lineHeight : -1 - (-point.y() - 1) / m_lineHeight;
    const qsizetype line = std::clamp<qsizetype>(verticalScrollBar()->value() + row, 0, m_lines.lineCount() - 1);
    const qreal cells = (point.x() + horizontalScrollBar()->value()) / m_cellWidth;
    return snapToCharacter(m_lines.positionNear(m_text, line, std::max(cells, 0.0)));
}

int TextBox::caretWidth() const
{
    return m_caretWidth;
}

QRect TextBox::cursorRect() const
{
    const qsizetype row = lineAtCaret() - verticalScrollBar()->value();
    // While composing, the caret is inside the composition.
    const qsizetype caretColumn = column(m_cursor) + (m_preedit.isEmpty() ? 0 : m_preeditCursor);
    const qreal x = static_cast<qreal>(caretColumn) * m_cellWidth - horizontalScrollBar()->value();
    const int width = caretWidth();
    // Far out of view the caret still gets a rectangle, just off the edge.
    const auto clampedX = static_cast<int>(std::clamp<qreal>(std::floor(x), -width - 1, viewport()->width() + 1));
    const auto top = static_cast<int>(std::clamp<qsizetype>(row, -1, visibleRows() + 1)) * m_lineHeight;
    return QRect(clampedX, top, width, m_lineHeight);
}

void TextBox::scrollContentsBy(int dx, int dy)
{
    Q_UNUSED(dy);
    if (m_appending && dx == 0)
        return;
    m_shownTop = verticalScrollBar()->value();
    viewport()->update();
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
    const qint64 since = m_sincePaint.isValid() ? m_sincePaint.elapsed() : kAppendRepaintMs;
    if (since >= kAppendRepaintMs)
        showAppended();
    else
        m_appendRepaint.start(static_cast<int>(kAppendRepaintMs - since));
}

void TextBox::showAppended()
{
    const QRect view = viewport()->rect();
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
        viewport()->scroll(0, static_cast<int>(-shift) * m_lineHeight);
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
    const int y = static_cast<int>(row) * m_lineHeight;
    const qreal x = static_cast<qreal>(m_changedColumn) * m_cellWidth - horizontalScrollBar()->value();
    const int left = static_cast<int>(std::clamp<qreal>(std::floor(x) - caretWidth(), 0, view.width()));
    const int below = static_cast<int>(std::min<qsizetype>(m_lines.lineCount() - line - 1, visibleRows()));
    QRegion changed(QRect(left, y, view.width() - left, m_lineHeight) & view);
    changed += QRect(0, y + m_lineHeight, view.width(), below * m_lineHeight) & view;
    if (!changed.isEmpty())
        viewport()->update(changed);
}

int TextBox::visibleRows() const
{
    return std::max(1, viewport()->height() / m_lineHeight);
}

void TextBox::ensureCursorVisible()
{
    // While composing, the caret is inside the composition.
    ensureVisible(m_cursor, m_preedit.isEmpty() ? 0 : m_preeditCursor);
}

void TextBox::scrollToPosition(qsizetype position)
{
    ensureVisible(std::clamp<qsizetype>(position, 0, m_text.size()), 0);
}

void TextBox::ensureVisible(qsizetype position, qsizetype extraColumns)
{
    const qsizetype line = m_lines.lineAt(position);
    QScrollBar *vertical = verticalScrollBar();
    const int rows = visibleRows();
    if (line < vertical->value())
        vertical->setValue(clampToInt(line));
    else if (line >= vertical->value() + rows)
        vertical->setValue(clampToInt(line - rows + 1));

    QScrollBar *horizontal = horizontalScrollBar();
    const qreal x = static_cast<qreal>(column(position) + extraColumns) * m_cellWidth;
    const int width = caretWidth();
    if (x < horizontal->value())
        horizontal->setValue(static_cast<int>(std::floor(x)));
    else if (x + width > horizontal->value() + viewport()->width())
        horizontal->setValue(static_cast<int>(std::ceil(x + width)) - viewport()->width());
}

void TextBox::updateMetrics()
{
    const QFontMetricsF metrics(font());
    m_cellWidth = std::max<qreal>(1.0, metrics.horizontalAdvance(QLatin1Char('0')));
    const QFontMetrics whole(font());
    m_lineHeight = std::max(1, whole.lineSpacing());
    m_ascent = whole.ascent();
    m_hasControlPictures = metrics.inFont(QChar(u'\u2400')) && metrics.inFont(QChar(u'\u2421'));
    m_pictureFont = font();
    m_pictureFont.setPixelSize(std::max(4, (m_lineHeight - 2) / 2));
    m_caretWidth = std::max(1, style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this));
    m_rawFont = QRawFont::fromFont(font());
    m_uniform.reset();
    for (char16_t u = 0x20; u < kUniformTableSize; ++u) {
        const QChar c(u);
        const QChar::Category category = c.category();
        const bool mark = category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
            || category == QChar::Mark_Enclosing;
        m_uniform[u] = c.isPrint() && !mark && m_rawFont.supportsCharacter(c)
            && qFuzzyCompare(metrics.horizontalAdvance(c), m_cellWidth);
    }
}

void TextBox::updateScrollBars()
{
    const int rows = visibleRows();
    QScrollBar *vertical = verticalScrollBar();
    // A view showing the end keeps showing it as lines arrive, and also when
    // the viewport shrinks (the horizontal bar appearing for a long line).
    const bool followEnd = vertical->value() == vertical->maximum();
    m_verticalBar->setMaximumKeepingLayout(clampToInt(m_lines.lineCount() - rows));
    if (followEnd)
        vertical->setValue(vertical->maximum());
    vertical->setPageStep(rows);
    vertical->setSingleStep(1);

    const qreal contentWidth = static_cast<qreal>(m_lines.widestLineWidth()) * m_cellWidth + caretWidth();
    const qreal overflow = std::ceil(contentWidth) - viewport()->width();
    QScrollBar *horizontal = horizontalScrollBar();
    m_horizontalBar->setMaximumKeepingLayout(
        static_cast<int>(std::clamp<qreal>(overflow, 0, std::numeric_limits<int>::max())));
    horizontal->setPageStep(viewport()->width());
    horizontal->setSingleStep(std::max(1, static_cast<int>(std::lround(m_cellWidth))));
}
