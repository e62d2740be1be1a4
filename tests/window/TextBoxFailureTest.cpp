// What the text box does when something fails inside a call Qt makes into
// it: nothing thrown gets back to Qt, the text stays as it was, and the
// failure is told once, later, from the event loop.
#include "ErrorReport.h"
#include "TextBox.h"
#include "TextMimeData.h"
#include "TextPrinters.h"
#include "WidgetGuard.h"

#include <QtCore/QMimeData>
#include <QtCore/QScopeGuard>
#include <QtGui/QAccessible>
#include <QtGui/QAction>
#include <QtGui/QClipboard>
#include <QtGui/QDropEvent>
#include <QtGui/QGuiApplication>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Text offered as another program offers it, whose reading fails: the
// platform's copy of a huge clipboard running out of memory, say.
class UnreadableMimeData : public QMimeData
{
public:
    explicit UnreadableMimeData(std::exception_ptr failure)
        : m_failure(std::move(failure))
    {
    }
    QStringList formats() const override { return {u"text/plain"_s}; }
    bool hasFormat(const QString &mimeType) const override { return mimeType == u"text/plain"; }

protected:
    QVariant retrieveData(const QString &, QMetaType) const override { std::rethrow_exception(m_failure); }

private:
    std::exception_ptr m_failure;
};

class TextBoxFailureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        box.resize(300, 200);
        box.setText(u"Text1\r\nabc"_s);
        box.setSelection(7, 9);
        box.show();
        box.setFocus();
        QApplication::processEvents();
        QObject::connect(&box, &TextBox::actionFailed, &box,
                         [this](const ErrorReport &failure) { told.push_back(failure); });
    }

    // The clipboard, or a drop, holding text that cannot be read.
    static std::unique_ptr<QMimeData> unreadable(const std::exception_ptr &failure)
    {
        return std::make_unique<UnreadableMimeData>(failure);
    }

    // The box as it was set up: text, caret and selection.
    void expectUnchanged() const
    {
        EXPECT_EQ(box.Text(), u"Text1\r\nabc"_s);
        EXPECT_EQ(box.selectionStart(), 7);
        EXPECT_EQ(box.selectionEnd(), 9);
    }

    void expectToldOnce(std::int32_t number, const QString &description)
    {
        EXPECT_TRUE(told.empty()) << "told inside the handling that failed";
        QApplication::processEvents();
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told.front().Number(), number);
        EXPECT_EQ(told.front().Description(), description);
        told.clear();
    }

    TextBox box;
    std::vector<ErrorReport> told;
};

TEST_F(TextBoxFailureTest, APasteWhoseReadingFailsChangesNothingAndIsToldOnce)
{
    // By key, by the context menu and by a drop; memory running out, a
    // failure of our own and one that is no exception class at all.
    QGuiApplication::clipboard()->setMimeData(unreadable(std::make_exception_ptr(std::bad_alloc())).release());
    EXPECT_NO_THROW(QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier));
    expectUnchanged();
    expectToldOnce(ErrorNumber::InternalFailure, u"Out of memory"_s);

    const ErrorReport ours(ErrorNumber::DeviceInUse, u"/dev/ttyS0: busy"_s);
    QGuiApplication::clipboard()->setMimeData(unreadable(std::make_exception_ptr(ours)).release());
    const std::unique_ptr<QMenu> menu = box.createContextMenu();
    const QList<QAction *> actions = menu->actions();
    const auto paste = std::find_if(actions.begin(), actions.end(),
                                    [](const QAction *action) { return action->text().startsWith(u"&Paste"_s); });
    ASSERT_NE(paste, actions.end());
    EXPECT_NO_THROW((*paste)->trigger());
    expectUnchanged();
    expectToldOnce(ours.Number(), ours.Description());

    const std::unique_ptr<QMimeData> dropped = unreadable(std::make_exception_ptr(42));
    QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, dropped.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(box.viewport(), &enter);
    QDropEvent drop(QPointF(2, 2), Qt::CopyAction, dropped.get(), Qt::LeftButton, Qt::NoModifier);
    EXPECT_NO_THROW(QApplication::sendEvent(box.viewport(), &drop));
    expectUnchanged();
    expectToldOnce(ErrorNumber::InternalFailure, u"Unknown failure"_s);
}

