#include "Comm1.h"
#include "DisplayCheck.h"
#include "Form1.h"
#include "Host.h"
#include "TerminationSignals.h"

#include <QtWidgets/QApplication>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    if (const auto reason = missingDisplay()) {
        std::fprintf(stderr, "linewatch: %s\n", reason->toLocal8Bit().constData());
        return 2;
    }

    // The program takes no command line, and neither does the toolkit: its
    // options (-qwindowtitle, -reverse...) would change the window. Its
    // environment (platform, scale) stays its own business.
    int programNameOnly = 1;
    char fallbackName[] = "linewatch";
    char *programName[] = {argc > 0 && argv[0] != nullptr ? argv[0] : fallbackName, nullptr};
    QApplication application(programNameOnly, programName);
    QApplication::setApplicationName(u"linewatch"_s);
    QApplication::setDesktopFileName(u"io.linewatch.linewatch"_s);

    Host host(u"linewatch"_s);
    int status = 0;
    {
        Form1 form(host, makeComm1());
        status = host.run(form.window(), [&form] { form.Form_Load(); });
    }
    // The port is closed and put back with the form. Only then may a signal
    // that asked the program to end take its course.
    if (host.endingSignal() != 0)
        TerminationSignals::raiseDefault(host.endingSignal());
    return status;
}
