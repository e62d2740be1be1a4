#pragma once

#include "Host.h"

#include <cstdio>

// The real host, except that a message box goes to stderr and returns at
// once: a modal box would stop an unattended run, and any box at all means
// the figures of that run are not to be trusted.
class BenchHost : public Host
{
public:
    BenchHost()
        : Host(QStringLiteral("linewatch"))
    {
    }

    int messageCount() const { return m_messageCount; }

protected:
    void showMessageBox(const QString &text) override
    {
        ++m_messageCount;
        std::fprintf(stderr, "message box: %s\n", qPrintable(text));
    }

private:
    int m_messageCount = 0;
};
