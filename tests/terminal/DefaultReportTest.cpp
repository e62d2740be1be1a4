// The default report ends the program as the close box does: the run
// returns, main()'s objects go, and with them the serial line gets its own
// settings back and its lock file goes.
#include "CommandButton.h"
#include "ErrorReport.h"
#include "Form1.h"
#include "Host.h"
#include "PseudoTerminal.h"
#include "RecordingHost.h"
#include "SerialPortControl.h"
#include "TextBox.h"
#include "Window.h"

#include <QtCore/QFile>
#include <QtCore/QTimer>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <memory>
#include <new>

#include <termios.h>

using namespace Qt::StringLiterals;

namespace {

bool sameLine(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag
        && cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

TEST(DefaultReportTest, AFailureInAHandlerEndsTheRunAndTheLineIsPutBackAndUnlocked)
{
    PseudoTerminal line;
    termios original = line.attributes();
    cfsetispeed(&original, B4800);
    cfsetospeed(&original, B4800);
    ASSERT_EQ(::tcsetattr(line.masterFd(), TCSANOW, &original), 0);
    original = line.attributes();

    // Text1 is made full once the port is open; telling so, a handler runs
    // out of memory. The default report comes while the line is still the
    // program's.
    RecordingHost host;
    bool heldAtTheReport = false;
    host.setOnMessageBox([&](const QString &) {
        host.setOnMessageBox([&](const QString &) {
            heldAtTheReport = QFile::exists(line.lockFilePath()) && !sameLine(line.attributes(), original);
        });
        throw std::bad_alloc();
    });
    int status = -1;
    {
        // As main() has them.
        Form1 form(host, std::make_unique<SerialPortControl>([&line](std::int16_t) { return line.slavePath(); }));
        QTimer::singleShot(0, &form.window(), [&] {
            QTest::mouseClick(&form.window().commandButton(u"Command1"_s), Qt::LeftButton);
            form.window().textBox(u"Text1"_s).setMemoryBudget(0);
            line.write("x");
        });
        status = host.run(form.window(), [&form] { form.Form_Load(); });
    }

    EXPECT_EQ(status, 1);
    ASSERT_EQ(host.messages().size(), 2) << host.messages().join(u'\n').toStdString();
    EXPECT_EQ(host.messages().last(),
              Host::defaultReportText(ErrorReport(ErrorNumber::InternalFailure, u"Out of memory"_s)));
    EXPECT_TRUE(heldAtTheReport) << "the port was not open and set up when the failure came";
    EXPECT_FALSE(QFile::exists(line.lockFilePath())) << "the port's lock outlived the run";
    EXPECT_TRUE(sameLine(line.attributes(), original)) << "the device kept the program's settings";
}

} // namespace
