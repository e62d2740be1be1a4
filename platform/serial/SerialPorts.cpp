#include "SerialPorts.h"

#include "ErrorReport.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QRegularExpression>

#include <algorithm>
#include <map>
#include <optional>
#include <ranges>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace Qt::StringLiterals;

namespace {

struct Found
{
    PortLocation location;
    dev_t device = 0;
};

std::optional<dev_t> characterDevice(const QString &node)
{
    struct stat status = {};
    if (::stat(QFile::encodeName(node).constData(), &status) != 0 || !S_ISCHR(status.st_mode))
        return std::nullopt;
    return status.st_rdev;
}

QByteArray attribute(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(64).trimmed();
}

// The serial core's "type" of a port: 0 is a slot with no UART found behind it.
bool emptySlot(const QString &sysfsEntry)
{
    const QByteArray type = attribute(sysfsEntry + u"/type"_s);
    return type == "0";
}

// Digit runs compared by value, so that USB port 10 follows port 9.
bool socketOrder(const QString &a, const QString &b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype endA = i;
            qsizetype endB = j;
            while (endA < a.size() && a[endA].isDigit())
                ++endA;
            while (endB < b.size() && b[endB].isDigit())
                ++endB;
            QStringView runA = QStringView(a).sliced(i, endA - i);
            QStringView runB = QStringView(b).sliced(j, endB - j);
            while (runA.size() > 1 && runA.front() == u'0')
                runA = runA.sliced(1);
            while (runB.size() > 1 && runB.front() == u'0')
                runB = runB.sliced(1);
            if (runA.size() != runB.size())
                return runA.size() < runB.size();
            const int compared = runA.compare(runB);
            if (compared != 0)
                return compared < 0;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

} // namespace

SerialPorts::SerialPorts(QString deviceRoot, QString sysfsRoot)
    : m_deviceRoot(std::move(deviceRoot))
    , m_sysfsRoot(std::move(sysfsRoot))
{
}

QList<PortLocation> SerialPorts::present() const
{
    QList<Found> found;

    static const QRegularExpression onBoardName(u"^ttyS(\\d+)$"_s);
    // By number, so that ttyS10 follows ttyS2.
    std::map<int, QString> onBoard;
    for (const QString &name : QDir(m_deviceRoot).entryList({u"ttyS*"_s}, QDir::System | QDir::Files | QDir::Dirs)) {
        if (const QRegularExpressionMatch match = onBoardName.match(name); match.hasMatch())
            onBoard.emplace(match.captured(1).toInt(), name);
    }
    for (const auto &[number, name] : onBoard) {
        const QString node = m_deviceRoot + u'/' + name;
        const std::optional<dev_t> device = characterDevice(node);
        if (!device)
            continue;
        const QString entry = u"%1/dev/char/%2:%3"_s.arg(m_sysfsRoot).arg(major(*device)).arg(minor(*device));
        if (emptySlot(entry))
            continue;
        found.append({PortLocation(node), *device});
    }

    QList<Found> adapters;
    const QDir ttys(m_sysfsRoot + u"/class/tty"_s);
    for (const QString &name : ttys.entryList(QDir::Dirs | QDir::System | QDir::NoDotAndDotDot)) {
        if (onBoardName.match(name).hasMatch())
            continue;
        const QString entry = ttys.filePath(name);
        const QFileInfo behind(entry + u"/device"_s);
        // Virtual consoles and pseudo-terminals have no device behind them.
        if (!behind.exists() || emptySlot(entry))
            continue;
        const std::optional<dev_t> device = characterDevice(m_deviceRoot + u'/' + name);
        const QList<QByteArray> numbers = attribute(entry + u"/dev"_s).split(':');
        // The node must be this tty's: one left over from another device, or
        // not made yet, is no port.
        if (!device || numbers.size() != 2 || major(*device) != numbers[0].toUInt()
            || minor(*device) != numbers[1].toUInt())
            continue;
        QString socket = behind.canonicalFilePath();
        // A USB serial converter's port is a device of its own named after the
        // tty (.../1-2:1.0/ttyUSB0); the socket is the interface above it.
        if (socket.endsWith(u'/' + name))
            socket.chop(name.size() + 1);
        adapters.append({PortLocation(m_deviceRoot + u'/' + name, socket, false), *device});
    }
    std::ranges::sort(adapters, [](const Found &a, const Found &b) {
        return socketOrder(a.location.socket, b.location.socket);
    });
    for (const Found &adapter : adapters) {
        if (std::ranges::none_of(found, [&](const Found &known) { return known.device == adapter.device; }))
            found.append(adapter);
    }

    QList<PortLocation> ports;
    for (const Found &port : found)
        ports.append(port.location);
    if (ports.size() == 1)
        ports.front().alone = true;
    return ports;
}

PortLocation SerialPorts::locate(std::int16_t number) const
{
    const QList<PortLocation> ports = present();
    if (number >= 1 && number <= ports.size())
        return ports[number - 1];
    QString has;
    if (ports.isEmpty()) {
        has = u"looked for a UART behind %1/ttyS*, and for USB and other serial adapters"_s.arg(m_deviceRoot);
    } else {
        QStringList devices;
        for (const PortLocation &port : ports)
            devices.append(port.device);
        has = u"this machine has %1: %2"_s.arg(ports.size()).arg(devices.join(u", "_s));
    }
    throw ErrorReport(ErrorNumber::DeviceAbsent, u"Comm port %1: no such serial port (%2)"_s.arg(number).arg(has));
}
