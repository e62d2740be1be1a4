#pragma once

#include "CommandButton.h"
#include "FakeSerialControl.h"
#include "Form1.h"
#include "IntervalTimer.h"
#include "RecordingHost.h"
#include "TextBox.h"

#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <memory>

// Form1 with a fake serial control, a recording host and its real window.
class Form1Fixture : public ::testing::Test
{
protected:
    Form1Fixture()
        : m_comm1(new FakeSerialControl)
        , m_form(m_host, std::unique_ptr<SerialControl>(m_comm1))
    {
    }

    // Raises Load as the host does at start.
    void load() { m_host.invoke([this] { m_form.Form_Load(); }); }

    void show()
    {
        m_form.window().show();
        // Through the window system, as a click on the window would: the
        // application-wide setter is deprecated from Qt 6.5 on.
        m_form.window().activateWindow();
        (void)QTest::qWaitForWindowActive(&m_form.window());
        QApplication::processEvents();
    }

    void click(CommandButton &button) { QTest::mouseClick(&button, Qt::LeftButton); }

    TextBox &text1() { return m_form.window().textBox(QStringLiteral("Text1")); }
    CommandButton &command1() { return m_form.window().commandButton(QStringLiteral("Command1")); }
    CommandButton &command2() { return m_form.window().commandButton(QStringLiteral("Command2")); }
    IntervalTimer &timer1() { return m_form.window().timer(QStringLiteral("Timer1")); }

    static ErrorReport failure(std::int32_t number, const char *description)
    {
        return ErrorReport(number, QString::fromUtf8(description));
    }

    RecordingHost m_host;
    FakeSerialControl *m_comm1; // owned by m_form
    Form1 m_form;
};
