#include "TextBox.h"
#include "TextBoxAccessible.h"
#include "Wait.h"

#include <QtGui/QAccessible>
#include <QtGui/QFontMetricsF>
#include <QtGui/QGuiApplication>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QScrollBar>

#include <gtest/gtest.h>

#include <ostream>
#include <utility>
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

// A text change as an event told it.
struct TextEvent
{
    QAccessible::Event type = QAccessible::InvalidEvent;
    int position = -1;
    QString removed;
    QString inserted;
    int cursor = -1;
};

// What a screen reader is told of text and selection changes, in order.
class Announcements
{
public:
    Announcements()
    {
        s_heard.clear();
        s_textEvents.clear();
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
    // The text changes heard since the last call.
    static std::vector<TextEvent> takeTextEvents() { return std::exchange(s_textEvents, {}); }

private:
    static void hear(QAccessibleEvent *event)
    {
        switch (event->type()) {
        case QAccessible::TextInserted: {
            const auto *inserted = static_cast<QAccessibleTextInsertEvent *>(event);
            s_heard.append(u"insert %1 %2"_s.arg(inserted->changePosition()).arg(inserted->textInserted()));
            s_textEvents.push_back({event->type(), inserted->changePosition(), {}, inserted->textInserted(),
                                    inserted->cursorPosition()});
            break;
        }
        case QAccessible::TextRemoved: {
            const auto *removed = static_cast<QAccessibleTextRemoveEvent *>(event);
            s_heard.append(u"remove %1 %2"_s.arg(removed->changePosition()).arg(removed->textRemoved()));
            s_textEvents.push_back(
                {event->type(), removed->changePosition(), removed->textRemoved(), {}, removed->cursorPosition()});
            break;
        }
        case QAccessible::TextUpdated: {
            const auto *updated = static_cast<QAccessibleTextUpdateEvent *>(event);
            s_heard.append(u"update %1 %2>%3"_s.arg(updated->changePosition())
                               .arg(updated->textRemoved(), updated->textInserted()));
            s_textEvents.push_back({event->type(), updated->changePosition(), updated->textRemoved(),
                                    updated->textInserted(), updated->cursorPosition()});
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
    static inline std::vector<TextEvent> s_textEvents;
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

// Distinct characters, so that a piece of the text shows where it came from.
QString sample(qsizetype length)
{
    static const QString Cycle = u"0123456789abcdefghijklmnopqrstuvwxyz"_s;
    QString text;
    text.reserve(length);
    while (text.size() < length)
        text += Cycle.left(length - text.size());
    return text;
}

// Deleting or undoing a huge stretch must not put the whole of it in one
// event: the accessibility bus drops a program whose message is too big.
TEST_F(TextBoxAccessibleTest, ALargeDeletionIsAnnouncedByItsStartAtItsPosition)
{
    if (QGuiApplication::platformName() == u"offscreen"_s)
        GTEST_SKIP() << "the offscreen platform has no accessibility; the run on an accessibility bus has";
    const QString removed = sample(3 * TextBoxAccessible::AnnouncedLength);
    box.setText(u"head"_s + removed + u"tail"_s);
    const Announcements heard;
    ASSERT_TRUE(waitUntil([] { return QAccessible::isActive(); })) << "accessibility never came on";
    box.setSelection(4, 4 + removed.size());
    heard.takeTextEvents();

    QTest::keyClick(&box, Qt::Key_Delete);
    ASSERT_EQ(box.Text(), u"headtail"_s);
    const std::vector<TextEvent> events = heard.takeTextEvents();
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0].type, QAccessible::TextRemoved);
    EXPECT_EQ(events[0].position, 4);
    EXPECT_EQ(events[0].removed, removed.left(TextBoxAccessible::AnnouncedLength));
}

TEST_F(TextBoxAccessibleTest, ALargeInsertionIsAnnouncedByItsStartAtItsPosition)
{
    if (QGuiApplication::platformName() == u"offscreen"_s)
        GTEST_SKIP() << "the offscreen platform has no accessibility; the run on an accessibility bus has";
    const QString inserted = sample(3 * TextBoxAccessible::AnnouncedLength + 5);
    box.setText(u"head"_s + inserted + u"tail"_s);
    box.setSelection(4, 4 + inserted.size());
    QTest::keyClick(&box, Qt::Key_Delete);
    const Announcements heard;
    ASSERT_TRUE(waitUntil([] { return QAccessible::isActive(); })) << "accessibility never came on";
    heard.takeTextEvents();

    box.undo();
    ASSERT_EQ(box.Text().size(), inserted.size() + 8);
    const std::vector<TextEvent> events = heard.takeTextEvents();
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0].type, QAccessible::TextInserted);
    EXPECT_EQ(events[0].position, 4);
    EXPECT_EQ(events[0].inserted, inserted.left(TextBoxAccessible::AnnouncedLength));
    // The caret after the insertion is after all of it, not after what was told.
    EXPECT_EQ(events[0].cursor, 4 + inserted.size());
}

TEST_F(TextBoxAccessibleTest, ALargeReplacementIsAnnouncedByTheStartsOfBothSides)
{
    if (QGuiApplication::platformName() == u"offscreen"_s)
        GTEST_SKIP() << "the offscreen platform has no accessibility; the run on an accessibility bus has";
    const QString before = sample(2 * TextBoxAccessible::AnnouncedLength);
    const QString after = sample(TextBoxAccessible::AnnouncedLength + 1).sliced(1);
    box.setText(before);
    const Announcements heard;
    ASSERT_TRUE(waitUntil([] { return QAccessible::isActive(); })) << "accessibility never came on";
    heard.takeTextEvents();

    box.setText(after);
    const std::vector<TextEvent> events = heard.takeTextEvents();
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0].type, QAccessible::TextUpdated);
    EXPECT_EQ(events[0].position, 0);
    EXPECT_EQ(events[0].removed, before.left(TextBoxAccessible::AnnouncedLength));
    EXPECT_EQ(events[0].inserted, after);
}

