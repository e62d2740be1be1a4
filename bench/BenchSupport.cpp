#include "BenchSupport.h"

#include "ByteStream.h"

#include <QtCore/QByteArray>
#include <QtCore/QEventLoop>
#include <QtCore/QTimer>

#include <algorithm>

namespace BenchSupport {

bool runUntil(const std::function<bool()> &condition, double timeoutSeconds, int pollMs)
{
    if (condition())
        return true;
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    poll.setInterval(pollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(static_cast<int>(timeoutSeconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    return condition();
}

bool matchesByteStream(const TextValue &shown, qsizetype from, qsizetype count)
{
    ByteStream expected;
    return matchesByteStream(shown, from, count, expected);
}

bool matchesByteStream(const TextValue &shown, qsizetype from, qsizetype count, ByteStream &expected)
{
    constexpr qsizetype pieceSize = 1 << 20;
    QByteArray piece(pieceSize, Qt::Uninitialized);
    bool same = shown.size() >= from + count;
    for (qsizetype at = 0; at < count; at += pieceSize) {
        const qsizetype length = std::min(pieceSize, count - at);
        expected.generate(piece.data(), static_cast<std::size_t>(length));
        same = same
            && shown.mid(from + at, length) == QString::fromLatin1(QByteArrayView(piece.constData(), length));
    }
    return same;
}

} // namespace BenchSupport
