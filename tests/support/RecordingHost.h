#pragma once

#include "Host.h"

#include <QtCore/QStringList>

#include <functional>
#include <utility>

// The real host, except that a message box records its text and returns as if
// OK had been pressed. A test can make a box fail, to see where that failure
// goes.
class RecordingHost : public Host
{
public:
    RecordingHost()
        : Host(QStringLiteral("linewatch"))
    {
    }

    const QStringList &messages() const { return m_messages; }

    // Called as each box is shown; may throw, and may set another (or none).
    void setOnMessageBox(std::function<void(const QString &text)> call)
    {
        m_onMessageBox = std::move(call);
    }

protected:
    void showMessageBox(const QString &text) override
    {
        m_messages.append(text);
        // A copy, so that a call setting another leaves the running one alive.
        if (const auto call = m_onMessageBox)
            call(text);
    }

private:
    QStringList m_messages;
    std::function<void(const QString &text)> m_onMessageBox;
};