TEST_F(TextBoxAccessibleTest, AnAnnouncedTextNeverEndsInHalfACharacter)
{
    if (QGuiApplication::platformName() == u"offscreen"_s)
        GTEST_SKIP() << "the offscreen platform has no accessibility; the run on an accessibility bus has";
    const QString removed = QString(TextBoxAccessible::AnnouncedLength - 1, u'a') + u"\U0001F600 tail"_s;
    box.setText(removed);
    const Announcements heard;
    ASSERT_TRUE(waitUntil([] { return QAccessible::isActive(); })) << "accessibility never came on";
    heard.takeTextEvents();

    box.selectAll();
    QTest::keyClick(&box, Qt::Key_Delete);
    const std::vector<TextEvent> events = heard.takeTextEvents();
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0].removed, QString(TextBoxAccessible::AnnouncedLength - 1, u'a'));
}

// An item as a query answered it; none is an empty text at -1, -1.
struct Item
{
    QString text;
    int start = -1;
    int end = -1;

    friend bool operator==(const Item &, const Item &) = default;
    friend std::ostream &operator<<(std::ostream &out, const Item &item)
    {
        return out << '[' << item.start << ", " << item.end << ") \"" << item.text.toStdString() << '"';
    }
};

enum class Relation { Before, At, After };

Item query(QAccessibleTextInterface *text, Relation relation, int offset, QAccessible::TextBoundaryType type)
{
    Item item;
    switch (relation) {
    case Relation::Before:
        item.text = text->textBeforeOffset(offset, type, &item.start, &item.end);
        break;
    case Relation::At:
        item.text = text->textAtOffset(offset, type, &item.start, &item.end);
        break;
    case Relation::After:
        item.text = text->textAfterOffset(offset, type, &item.start, &item.end);
        break;
    }
    return item;
}

// Qt's own answer, which reads the whole text and takes only "\n" as a break.
Item qtsOwn(QAccessibleTextInterface *text, Relation relation, int offset, QAccessible::TextBoundaryType type)
{
    Item item;
    switch (relation) {
    case Relation::Before:
        item.text = text->QAccessibleTextInterface::textBeforeOffset(offset, type, &item.start, &item.end);
        break;
    case Relation::At:
        item.text = text->QAccessibleTextInterface::textAtOffset(offset, type, &item.start, &item.end);
        break;
    case Relation::After:
        item.text = text->QAccessibleTextInterface::textAfterOffset(offset, type, &item.start, &item.end);
        break;
    }
    // Before the first word or sentence it answers an empty item at -1, 0:
    // none.
    if (item.text.isEmpty() && item.start == -1)
        item.end = -1;
    return item;
}

