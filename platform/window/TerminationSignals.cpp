#include "TerminationSignals.h"

#include <QtCore/QSocketNotifier>

#include <atomic>
#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// Where the handler writes; -1 while no object listens.
std::atomic<int> writeEnd = -1;

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const auto number = static_cast<unsigned char>(signalNumber);
    // A full socket drops the byte: a signal is already waiting then.
    [[maybe_unused]] const ssize_t written = ::write(writeEnd.load(), &number, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0)
        return; // the signals keep their default action, the program its old way of ending
    m_readEnd = ends[0];
    m_writeEnd = ends[1];
    writeEnd.store(m_writeEnd);
    m_notifier = new QSocketNotifier(m_readEnd, QSocketNotifier::Read, this);
    QObject::connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPending);

    struct sigaction handler = {};
    handler.sa_handler = &onSignal;
    sigemptyset(&handler.sa_mask);
    handler.sa_flags = static_cast<int>(SA_RESTART | SA_RESETHAND);
    for (std::size_t i = 0; i < Handled.size(); ++i)
        ::sigaction(Handled[i], &handler, &m_found[i]);
}

TerminationSignals::~TerminationSignals()
{
    if (m_writeEnd < 0)
        return;
    for (std::size_t i = 0; i < Handled.size(); ++i)
        ::sigaction(Handled[i], &m_found[i], nullptr);
    writeEnd.store(-1);
    delete m_notifier;
    ::close(m_readEnd);
    ::close(m_writeEnd);
}

void TerminationSignals::readPending()
{
    unsigned char number = 0;
    while (::read(m_readEnd, &number, 1) == 1)
        Q_EMIT received(number);
}

void TerminationSignals::raiseDefault(int signalNumber)
{
    ::signal(signalNumber, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signalNumber);
}
