#pragma once

#include "Host.h"

#include <QtCore/QStringList>

#include <functional>

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

    // Called as each box is shown; may throw.
    std::function<void(const QString &text)> onMessageBox;

protected:
    void showMessageBox(const QString &text) override
    {
        m_messages.append(text);
        if (onMessageBox)
            onMessageBox(text);
    }

private:
    QStringList m_messages;
};
