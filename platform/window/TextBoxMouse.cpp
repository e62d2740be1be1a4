// The text box under the pointer: clicks, drags that select (and scroll on
// their own past an edge), the selection clipboard's middle click, and drag
// and drop in and out of the box.
#include "TextBox.h"

#include "TextMimeData.h"

#include <QtCore/QMimeData>
#include <QtCore/QPointer>
#include <QtGui/QClipboard>
#include <QtGui/QDrag>
#include <QtGui/QDropEvent>
#include <QtGui/QGuiApplication>
#include <QtGui/QInputMethod>
#include <QtGui/QMouseEvent>
#include <QtGui/QStyleHints>
#include <QtWidgets/QScrollBar>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Whether a drag came from this box: the box started it, and its viewport
// is where the pointer was.
bool fromThisBox(const QObject *source, const TextBox *box)
{
    return source && (source == box || source == box->viewport());
}

} // namespace

void TextBox::mousePressEvent(QMouseEvent *event)
{
    const QPoint point = event->position().toPoint();
    if (!m_preedit.isEmpty()) {
        // A click on the composition is the input method's; anywhere else
        // it ends the composition first.
        const qsizetype row = point.y() >= 0 ? point.y() / m_painter.lineHeight() : -1;
        const qsizetype column = static_cast<qsizetype>(std::floor((point.x() + scrollX()) / m_painter.cellWidth()))
            - m_content.column(m_content.cursor());
        if (verticalScrollBar()->value() + row == m_content.lineAtCaret() && column >= 0
            && column <= m_preedit.size()) {
            QGuiApplication::inputMethod()->invokeAction(QInputMethod::Click, static_cast<int>(column));
            event->accept();
            return;
        }
        commitPreedit();
    }
    restartCaretBlink();
    if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()) {
        event->accept(); // pastes on release, as Qt's own text widgets do
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    event->accept();
    const qsizetype position = positionAt(point);
    if (m_tripleClick.isActive()
        && (point - m_tripleClickPoint).manhattanLength() < QGuiApplication::styleHints()->startDragDistance()) {
        m_tripleClick.stop();
        showChange(m_content.tripleClick(position));
        return;
    }
    const bool extend = event->modifiers().testFlag(Qt::ShiftModifier);
    if (!extend && m_content.hasSelection() && position >= selectionStart() && position < selectionEnd()) {
        m_mightStartDrag = true;
        m_dragStartPoint = point;
        return;
    }
    showChange(m_content.press(position, extend));
}

void TextBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    m_mightStartDrag = false;
    m_tripleClickPoint = event->position().toPoint();
    m_tripleClick.start(QGuiApplication::styleHints()->mouseDoubleClickInterval(), this);
    showChange(m_content.doubleClick(positionAt(m_tripleClickPoint)));
    event->accept();
}

void TextBox::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint point = event->position().toPoint();
    if (m_mightStartDrag && (event->buttons() & Qt::LeftButton)) {
        if ((point - m_dragStartPoint).manhattanLength() >= QGuiApplication::styleHints()->startDragDistance()) {
            m_mightStartDrag = false;
            startDrag();
        }
        event->accept();
        return;
    }
    if (!m_content.dragging() || !(event->buttons() & Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    // Past an edge the view goes on scrolling while the pointer rests there.
    m_autoScrollPoint = point;
    if (viewport()->rect().contains(point))
        m_autoScroll.stop();
    else if (!m_autoScroll.isActive())
        m_autoScroll.start(AutoScrollFirstMs, this);
    showChange(m_content.dragTo(positionAt(point)));
    event->accept();
}

void TextBox::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()) {
        showChange(m_content.placeCursor(positionAt(point), false));
        paste(QClipboard::Selection);
        event->accept();
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_autoScroll.stop();
    if (std::exchange(m_mightStartDrag, false)) {
        // A click in the selection, not a drag of it: the click's own work.
        showChange(m_content.press(positionAt(point), false));
        m_content.release();
    } else if (m_content.dragging()) {
        m_content.release();
        offerSelection();
    }
    event->accept();
}

