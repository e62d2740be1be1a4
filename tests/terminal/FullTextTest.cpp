#include "ChunkCompressor.h"
#include "Form1Fixture.h"
#include "TextValue.h"
#include "Wait.h"

#include <QtGui/QClipboard>
#include <QtGui/QGuiApplication>

#include <random>

using namespace Qt::StringLiterals;

namespace {

// Text1 holds as much as its memory budget allows; beyond that, received
// input waits with Comm1 until the user makes room.
class FullTextTest : public Form1Fixture
{
protected:
    void SetUp() override
    {
        load();
        show();
        click(command1());
        // What is left of other tests' compression changes the storage in
        // use; the budget counts from a settled figure.
        ASSERT_TRUE(waitUntil([] { return TextTree::ChunkCompressor::pending() == 0; }, 60000));
        text1().setMemoryBudget(TextValue::bytesInUse() + 100'000);
    }

    // Bytes that do not compress, so the storage they take stays put.
    QString randomBytes(qsizetype count)
    {
        QString text(count, Qt::Uninitialized);
        for (QChar &c : text)
            c = QChar(static_cast<char16_t>(m_random() % 0x100));
        return text;
    }

    static QString fullMessage(qsizetype characters)
    {
        return u"Text1 is full: it holds %1 characters, as much as this computer's memory allows. "
               u"Reception is paused until some text is deleted."_s.arg(characters);
    }

    std::mt19937 m_random{77};
};

TEST_F(FullTextTest, InputWaitsWithTheControlWhileFullAndComesWholeOnceThereIsRoom)
{
    const QString first = randomBytes(120'000);
    m_comm1->receive(first);
    const QString shown = u"Text1\r\n"_s + first;
    ASSERT_EQ(text1().Text(), shown);
    ASSERT_TRUE(text1().isFull());

    m_comm1->clearCalls();
    const QString held = randomBytes(3000);
    m_comm1->receive(held.first(1000));
    m_comm1->receive(held.sliced(1000));
    EXPECT_EQ(m_comm1->calls(), QStringList()) << "input was taken that the text box could not hold";
    EXPECT_EQ(text1().Text(), shown);
    EXPECT_EQ(m_host.messages(), QStringList{fullMessage(shown.size())}) << "the user is told once";

    // The user makes room; the input that waited arrives by itself, whole,
    // once.
    text1().setFocus();
    QTest::keySequence(&text1(), QKeySequence::SelectAll);
    QTest::keyClick(&text1(), Qt::Key_Delete);
    ASSERT_TRUE(waitUntil([this] { return !text1().Text().isEmpty(); })) << "reception never went on";
    EXPECT_EQ(text1().Text(), held);
    EXPECT_EQ(m_comm1->calls(), QStringList{u"Input?"_s});
    EXPECT_FALSE(m_host.ended());

    // Full again: told again.
    m_comm1->receive(randomBytes(120'000));
    ASSERT_TRUE(text1().isFull());
    m_comm1->receive(u"more"_s);
    EXPECT_EQ(m_host.messages().size(), 2);
}

TEST_F(FullTextTest, APastePastTheBudgetIsRefusedWithTheFullMessage)
{
    const QString before = text1().Text().toString();
    QGuiApplication::clipboard()->setText(randomBytes(200'000));
    text1().setFocus();
    QTest::keySequence(&text1(), QKeySequence::Paste);
    EXPECT_EQ(text1().Text(), before) << "nothing of the paste went in";
    ASSERT_TRUE(waitUntil([this] { return !m_host.messages().isEmpty(); }));
    EXPECT_EQ(m_host.messages(), QStringList{fullMessage(before.size())});
    EXPECT_FALSE(m_host.ended());
}

} // namespace