// A key repeating, or failures while the failure is being told (a message
// box runs an event loop of its own), give one report, not one each.
TEST_F(TextBoxFailureTest, ABurstOfFailuresIsToldOnceAndALaterOneAgain)
{
    QGuiApplication::clipboard()->setMimeData(unreadable(std::make_exception_ptr(std::bad_alloc())).release());
    for (int repeat = 0; repeat < 5; ++repeat)
        QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
    int whileTold = 0;
    QObject::connect(&box, &TextBox::actionFailed, &box, [this, &whileTold] {
        if (whileTold++ == 0) {
            QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
            QApplication::processEvents();
        }
    });
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_EQ(told.size(), 1u);

    QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_EQ(told.size(), 2u) << "a failure after the last was told is told again";
    expectUnchanged();
}

// Every other way in (input method queries, assistive technology, painting)
// answers nothing when it fails, and says so the same way. Short of memory
// running out on a small allocation, nothing in these fails of itself: every
// entry is made to fail as it starts instead (WidgetGuard's switch for tests).
TEST_F(TextBoxFailureTest, QueriesThatFailAnswerNothing)
{
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&box);
    ASSERT_NE(accessible, nullptr);
    QAccessibleTextInterface *text = accessible->textInterface();
    ASSERT_NE(text, nullptr);
    ASSERT_EQ(text->characterCount(), 10);

    WidgetGuard::failEntriesForTesting(std::make_exception_ptr(std::bad_alloc()));
    const auto stopFailing = qScopeGuard([] { WidgetGuard::failEntriesForTesting(nullptr); });
    EXPECT_FALSE(box.inputMethodQuery(Qt::ImSurroundingText).isValid());
    EXPECT_EQ(text->characterCount(), 0);
    int start = 0;
    int end = 0;
    EXPECT_EQ(text->textAtOffset(0, QAccessible::LineBoundary, &start, &end), QString());
    EXPECT_EQ(start, -1);
    EXPECT_EQ(end, -1);
    EXPECT_EQ(text->offsetAtPoint(box.viewport()->mapToGlobal(QPoint(1, 1))), -1);
    text->setSelection(0, 0, 3);
    EXPECT_NO_THROW(box.viewport()->grab());
    QKeyEvent typed(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, u"x"_s);
    typed.ignore();
    EXPECT_TRUE(QApplication::sendEvent(&box, &typed));
    EXPECT_TRUE(typed.isAccepted()) << "an event whose handling failed counts as handled";
    expectUnchanged();
    expectToldOnce(ErrorNumber::InternalFailure, u"Out of memory"_s);
}

// The platform's clipboard asks for a copy from inside its own handling and
// takes nothing thrown: memory running out is a refusal, as ever; any other
// failure goes to the owner instead; either is told once, and what the
// owner's own calls throw stays here too.
TEST(TextMimeDataFailureTest, AReaderGetsNothingAndTheFailureGoesToTheOwnerOnce)
{
    int refusals = 0;
    std::vector<ErrorReport> failures;
    const TextMimeData data(
        TextValue(u"abc"_s), [&refusals] { ++refusals; },
        []() -> qint64 { throw std::runtime_error("no figure for the memory left"); },
        [&failures](const std::exception_ptr &failure) { failures.push_back(ErrorReport::fromException(failure)); });
    EXPECT_TRUE(data.text().isEmpty());
    EXPECT_TRUE(data.data(u"text/plain"_s).isEmpty());
    EXPECT_EQ(refusals, 0);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures.front().Number(), ErrorNumber::InternalFailure);
    EXPECT_EQ(failures.front().Description(), u"no figure for the memory left"_s);

    const TextMimeData outOfMemory(
        TextValue(u"abc"_s), [] { throw std::bad_alloc(); }, []() -> qint64 { throw std::bad_alloc(); },
        [](const std::exception_ptr &) { ADD_FAILURE() << "memory running out is a refusal"; });
    EXPECT_NO_THROW(EXPECT_TRUE(outOfMemory.text().isEmpty()));
}

} // namespace
