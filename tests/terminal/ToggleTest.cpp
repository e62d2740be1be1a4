#include "Form1Fixture.h"

using namespace Qt::StringLiterals;
using Call = FakeSerialControl::Call;

namespace {

class ToggleTest : public Form1Fixture
{
protected:
    void SetUp() override
    {
        load();
        show();
        m_comm1->clearCalls();
    }
};

TEST_F(ToggleTest, OpenSetsCaptionFirstThenOpensAndStartsANewLine)
{
    click(command1());

    // The log first: the test's own look at PortOpen below is recorded too.
    EXPECT_EQ(m_comm1->calls(), (QStringList{u"PortOpen?"_s, u"PortOpen=true"_s}));
    EXPECT_EQ(command1().Caption(), u"Close"_s);
    EXPECT_TRUE(m_comm1->PortOpen());
    EXPECT_EQ(text1().Text(), u"Text1\r\n"_s);
}

TEST_F(ToggleTest, EachOpenAppendsOneLineBreakAndCloseAppendsNothing)
{
    click(command1());
    click(command1());
    EXPECT_EQ(command1().Caption(), u"Open"_s);
    EXPECT_FALSE(m_comm1->PortOpen());
    EXPECT_EQ(text1().Text(), u"Text1\r\n"_s);

    click(command1());
    EXPECT_EQ(command1().Caption(), u"Close"_s);
    EXPECT_EQ(text1().Text(), u"Text1\r\n\r\n"_s);
}

TEST_F(ToggleTest, DecisionRestsOnThePortNotTheCaption)
{
    m_comm1->forcePortOpen(true); // the caption still says "Open"

    click(command1());

    EXPECT_FALSE(m_comm1->PortOpen());
    EXPECT_EQ(command1().Caption(), u"Open"_s);
    EXPECT_EQ(text1().Text(), u"Text1"_s);
}

TEST_F(ToggleTest, FailedOpenKeepsTextAndOffersOpenAgain)
{
    text1().setText(u"Text1\r\nreceived before"_s);
    m_comm1->failOn(Call::SetPortOpen, failure(1012, "/dev/ttyS0: Device or resource busy"));
    QString captionWhileTold;
    m_host.setOnMessageBox([&](const QString &) { captionWhileTold = command1().Caption(); });

    click(command1());

    EXPECT_EQ(m_host.messages(),
              QStringList{u"Error on Comm port 1\r\n1012: /dev/ttyS0: Device or resource busy"_s});
    EXPECT_EQ(captionWhileTold, u"Open"_s) << "the port never opened, yet the button offered Close";
    EXPECT_EQ(command1().Caption(), u"Open"_s);
    EXPECT_EQ(text1().Text(), u"Text1\r\nreceived before"_s);
    EXPECT_FALSE(m_host.ended());

    // Once the device is free, the next click opens it as usual.
    m_comm1->succeedOn(Call::SetPortOpen);
    click(command1());
    EXPECT_EQ(command1().Caption(), u"Close"_s);
    EXPECT_EQ(text1().Text(), u"Text1\r\nreceived before\r\n"_s);
    EXPECT_EQ(m_host.messages().size(), 1);
}

TEST_F(ToggleTest, FailedCloseTakesTheDefaultReportAfterTheCaptionChanged)
{
    click(command1());
    m_comm1->failOn(Call::SetPortOpen, failure(1014, "/dev/ttyS0: Input/output error"));

    click(command1());

    EXPECT_EQ(command1().Caption(), u"Open"_s);
    EXPECT_EQ(m_host.messages(), QStringList{Host::defaultReportText(failure(1014, "/dev/ttyS0: Input/output error"))});
    EXPECT_TRUE(m_host.ended());
    EXPECT_EQ(m_host.exitStatus(), 1);

    // An ended program runs no further handler.
    m_comm1->succeedOn(Call::SetPortOpen);
    click(command1());
    EXPECT_EQ(command1().Caption(), u"Open"_s);
}

TEST_F(ToggleTest, QuitEndsWithStatusZeroWithoutTouchingThePort)
{
    click(command1());
    m_comm1->clearCalls();

    click(command2());

    EXPECT_TRUE(m_host.ended());
    EXPECT_EQ(m_host.exitStatus(), 0);
    EXPECT_TRUE(m_comm1->calls().isEmpty());
    EXPECT_TRUE(m_host.messages().isEmpty());
}


} // namespace
