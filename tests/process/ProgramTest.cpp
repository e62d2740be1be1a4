// The built program as a user meets it: a real X server (Xvfb), a pseudo-
// terminal standing in for port 1 in a private mount namespace, clicks from
// xdotool, the text read back through the clipboard.
#include "FloodWriter.h"
#include "PseudoTerminal.h"
#include "Wait.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QPoint>
#include <QtCore/QProcess>
#include <QtCore/QRegularExpression>
#include <QtCore/QStandardPaths>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <signal.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Command1 and Command2 centres, and a point inside Text1, in the window's own pixels.
constexpr QPoint OpenButton{60 + 26, 160 + 14};
constexpr QPoint QuitButton{120 + 26, 160 + 14};
constexpr QPoint InTextBox{12 + 100, 16 + 60};

// A session bus as a desktop's, less the services it would start on
// demand: nothing runs on it but the program, and nothing outlives the test.
constexpr char SessionBusConfiguration[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=@DIR@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

// The caller's environment without its desktop session: the program meets
// the X server, bus and runtime directory the test gives it, and no theme,
// scale, accessibility or session manager setting of whoever runs the suite.
QProcessEnvironment programEnvironment()
{
    static const QStringList SessionPrefixes{u"QT_"_s, u"XDG_"_s, u"DBUS_"_s, u"AT_SPI_"_s, u"WAYLAND_"_s,
                                             u"KDE_"_s, u"GNOME_"_s, u"GTK_"_s};
    static const QStringList SessionNames{u"DISPLAY"_s, u"XAUTHORITY"_s, u"DESKTOP_SESSION"_s, u"SESSION_MANAGER"_s};
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : environment.keys()) {
        if (SessionNames.contains(name)
            || std::any_of(SessionPrefixes.begin(), SessionPrefixes.end(),
                           [&](const QString &prefix) { return name.startsWith(prefix); }))
            environment.remove(name);
    }
    return environment;
}

// The first line a helper prints: its display number, its bus address.
QByteArray firstLine(QProcess &process)
{
    QByteArray output;
    waitUntil([&] {
        output += process.readAllStandardOutput();
        return output.contains('\n');
    }, 15000);
    return output.contains('\n') ? output.first(output.indexOf('\n')) : QByteArray();
}

class ProgramTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "a private mount namespace for port 1 needs root";
        for (const QString &tool : {u"Xvfb"_s, u"xdotool"_s, u"xclip"_s, u"unshare"_s, u"dbus-daemon"_s}) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                GTEST_SKIP() << qPrintable(tool) << " is not installed";
        }
        ASSERT_TRUE(m_session.isValid());

        m_xvfb.start(u"Xvfb"_s, {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, u"640x480x24"_s,
                                 u"-nolisten"_s, u"tcp"_s});
        const QByteArray display = firstLine(m_xvfb);
        ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";
        m_display = u":"_s + QString::fromLatin1(display);

        // A session bus of the test's own, as a desktop has one. Without any
        // bus in its environment, D-Bus would start one for the program
        // (dbus-launch, where installed), which outlives it.
        QFile configuration(m_session.filePath(u"bus.conf"_s));
        ASSERT_TRUE(configuration.open(QIODevice::WriteOnly));
        configuration.write(QByteArrayLiteral(SessionBusConfiguration).replace("@DIR@", QFile::encodeName(m_session.path())));
        configuration.close();
        m_bus.start(u"dbus-daemon"_s, {u"--nofork"_s, u"--print-address=1"_s, u"--config-file="_s + configuration.fileName()});
        const QByteArray busAddress = firstLine(m_bus);
        ASSERT_FALSE(busAddress.isEmpty()) << "the session bus did not start";

        m_environment = programEnvironment();
        m_environment.insert(u"DISPLAY"_s, m_display);
        m_environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        m_environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, QString::fromLatin1(busAddress));
        m_environment.insert(u"XDG_RUNTIME_DIR"_s, m_session.path());
    }

    void TearDown() override
    {
        m_program.kill();
        m_program.waitForFinished();
        m_xvfb.terminate();
        m_xvfb.waitForFinished();
        m_bus.terminate();
        m_bus.waitForFinished();
    }

    // Starts the program with port 1 and the lock directory its own, with
    // `arguments` on its command line, under `runner` (a tracer) if given.
    void startProgram(const QStringList &arguments = {}, const QStringList &runner = {})
    {
        m_program.setProcessEnvironment(m_environment);
        m_program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The program's lock files go to a folder of the test's own, so that
        // it neither meets nor leaves locks in the machine's /var/lock.
        ASSERT_TRUE(m_lockDirectory.isValid());
        m_program.start(u"unshare"_s,
                        QStringList{u"--mount"_s, u"sh"_s, u"-c"_s,
                                    u"mount --bind \"$0\" /dev/ttyS0 && mount --bind \"$1\" \"$(realpath /var/lock)\" "
                                    "&& shift && exec \"$@\""_s,
                                    m_line.slavePath(), m_lockDirectory.path()}
                            + runner + QStringList{QStringLiteral(LINEWATCH_PROGRAM)} + arguments);
        ASSERT_TRUE(m_program.waitForStarted());
        // Searched again if the search fails: it gives up outright when a
        // window it looks at goes away under it. Each search waits (--sync)
        // rather than polls: a busy loop of new clients kept Xvfb too busy
        // to take the program's own connection.
        ASSERT_TRUE(waitUntil([this] {
            m_window = xdotool({u"search"_s, u"--sync"_s, u"--onlyvisible"_s, u"--name"_s, u"^Form1$"_s}).trimmed();
            return !m_window.isEmpty();
        }, 15000)) << "no window titled Form1 appeared";
    }

    QByteArray run(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.setProcessEnvironment(m_environment);
        process.start(program, arguments);
        process.waitForFinished(15000);
        return process.readAllStandardOutput();
    }

    QByteArray xdotool(const QStringList &arguments) { return run(u"xdotool"_s, arguments); }

    void clickAt(QPoint point)
    {
        xdotool({u"mousemove"_s, u"--window"_s, QString::fromLatin1(m_window), QString::number(point.x()),
                 QString::number(point.y()), u"click"_s, u"1"_s});
    }

    // The program holds the line open when one of its descriptors is the port.
    bool programHoldsTheLine()
    {
        const QDir descriptors(u"/proc/"_s + QString::number(m_program.processId()) + u"/fd"_s);
        for (const QFileInfo &descriptor : descriptors.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
            const QString target = descriptor.symLinkTarget();
            if (target == u"/dev/ttyS0"_s || target == m_line.slavePath())
                return true;
        }
        return false;
    }

    QByteArray textShown()
    {
        clickAt(InTextBox);
        xdotool({u"key"_s, u"--window"_s, QString::fromLatin1(m_window), u"ctrl+a"_s, u"ctrl+c"_s});
        return run(u"xclip"_s, {u"-o"_s, u"-selection"_s, u"clipboard"_s});
    }

    QString lockFile() const { return m_lockDirectory.filePath(u"LCK..ttyS0"_s); }

    PseudoTerminal m_line;
    QTemporaryDir m_lockDirectory;
    QTemporaryDir m_session; // the session bus's socket, the program's runtime directory
    QProcess m_xvfb;
    QProcess m_bus;
    QString m_display;
    QProcessEnvironment m_environment;
    QProcess m_program;
    QByteArray m_window;
};

