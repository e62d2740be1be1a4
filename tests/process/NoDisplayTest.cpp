// Started where no window can be shown, the program says so in one line and
// exits non-zero, rather than letting the toolkit abort it.
#include <QtCore/QProcess>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

struct Outcome
{
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    int exitCode = 0;
    QList<QByteArray> errorLines;
};

Outcome startWith(const QProcessEnvironment &environment)
{
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(LINEWATCH_PROGRAM), {});
    program.waitForFinished(10000);
    return {program.exitStatus(), program.exitCode(),
            program.readAllStandardError().trimmed().split('\n')};
}

QProcessEnvironment withoutDisplays()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"DISPLAY"_s);
    environment.remove(u"WAYLAND_DISPLAY"_s);
    environment.remove(u"QT_QPA_PLATFORM"_s);
    return environment;
}

TEST(NoDisplayTest, UnsetDisplayIsOneLineAndANonZeroExit)
{
    const Outcome outcome = startWith(withoutDisplays());

    EXPECT_EQ(outcome.exitStatus, QProcess::NormalExit) << "the program crashed";
    EXPECT_NE(outcome.exitCode, 0);
    ASSERT_EQ(outcome.errorLines.size(), 1) << outcome.errorLines.join('\n').toStdString();
    EXPECT_TRUE(outcome.errorLines.front().startsWith("linewatch: no graphical display"));
}

TEST(NoDisplayTest, UnreachableDisplayIsOneLineAndANonZeroExit)
{
    QProcessEnvironment environment = withoutDisplays();
    environment.insert(u"DISPLAY"_s, u":97531"_s);

    const Outcome outcome = startWith(environment);

    EXPECT_EQ(outcome.exitStatus, QProcess::NormalExit) << "the program crashed";
    EXPECT_NE(outcome.exitCode, 0);
    ASSERT_EQ(outcome.errorLines.size(), 1) << outcome.errorLines.join('\n').toStdString();
    EXPECT_TRUE(outcome.errorLines.front().contains(":97531"));
}

} // namespace