void TextBox::startDrag()
{
    const qsizetype start = selectionStart();
    const qsizetype end = selectionEnd();
    // The drag deletes itself once done.
    QPointer<QDrag> drag = new QDrag(this);
    drag->setMimeData(selectionData());
    const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
    // Moved out of the box: what went goes from here, if it is still here.
    // A move within the box was the drop's work.
    if (action == Qt::MoveAction && drag && !fromThisBox(drag->target(), this) && selectionStart() == start
        && selectionEnd() == end)
        showChange(edited([](EditableText &text) { return text.removeSelection(); }));
}

void TextBox::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasText())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TextBox::dragMoveEvent(QDragMoveEvent *event)
{
    const QPoint point = event->position().toPoint();
    const qsizetype position = positionAt(point);
    if (const qsizetype old = std::exchange(m_dropPosition, -1); old >= 0)
        viewport()->update(caretRectAt(old, 0));
    // A selection dropped onto itself stays where it is.
    if (fromThisBox(event->source(), this) && position > selectionStart() && position < selectionEnd()) {
        event->ignore();
        return;
    }
    m_dropPosition = position;
    viewport()->update(caretRectAt(position, 0));
    m_autoScrollPoint = point;
    if (!m_autoScroll.isActive())
        m_autoScroll.start(AutoScrollFirstMs, this);
    event->acceptProposedAction();
}

void TextBox::dragLeaveEvent(QDragLeaveEvent *event)
{
    m_autoScroll.stop();
    if (const qsizetype old = std::exchange(m_dropPosition, -1); old >= 0)
        viewport()->update(caretRectAt(old, 0));
    event->accept();
}

void TextBox::dropEvent(QDropEvent *event)
{
    m_autoScroll.stop();
    if (const qsizetype old = std::exchange(m_dropPosition, -1); old >= 0)
        viewport()->update(caretRectAt(old, 0));
    const qsizetype position = positionAt(event->position().toPoint());
    if (fromThisBox(event->source(), this) && event->dropAction() == Qt::MoveAction) {
        if (position > selectionStart() && position < selectionEnd()) {
            event->ignore();
            return;
        }
        showChange(edited([position](EditableText &text) { return text.moveSelection(position); }));
        event->acceptProposedAction();
        return;
    }
    if (!insertFrom(event->mimeData(), position)) {
        showChange(m_content.placeCursor(position, false));
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void TextBox::autoScroll()
{
    const bool dropping = m_dropPosition >= 0;
    QRect edges = viewport()->rect();
    // A drop scrolls within a margin of the edges: it has no pointer
    // outside the view to go by.
    if (dropping) {
        const int margin = std::min({edges.width() / 3, edges.height() / 3, AutoScrollDropMargin});
        edges.adjust(margin, margin, -margin, -margin);
    }
    const QPoint point = m_autoScrollPoint;
    const int beyondY = std::max(point.y() - edges.top(), edges.bottom() - point.y()) - edges.height();
    const int beyondX = std::max(point.x() - edges.left(), edges.right() - point.x()) - edges.width();
    const int beyond = std::max(beyondX, beyondY);
    if (beyond < 0) {
        m_autoScroll.stop();
        return;
    }
    // Faster the further out, as in Qt's own text widgets.
    const int distance = std::max(beyond, 7);
    m_autoScroll.start(AutoScrollPace / (distance * distance), this);
    if (beyondY > 0)
        verticalScrollBar()->triggerAction(point.y() < edges.center().y() ? QAbstractSlider::SliderSingleStepSub
                                                                          : QAbstractSlider::SliderSingleStepAdd);
    if (beyondX > 0)
        horizontalScrollBar()->triggerAction(point.x() < edges.center().x() ? QAbstractSlider::SliderSingleStepSub
                                                                            : QAbstractSlider::SliderSingleStepAdd);
    if (dropping) {
        viewport()->update();
        m_dropPosition = positionAt(point);
    } else if (m_content.dragging()) {
        showChange(m_content.dragTo(positionAt(point)));
    }
}
