#include "TextBox.h"

#include <QtWidgets/QApplication>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QStyle>

#include <QtGui/QClipboard>
#include <QtGui/QFontDatabase>
#include <QtGui/QFontMetricsF>
#include <QtGui/QGuiApplication>
#include <QtGui/QInputMethodEvent>
#include <QtGui/QKeyEvent>
#include <QtGui/QMouseEvent>
#include <QtGui/QPaintEvent>
#include <QtGui/QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

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

} // namespace

TextBox::TextBox(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setInputMethodHints(Qt::ImhMultiLine);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    updateMetrics();
    updateScrollBars();
}

TextBox::~TextBox() = default;

QString TextBox::Text() const
{
    return m_text;
}

void TextBox::setText(const QString &text)
{
    const qsizetype oldSize = m_text.size();
    // Shared data with a size at least the old one is the old content plus
    // more, no comparison needed; otherwise the prefix is compared, O(old).
    const bool extends = text.size() >= oldSize
        && (text.constData() == m_text.constData() || QStringView(text).first(oldSize) == m_text);
    if (extends) {
        if (text.size() == oldSize)
            return;
        m_text = text;
        m_lines.append(m_text, oldSize);
        // A trailing "\r" that the append turned into a "\r\n": a caret after
        // it goes after the whole break, on the line it was on.
        if (LineIndex::splitsBreak(m_text, m_cursor))
            ++m_cursor;
        if (LineIndex::splitsBreak(m_text, m_anchor))
            ++m_anchor;
        updateScrollBars();
    } else {
        m_text = text;
        m_lines.rebuild(m_text);
        m_cursor = m_anchor = m_text.size();
        m_goalColumn = -1;
        updateScrollBars();
        ensureCursorVisible();
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
    return m_text.sliced(selectionStart(), selectionEnd() - selectionStart());
}

void TextBox::selectAll()
{
    m_anchor = 0;
    m_cursor = m_text.size();
    viewport()->update();
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
    replaceSelection(QString());
}

void TextBox::paste()
{
    const QString pasted = QGuiApplication::clipboard()->text();
    if (!pasted.isEmpty())
        replaceSelection(pasted);
}

QVariant TextBox::inputMethodQuery(Qt::InputMethodQuery query) const
{
    const qsizetype line = m_lines.lineAt(m_cursor);
    const qsizetype start = m_lines.lineStart(line);
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return cursorRect().translated(viewport()->geometry().topLeft());
    case Qt::ImCursorPosition:
        return QVariant::fromValue(m_cursor - start);
    case Qt::ImAnchorPosition:
        return QVariant::fromValue(std::clamp<qsizetype>(m_anchor - start, 0, m_lines.lineLength(m_text, line)));
    case Qt::ImSurroundingText:
        return m_text.sliced(start, m_lines.lineLength(m_text, line));
    case Qt::ImCurrentSelection:
        return selectedText();
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

bool TextBox::event(QEvent *event)
{
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

void TextBox::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette().brush(QPalette::Base));
    painter.setFont(font());

    const qsizetype firstLine = verticalScrollBar()->value();
    const int scrollX = horizontalScrollBar()->value();
    const auto firstColumn = static_cast<qsizetype>(std::floor(scrollX / m_cellWidth));
    const auto columns = static_cast<qsizetype>(std::ceil(viewport()->width() / m_cellWidth)) + 1;
    const qsizetype lastLine = std::min(m_lines.lineCount(), firstLine + visibleRows() + 1);
    const qsizetype selStart = selectionStart();
    const qsizetype selEnd = selectionEnd();
    const auto xOf = [&](qsizetype col) { return static_cast<qreal>(col) * m_cellWidth - scrollX; };

    for (qsizetype line = firstLine; line < lastLine; ++line) {
        const int top = static_cast<int>(line - firstLine) * m_lineHeight;
        const int baseline = top + m_ascent;
        const qsizetype start = m_lines.lineStart(line);
        const qsizetype end = m_lines.lineEnd(m_text, line);
        const qsizetype from = std::min(start + firstColumn, end);
        const qsizetype to = std::min(start + firstColumn + columns, end);

        const qsizetype selFrom = std::clamp(selStart, from, to);
        const qsizetype selTo = std::clamp(selEnd, from, to);
        if (selFrom < selTo || (selStart <= end && selEnd > end)) {
            // A selected break shows as one selected cell after the line.
            const qsizetype cellsTo = selEnd > end && end < start + firstColumn + columns ? selTo + 1 : selTo;
            painter.fillRect(QRectF(xOf(selFrom - start), top, static_cast<qreal>(cellsTo - selFrom) * m_cellWidth, m_lineHeight),
                             palette().brush(QPalette::Highlight));
        }
        painter.setPen(palette().color(QPalette::Text));
        drawSpan(painter, from, selFrom, start, baseline);
        painter.setPen(palette().color(QPalette::HighlightedText));
        drawSpan(painter, selFrom, selTo, start, baseline);
        painter.setPen(palette().color(QPalette::Text));
        drawSpan(painter, selTo, to, start, baseline);
    }

    if (hasFocus())
        painter.fillRect(cursorRect(), palette().brush(QPalette::Text));
}

void TextBox::drawSpan(QPainter &painter, qsizetype from, qsizetype to, qsizetype lineStart,
                       int baseline) const
{
    const int scrollX = horizontalScrollBar()->value();
    const auto xOf = [&](qsizetype position) {
        return static_cast<qreal>(position - lineStart) * m_cellWidth - scrollX;
    };
    // Runs of one-cell characters go out in one call each; the font's fixed
    // pitch places them. The rest are drawn alone at their own cell, so a
    // glyph of another width cannot shift the columns after it.
    qsizetype runStart = from;
    const auto flush = [&](qsizetype runEnd) {
        if (runEnd > runStart)
            painter.drawText(QPointF(xOf(runStart), baseline), m_text.sliced(runStart, runEnd - runStart));
    };
    for (qsizetype i = from; i < to; ++i) {
        const QChar c = m_text[i];
        const char16_t u = c.unicode();
        if (u < kUniformTableSize && m_uniform[u])
            continue;
        flush(i);
        runStart = i + 1;
        if (c.isHighSurrogate() && i + 1 < m_text.size() && m_text[i + 1].isLowSurrogate()) {
            painter.drawText(QPointF(xOf(i), baseline), m_text.sliced(i, 2));
            ++i;
            runStart = i + 1;
        } else if (c.isLowSurrogate() && i > 0 && m_text[i - 1].isHighSurrogate()) {
            // The other half of a pair whose first half is out of view.
        } else if (c.isSurrogate()) {
            painter.drawText(QPointF(xOf(i), baseline), QString(QChar(QChar::ReplacementCharacter)));
        } else if (const QChar shown = symbolFor(c); !m_hasControlPictures && isControlPicture(shown)) {
            drawControlPicture(painter, shown, QRectF(xOf(i), baseline - m_ascent, m_cellWidth, m_lineHeight));
        } else {
            painter.drawText(QPointF(xOf(i), baseline), QString(shown));
        }
    }
    flush(to);
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
    if (event->type() == QEvent::FontChange) {
        updateMetrics();
        updateScrollBars();
        viewport()->update();
    }
}

bool TextBox::handlesKey(const QKeyEvent *event) const
{
    static constexpr std::array standardKeys{
        QKeySequence::SelectAll, QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Paste,
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
        replaceSelection(event->text());
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
    m_selecting = true;
    m_goalColumn = -1;
    placeCursor(positionAt(event->position().toPoint()), event->modifiers().testFlag(Qt::ShiftModifier));
    event->accept();
}

void TextBox::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_selecting || !(event->buttons() & Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    placeCursor(positionAt(event->position().toPoint()), true);
    event->accept();
}

void TextBox::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_selecting = false;
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
    // Only committed text becomes content; a composition in progress is not
    // shown.
    if (!event->commitString().isEmpty())
        replaceSelection(event->commitString());
    event->accept();
}

void TextBox::moveCursor(Move move, bool extendSelection)
{
    const qsizetype line = m_lines.lineAt(m_cursor);
    const auto toLine = [&](qsizetype target) {
        if (m_goalColumn < 0)
            m_goalColumn = column(m_cursor);
        const qsizetype clamped = std::clamp<qsizetype>(target, 0, m_lines.lineCount() - 1);
        const qsizetype start = m_lines.lineStart(clamped);
        qsizetype position = start + std::min(m_goalColumn, m_lines.lineLength(m_text, clamped));
        if (position > start && position < m_text.size() && m_text[position].isLowSurrogate()
            && m_text[position - 1].isHighSurrogate())
            --position;
        return position;
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
    ensureCursorVisible();
    viewport()->update();
}

void TextBox::replaceSelection(const QString &replacement)
{
    const qsizetype from = selectionStart();
    const qsizetype removed = selectionEnd() - from;
    m_text.replace(from, removed, replacement);
    m_lines.replace(m_text, from, removed, replacement.size());
    m_cursor = m_anchor = from + replacement.size();
    // Removing what stood between a "\r" and a "\n" joins them into one
    // break; the caret goes after it rather than into its middle.
    if (LineIndex::splitsBreak(m_text, m_cursor))
        m_anchor = ++m_cursor;
    m_goalColumn = -1;
    updateScrollBars();
    ensureCursorVisible();
    viewport()->update();
}

void TextBox::removeAround(bool forward)
{
    if (m_cursor == m_anchor) {
        const qsizetype other = forward ? nextPosition(m_cursor) : previousPosition(m_cursor);
        if (other == m_cursor)
            return;
        m_anchor = other;
    }
    replaceSelection(QString());
}

qsizetype TextBox::previousPosition(qsizetype position) const
{
    if (position <= 0)
        return 0;
    qsizetype previous = position - 1;
    if (previous > 0
        && ((m_text[previous] == u'\n' && m_text[previous - 1] == u'\r')
            || (m_text[previous].isLowSurrogate() && m_text[previous - 1].isHighSurrogate())))
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
        && ((m_text[position] == u'\r' && m_text[next] == u'\n')
            || (m_text[position].isHighSurrogate() && m_text[next].isLowSurrogate())))
        ++next;
    return next;
}

qsizetype TextBox::column(qsizetype position) const
{
    return position - m_lines.lineStart(m_lines.lineAt(position));
}

qsizetype TextBox::positionAt(QPoint point) const
{
    const qsizetype row = point.y() >= 0 ? point.y() / m_lineHeight : -1 - (-point.y() - 1) / m_lineHeight;
    const qsizetype line = std::clamp<qsizetype>(verticalScrollBar()->value() + row, 0, m_lines.lineCount() - 1);
    const qreal cells = (point.x() + horizontalScrollBar()->value()) / m_cellWidth;
    // The caret goes to the nearer edge of the cell clicked.
    const auto col = static_cast<qsizetype>(std::floor(std::max(cells, 0.0) + 0.5));
    const qsizetype start = m_lines.lineStart(line);
    qsizetype position = start + std::min(col, m_lines.lineLength(m_text, line));
    if (position > start && position < m_text.size() && m_text[position].isLowSurrogate()
        && m_text[position - 1].isHighSurrogate())
        --position;
    return position;
}

QRect TextBox::cursorRect() const
{
    const qsizetype line = m_lines.lineAt(m_cursor);
    const qsizetype row = line - verticalScrollBar()->value();
    const qreal x = static_cast<qreal>(column(m_cursor)) * m_cellWidth - horizontalScrollBar()->value();
    const int caretWidth = std::max(1, style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this));
    // Far out of view the caret still gets a rectangle, just off the edge.
    const auto clampedX = static_cast<int>(std::clamp<qreal>(std::floor(x), -caretWidth - 1, viewport()->width() + 1));
    const auto top = static_cast<int>(std::clamp<qsizetype>(row, -1, visibleRows() + 1)) * m_lineHeight;
    return QRect(clampedX, top, caretWidth, m_lineHeight);
}

