#include "MonitorRig.h"

#include "Comm1.h"
#include "Form1.h"
#include "TextBox.h"

#include <QtTest/QTest>

#include <stdexcept>

using namespace Qt::StringLiterals;

MonitorRig::MonitorRig(const std::function<void(SerialControl &)> &beforeForm)
{
    const QString slave = m_line.slavePath();
    // As the program makes it, so its memory is what the program's would be.
    auto control = makeComm1([slave](std::int16_t port) {
        // Only port 1 is ours; anything else must not reach a real device.
        return port == 1 ? slave : u"/nonexistent/port%1"_s.arg(port);
    });
    m_comm1 = control.get();
    if (beforeForm)
        beforeForm(*m_comm1);
    m_form = std::make_unique<Form1>(m_host, std::move(control));
}

MonitorRig::~MonitorRig() = default;

void MonitorRig::show()
{
    m_form->window().show();
    if (!QTest::qWaitForWindowExposed(&m_form->window()))
        throw std::runtime_error("the window was never exposed");
}

void MonitorRig::open()
{
    m_host.invoke([this] { m_form->Form_Load(); });
    m_host.invoke([this] { m_form->Command1_Click(); });
    if (m_host.messageCount() != 0)
        throw std::runtime_error("the port did not open cleanly");
}

TextBox &MonitorRig::text1()
{
    return m_form->window().textBox(u"Text1"_s);
}