TEST_F(TextBoxAccessibleTest, ItemQueriesAnswerAsQtsOwnOnShortTextsWithNewlines)
{
    const QString texts[] = {u""_s, u"a"_s, u"abc def"_s, u"ab, cd.\nx "_s, u"Hi there. Go!\nab"_s,
                             u"\n\nx\n"_s, u"one  two\t3,000.5 e.g. a.b\n"_s,
                             u"smile \U0001F600 e\u0301 \u4F60\u597D. Done?"_s};
    const QAccessible::TextBoundaryType types[] = {QAccessible::CharBoundary, QAccessible::WordBoundary,
                                                   QAccessible::SentenceBoundary, QAccessible::ParagraphBoundary,
                                                   QAccessible::LineBoundary, QAccessible::NoBoundary};
    for (const QString &content : texts) {
        box.setText(content);
        for (const QAccessible::TextBoundaryType type : types) {
            for (int offset = -2; offset <= content.size() + 1; ++offset) {
                for (const Relation relation : {Relation::Before, Relation::At, Relation::After}) {
                    // There Qt's own may never return.
                    const bool atAnEnd = offset == -1 || offset == 0 || offset == content.size();
                    if (relation == Relation::At && atAnEnd
                        && (type == QAccessible::WordBoundary || type == QAccessible::SentenceBoundary))
                        continue;
                    EXPECT_EQ(query(text, relation, offset, type), qtsOwn(text, relation, offset, type))
                        << content.toStdString() << " offset " << offset << " type " << type << " relation "
                        << static_cast<int>(relation);
                }
            }
        }
    }
}

// Where Qt's own never returns.
TEST_F(TextBoxAccessibleTest, TheEndOfATextHoldsNoWordOrSentence)
{
    box.setText(u"Go on. Now"_s);
    EXPECT_EQ(query(text, Relation::At, -1, QAccessible::WordBoundary), Item{});
    EXPECT_EQ(query(text, Relation::At, 10, QAccessible::SentenceBoundary), Item{});
    EXPECT_EQ(query(text, Relation::Before, 10, QAccessible::WordBoundary), (Item{u"Now"_s, 7, 10}));
}

TEST_F(TextBoxAccessibleTest, TheStartOfATextHoldsTheStretchBeforeItsFirstWord)
{
    box.setText(u"\n\nx\n"_s);
    EXPECT_EQ(query(text, Relation::At, 0, QAccessible::WordBoundary), (Item{u"\n\n"_s, 0, 2}));
    EXPECT_EQ(query(text, Relation::At, 0, QAccessible::SentenceBoundary), (Item{u"\n"_s, 0, 1}));
}

constexpr auto Line = QAccessible::LineBoundary;

// "one\r\n" 0-5, "two\r" 5-9, "three\n" 9-15, "four" 15-19.
TEST_F(TextBoxAccessibleTest, EveryKindOfBreakEndsTheLineAtAnOffset)
{
    box.setText(u"one\r\ntwo\rthree\nfour"_s);
    const Item one{u"one\r\n"_s, 0, 5};
    for (int offset : {0, 3, 4})
        EXPECT_EQ(query(text, Relation::At, offset, Line), one) << offset;
    EXPECT_EQ(query(text, Relation::At, 5, Line), (Item{u"two\r"_s, 5, 9}));
    EXPECT_EQ(query(text, Relation::At, 8, Line), (Item{u"two\r"_s, 5, 9}));
    EXPECT_EQ(query(text, Relation::At, 14, Line), (Item{u"three\n"_s, 9, 15}));
    EXPECT_EQ(query(text, Relation::At, 15, Line), (Item{u"four"_s, 15, 19}));
    EXPECT_EQ(query(text, Relation::At, 19, Line), (Item{u"four"_s, 15, 19}));
    EXPECT_EQ(query(text, Relation::At, 8, QAccessible::ParagraphBoundary), (Item{u"two\r"_s, 5, 9}));
}

