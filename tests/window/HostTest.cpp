#include "CommandButton.h"
#include "ErrorTrap.h"
#include "Host.h"
#include "RecordingHost.h"
#include "Wait.h"

#include <QtCore/QScopeGuard>
#include <QtCore/QTimer>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QProxyStyle>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

// A style as desktops set it up, putting icons on dialog buttons.
class ButtonIconsStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_DialogButtonBox_ButtonsHaveIcons)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// The box the user really sees: the application's title, the text as plain
// text with its line break, one OK button and no icon, on the box or on the
// button, whatever the style would put there.
TEST(HostTest, MessageBoxIsPlainTextWithOneOkButtonAndNoIcon)
{
    const QString styleBefore = QApplication::style()->name();
    QApplication::setStyle(new ButtonIconsStyle);
    const auto restoreStyle = qScopeGuard([&] { QApplication::setStyle(styleBefore); });
    Host host(u"linewatch"_s);
    bool shown = false;
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QList<QMessageBox::StandardButton> buttons;
    bool anyIcon = true;
    QTimer::singleShot(0, [&] {
        (void)waitUntil([&] { return qobject_cast<QMessageBox *>(QApplication::activeModalWidget()); });
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        shown = true;
        title = box->windowTitle();
        text = box->text();
        format = box->textFormat();
        anyIcon = !box->iconPixmap().isNull();
        for (QAbstractButton *button : box->buttons()) {
            buttons.append(box->standardButton(button));
            anyIcon = anyIcon || !button->icon().isNull();
        }
        for (const QLabel *label : box->findChildren<QLabel *>())
            anyIcon = anyIcon || !label->pixmap().isNull();
        box->accept();
    });

    host.messageBox(u"Error on Comm port 1\r\n1012: <b>busy</b>"_s);

    ASSERT_TRUE(shown) << "no message box was shown";
    EXPECT_EQ(title, u"linewatch"_s);
    EXPECT_EQ(text, u"Error on Comm port 1\n1012: <b>busy</b>"_s);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(buttons, QList{QMessageBox::Ok});
    EXPECT_FALSE(anyIcon);
}

TEST(HostTest, EventsDuringARunningHandlerWaitAndAreCoalesced)
{
    RecordingHost host;
    CommandButton source;
    int depth = 0;
    int deepest = 0;
    int runs = 0;
    host.connect(&source, &CommandButton::Click, [&] {
        ++runs;
        ++depth;
        deepest = std::max(deepest, depth);
        if (runs == 1) {
            // As if a nested event loop delivered them while this one runs.
            for (int i = 0; i < 5; ++i)
                Q_EMIT source.Click();
        }
        --depth;
    });

    Q_EMIT source.Click();

    EXPECT_EQ(deepest, 1) << "a handler was entered while another ran";
    EXPECT_EQ(runs, 2) << "the five events that waited are one";
}

TEST(HostTest, HeldBackEventsOfDifferentHandlersRunInArrivalOrder)
{
    RecordingHost host;
    CommandButton first;
    CommandButton second;
    QStringList order;
    host.connect(&second, &CommandButton::Click, [&] { order << u"second"_s; });
    host.connect(&first, &CommandButton::Click, [&] {
        order << u"first"_s;
        if (order.size() == 1) {
            Q_EMIT second.Click();
            Q_EMIT first.Click();
            Q_EMIT second.Click();
        }
    });

    Q_EMIT first.Click();

    EXPECT_EQ(order, (QStringList{u"first"_s, u"second"_s, u"first"_s}));
}

// A handler behind a closed gate does not run; the user is told once, not
// once per event; and when the gate opens one run takes all that waited,
// even events that came while the gate's own message was up.
TEST(HostTest, EventsAtAClosedGateWaitAreToldOnceAndRunOnceItOpens)
{
    RecordingHost host;
    CommandButton source;
    CommandButton other;
    bool closed = true;
    int runs = 0;
    int otherRuns = 0;
    auto gate = std::make_shared<Host::Gate>();
    gate->closed = [&closed] { return closed; };
    gate->closing = [&host] { host.messageBox(u"full"_s); };
    host.setOnMessageBox([&source](const QString &) { Q_EMIT source.Click(); });
    host.connect(&source, &CommandButton::Click, [&runs] { ++runs; }, gate);
    host.connect(&other, &CommandButton::Click, [&otherRuns] { ++otherRuns; });

    Q_EMIT source.Click();
    Q_EMIT source.Click();
    Q_EMIT other.Click();
    host.retryHeld();
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(otherRuns, 1) << "a gate holds back only its own handlers";
    EXPECT_EQ(host.messages(), QStringList{u"full"_s});

    closed = false;
    host.retryHeld();
    EXPECT_EQ(runs, 1);
    Q_EMIT source.Click();
    EXPECT_EQ(runs, 2);

    // Closed again: told again.
    closed = true;
    Q_EMIT source.Click();
    EXPECT_EQ(host.messages(), (QStringList{u"full"_s, u"full"_s}));
    EXPECT_EQ(runs, 2);
}

