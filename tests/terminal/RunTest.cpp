#include "Form1Fixture.h"

#include <QtCore/QTimer>

using namespace Qt::StringLiterals;

namespace {

// The whole run as main() does it: Load, the window shown, the event loop.
class RunTest : public Form1Fixture
{
protected:
    int run() { return m_host.run(m_form.window(), [this] { m_form.Form_Load(); }); }

    // Queued, so it happens once the event loop runs.
    template<typename Action>
    void later(Action action) { QTimer::singleShot(0, &m_form.window(), action); }
};

TEST_F(RunTest, LoadRunsBeforeTheWindowIsFirstShown)
{
    bool visibleDuringLoad = true;
    m_host.setOnMessageBox([this, &visibleDuringLoad](const QString &) {
        visibleDuringLoad = m_form.window().isVisible();
    });
    m_comm1->failOn(FakeSerialControl::Call::SetSettings, failure(1001, "bad"));
    later([this] { click(command2()); });

    EXPECT_EQ(run(), 0);
    EXPECT_FALSE(visibleDuringLoad);
    EXPECT_EQ(m_host.messages().size(), 1);
}

TEST_F(RunTest, QuitEndsTheRunWithStatusZero)
{
    later([this] {
        click(command1());
        click(command2());
    });

    EXPECT_EQ(run(), 0);
    EXPECT_EQ(text1().Text(), u"Text1\r\n"_s);
}

TEST_F(RunTest, ClosingTheWindowEndsTheRunLikeQuit)
{
    later([this] { m_form.window().close(); });

    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(m_host.ended());
}

TEST_F(RunTest, UntrappedFailureEndsTheRunWithANonZeroStatus)
{
    m_comm1->failOn(FakeSerialControl::Call::GetPortOpen, failure(1014, "/dev/ttyS0: Input/output error"));
    later([this] { click(command1()); });

    EXPECT_EQ(run(), 1);
    // One box from Load (trapped), one default report from the click.
    EXPECT_EQ(m_host.messages().size(), 2);
}

} // namespace