TEST_F(ProgramTest, OpenReceiveQuitShowsEveryCharacterAndExitsZero)
{
    startProgram();
    EXPECT_FALSE(programHoldsTheLine()) << "the port must stay closed until Open";

    clickAt(OpenButton);
    ASSERT_TRUE(waitUntil([this] { return programHoldsTheLine(); })) << "Open did not open port 1";
    EXPECT_TRUE(QFileInfo::exists(lockFile())) << "the open port is not locked";

    m_line.write("hello 123\r\nworld <b>x</b>\t~");
    const QByteArray expected = "Text1\r\nhello 123\r\nworld <b>x</b>\t~";
    QByteArray shown;
    EXPECT_TRUE(waitUntil([&] { return (shown = textShown()) == expected; }, 10000))
        << "shown: " << shown.toStdString();

    clickAt(QuitButton);
    ASSERT_TRUE(m_program.waitForFinished(10000)) << "Quit did not end the program";
    EXPECT_EQ(m_program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_program.exitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(lockFile())) << "the port's lock outlived the program";
}

// The program takes no command line: the toolkit's own options (a title, a
// size, a mirrored layout) must not act either.
TEST_F(ProgramTest, ToolkitOptionsOnTheCommandLineChangeNothing)
{
    startProgram({u"-qwindowtitle"_s, u"Changed"_s, u"-qwindowgeometry"_s, u"500x400"_s, u"-reverse"_s});
    const QByteArray geometry = xdotool({u"getwindowgeometry"_s, QString::fromLatin1(m_window)});
    EXPECT_TRUE(geometry.contains("Geometry: 246x209")) << geometry.toStdString();
    clickAt(OpenButton);
    EXPECT_TRUE(waitUntil([this] { return programHoldsTheLine(); })) << "Open is not where it belongs";
}