TEST(HostTest, UntrappedFailureIsShownWithNumberAndDescriptionThenEndsNonZero)
{
    RecordingHost host;
    CommandButton source;
    int runs = 0;
    host.connect(&source, &CommandButton::Click, [&] {
        ++runs;
        throw ErrorReport(-5, u"/dev/ttyS0: Input/output error"_s);
    });

    Q_EMIT source.Click();
    Q_EMIT source.Click();

    ASSERT_EQ(host.messages().size(), 1);
    EXPECT_TRUE(host.messages().front().contains(u"-5"_s));
    EXPECT_TRUE(host.messages().front().contains(u"/dev/ttyS0: Input/output error"_s));
    EXPECT_TRUE(host.ended());
    EXPECT_NE(host.exitStatus(), 0);
    EXPECT_EQ(runs, 1) << "a handler ran after the program ended";
}

TEST(HostTest, ForeignExceptionIsReportedLikeAFailureNotPassedToQt)
{
    RecordingHost host;
    host.invoke([] { throw std::runtime_error("broken"); });

    ASSERT_EQ(host.messages().size(), 1);
    EXPECT_TRUE(host.messages().front().contains(u"broken"_s));
    EXPECT_TRUE(host.ended());
    EXPECT_NE(host.exitStatus(), 0);
}

TEST(HostTest, ThrownNonExceptionIsReportedAsUnknownFailureNotPassedToQt)
{
    struct NotAnException
    {
    };
    const std::function<void()> throwers[] = {[] { throw 42; }, [] { throw NotAnException(); }};
    for (const std::function<void()> &thrower : throwers) {
        RecordingHost host;
        host.invoke(thrower);

        EXPECT_EQ(host.messages(),
                  QStringList{Host::defaultReportText(ErrorReport(1099, u"Unknown failure"_s))});
        EXPECT_TRUE(host.ended());
        EXPECT_EQ(host.exitStatus(), 1);
    }
}

TEST(HostTest, EndProgramKeepsItsStatusAndStopsLaterHandlers)
{
    RecordingHost host;
    int runs = 0;
    host.invoke([&] { host.endProgram(0); });
    host.invoke([&] { ++runs; });
    host.endProgram(3);

    EXPECT_TRUE(host.ended());
    EXPECT_EQ(host.exitStatus(), 0);
    EXPECT_EQ(runs, 0);
}

TEST(ErrorTrapTest, FailedStepGoesToTheReportSectionAndTheNextStepRuns)
{
    QStringList events;
    const ErrorTrap trap([&](const ErrorReport &failure) {
        events << u"report "_s + QString::number(failure.Number()) + u" "_s + failure.Description();
    });

    trap.run([&] { events << u"step 1"_s; });
    trap.run([] { throw ErrorReport(7, u"seven"_s); });
    trap.run([&] { events << u"step 3"_s; });

    EXPECT_EQ(events, (QStringList{u"step 1"_s, u"report 7 seven"_s, u"step 3"_s}));
}

TEST(ErrorTrapTest, FailureInTheReportSectionLeavesTheTrap)
{
    const ErrorTrap trap([](const ErrorReport &) { throw ErrorReport(2, u"in the report"_s); });

    try {
        trap.run([] { throw ErrorReport(1, u"in the step"_s); });
        FAIL() << "the report section's failure was swallowed";
    } catch (const ErrorReport &failure) {
        EXPECT_EQ(failure.Number(), 2);
    }
}

TEST(ErrorTrapTest, OnlyErrorReportsAreTrapped)
{
    int reports = 0;
    const ErrorTrap trap([&](const ErrorReport &) { ++reports; });

    EXPECT_THROW(trap.run([] { throw std::logic_error("not a control's failure"); }), std::logic_error);
    EXPECT_EQ(reports, 0);
}

} // namespace
