// Form1 over the real serial control and a pseudo-terminal: what the user
// sees when a device comes and goes and when it sends bytes that look like
// markup or terminal commands.
#include "CommandButton.h"
#include "CpuUse.h"
#include "ErrorReport.h"
#include "Form1.h"
#include "PortNeighbours.h"
#include "PseudoTerminal.h"
#include "RecordingHost.h"
#include "SerialPortControl.h"
#include "TextBox.h"
#include "Wait.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include <sys/file.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int Patience = 10000; // ms; generous, only reached when something is wrong

qsizetype entriesIn(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
}

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

class RealLineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_host.invoke([this] { m_form.Form_Load(); });
        m_form.window().show();
        QApplication::processEvents();
    }

    void clickOpenClose() { QTest::mouseClick(&command1(), Qt::LeftButton); }

    TextBox &text1() { return m_form.window().textBox(u"Text1"_s); }
    CommandButton &command1() { return m_form.window().commandButton(u"Command1"_s); }

    RecordingHost m_host;
    std::unique_ptr<PseudoTerminal> m_line; // port 1, when there is one
    // Made here, owned by the form; the test keeps an eye on its events.
    std::unique_ptr<SerialPortControl> m_made = std::make_unique<SerialPortControl>(
        [this](std::int16_t) { return m_line ? m_line->slavePath() : u"/dev/linewatch-no-line"_s; });
    SerialPortControl *m_comm1 = m_made.get();
    Form1 m_form{m_host, std::move(m_made)};
};

} // namespace

TEST_F(RealLineTest, ReceivedMarkupEscapesAndBellsStayCharacters)
{
    m_line = std::make_unique<PseudoTerminal>();
    clickOpenClose();
    ASSERT_EQ(command1().Caption(), u"Close"_s) << m_host.messages().join(u'\n').toStdString();

    m_line->write("<b>x</b>\x1b[2J\x07|&amp;\x1b]0;title\x07");
    const QString expected = u"Text1\r\n<b>x</b>\u001b[2J\u0007|&amp;\u001b]0;title\u0007"_s;
    EXPECT_TRUE(waitUntil([&] { return text1().Text() == expected; }, Patience))
        << "shown: " << text1().Text().toString().toStdString();
    EXPECT_TRUE(m_host.messages().isEmpty());
}

// Open, receive, device gone, "Close", a new device, "Open", a hundred
// times over one control: every byte taken before each hang-up is shown
// once, and nothing (descriptor, thread) is left over from the dead lines.
TEST_F(RealLineTest, HangUpAgainAndAgainLeaksNothingAndLosesNothing)
{
    constexpr int cycles = 100;
    int linesLost = 0;
    QObject::connect(m_comm1, &SerialControl::OnComm, m_comm1, [&] {
        if (m_comm1->commEvent() == LineEvent::LineLost)
            ++linesLost;
    });

    const qsizetype descriptorsBefore = entriesIn(u"/proc/self/fd"_s);
    const qsizetype threadsBefore = entriesIn(u"/proc/self/task"_s);
    const CpuUse cycling;

    QString expected = u"Text1"_s;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        SCOPED_TRACE(cycle);
        m_line = std::make_unique<PseudoTerminal>();
        const QString lockFile = m_line->lockFilePath();
        clickOpenClose();
        ASSERT_EQ(command1().Caption(), u"Close"_s) << m_host.messages().join(u'\n').toStdString();
        ASSERT_TRUE(m_comm1->PortOpen());
        expected += u"\r\n"_s;

        const QByteArray sent = "cycle " + QByteArray::number(cycle) + " \x01\xff<i>\r\n";
        m_line->write(sent);
        expected += QString::fromLatin1(sent);
        ASSERT_TRUE(waitUntil([&] { return text1().Text() == expected; }, Patience))
            << "shown: " << text1().Text().toString().toStdString();

        m_line->hangUp();
        ASSERT_TRUE(waitUntil([&] { return linesLost == cycle + 1; }, Patience));
        EXPECT_FALSE(QFile::exists(lockFile)) << "the dead line's lock is still held";
        EXPECT_TRUE(m_comm1->PortOpen()) << "the loss closed the port behind the user's back";
        EXPECT_EQ(command1().Caption(), u"Close"_s);

        clickOpenClose();
        ASSERT_EQ(command1().Caption(), u"Open"_s);
        ASSERT_FALSE(m_comm1->PortOpen());
        m_line.reset();
    }
    runEventsFor(100);

    const double cpuUsed = cycling.cpuSeconds();
    const double wallUsed = cycling.wallSeconds();
    EXPECT_TRUE(text1().Text() == expected) << "shown: " << text1().Text().toString().toStdString();
    // A leak would grow by one with each of the hundred cycles. Qt may start
    // a pooled painting thread of its own meanwhile, with an event
    // descriptor, which stays for half a minute.
    EXPECT_LE(entriesIn(u"/proc/self/fd"_s), descriptorsBefore + 1);
    EXPECT_LE(entriesIn(u"/proc/self/task"_s), threadsBefore + 1);
    // A thread spinning on a dead line would keep a core busy all along.
    EXPECT_LT(cpuUsed, wallUsed / 2) << cpuUsed << " s of CPU in " << wallUsed << " s";
    EXPECT_TRUE(m_host.messages().isEmpty()) << m_host.messages().join(u'\n').toStdString();
}

// A port that cannot be opened, because there is no device or another
// program holds it, is reported with its number while the button already
// offers "Open" again; nothing is added to the text, and the program goes on
// to open the port once it can.
TEST_F(RealLineTest, AFailedOpenIsReportedWithThePortAndTheProgramGoesOn)
{
    QStringList captionsWhileTold;
    m_host.setOnMessageBox([&](const QString &) { captionsWhileTold.append(command1().Caption()); });

    clickOpenClose();
    EXPECT_EQ(m_host.messages(),
              QStringList{u"Error on Comm port 1\r\n%1: /dev/linewatch-no-line: %2"_s.arg(ErrorNumber::DeviceAbsent)
                              .arg(reason(ENOENT))});

    m_line = std::make_unique<PseudoTerminal>();
    {
        const Descriptor other(m_line->slavePath());
        ASSERT_EQ(::flock(other.fd(), LOCK_EX | LOCK_NB), 0);
        clickOpenClose();
    }
    ASSERT_EQ(m_host.messages().size(), 2);
    const QString inUse = u"Error on Comm port 1\r\n%1: %2: %3"_s.arg(ErrorNumber::DeviceInUse)
                              .arg(m_line->slavePath(), reason(EBUSY));
    EXPECT_TRUE(m_host.messages().at(1).startsWith(inUse)) << m_host.messages().at(1).toStdString();

    EXPECT_EQ(captionsWhileTold, (QStringList{u"Open"_s, u"Open"_s}))
        << "the port never opened, yet the button offered " << captionsWhileTold.join(u", ").toStdString();
    EXPECT_EQ(command1().Caption(), u"Open"_s);
    EXPECT_FALSE(m_comm1->PortOpen());
    EXPECT_EQ(text1().Text(), u"Text1"_s);
    EXPECT_FALSE(m_host.ended());

    clickOpenClose();
    EXPECT_EQ(command1().Caption(), u"Close"_s);
    EXPECT_TRUE(m_comm1->PortOpen());
    EXPECT_EQ(text1().Text(), u"Text1\r\n"_s);
    EXPECT_EQ(m_host.messages().size(), 2);
}
