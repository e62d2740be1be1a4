#include "PseudoTerminal.h"

#include <QtCore/QtGlobal>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

[[noreturn]] void fail(const char *what)
{
    throw std::runtime_error(std::string("PseudoTerminal: ") + what + ": " + std::strerror(errno));
}

void closeFd(int &fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace

PseudoTerminal::PseudoTerminal()
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        fail("openpty");

    // The master is the far end of the cable: it must neither echo nor
    // translate, or the bytes the test writes would not be the bytes sent.
    termios raw{};
    if (::tcgetattr(m_master, &raw) != 0) {
        closeFd(m_slave);
        closeFd(m_master);
        fail("tcgetattr");
    }
    ::cfmakeraw(&raw);
    if (::tcsetattr(m_master, TCSANOW, &raw) != 0) {
        closeFd(m_slave);
        closeFd(m_master);
        fail("tcsetattr");
    }
    // Programs the test starts must not inherit either side: a child holding
    // the master would keep the line up after hangUp().
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_slavePath = QString::fromLocal8Bit(name);
}

PseudoTerminal::~PseudoTerminal()
{
    closeFd(m_master);
    closeFd(m_slave);
}

void PseudoTerminal::write(const QByteArray &bytes)
{
    if (m_master < 0)
        throw std::runtime_error("PseudoTerminal: write after hang-up");
    const char *data = bytes.constData();
    auto left = static_cast<std::size_t>(bytes.size());
    while (left > 0) {
        const ssize_t written = ::write(m_master, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                // The line's buffer is full until the reader catches up.
                ::usleep(1000);
                continue;
            }
            fail("write");
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

termios PseudoTerminal::attributes() const
{
    termios attributes{};
    if (::tcgetattr(m_slave, &attributes) != 0)
        fail("tcgetattr");
    return attributes;
}

qsizetype PseudoTerminal::unread() const
{
    // Bytes the master wrote reach the line's input queue later, from a
    // kernel worker; a poll of the terminal hands them over first, so the
    // count that follows misses none.
    pollfd input{m_slave, POLLIN, 0};
    if (::poll(&input, 1, 0) < 0)
        fail("poll");
    int waiting = 0;
    if (::ioctl(m_slave, FIONREAD, &waiting) != 0)
        fail("FIONREAD");
    return waiting;
}

void PseudoTerminal::hangUp()
{
    closeFd(m_master);
}

QString PseudoTerminal::lockFilePath() const
{
    QString name = m_slavePath.mid(QStringLiteral("/dev/").size());
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("/var/lock/LCK..") + name;
}
