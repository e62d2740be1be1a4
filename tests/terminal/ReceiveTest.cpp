#include "Form1Fixture.h"
#include "Wait.h"

using namespace Qt::StringLiterals;
using Call = FakeSerialControl::Call;

namespace {

class ReceiveTest : public Form1Fixture
{
protected:
    void SetUp() override
    {
        load();
        show();
    }
};

TEST_F(ReceiveTest, BurstsFollowTheOpeningLineBreakWithNothingBetween)
{
    click(command1());

    m_comm1->receive(u"abc"_s);
    m_comm1->receive(u"de\r\n\0\u00ff"_s);

    EXPECT_EQ(text1().Text(), u"Text1\r\nabcde\r\n\0\u00ff"_s);
}

TEST_F(ReceiveTest, OnCommWithNothingWaitingLeavesTheTextAsItWas)
{
    click(command1());
    m_comm1->clearCalls();

    Q_EMIT m_comm1->OnComm();

    EXPECT_EQ(text1().Text(), u"Text1\r\n"_s);
    // It reads Input regardless and never asks whether the port is open.
    EXPECT_EQ(m_comm1->calls(), QStringList{u"Input?"_s});
}

TEST_F(ReceiveTest, EnabledTimerAppendsOnlyWhileOpenAndNeverTwice)
{
    timer1().setInterval(5);
    timer1().setEnabled(true);

    // Closed: ticks look at PortOpen and nothing else.
    m_comm1->clearCalls();
    ASSERT_TRUE(waitUntil([this] { return m_comm1->calls().size() >= 2; }));
    EXPECT_EQ(m_comm1->calls().filter(u"Input"_s).size(), 0);
    EXPECT_EQ(text1().Text(), u"Text1"_s);

    click(command1());
    // Characters wait without an OnComm: only the timer can pick them up.
    QSignalBlocker quiet(m_comm1);
    m_comm1->receive(u"xy"_s);
    EXPECT_TRUE(waitUntil([this] { return text1().Text() == u"Text1\r\nxy"_s; }));

    // A few more ticks, each taking input again, add nothing.
    const auto inputReads = [this] { return m_comm1->calls().count(u"Input?"_s); };
    const qsizetype readsBefore = inputReads();
    ASSERT_TRUE(waitUntil([&] { return inputReads() >= readsBefore + 3; }));
    EXPECT_EQ(text1().Text(), u"Text1\r\nxy"_s);
}

TEST_F(ReceiveTest, FailedInputReadTakesTheDefaultReport)
{
    click(command1());
    m_comm1->failOn(Call::GetInput, failure(1014, "/dev/ttyS0: Input/output error"));

    m_comm1->receive(u"lost?"_s);

    EXPECT_TRUE(m_host.ended());
    EXPECT_EQ(m_host.exitStatus(), 1);
    EXPECT_EQ(m_host.messages(), QStringList{Host::defaultReportText(failure(1014, "/dev/ttyS0: Input/output error"))});
}

} // namespace
