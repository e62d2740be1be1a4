#pragma once

#include "Window.h"

#include <memory>

class CommandButton;
class Host;
class IntervalTimer;
class SerialControl;
class TextBox;

// The program's one window and its five handlers. Form1 keeps no state of its
// own: the toggle button's caption, the text box's text and the serial
// control's PortOpen are the state.
//
// It owns the window built from its stored description and the serial
// control Comm1; destroying it closes the port.
class Form1
{
public:
    Form1(Host &host, std::unique_ptr<SerialControl> comm1);
    ~Form1();
    Form1(const Form1 &) = delete;
    Form1 &operator=(const Form1 &) = delete;

    Window &window() { return m_window; }

    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void Comm1_OnComm();
    void Timer1_Timer();

private:
    // The input append shared by OnComm and the timer.
    void appendInput();

    Host &m_host;
    Window m_window;
    std::unique_ptr<SerialControl> m_comm1;

    TextBox &Text1;
    CommandButton &Command1;
    CommandButton &Command2;
    IntervalTimer &Timer1;
    SerialControl &Comm1;
};
