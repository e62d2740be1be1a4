// Text1 holding hundreds of millions of characters in a process whose
// address space is capped (ulimit -v) a little above what it holds, so that
// a copy, a paste or a read of the whole text runs out of memory for real.
// Each action runs in a child process of its own, which this test starts
// and watches: a failure that got back to Qt would abort it, skipping the
// end through main() that puts the serial line back.
#include "ChunkCompressor.h"
#include "Form1Fixture.h"
#include "Host.h"
#include "Wait.h"

#include <QtCore/QFile>
#include <QtCore/QMimeData>
#include <QtCore/QProcess>
#include <QtGui/QAccessible>
#include <QtGui/QClipboard>
#include <QtGui/QGuiApplication>
#include <QtGui/QKeyEvent>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

// The address and thread sanitizers' allocators end the process when memory
// runs out: they never throw std::bad_alloc for anything to catch.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LINEWATCH_OUT_OF_MEMORY_ABORTS
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define LINEWATCH_OUT_OF_MEMORY_ABORTS
#endif
#endif

namespace {

// Set in a child: the action it runs.
constexpr char ActionVariable[] = "LINEWATCH_CAPPED_ACTION";
constexpr qint64 MiB = 1024 * 1024;
// What the cap leaves beyond the address space in use once Text1 is full.
constexpr qint64 Margin = 128 * MiB;
// Readings in Text1: stored compressed, copied at one or two bytes a
// character, more than the margin.
constexpr qsizetype TextCharacters = 200'000'000;
// What the clipboard holds for a paste: characters beyond Latin-1, stored
// at two bytes each, more than the margin (and than the room compression
// left behind in the storage of Latin-1 text).
constexpr qsizetype PastedCharacters = 100'000'000;

qint64 addressSpaceInUse()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

class MemoryCapTest : public Form1Fixture
{
protected:
    // In the child: Text1 full of readings, the address space capped, then
    // the action, by keys posted to the event loop as the user's come.
    void runCapped(const QString &action)
    {
        load();
        show();
        QString burst;
        for (int reading = 0; burst.size() < 1024 * 1024; ++reading)
            burst += u"T=%1.%2 C\r\n"_s.arg(18 + reading % 7).arg(reading % 90 + 10);
        TextValue readings = text1().Text();
        while (readings.size() < TextCharacters)
            readings = readings + burst;
        text1().setText(readings);
        TextTree::ChunkCompressor::finish();
        const TextValue before = text1().Text();
        if (action == u"paste")
            QGuiApplication::clipboard()->setText(QString(PastedCharacters, u'\u20ac'));
        // Where there is an accessibility bus (the offscreen platform has
        // none), every edit builds the events that tell a screen reader.
        if (QGuiApplication::platformName() != u"offscreen"_s) {
            ASSERT_TRUE(waitUntil([] { return QAccessible::isActive(); })) << "accessibility never came on";
        }
        rlimit cap{};
        ASSERT_EQ(::getrlimit(RLIMIT_AS, &cap), 0);
        cap.rlim_cur = static_cast<rlim_t>(addressSpaceInUse() + Margin);
        ASSERT_EQ(::setrlimit(RLIMIT_AS, &cap), 0);

        if (action == u"copy") {
            press(Qt::Key_A);
            press(Qt::Key_C);
            runEventsFor(200);
            // Read as another program reads it, then as this one does.
            EXPECT_TRUE(QGuiApplication::clipboard()->mimeData()->data(u"text/plain"_s).isEmpty());
            EXPECT_TRUE(QGuiApplication::clipboard()->text().isEmpty());
            expectOneMessage(u"The %1 characters copied from Text1 could not be handed over"_s.arg(before.size()));
        } else if (action == u"paste") {
            // The key held down: it repeats, and fails each time.
            for (int repeat = 0; repeat < 3; ++repeat)
                press(Qt::Key_V);
            expectOneMessage(Host::defaultReportText(ErrorReport(ErrorNumber::InternalFailure, u"Out of memory"_s)));
        } else if (action == u"read") {
            QAccessibleTextInterface *text = QAccessible::queryAccessibleInterface(&text1())->textInterface();
            EXPECT_TRUE(text->text(0, text->characterCount()).isEmpty());
            expectOneMessage(Host::defaultReportText(ErrorReport(ErrorNumber::InternalFailure, u"Out of memory"_s)));
        } else if (action == u"delete") {
            // What goes is shared with the undo history, not copied, and
            // a screen reader is told only its start: this one fits.
            press(Qt::Key_A);
            press(Qt::Key_Delete, Qt::NoModifier);
            runEventsFor(200);
            EXPECT_EQ(text1().Text().size(), 0);
            EXPECT_EQ(m_host.messages(), QStringList());
            return;
        }
        EXPECT_TRUE(text1().Text() == before) << "the text changed";
    }

    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier)
    {
        QCoreApplication::postEvent(&text1(), new QKeyEvent(QEvent::KeyPress, key, modifiers));
        QCoreApplication::postEvent(&text1(), new QKeyEvent(QEvent::KeyRelease, key, modifiers));
    }

    void expectOneMessage(const QString &start)
    {
        EXPECT_TRUE(waitUntil([this] { return !m_host.messages().isEmpty(); }));
        runEventsFor(200);
        ASSERT_EQ(m_host.messages().size(), 1) << m_host.messages().join(u"\n---\n"_s).toStdString();
        EXPECT_TRUE(m_host.messages().front().startsWith(start)) << m_host.messages().front().toStdString();
    }
};

TEST_F(MemoryCapTest, ACopyPasteOrReadPastTheMemoryLeftIsToldOnceAndTheTextAndProgramLive)
{
#ifdef LINEWATCH_OUT_OF_MEMORY_ABORTS
    GTEST_SKIP() << "built with a sanitizer whose allocator aborts when memory runs out";
#endif
    if (const QString action = qEnvironmentVariable(ActionVariable); !action.isEmpty()) {
        runCapped(action);
        return;
    }
    for (const QString &action : {u"copy"_s, u"paste"_s, u"read"_s, u"delete"_s}) {
        SCOPED_TRACE(action.toStdString());
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(ActionVariable), action);
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        // This test again, in the child; what it throws and does not catch
        // ends it as it would end the program.
        const ::testing::TestInfo *self = ::testing::UnitTest::GetInstance()->current_test_info();
        const QString filter = u"--gtest_filter=%1.%2"_s.arg(QLatin1StringView(self->test_suite_name()),
                                                             QLatin1StringView(self->name()));
        child.start(QCoreApplication::applicationFilePath(), {u"--gtest_catch_exceptions=0"_s, filter});
        ASSERT_TRUE(child.waitForFinished(60000)) << "the child did not end";
        const std::string output = child.readAll().toStdString();
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << output;
        EXPECT_EQ(child.exitCode(), 0) << output;
    }
}

} // namespace
