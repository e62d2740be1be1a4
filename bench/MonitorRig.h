#pragma once

#include "BenchHost.h"
#include "PseudoTerminal.h"

#include <functional>
#include <memory>

class Form1;
class SerialControl;
class TextBox;

// The program as a user runs it, with a pseudo-terminal for the line: the
// real Form1 and its handlers, the real window and the serial control on
// port 1, which is mapped to the pseudo-terminal's slave side. The bench
// plays the device on the master side.
class MonitorRig
{
public:
    // `beforeForm` may connect to the control's signals ahead of Form1, so
    // that its slots run before the handler does.
    explicit MonitorRig(const std::function<void(SerialControl &)> &beforeForm = {});
    ~MonitorRig();
    MonitorRig(const MonitorRig &) = delete;
    MonitorRig &operator=(const MonitorRig &) = delete;

    // Shows the window and waits until the platform has exposed it.
    void show();
    // Load, then the Open click, through the host as a user would raise them.
    void open();

    PseudoTerminal &line() { return m_line; }
    BenchHost &host() { return m_host; }
    Form1 &form() { return *m_form; }
    SerialControl &comm1() { return *m_comm1; }
    TextBox &text1();

private:
    // Declared first so the line outlives the port that reads it.
    PseudoTerminal m_line;
    BenchHost m_host;
    SerialControl *m_comm1 = nullptr; // owned by m_form
    std::unique_ptr<Form1> m_form;
};