TEST_F(TextBoxAccessibleTest, TheLineBeforeAnOffsetEndsWhereItsLineStarts)
{
    box.setText(u"one\r\ntwo\rthree\nfour"_s);
    EXPECT_EQ(query(text, Relation::Before, 4, Line), Item{});
    EXPECT_EQ(query(text, Relation::Before, 5, Line), (Item{u"one\r\n"_s, 0, 5}));
    EXPECT_EQ(query(text, Relation::Before, 8, Line), (Item{u"one\r\n"_s, 0, 5}));
    EXPECT_EQ(query(text, Relation::Before, 12, Line), (Item{u"two\r"_s, 5, 9}));
    EXPECT_EQ(query(text, Relation::Before, -1, Line), (Item{u"three\n"_s, 9, 15}));
}

TEST_F(TextBoxAccessibleTest, TheLineAfterAnOffsetStartsWhereItsLineEnds)
{
    box.setText(u"one\r\ntwo\rthree\nfour"_s);
    EXPECT_EQ(query(text, Relation::After, 4, Line), (Item{u"two\r"_s, 5, 9}));
    EXPECT_EQ(query(text, Relation::After, 8, Line), (Item{u"three\n"_s, 9, 15}));
    EXPECT_EQ(query(text, Relation::After, 9, Line), (Item{u"four"_s, 15, 19}));
    EXPECT_EQ(query(text, Relation::After, 15, Line), Item{});
}

TEST_F(TextBoxAccessibleTest, ATextEndingInABreakEndsWithAnEmptyLine)
{
    box.setText(u"a\r\n"_s);
    EXPECT_EQ(query(text, Relation::At, 3, Line), (Item{{}, 3, 3}));
    EXPECT_EQ(query(text, Relation::After, 1, Line), (Item{{}, 3, 3}));
    EXPECT_EQ(query(text, Relation::Before, 3, Line), (Item{u"a\r\n"_s, 0, 3}));
}

// A device may send hundreds of megabytes without a line break.
TEST_F(TextBoxAccessibleTest, AQueryInAVeryLongLineAnswersABoundedPieceHoldingTheOffset)
{
    const QString letters = QString(u"abcdefghij"_s).repeated(100'000);
    box.setText(letters);
    const int offset = 500'003;
    for (const auto type : {QAccessible::CharBoundary, QAccessible::WordBoundary, QAccessible::SentenceBoundary,
                            QAccessible::LineBoundary, QAccessible::ParagraphBoundary}) {
        const Item item = query(text, Relation::At, offset, type);
        EXPECT_LE(item.start, offset) << type;
        EXPECT_GT(item.end, offset) << type;
        EXPECT_LE(item.end - item.start, TextBoxAccessible::PieceLength) << type;
        EXPECT_EQ(item.text, letters.mid(item.start, item.end - item.start)) << type;
    }
}

TEST_F(TextBoxAccessibleTest, AVeryLongLineIsReadPieceAfterPiece)
{
    const QString line = sample(5 * TextBoxAccessible::PieceLength + 7);
    box.setText(line + u"\r\nnext"_s);
    QString read;
    int pieces = 0;
    for (int offset = 0; offset < line.size() + 2; ++pieces) {
        const Item piece = query(text, Relation::At, offset, Line);
        ASSERT_EQ(piece.start, offset);
        ASSERT_LE(piece.text.size(), TextBoxAccessible::PieceLength);
        read += piece.text;
        offset = piece.end;
    }
    EXPECT_EQ(read, line + u"\r\n"_s);
    EXPECT_EQ(pieces, 6);
}

TEST_F(TextBoxAccessibleTest, TheLinesAroundAShortOneAnswerTheirPiecesNextToIt)
{
    const QString longLine = sample(3 * TextBoxAccessible::PieceLength);
    box.setText(longLine + u"\r\nshort\n"_s + longLine);
    const int shortStart = static_cast<int>(longLine.size()) + 2;

    const Item before = query(text, Relation::Before, shortStart + 2, Line);
    EXPECT_EQ(before.end, shortStart);
    EXPECT_TRUE(before.text.endsWith(u"\r\n"_s));
    EXPECT_LE(before.text.size(), TextBoxAccessible::PieceLength);

    const Item after = query(text, Relation::After, shortStart + 2, Line);
    EXPECT_EQ(after.start, shortStart + 6);
    EXPECT_EQ(after.text, longLine.left(TextBoxAccessible::PieceLength));
}

} // namespace
