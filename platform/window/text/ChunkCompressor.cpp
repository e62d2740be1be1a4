#include "ChunkCompressor.h"

#include "Chunk.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QEvent>
#include <QtCore/QObject>

#include <zstd.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace TextTree {

namespace {

struct FreeCompressor
{
    void operator()(ZSTD_CCtx *context) const { ZSTD_freeCCtx(context); }
};
using Compressor = std::unique_ptr<ZSTD_CCtx, FreeCompressor>;

struct Packed
{
    std::shared_ptr<const char[]> bytes;
    qsizetype size = 0;
};

// A full chunk's characters, compressed; nothing when that would not shrink
// them. `scratch` is kept from one call to the next, so a chunk costs one
// allocation of its compressed size.
class Packer
{
public:
    Packed pack(const Chunk &chunk)
    {
        const auto plainSize = static_cast<std::size_t>(chunk.plainSize());
        const std::size_t bound = ZSTD_compressBound(plainSize);
        if (m_scratchSize < bound) {
            m_scratch = std::make_unique_for_overwrite<char[]>(bound);
            m_scratchSize = bound;
        }
        const std::size_t written = ZSTD_compressCCtx(m_context.get(), m_scratch.get(), bound,
                                                      chunk.plainBytes(), plainSize, 1);
        if (ZSTD_isError(written) || written >= plainSize)
            return {};
        auto bytes = std::make_shared_for_overwrite<char[]>(written);
        std::memcpy(bytes.get(), m_scratch.get(), written);
        return {std::move(bytes), static_cast<qsizetype>(written)};
    }

private:
    Compressor m_context{ZSTD_createCCtx()};
    std::unique_ptr<char[]> m_scratch;
    std::size_t m_scratchSize = 0;
};

// On the application's thread: told by a bare posted event that results
// wait, which it then takes under the worker's lock.
class Receiver : public QObject
{
public:
    static QEvent::Type resultsWaiting()
    {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    bool event(QEvent *event) override;
};

class Worker
{
public:
    static Worker &instance()
    {
        static Worker worker;
        return worker;
    }

    void offer(const std::shared_ptr<const Chunk> &chunk)
    {
        const std::lock_guard lock(m_mutex);
        if (!m_enabled)
            return;
        if (!m_thread.joinable()) {
            if (!QCoreApplication::instance())
                return;
            // Before the application object goes, so no result waits for an
            // event loop that is gone.
            qAddPostRoutine([] { Worker::instance().stop(); });
            m_stopping = false;
            m_receiver = std::make_unique<Receiver>();
            m_thread = std::thread([this] { run(); });
        }
        m_queue.push_back(chunk);
        ++m_pending;
        m_wake.notify_one();
    }

    qsizetype pending() const
    {
        const std::lock_guard lock(m_mutex);
        return m_pending;
    }

    void setEnabled(bool enabled)
    {
        const std::lock_guard lock(m_mutex);
        m_enabled = enabled;
    }

    void finish()
    {
        {
            std::unique_lock lock(m_mutex);
            m_idle.wait(lock, [this] { return !m_thread.joinable() || (m_queue.empty() && !m_busy); });
        }
        installResults();
    }

    // Whether `event` is the one saying results wait. It was made on the
    // worker's thread, under the lock: it is looked at under the lock too.
    bool saysResultsWait(const QEvent &event) const
    {
        const std::lock_guard lock(m_mutex);
        return event.type() == Receiver::resultsWaiting();
    }

    // On the application's thread.
    void installResults()
    {
        std::vector<Result> results;
        {
            const std::lock_guard lock(m_mutex);
            results.swap(m_results);
            m_resultsPosted = false;
        }
        for (const Result &result : results)
            result.chunk->install(result.packed.bytes, result.packed.size);
        const std::lock_guard lock(m_mutex);
        m_pending -= static_cast<qsizetype>(results.size());
        // `results` goes here, on this thread, with the last reference to a
        // chunk the text has let go of meanwhile.
    }

    void stop()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_queue.clear();
            m_wake.notify_one();
        }
        if (m_thread.joinable())
            m_thread.join();
        std::vector<Result> dropped;
        {
            const std::lock_guard lock(m_mutex);
            dropped.swap(m_results);
            m_pending = 0;
            m_resultsPosted = false;
            m_idle.notify_all();
        }
        // Its posted event, if any, goes with it.
        m_receiver.reset();
    }

    ~Worker() { stop(); }

private:
    struct Result
    {
        std::shared_ptr<const Chunk> chunk;
        Packed packed;
    };

    void run()
    {
        Packer packer;
        for (;;) {
            std::shared_ptr<const Chunk> chunk;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
                if (m_stopping)
                    break;
                chunk = m_queue.front().lock();
                m_queue.pop_front();
                m_busy = true;
            }
            Packed packed = chunk ? packer.pack(*chunk) : Packed();
            const std::lock_guard lock(m_mutex);
            m_busy = false;
            if (packed.bytes && !m_stopping) {
                m_results.push_back({std::move(chunk), std::move(packed)});
                // Posted under the lock the application's thread takes the
                // results under: that orders everything written here before
                // everything read there, whatever Qt's queue does between.
                if (!m_resultsPosted) {
                    m_resultsPosted = true;
                    QCoreApplication::postEvent(m_receiver.get(), new QEvent(Receiver::resultsWaiting()));
                }
            } else {
                // Let go of, or not worth compressing: a chunk whose last
                // reference goes here was never compressed, so nothing of
                // it is cached anywhere.
                --m_pending;
            }
            if (m_queue.empty())
                m_idle.notify_all();
        }
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::weak_ptr<const Chunk>> m_queue;
    std::vector<Result> m_results;
    qsizetype m_pending = 0;
    bool m_busy = false;
    bool m_resultsPosted = false;
    bool m_stopping = false;
    bool m_enabled = true;
    std::unique_ptr<Receiver> m_receiver;
    std::thread m_thread;
};

bool Receiver::event(QEvent *event)
{
    if (!Worker::instance().saysResultsWait(*event))
        return QObject::event(event);
    Worker::instance().installResults();
    return true;
}

} // namespace

void ChunkCompressor::offer(const std::shared_ptr<const Chunk> &chunk)
{
    // A few hundred characters (an edit's leaf) would not shrink by enough
    // to pay for their own allocation.
    if (chunk->plainSize() >= 1024)
        Worker::instance().offer(chunk);
}

qsizetype ChunkCompressor::pending()
{
    return Worker::instance().pending();
}

void ChunkCompressor::finish()
{
    Worker::instance().finish();
}

void ChunkCompressor::compressNow(const Chunk &chunk)
{
    // The worker may have it in hand: let it finish, and its result is put
    // in place first.
    finish();
    if (chunk.compressed() || !chunk.full())
        return;
    Packer packer;
    const Packed packed = packer.pack(chunk);
    if (packed.bytes)
        chunk.install(packed.bytes, packed.size);
}

void ChunkCompressor::setEnabled(bool enabled)
{
    Worker::instance().setEnabled(enabled);
}

} // namespace TextTree
