#include "Form1Fixture.h"
#include "Wait.h"

#include <QtGui/QAccessible>
#include <QtGui/QWindow>
#include <QtWidgets/QApplication>
#include <QtWidgets/QScrollBar>

using namespace Qt::StringLiterals;

namespace {

class Form1WindowTest : public Form1Fixture
{
protected:
    void SetUp() override
    {
        load();
        show();
    }
};

TEST_F(Form1WindowTest, StartsAsStoredWithTextOpenAndQuit)
{
    Window &window = m_form.window();
    EXPECT_EQ(window.windowTitle(), u"Form1"_s);
    EXPECT_EQ(window.size(), QSize(246, 209));

    EXPECT_EQ(text1().geometry(), QRect(12, 16, 217, 125));
    EXPECT_EQ(command1().geometry(), QRect(60, 160, 53, 29));
    EXPECT_EQ(command2().geometry(), QRect(120, 160, 53, 29));

    EXPECT_EQ(text1().Text(), u"Text1"_s);
    EXPECT_EQ(command1().Caption(), u"Open"_s);
    EXPECT_EQ(command2().Caption(), u"Quit"_s);
    EXPECT_EQ(timer1().Interval(), 500);
    EXPECT_FALSE(timer1().Enabled());
    EXPECT_TRUE(m_host.messages().isEmpty());
}

// Text1 is a multi-line box with both scroll bars: they are always there,
// and usable only while there is something to scroll.
TEST_F(Form1WindowTest, Text1ShowsBothScrollBarsEnabledOnlyWhileThereIsSomethingToScroll)
{
    QScrollBar *vertical = text1().verticalScrollBar();
    QScrollBar *horizontal = text1().horizontalScrollBar();
    const auto expectBars = [&](bool verticalEnabled, bool horizontalEnabled) {
        QApplication::processEvents();
        EXPECT_TRUE(vertical->isVisible());
        EXPECT_TRUE(horizontal->isVisible());
        EXPECT_EQ(vertical->isEnabled(), verticalEnabled);
        EXPECT_EQ(horizontal->isEnabled(), horizontalEnabled);
    };
    expectBars(false, false);

    text1().setText(u"Text1"_s + u"\r\nline"_s.repeated(20));
    expectBars(true, false);
    text1().setText(u"Text1 "_s + QString(200, u'x'));
    expectBars(false, true);
    text1().setText(u"Text1"_s);
    expectBars(false, false);
}

TEST_F(Form1WindowTest, TextBoxHasFocusAndTabMovesToOpenThenQuit)
{
    EXPECT_EQ(m_form.window().focusWidget(), &text1());
    if (QApplication::focusWidget() != &text1())
        GTEST_SKIP() << "this platform gives no window the keyboard focus";

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), &command1());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), &command2());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), &text1());
}

TEST_F(Form1WindowTest, SpaceClicksTheFocusedButton)
{
    command1().setFocus(Qt::TabFocusReason);
    QTest::keyClick(&command1(), Qt::Key_Space);

    EXPECT_TRUE(m_comm1->PortOpen());
    EXPECT_EQ(command1().Caption(), u"Close"_s);

    command2().setFocus(Qt::TabFocusReason);
    QTest::keyClick(&command2(), Qt::Key_Space);
    EXPECT_TRUE(m_host.ended());
}

TEST_F(Form1WindowTest, EveryControlHasAnAccessibleNameAndDescription)
{
    for (QWidget *control : std::initializer_list<QWidget *>{&text1(), &command1(), &command2()}) {
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control);
        ASSERT_NE(accessible, nullptr) << control->objectName().toStdString();
        EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty()) << control->objectName().toStdString();
        EXPECT_FALSE(accessible->text(QAccessible::Description).isEmpty()) << control->objectName().toStdString();
    }
    // A button is called by what it will do next.
    click(command1());
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&command1())->text(QAccessible::Name), u"Close"_s);
}

// Run by its own CTest entry with QT_SCALE_FACTOR=2.
TEST_F(Form1WindowTest, ScaledScreenScalesWindowAndControlsTogether)
{
    const qreal ratio = m_form.window().devicePixelRatioF();
    if (ratio != 2.0)
        GTEST_SKIP() << "runs at a scale factor of 2 (QT_SCALE_FACTOR=2), not " << ratio;

    // Grabs are in physical pixels: twice the stored layout everywhere.
    EXPECT_EQ(m_form.window().grab().toImage().size(), QSize(492, 418));
    EXPECT_EQ(command1().grab().toImage().size(), QSize(106, 58));
    EXPECT_EQ(text1().grab().toImage().size(), QSize(434, 250));
    EXPECT_EQ(command1().geometry(), QRect(60, 160, 53, 29));
}

TEST_F(Form1WindowTest, ResizingLeavesTheControlsWhereTheyAre)
{
    const QRect text = text1().geometry();
    const QRect open = command1().geometry();
    const QRect quit = command2().geometry();

    m_form.window().resize(600, 500);
    QApplication::processEvents();
    EXPECT_EQ(text1().geometry(), text);
    EXPECT_EQ(command1().geometry(), open);
    EXPECT_EQ(command2().geometry(), quit);

    m_form.window().resize(100, 80);
    QApplication::processEvents();
    EXPECT_EQ(text1().geometry(), text);
    EXPECT_EQ(command2().geometry(), quit);
}

TEST_F(Form1WindowTest, TypedTextStaysAndLaterInputGoesAfterTheWholeContent)
{
    text1().setFocus();
    QTest::keyClick(&text1(), Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClicks(&text1(), u"ab"_s);
    ASSERT_EQ(text1().Text(), u"abText1"_s);

    click(command1());
    m_comm1->receive(u"xyz"_s);

    EXPECT_EQ(text1().Text(), u"abText1\r\nxyz"_s);
    QTest::keyClicks(&text1(), u"!"_s);
    m_comm1->receive(u"42"_s);
    EXPECT_EQ(text1().Text(), u"ab!Text1\r\nxyz42"_s);
}

} // namespace
