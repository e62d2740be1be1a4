#pragma once

#include "ErrorReport.h"

#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QString>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

class TerminationSignals;
class Window;

// The window host: starts a window, delivers control events to their
// handlers, shows message boxes and ends the program.
//
// Every handler runs through one dispatch point, one at a time. An event that
// arrives while a handler is still running (a modal message box runs a nested
// event loop) is held back until that handler returns; held-back events are
// coalesced per handler, so a busy line cannot pile them up. A failure that
// no handler traps ends there, as the default report: a message box with its
// number and description, then the end of the program with a non-zero
// status. Nothing thrown by a handler goes past this point into Qt.
//
// Once the program has ended no further handler runs.
class Host : public QObject
{
    Q_OBJECT

public:
    explicit Host(QString applicationTitle, QObject *parent = nullptr);
    ~Host() override;

    // A condition a handler's events wait on. While closed() holds, an event
    // is held back instead of run (coalesced, as for a running handler);
    // retryHeld() delivers it once closed() no longer holds. The first time
    // an event waits at a closed gate, closing runs through the dispatch
    // point (to tell the user why), once each time the gate closes. One gate
    // may guard several handlers.
    struct Gate
    {
        std::function<bool()> closed;
        std::function<void()> closing;
        bool noticed = false;
    };

    // Wires a control's event to its handler through the dispatch point,
    // behind `gate` when one is given.
    template<typename Sender, typename Signal>
    void connect(const Sender *sender, Signal signal, std::function<void()> handler,
                 std::shared_ptr<Gate> gate = nullptr)
    {
        Handler &wired = m_handlers.emplace_back(Handler{std::move(handler), std::move(gate)});
        QObject::connect(sender, signal, this, [this, &wired] { dispatch(wired); });
    }

    // Delivers the events waiting at gates that have opened since.
    void retryHeld();

    // Runs the window: raises Load through the dispatch point, then, unless
    // that ended the program, shows the window and runs the event loop until
    // the program ends. Closing the window ends the program with status 0.
    // SIGTERM, SIGINT and SIGHUP end it the same way, from the event loop,
    // with status 128 + the signal's number (see endingSignal()).
    // Returns the exit status.
    int run(Window &window, const std::function<void()> &load);

    // Runs one handler through the dispatch point now (the Load event, and
    // tests that call a handler the way the host would).
    void invoke(const std::function<void()> &handler);

    // Modal, one text, a single OK button, no icon, the application's title.
    // Returns when the user presses OK.
    void messageBox(const QString &text);

    // Ends the program at once with the given status; no further handler runs.
    void endProgram(int status = 0);

    bool ended() const { return m_ended; }
    // The signal that ended the program, 0 if none did. Its sender expects
    // it to end the process once everything is put back (TerminationSignals::raiseDefault).
    int endingSignal() const { return m_endingSignal; }
    int exitStatus() const { return m_exitStatus; }
    const QString &applicationTitle() const { return m_applicationTitle; }

    // The text of the default report for a failure.
    static QString defaultReportText(const ErrorReport &failure);

protected:
    // Where a message box is shown; tests record the text instead.
    virtual void showMessageBox(const QString &text);

private:
    struct Handler
    {
        std::function<void()> run;
        std::shared_ptr<Gate> gate;
        bool heldBack = false;
        bool atGate = false;
    };

    void dispatch(Handler &handler);
    // Whether the handler may run now; if its gate is closed, it waits there.
    bool passesGate(Handler &handler);
    void runHandler(const std::function<void()> &handler);
    void defaultReport(const ErrorReport &failure);

    QString m_applicationTitle;
    QPointer<Window> m_window; // the one being run; boxes are centred on it
    std::deque<Handler> m_handlers; // a deque: connections hold references into it
    std::vector<Handler *> m_heldBack;
    std::vector<Handler *> m_atGates;
    int m_running = 0;
    bool m_ended = false;
    int m_exitStatus = 0;
    int m_endingSignal = 0;
    std::unique_ptr<TerminationSignals> m_terminationSignals;
};