int TextBox::visibleRows() const
{
    return std::max(1, viewport()->height() / m_lineHeight);
}

void TextBox::ensureCursorVisible()
{
    const qsizetype line = m_lines.lineAt(m_cursor);
    QScrollBar *vertical = verticalScrollBar();
    const int rows = visibleRows();
    if (line < vertical->value())
        vertical->setValue(clampToInt(line));
    else if (line >= vertical->value() + rows)
        vertical->setValue(clampToInt(line - rows + 1));

    QScrollBar *horizontal = horizontalScrollBar();
    const qreal x = static_cast<qreal>(column(m_cursor)) * m_cellWidth;
    const int caretWidth = std::max(1, style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this));
    if (x < horizontal->value())
        horizontal->setValue(static_cast<int>(std::floor(x)));
    else if (x + caretWidth > horizontal->value() + viewport()->width())
        horizontal->setValue(static_cast<int>(std::ceil(x + caretWidth)) - viewport()->width());
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
    m_uniform.reset();
    for (char16_t u = 0x20; u < kUniformTableSize; ++u) {
        const QChar c(u);
        const QChar::Category category = c.category();
        const bool mark = category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
            || category == QChar::Mark_Enclosing;
        m_uniform[u] = c.isPrint() && !mark && metrics.inFont(c)
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
    vertical->setRange(0, clampToInt(m_lines.lineCount() - rows));
    if (followEnd)
        vertical->setValue(vertical->maximum());
    vertical->setPageStep(rows);
    vertical->setSingleStep(1);

    const int caretWidth = std::max(1, style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this));
    const qreal contentWidth = static_cast<qreal>(m_lines.longestLineLength()) * m_cellWidth + caretWidth;
    const qreal overflow = std::ceil(contentWidth) - viewport()->width();
    QScrollBar *horizontal = horizontalScrollBar();
    horizontal->setRange(0, static_cast<int>(std::clamp<qreal>(overflow, 0, std::numeric_limits<int>::max())));
    horizontal->setPageStep(viewport()->width());
    horizontal->setSingleStep(std::max(1, static_cast<int>(std::lround(m_cellWidth))));
}
