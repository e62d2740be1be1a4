#include "TextPainter.h"

#include "EditableText.h"

#include <QtCore/QVarLengthArray>
#include <QtGui/QFontMetrics>
#include <QtGui/QFontMetricsF>
#include <QtGui/QGlyphRun>
#include <QtGui/QPainter>
#include <QtGui/QTextCharFormat>

#include <algorithm>
#include <array>

namespace {

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

} // namespace

void TextPainter::setFont(const QFont &font)
{
    m_font = font;
    const QFontMetricsF metrics(font);
    m_cellWidth = std::max<qreal>(1.0, metrics.horizontalAdvance(QLatin1Char('0')));
    const QFontMetrics whole(font);
    m_lineHeight = std::max(1, whole.lineSpacing());
    m_ascent = whole.ascent();
    m_hasControlPictures = metrics.inFont(QChar(u'\u2400')) && metrics.inFont(QChar(u'\u2421'));
    m_pictureFont = font;
    m_pictureFont.setPixelSize(std::max(4, (m_lineHeight - 2) / 2));
    m_rawFont = QRawFont::fromFont(font);
    m_uniform.reset();
    for (char16_t u = 0x20; u < UniformTableSize; ++u) {
        const QChar c(u);
        const QChar::Category category = c.category();
        const bool mark = category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
            || category == QChar::Mark_Enclosing;
        m_uniform[u] = c.isPrint() && !mark && m_rawFont.supportsCharacter(c)
            && qFuzzyCompare(metrics.horizontalAdvance(c), m_cellWidth);
    }
}

bool TextPainter::drawsInOneCell(QChar c) const
{
    return c.unicode() < UniformTableSize && m_uniform[c.unicode()];
}

void TextPainter::paintLine(QPainter &painter, const EditableText &text, const View &view, qsizetype line,
                            int top, qsizetype fromColumn, qsizetype toColumn) const
{
    const LineIndex &lines = text.lines();
    const qsizetype cursor = text.cursor();
    const LineIndex::Bounds bounds = lines.bounds(line);
    const qsizetype end = bounds.end;
    const bool composing = !view.preedit.isEmpty() && text.lineAtCaret() == line;
    const qsizetype composed = composing ? view.preedit.size() : 0;
    // A composition pushes what follows the caret right, so what is in view
    // may start up to its length further left.
    const qsizetype from = lines.positionCovering(bounds, fromColumn - composed);
    const qsizetype to = std::min(lines.positionCovering(bounds, toColumn) + 1, end);
    // Only the slice in view is read, with a character either side for a
    // surrogate pair that an edge cuts.
    const qsizetype sliceFrom = std::max(from - 1, bounds.start);
    const QString slice = text.text().mid(sliceFrom, std::min(to + 1, end) - sliceFrom);
    const auto at = [&](qsizetype position) {
        const qsizetype offset = position - sliceFrom;
        return offset >= 0 && offset < slice.size() ? slice[offset] : QChar();
    };
    const auto xOf = [&](qsizetype column) { return static_cast<qreal>(column) * m_cellWidth + view.left; };
    const auto advance = [](qsizetype column, QChar c) {
        return c == u'\t' ? LineIndex::nextTabStop(column) : column + 1;
    };
    const qsizetype startColumn = lines.columnOf(bounds, from) + (composing && from > cursor ? composed : 0);

    const qsizetype selStart = text.selectionStart();
    const qsizetype selEnd = text.selectionEnd();
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
            if (composing && i == cursor)
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
                         view.palette.brush(QPalette::Highlight));
    }

    // Runs of one-cell characters go out in one call each; the font's fixed
    // pitch places them. The rest are drawn alone at their own cell, so a
    // glyph of another width cannot shift the columns after it; a tab draws
    // nothing and moves to its stop.
    const int baseline = top + m_ascent;
    const QColor normal = view.palette.color(QPalette::Text);
    const QColor highlighted = view.palette.color(QPalette::HighlightedText);
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
        if (composing && i == cursor) {
            flush(i);
            drawPreedit(painter, view, xOf(column), top);
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
        if (drawsInOneCell(c)) {
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

void TextPainter::drawRun(QPainter &painter, QPointF origin, QStringView run) const
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

bool TextPainter::drawCharacter(QPainter &painter, QChar c, QChar next, QChar previous, qreal x,
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

void TextPainter::drawPreedit(QPainter &painter, const View &view, qreal x, int top) const
{
    // Laid out by Qt as its own text widgets lay a composition out, so that
    // every clause style an input method may give shows as it means.
    const QString preedit = view.preedit.toString();
    QTextLayout layout(preedit, m_font);
    QList<QTextLayout::FormatRange> formats = view.preeditFormats;
    if (formats.isEmpty()) {
        QTextCharFormat underlined;
        underlined.setFontUnderline(true);
        formats.append({0, static_cast<int>(preedit.size()), underlined});
    }
    layout.setFormats(formats);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    if (!line.isValid())
        return;
    painter.save();
    painter.setPen(view.palette.color(QPalette::Text));
    layout.draw(&painter, QPointF(x, top + m_ascent - line.ascent()));
    painter.restore();
}

void TextPainter::drawControlPicture(QPainter &painter, QChar picture, const QRectF &cell) const
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
