#include "Host.h"

#include "TerminationSignals.h"
#include "Window.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QScopeGuard>
#include <QtCore/QThread>
#include <QtGui/QIcon>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QMessageBox>

#include <optional>
#include <utility>

using namespace Qt::StringLiterals;

Host::Host(QString applicationTitle, QObject *parent)
    : QObject(parent)
    , m_applicationTitle(std::move(applicationTitle))
{
}

Host::~Host() = default;

int Host::run(Window &window, const std::function<void()> &load)
{
    m_window = &window;
    QObject::connect(&window, &Window::closed, this, [this] { endProgram(0); });
    m_terminationSignals = std::make_unique<TerminationSignals>();
    QObject::connect(m_terminationSignals.get(), &TerminationSignals::received, this, [this](int signal) {
        if (!m_ended)
            m_endingSignal = signal;
        endProgram(128 + signal);
    });
    invoke(load);
    if (m_ended)
        return m_exitStatus;
    window.show();
    const int status = QCoreApplication::exec();
    return m_ended ? m_exitStatus : status;
}

void Host::invoke(const std::function<void()> &handler)
{
    if (m_ended)
        return;
    runHandler(handler);
    while (!m_ended && !m_heldBack.empty() && m_running == 0) {
        Handler *next = m_heldBack.front();
        m_heldBack.erase(m_heldBack.begin());
        next->heldBack = false;
        if (passesGate(*next))
            runHandler(next->run);
    }
}

bool Host::passesGate(Handler &handler)
{
    if (!handler.gate || !handler.gate->closed())
        return true;
    if (!handler.atGate) {
        handler.atGate = true;
        m_atGates.push_back(&handler);
    }
    Gate &gate = *handler.gate;
    if (!gate.noticed) {
        gate.noticed = true;
        if (gate.closing)
            invoke(gate.closing);
    }
    return false;
}

void Host::retryHeld()
{
    if (m_ended)
        return;
    std::vector<Handler *> waiting;
    std::erase_if(m_atGates, [&waiting](Handler *handler) {
        if (handler->gate->closed())
            return false;
        handler->atGate = false;
        // Open again: the next closing is told again.
        handler->gate->noticed = false;
        waiting.push_back(handler);
        return true;
    });
    for (Handler *handler : waiting)
        dispatch(*handler);
}

void Host::dispatch(Handler &handler)
{
    if (m_ended)
        return;
    if (m_running > 0) {
        if (!handler.heldBack) {
            handler.heldBack = true;
            m_heldBack.push_back(&handler);
        }
        return;
    }
    if (handler.atGate) {
        // Already waiting: this event joins it, unless the gate has opened.
        retryHeld();
        return;
    }
    if (!passesGate(handler))
        return;
    invoke(handler.run);
}

void Host::runHandler(const std::function<void()> &handler)
{
    ++m_running;
    // The default report's own box runs inside this count too, so events
    // arriving while it is up are held back and then dropped with the program.
    const auto done = qScopeGuard([this] { --m_running; });
    std::optional<ErrorReport> failure;
    try {
        handler();
    } catch (...) {
        // Whatever it was (memory running out, a library's exception, not
        // even an exception class), it must not unwind into Qt.
        failure = ErrorReport::fromCurrentException();
    }
    // Outside the catch block: the box runs an event loop of its own.
    if (failure)
        defaultReport(*failure);
}

void Host::defaultReport(const ErrorReport &failure)
{
    showMessageBox(defaultReportText(failure));
    endProgram(1);
}

QString Host::defaultReportText(const ErrorReport &failure)
{
    return u"Error "_s + QString::number(failure.Number()) + u"\r\n"_s + failure.Description();
}

void Host::messageBox(const QString &text)
{
    showMessageBox(text);
}

void Host::showMessageBox(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, m_applicationTitle, QString(text).replace(u"\r\n"_s, u"\n"_s),
                    QMessageBox::Ok, m_window && m_window->isVisible() ? m_window.data() : nullptr);
    // Descriptions can hold a device name or anything a driver reports:
    // never let them be read as markup.
    box.setTextFormat(Qt::PlainText);
    // Some styles put an icon on dialog buttons; the box has none anywhere.
    for (QAbstractButton *button : box.buttons())
        button->setIcon(QIcon());
    box.exec();
}

void Host::endProgram(int status)
{
    if (m_ended)
        return;
    m_ended = true;
    m_exitStatus = status;
    m_heldBack.clear();
    m_atGates.clear();
    // Leaves every running event loop, the modal ones included. With none
    // running (the program ended in Load), run() returns by itself; exit()
    // would instead make the next event loop return at once.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(status);
}
