#include "TextBox.h"
#include "Wait.h"

#include <QtGui/QAccessible>
#include <QtGui/QFontMetricsF>
#include <QtGui/QGuiApplication>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QScrollBar>

#include <gtest/gtest.h>

#include <vector>

using namespace Qt::StringLiterals;

namespace {

class TextBoxAccessibleTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        box.resize(300, 200);
        box.setText(u"Text1\r\nab\tc\r\n<b>x</b>"_s);
        box.show();
        QApplication::processEvents();
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&box);
        ASSERT_NE(accessible, nullptr);
        text = accessible->textInterface();
        ASSERT_NE(text, nullptr) << "the text box offers no text interface";
    }

    TextBox box;
    QAccessibleTextInterface *text = nullptr;
};

// What a screen reader is told of text and selection changes, in order.
class Announcements
{
public:
    Announcements()
    {
        s_heard.clear();
        m_previous = QAccessible::installUpdateHandler(&hear);
        QAccessible::setActive(true);
    }
    ~Announcements()
    {
        QAccessible::installUpdateHandler(m_previous);
        QAccessible::setActive(false);
    }
    Announcements(const Announcements &) = delete;
    Announcements &operator=(const Announcements &) = delete;

    // Everything heard since the last call.
    static QStringList take() { return std::exchange(s_heard, {}); }

private:
    static void hear(QAccessibleEvent *event)
    {
        switch (event->type()) {
        case QAccessible::TextInserted: {
            const auto *inserted = static_cast<QAccessibleTextInsertEvent *>(event);
            s_heard.append(u"insert %1 %2"_s.arg(inserted->changePosition()).arg(inserted->textInserted()));
            break;
        }
        case QAccessible::TextRemoved: {
            const auto *removed = static_cast<QAccessibleTextRemoveEvent *>(event);
            s_heard.append(u"remove %1 %2"_s.arg(removed->changePosition()).arg(removed->textRemoved()));
            break;
        }
        case QAccessible::TextUpdated: {
            const auto *updated = static_cast<QAccessibleTextUpdateEvent *>(event);
            s_heard.append(u"update %1 %2>%3"_s.arg(updated->changePosition())
                               .arg(updated->textRemoved(), updated->textInserted()));
            break;
        }
        case QAccessible::TextSelectionChanged: {
            const auto *selection = static_cast<QAccessibleTextSelectionEvent *>(event);
            s_heard.append(u"select %1 %2"_s.arg(selection->selectionStart()).arg(selection->selectionEnd()));
            break;
        }
        default:
            break;
        }
    }

    static inline QStringList s_heard;
    QAccessible::UpdateHandler m_previous = nullptr;
};

TEST_F(TextBoxAccessibleTest, ReadsTheExactContentAndFollowsAppends)
{
    EXPECT_EQ(text->characterCount(), 21);
    EXPECT_EQ(text->text(0, 7), u"Text1\r\n"_s);
    EXPECT_EQ(text->text(13, 21), u"<b>x</b>"_s);

    box.setText(box.Text() + u"\u00ff"_s);
    EXPECT_EQ(text->characterCount(), 22);
    EXPECT_EQ(text->text(21, 22), u"\u00ff"_s);
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(&box)->state().multiLine);
}

TEST_F(TextBoxAccessibleTest, CaretAndSelectionAreTheBoxsOwnBothWays)
{
    box.setCursorPosition(3);
    EXPECT_EQ(text->cursorPosition(), 3);
    EXPECT_EQ(text->selectionCount(), 0);

    text->setSelection(0, 7, 9);
    EXPECT_EQ(box.selectedText(), u"ab"_s);
    int start = -1;
    int end = -1;
    text->selection(0, &start, &end);
    EXPECT_EQ(start, 7);
    EXPECT_EQ(end, 9);

    text->removeSelection(0);
    EXPECT_EQ(text->selectionCount(), 0);
    text->setCursorPosition(13);
    EXPECT_EQ(box.cursorPosition(), 13);
}

TEST_F(TextBoxAccessibleTest, CharacterRectanglesAndPointsMeetAtTheSameOffset)
{
    for (int offset : {0, 4, 7, 9, 10, 13, 20}) {
        const QRect cell = text->characterRect(offset);
        ASSERT_FALSE(cell.isEmpty()) << offset;
        EXPECT_EQ(text->offsetAtPoint(cell.topLeft() + QPoint(1, cell.height() / 2)), offset) << offset;
    }
    // The tab reaches its stop: the character after it starts at column 8.
    const qreal cell = QFontMetricsF(box.font()).horizontalAdvance(u'0');
    EXPECT_NEAR(text->characterRect(10).left() - text->characterRect(7).left(), 8 * cell, 1.0);
}

// A screen reader keeps its own copy of the text: every edit must tell it
// what went and what came, or it reads out text that is no longer there.
TEST_F(TextBoxAccessibleTest, EveryEditTellsWhatItRemovedAndInserted)
{
    if (QGuiApplication::platformName() == u"offscreen"_s)
        GTEST_SKIP() << "the offscreen platform has no accessibility; the run on an accessibility bus has";
    const Announcements heard;
    ASSERT_TRUE(waitUntil([] { return QAccessible::isActive(); })) << "accessibility never came on";
    box.setCursorPosition(5);
    heard.take();

    QTest::keyClicks(&box, u"Z"_s);
    QTest::keyClick(&box, Qt::Key_Backspace);
    EXPECT_EQ(heard.take(), (QStringList{u"insert 5 Z"_s, u"remove 5 Z"_s}));

    box.setSelection(0, 4);
    QTest::keyClicks(&box, u"Q"_s);
    QTest::keySequence(&box, QKeySequence::Undo);
    EXPECT_EQ(heard.take(), (QStringList{u"select 0 4"_s, u"update 0 Text>Q"_s, u"select 1 1"_s,
                                         u"update 0 Q>Text"_s, u"select 0 4"_s}));

    QTest::keySequence(&box, QKeySequence::SelectAll);
    EXPECT_EQ(heard.take(), QStringList{u"select 0 21"_s});
    box.setText(u"new"_s);
    EXPECT_EQ(heard.take(), (QStringList{u"update 0 Text1\r\nab\tc\r\n<b>x</b>>new"_s, u"select 3 3"_s}));
    box.setText(box.Text() + u"er"_s);
    EXPECT_EQ(heard.take(), QStringList{u"insert 3 er"_s});
}

// A line scrolled out of view above is above the view, not on its first row.
TEST_F(TextBoxAccessibleTest, CharacterAboveTheViewLiesAboveIt)
{
    QString lines;
    for (int i = 0; i < 100; ++i)
        lines += u"line\r\n"_s;
    box.setText(lines);
    box.verticalScrollBar()->setValue(10);
    const QRect first = box.characterRect(0);
    EXPECT_LT(first.bottom(), 0) << "y " << first.y();
    const QRect view(box.viewport()->mapToGlobal(QPoint(0, 0)), box.viewport()->size());
    EXPECT_FALSE(view.intersects(text->characterRect(0)));
    EXPECT_TRUE(view.contains(text->characterRect(60)));
}

} // namespace
