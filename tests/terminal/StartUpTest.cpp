#include "Form1Fixture.h"

using namespace Qt::StringLiterals;
using Call = FakeSerialControl::Call;

namespace {

class StartUpTest : public Form1Fixture
{
};

// The log is the whole check of what Load does to the port: the fake's
// properties change only through the calls it records.
const QStringList NormalStart = {
    u"DTREnable=false"_s, u"Settings=9600,n,8,1"_s, u"CommPort=1"_s, u"RThreshold=1"_s,
    u"CommPort?"_s, u"PortOpen?"_s,
};

TEST_F(StartUpTest, NormalStartConfiguresTheLineInOrderAndShowsNoMessage)
{
    load();

    EXPECT_EQ(m_comm1->calls(), NormalStart);
    EXPECT_TRUE(m_host.messages().isEmpty());
    // The port stays closed, and the window says so and shows nothing received.
    EXPECT_EQ(command1().Caption(), u"Open"_s);
    EXPECT_EQ(text1().Text(), u"Text1"_s);
    EXPECT_FALSE(m_host.ended());
}

TEST_F(StartUpTest, PortFoundOpenIsClosed)
{
    m_comm1->forcePortOpen(true);

    load();

    EXPECT_EQ(m_comm1->calls(), QStringList(NormalStart) << u"PortOpen=false"_s);
    EXPECT_TRUE(m_host.messages().isEmpty());
    EXPECT_EQ(command1().Caption(), u"Open"_s) << "the port Load closed is offered as closed";
}

TEST_F(StartUpTest, FailedSettingsIsReportedWithoutPortLabelAndLaterStepsStillRun)
{
    m_comm1->failOn(Call::SetSettings, failure(1001, "bad settings"));

    load();

    EXPECT_EQ(m_host.messages(), QStringList{u"Error on \r\n1001: bad settings"_s});
    EXPECT_EQ(m_comm1->calls(), NormalStart);
    EXPECT_FALSE(m_host.ended());
}

TEST_F(StartUpTest, EveryFailingStepGivesOneMessageInStepOrder)
{
    m_comm1->forcePortOpen(true);
    m_comm1->failOn(Call::SetDTREnable, failure(-1, "dtr"));
    m_comm1->failOn(Call::SetSettings, failure(2, "settings"));
    m_comm1->failOn(Call::SetCommPort, failure(3, "port"));
    m_comm1->failOn(Call::SetRThreshold, failure(2147483647, "threshold"));
    m_comm1->failOn(Call::SetPortOpen, failure(-2147483647 - 1, "close"));

    load();

    // The failed CommPort set left the fake on port 3, and step 6 reads it back.
    EXPECT_EQ(m_host.messages(), (QStringList{
                                     u"Error on \r\n-1: dtr"_s,
                                     u"Error on \r\n2: settings"_s,
                                     u"Error on \r\n3: port"_s,
                                     u"Error on \r\n2147483647: threshold"_s,
                                     u"Error on Comm port 3\r\n-2147483648: close"_s,
                                 }));
    EXPECT_EQ(m_comm1->calls(), QStringList(NormalStart) << u"PortOpen=false"_s);
}

TEST_F(StartUpTest, FailedCommPortReadLeavesEveryLaterMessageWithoutLabel)
{
    m_comm1->failOn(Call::GetCommPort, failure(11, "read port"));
    m_comm1->failOn(Call::GetPortOpen, failure(12, "read open"));

    load();

    EXPECT_EQ(m_host.messages(), (QStringList{u"Error on \r\n11: read port"_s, u"Error on \r\n12: read open"_s}));
}

TEST_F(StartUpTest, FailedPortOpenReadIsFollowedByAnAttemptToClose)
{
    m_comm1->failOn(Call::GetPortOpen, failure(20, "read open"));

    load();

    EXPECT_EQ(m_comm1->calls(), QStringList(NormalStart) << u"PortOpen=false"_s);
    EXPECT_EQ(m_host.messages(), QStringList{u"Error on Comm port 1\r\n20: read open"_s});
}

TEST_F(StartUpTest, FailedCloseAfterFailedReadGivesASecondMessageThenLoadEnds)
{
    m_comm1->failOn(Call::GetPortOpen, failure(20, "read open"));
    m_comm1->failOn(Call::SetPortOpen, failure(21, "close"));

    load();

    EXPECT_EQ(m_host.messages(), (QStringList{u"Error on Comm port 1\r\n20: read open"_s,
                                              u"Error on Comm port 1\r\n21: close"_s}));
    EXPECT_EQ(m_comm1->calls().size(), NormalStart.size() + 1);
    EXPECT_FALSE(m_host.ended());
}

TEST_F(StartUpTest, FailureInsideTheReportSectionTakesTheDefaultReportAndEnds)
{
    m_comm1->failOn(Call::SetDTREnable, failure(30, "dtr"));
    m_host.setOnMessageBox([this](const QString &) {
        m_host.setOnMessageBox(nullptr); // only the first box fails
        throw failure(31, "no box");
    });

    load();

    EXPECT_EQ(m_host.messages(), (QStringList{u"Error on \r\n30: dtr"_s, Host::defaultReportText(failure(31, "no box"))}));
    // The trap was inactive: Load did not resume with the next step.
    EXPECT_EQ(m_comm1->calls(), QStringList{u"DTREnable=false"_s});
    EXPECT_TRUE(m_host.ended());
    EXPECT_NE(m_host.exitStatus(), 0);
}

} // namespace
