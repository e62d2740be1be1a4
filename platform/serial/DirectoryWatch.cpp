#include "DirectoryWatch.h"

#include <QtCore/QFile>
#include <QtCore/QSocketNotifier>

#include <array>
#include <cerrno>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

// A node made, its mode or owner changed (udev gives a new adapter its group
// after the kernel made the node), a lock file removed or renamed away.
constexpr std::uint32_t Watched = IN_CREATE | IN_ATTRIB | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM;

} // namespace

DirectoryWatch::DirectoryWatch(const QStringList &directories, QObject *parent)
    : QObject(parent)
    , m_inotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    if (!m_inotify.valid())
        return;
    bool any = false;
    for (const QString &directory : directories) {
        if (::inotify_add_watch(m_inotify.get(), QFile::encodeName(directory).constData(),
                                Watched | IN_ONLYDIR)
            >= 0)
            any = true;
    }
    if (!any)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_inotify.get(), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &DirectoryWatch::drain);
}

DirectoryWatch::~DirectoryWatch() = default;

void DirectoryWatch::drain()
{
    // What changed is looked up afresh by whoever listens: the events are
    // only read to clear them.
    alignas(inotify_event) std::array<char, 4096> events;
    while (::read(m_inotify.get(), events.data(), events.size()) > 0) {
    }
    Q_EMIT changed();
}
