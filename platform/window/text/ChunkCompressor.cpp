#include "ChunkCompressor.h"

#include "Chunk.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMetaObject>

#include <zstd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace TextTree {

namespace {

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
        std::unique_lock lock(m_mutex);
        if (!m_enabled)
            return;
        if (!m_thread.joinable()) {
            if (!QCoreApplication::instance())
                return;
            // Before the application object goes, so no result is ever
            // posted to one that is gone.
            qAddPostRoutine([] { Worker::instance().stop(); });
            m_stopping = false;
            m_thread = std::thread([this] { run(); });
        }
        m_queue.push_back(chunk);
        ++m_pending;
        m_wake.notify_one();
    }

    qsizetype pending() const { return m_pending.load(); }

    void setEnabled(bool enabled)
    {
        std::unique_lock lock(m_mutex);
        m_enabled = enabled;
    }

    void stop()
    {
        {
            std::unique_lock lock(m_mutex);
            m_stopping = true;
            // Results posted and not yet put in place go with the
            // application's event queue.
            m_queue.clear();
            m_pending = 0;
            ++m_generation;
            m_wake.notify_one();
        }
        if (m_thread.joinable())
            m_thread.join();
    }

    ~Worker() { stop(); }

private:
    // One chunk is done with. Under the lock: a stop between the look at the
    // generation and the count would otherwise leave the count at -1.
    void settle(int generation)
    {
        const std::lock_guard lock(m_mutex);
        if (generation == m_generation)
            --m_pending;
    }

    void run()
    {
        ZSTD_CCtx *context = ZSTD_createCCtx();
        std::unique_ptr<char[]> scratch;
        std::size_t scratchSize = 0;
        for (;;) {
            std::weak_ptr<const Chunk> next;
            int generation = 0;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
                if (m_stopping)
                    break;
                next = m_queue.front();
                m_queue.pop_front();
                generation = m_generation;
            }
            const std::shared_ptr<const Chunk> chunk = next.lock();
            std::shared_ptr<char[]> packed;
            qsizetype packedSize = 0;
            if (chunk) {
                const auto plainSize = static_cast<std::size_t>(chunk->plainSize());
                const std::size_t bound = ZSTD_compressBound(plainSize);
                if (scratchSize < bound) {
                    scratch = std::make_unique_for_overwrite<char[]>(bound);
                    scratchSize = bound;
                }
                const std::size_t written
                    = ZSTD_compressCCtx(context, scratch.get(), bound, chunk->plainBytes(), plainSize, 1);
                if (!ZSTD_isError(written) && written < plainSize) {
                    packed = std::make_shared_for_overwrite<char[]>(written);
                    std::memcpy(packed.get(), scratch.get(), written);
                    packedSize = static_cast<qsizetype>(written);
                }
            }
            if (!packed) {
                settle(generation);
                continue;
            }
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [this, next, packed, packedSize, generation] {
                    if (const std::shared_ptr<const Chunk> alive = next.lock())
                        alive->install(packed, packedSize);
                    settle(generation);
                },
                Qt::QueuedConnection);
        }
        ZSTD_freeCCtx(context);
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::weak_ptr<const Chunk>> m_queue;
    std::atomic<qsizetype> m_pending{0};
    // Counts the stops, which drop what is in flight.
    std::atomic<int> m_generation{0};
    bool m_stopping = false;
    bool m_enabled = true;
    std::thread m_thread;
};

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

void ChunkCompressor::setEnabled(bool enabled)
{
    Worker::instance().setEnabled(enabled);
}

} // namespace TextTree
