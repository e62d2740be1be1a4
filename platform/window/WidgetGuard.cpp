#include "WidgetGuard.h"

#include <QtCore/QMetaObject>

WidgetGuard::WidgetGuard(QObject *parent)
    : QObject(parent)
{
}

void WidgetGuard::note(const std::exception_ptr &failure) noexcept
{
    if (m_pending)
        return;
    try {
        m_pending = ErrorReport::fromException(failure);
        QMetaObject::invokeMethod(this, &WidgetGuard::tell, Qt::QueuedConnection);
    } catch (...) {
        // Not even the memory to say so: the entry still returns, and the
        // next failure is told if it can be.
        m_pending.reset();
    }
}

void WidgetGuard::tell() noexcept
{
    if (!m_pending)
        return;
    try {
        Q_EMIT failed(*m_pending);
    } catch (...) {
        // See the class comment: dropped.
    }
    m_pending.reset();
}
