#include "Form1.h"

#include "CommandButton.h"
#include "ErrorTrap.h"
#include "Form1Description.h"
#include "Host.h"
#include "IntervalTimer.h"
#include "MemoryBudget.h"
#include "SerialControl.h"
#include "TextBox.h"

using namespace Qt::StringLiterals;

namespace {

// "Error on <port label>", a line break, then the failure's number and
// description: the form of every port failure the program reports itself.
QString portErrorMessage(const QString &portLabel, const ErrorReport &failure)
{
    return u"Error on "_s + portLabel + u"\r\n"_s + QString::number(failure.Number()) + u": "_s
        + failure.Description();
}

QString portLabelOf(std::int16_t port)
{
    return u"Comm port "_s + QString::number(port);
}

QString fullMessage(qsizetype characters)
{
    return u"Text1 is full: it holds "_s + QString::number(characters)
        + u" characters, as much as this computer's memory allows. "
          u"Reception is paused until some text is deleted."_s;
}

QString transferRefusedMessage(qsizetype characters)
{
    return u"The "_s + QString::number(characters)
        + u" characters copied from Text1 could not be handed over: this computer's memory does not allow it. "
          u"Text1 is unchanged; copy less at a time."_s;
}

} // namespace

Form1::Form1(Host &host, std::unique_ptr<SerialControl> comm1)
    : m_host(host)
    , m_window(form1Description())
    , m_comm1(std::move(comm1))
    , Text1(m_window.textBox(u"Text1"_s))
    , Command1(m_window.commandButton(u"Command1"_s))
    , Command2(m_window.commandButton(u"Command2"_s))
    , Timer1(m_window.timer(u"Timer1"_s))
    , Comm1(*m_comm1)
{
    // The input append waits while Text1 is full: the input stays with
    // Comm1, which stops reading once it holds as much as it may, and the
    // line's flow control takes over. Nothing is taken that cannot be shown.
    // Room is kept for the most one append adds to the text, and for what
    // reception holds meanwhile besides: together they are what the process
    // may grow by between two looks at the budget.
    Text1.setReserve(MemoryBudget::appendCost(Comm1.receiveLimit()) + Comm1.receiveMemory());
    auto roomInText1 = std::make_shared<Host::Gate>();
    roomInText1->closed = [this] { return Text1.isFull(); };
    roomInText1->closing = [this] { m_host.messageBox(fullMessage(Text1.Text().size())); };
    QObject::connect(&Text1, &TextBox::roomAvailable, &m_host, &Host::retryHeld, Qt::QueuedConnection);
    // An edit the budget refuses is told as a full box is; a copy that
    // cannot be handed over, in its own words. Both from the event loop,
    // never inside the key, mouse or clipboard handling that found them.
    QObject::connect(
        &Text1, &TextBox::editRefused, &m_host, [this] { m_host.messageBox(fullMessage(Text1.Text().size())); },
        Qt::QueuedConnection);
    QObject::connect(
        &Text1, &TextBox::transferRefused, &m_host,
        [this](qsizetype characters) { m_host.messageBox(transferRefusedMessage(characters)); },
        Qt::QueuedConnection);
    // What else fails of the user's doing in Text1 (memory running out on a
    // paste, say) is told in the default report's words, and the program
    // goes on with the text as it was. Text1 tells it from the event loop
    // itself, once for a burst while it is being told: connected directly,
    // so that failures while this box is up are not told again after it.
    QObject::connect(&Text1, &TextBox::actionFailed, &m_host,
                     [this](const ErrorReport &failure) { m_host.messageBox(Host::defaultReportText(failure)); });

    m_host.connect(&Command1, &CommandButton::Click, [this] { Command1_Click(); });
    m_host.connect(&Command2, &CommandButton::Click, [this] { Command2_Click(); });
    m_host.connect(&Comm1, &SerialControl::OnComm, [this] { Comm1_OnComm(); }, roomInText1);
    m_host.connect(&Timer1, &IntervalTimer::Timer, [this] { Timer1_Timer(); }, roomInText1);
}

Form1::~Form1() = default;

void Form1::Form_Load()
{
    QString portLabel;

    const ErrorTrap trap([&portLabel, this](const ErrorReport &failure) {
        m_host.messageBox(portErrorMessage(portLabel, failure));
    });

    trap.run([this] { Comm1.setDTREnable(false); });
    trap.run([this] { Comm1.setSettings(u"9600,n,8,1"_s); });
    trap.run([this] { Comm1.setCommPort(1); });
    trap.run([this] { Comm1.setRThreshold(1); });
    trap.run([&portLabel, this] { portLabel = portLabelOf(Comm1.CommPort()); });

    // A failed read of PortOpen resumes with the close, untested.
    bool portOpen = true;
    trap.run([&portOpen, this] { portOpen = Comm1.PortOpen(); });
    if (portOpen)
        trap.run([this] { Comm1.setPortOpen(false); });
}

void Form1::Command1_Click()
{
    if (Comm1.PortOpen()) {
        Command1.setCaption(u"Open"_s);
        Comm1.setPortOpen(false);
        return;
    }

    Command1.setCaption(u"Close"_s);
    try {
        Comm1.setPortOpen(true);
    } catch (const ErrorReport &failure) {
        // A port that cannot be opened (absent, in use) is reported and the
        // program goes on: ending it would throw away all the text received.
        // The button offers "Open" again before the report is read: the port
        // never opened.
        Command1.setCaption(u"Open"_s);
        m_host.messageBox(portErrorMessage(portLabelOf(Comm1.CommPort()), failure));
        return;
    }
    Text1.setText(Text1.Text() + u"\r\n"_s);
}

void Form1::Command2_Click()
{
    m_host.endProgram();
}

void Form1::Comm1_OnComm()
{
    appendInput();
}

void Form1::Timer1_Timer()
{
    if (Comm1.PortOpen())
        appendInput();
}

void Form1::appendInput()
{
    // Named steps, not one expression: the text is read before the input.
    const TextValue text = Text1.Text();
    const QString input = Comm1.Input();
    Text1.setText(text + input);
}
