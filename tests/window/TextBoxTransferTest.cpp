#include "MemoryLimit.h"
#include "TextBox.h"
#include "TextMimeData.h"
#include "TextPrinters.h"
#include "Wait.h"

#include <QtCore/QMimeData>
#include <QtGui/QAction>
#include <QtGui/QClipboard>
#include <QtGui/QGuiApplication>
#include <QtGui/QInputMethodEvent>
#include <QtGui/QTextCharFormat>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>

#include <gtest/gtest.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 MiB = 1024 * 1024;

// Clipboard data that counts how often its characters are read.
class CountingMimeData : public QMimeData
{
public:
    explicit CountingMimeData(int *reads)
        : m_reads(reads)
    {
    }
    QStringList formats() const override { return {u"text/plain"_s}; }
    bool hasFormat(const QString &mimeType) const override { return mimeType == u"text/plain"; }

protected:
    QVariant retrieveData(const QString &, QMetaType) const override
    {
        ++*m_reads;
        return u"pasted"_s;
    }

private:
    int *m_reads;
};

class TextBoxTransferTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        box.resize(400, 300);
        box.show();
        QApplication::processEvents();
    }

    // A long text of one repeated line: cheap to hold, long to copy.
    static QString longText(qsizetype characters)
    {
        const QString line = u"T=21.50\r\n"_s;
        return line.repeated(characters / line.size());
    }

    TextBox box;
};

TEST_F(TextBoxTransferTest, CopyingASelectionMakesNoCopyUntilItIsRead)
{
    const QString text = longText(16 * MiB);
    box.setText(text);
    box.selectAll();
    const qint64 before = MemoryLimit::resident();
    box.copy();
    // Two bytes a character had it been copied there and then: 32 MiB.
    EXPECT_LT(MemoryLimit::resident() - before, 4 * MiB);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), text) << "a reader gets the exact characters";
}

TEST_F(TextBoxTransferTest, PastingWhatThisBoxCopiedSharesItsCharacters)
{
    box.setText(longText(8 * MiB));
    box.selectAll();
    box.copy();
    box.setCursorPosition(box.Text().size());
    const qsizetype stored = TextValue::bytesInUse();
    box.paste();
    EXPECT_EQ(box.Text().size(), 2 * (8 * MiB / 9 * 9));
    EXPECT_EQ(box.Text().mid(0, 18), u"T=21.50\r\nT=21.50\r\n"_s);
    EXPECT_LT(TextValue::bytesInUse() - stored, MiB);
}

TEST_F(TextBoxTransferTest, TheContextMenuAsksWhatTheClipboardHoldsWithoutReadingIt)
{
    int reads = 0;
    QGuiApplication::clipboard()->setMimeData(new CountingMimeData(&reads));
    const std::unique_ptr<QMenu> menu = box.createContextMenu();
    QAction *paste = nullptr;
    for (QAction *action : menu->actions()) {
        if (action->text().startsWith(u"&Paste"_s))
            paste = action;
    }
    ASSERT_NE(paste, nullptr);
    EXPECT_TRUE(paste->isEnabled());
    EXPECT_EQ(reads, 0);
    paste->trigger();
    EXPECT_EQ(box.Text(), u"pasted"_s);
}

TEST_F(TextBoxTransferTest, EditsPastTheBudgetAreRefusedWholeAndSaySo)
{
    box.setText(u"abc"_s);
    box.setCursorPosition(3);
    QSignalSpy refused(&box, &TextBox::editRefused);
    box.setFocus();
    box.setMemoryBudget(TextValue::bytesInUse() + MiB);

    QGuiApplication::clipboard()->setText(QString(2 * MiB, u'x'));
    box.paste();
    EXPECT_EQ(box.Text(), u"abc"_s) << "a paste past the budget changes nothing";
    EXPECT_EQ(refused.count(), 1);

    QGuiApplication::clipboard()->setText(u"de"_s);
    box.paste();
    EXPECT_EQ(box.Text(), u"abcde"_s) << "what fits goes in";
    EXPECT_EQ(refused.count(), 1);

    box.setMemoryBudget(TextValue::bytesInUse());
    QTest::keyClicks(&box, u"f"_s);
    EXPECT_EQ(box.Text(), u"abcde"_s) << "nor does a typed character";
    box.undo();
    EXPECT_EQ(box.Text(), u"abcde"_s) << "nor an undo";
    EXPECT_EQ(refused.count(), 3);

    QTest::keyClick(&box, Qt::Key_Backspace);
    EXPECT_EQ(box.Text(), u"abcd"_s) << "removing is always allowed";
}

TEST_F(TextBoxTransferTest, ACompositionShowsInTheInputMethodsClauseFormats)
{
    box.setText(u"ab"_s);
    box.setFocus();
    QTextCharFormat converting;
    converting.setBackground(QColor(255, 0, 0));
    QInputMethodEvent composing(u"xyz"_s, {{QInputMethodEvent::TextFormat, 1, 2, converting}});
    QApplication::sendEvent(&box, &composing);
    const QImage shown = box.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int red = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            red += shown.pixel(x, y) == qRgb(255, 0, 0) ? 1 : 0;
    EXPECT_GT(red, 0) << "the clause being converted has the input method's background";
    EXPECT_EQ(box.Text(), u"ab"_s);
}

TEST_F(TextBoxTransferTest, AClickAwayFromACompositionEndsIt)
{
    box.setText(u"ab\r\ncd"_s);
    box.setFocus();
    QInputMethodEvent composing(u"xyz"_s, {});
    QApplication::sendEvent(&box, &composing);
    const QRect d = box.characterRect(5);
    QTest::mouseClick(box.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(d.left() + 1, d.center().y()));
    // The input method committed it, or (one that cannot) it was dropped;
    // either way no composition waits at the old caret.
    const QString text = box.Text().toString();
    EXPECT_TRUE(text == u"abxyz\r\ncd"_s || text == u"ab\r\ncd"_s) << text.toStdString();
    EXPECT_EQ(box.Text().at(box.cursorPosition()), u'd');
    const QRect caret =
        box.inputMethodQuery(Qt::ImCursorRectangle).toRect().translated(-box.viewport()->geometry().topLeft());
    EXPECT_EQ(caret.left(), box.characterRect(box.cursorPosition()).left()) << "the caret is not inside a composition";
}

} // namespace