// Opening a terminal raises DTR and RTS, and a device that resets on them
// sees a pulse until the program lowers them again: both in one call, before
// anything is done to the line, after nothing but the two questions whether
// the line is someone else's. RTS held up with DTR down keeps many
// development boards in reset.
TEST_F(ProgramTest, DtrAndRtsAreLoweredTogetherBeforeTheLineIsSetUpAndStayLow)
{
    if (QStandardPaths::findExecutable(u"strace"_s).isEmpty())
        GTEST_SKIP() << "strace is not installed";
    QTemporaryDir traceDirectory;
    ASSERT_TRUE(traceDirectory.isValid());
    const QString tracePath = traceDirectory.filePath(u"calls"_s);
    startProgram({}, {u"strace"_s, u"-f"_s, u"-qq"_s, u"-e"_s, u"trace=openat,ioctl,flock"_s, u"-o"_s, tracePath});
    clickAt(OpenButton);
    ASSERT_TRUE(waitUntil([this] { return QFileInfo::exists(lockFile()); }, 15000)) << "Open did not open port 1";
    clickAt(QuitButton);
    ASSERT_TRUE(m_program.waitForFinished(15000)) << "Quit did not end the program";

    QFile traceFile(tracePath);
    ASSERT_TRUE(traceFile.open(QIODevice::ReadOnly));
    const QString trace = QString::fromUtf8(traceFile.readAll());
    const QRegularExpressionMatch opened =
        QRegularExpression(uR"(openat\(AT_FDCWD, "/dev/ttyS0", [^)]*\) = (\d+))"_s).match(trace);
    ASSERT_TRUE(opened.hasMatch()) << "port 1 was never opened";
    QStringList calls; // on the port, in order
    QStringList arguments;
    const QRegularExpression onPort(uR"((ioctl|flock)\(%1, ([A-Z0-9_]+)([^)]*))"_s.arg(opened.captured(1)));
    for (auto match = onPort.globalMatch(trace, opened.capturedEnd()); match.hasNext();) {
        const QRegularExpressionMatch call = match.next();
        calls.append(call.captured(1) == u"flock"_s ? u"flock"_s : call.captured(2));
        arguments.append(call.captured(3));
    }
    const qsizetype lowered = calls.indexOf(u"TIOCMBIC"_s);
    ASSERT_GE(lowered, 0) << "DTR was never lowered: " << calls.join(u' ').toStdString();
    EXPECT_TRUE(arguments[lowered].contains(u"TIOCM_DTR"_s) && arguments[lowered].contains(u"TIOCM_RTS"_s))
        << "the first lowering was not of both lines:" << arguments[lowered].toStdString();
    for (const QString &before : calls.first(lowered))
        EXPECT_TRUE(before == u"TIOCGEXCL"_s || before == u"flock"_s)
            << before.toStdString() << " came before DTR was lowered";
    for (const QString &after : calls.sliced(lowered))
        EXPECT_TRUE(after != u"TIOCMBIS"_s && after != u"TIOCMSET"_s) << after.toStdString() << " after DTR went low";
}

bool sameLine(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag
        && cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

// Ended from outside (kill, Ctrl+C in the terminal that started it, the end
// of a session) or by losing its display, the program leaves the port the
// way the close box does: the device's own settings back, its lock gone.
TEST_F(ProgramTest, SignalsAndALostDisplayLeaveThePortAsTheProgramFoundIt)
{
    termios original = m_line.attributes();
    cfsetispeed(&original, B4800);
    cfsetospeed(&original, B4800);
    ASSERT_EQ(::tcsetattr(m_line.masterFd(), TCSANOW, &original), 0);
    original = m_line.attributes();

    // 0 stands for the X server going away; it comes last, as it takes the
    // display with it.
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, 0}) {
        SCOPED_TRACE(signal == 0 ? "display lost" : ::strsignal(signal));
        startProgram();
        clickAt(OpenButton);
        ASSERT_TRUE(waitUntil([this] { return programHoldsTheLine() && QFileInfo::exists(lockFile()); }))
            << "Open did not open port 1";
        ASSERT_FALSE(sameLine(m_line.attributes(), original)) << "the program did not set the line up";

        if (signal != 0) {
            ASSERT_EQ(::kill(static_cast<pid_t>(m_program.processId()), signal), 0);
        } else {
            // Ended cleanly, so that its display number and socket are free
            // again for the tests after this one.
            m_xvfb.terminate();
            ASSERT_TRUE(m_xvfb.waitForFinished(10000));
        }
        ASSERT_TRUE(m_program.waitForFinished(10000)) << "the program did not end";
        EXPECT_FALSE(QFileInfo::exists(lockFile())) << "the port's lock outlived the program";
        EXPECT_TRUE(sameLine(m_line.attributes(), original)) << "the device kept the program's settings";
        if (signal != 0) {
            // Ended by that signal, as whoever sent it expects.
            EXPECT_EQ(m_program.exitStatus(), QProcess::CrashExit);
        } else {
            EXPECT_EQ(m_program.exitStatus(), QProcess::NormalExit);
            EXPECT_NE(m_program.exitCode(), 0);
        }
    }
}

// The reader thread must not keep the program from ending, however busy the
// line and the window are. (How long the end takes is a figure for the
// benchmarks; the bound here only guards against a hang.)
TEST_F(ProgramTest, QuitWhileTheLineRunsFlatOutEndsTheProgram)
{
    startProgram();
    clickAt(OpenButton);
    ASSERT_TRUE(waitUntil([this] { return programHoldsTheLine(); })) << "Open did not open port 1";

    FloodWriter writer(m_line.masterFd());
    // Far more than the line holds: the program is reading all along.
    ASSERT_TRUE(waitUntil([&] { return writer.written() > 4 * 1024 * 1024; }, 15000))
        << "only " << writer.written() << " bytes were taken";

    clickAt(QuitButton);
    ASSERT_TRUE(m_program.waitForFinished(15000)) << "Quit did not end the program";
    EXPECT_EQ(m_program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_program.exitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(lockFile())) << "the port's lock outlived the program";
}

} // namespace
