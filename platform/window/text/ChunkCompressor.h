#pragma once

#include <QtCore/QtGlobal>

#include <memory>

namespace TextTree {

class Chunk;

// Compresses full chunks of text with Zstandard (level 1) on a thread of its
// own, and puts each result in place on the application's thread, from its
// event loop, where no reading of the chunk can be under way. A chunk that
// compression would not shrink (random bytes) stays as it is.
//
// Zstandard rather than LZ4: on chunks of 8 Ki characters it stores a
// sensor's readings in 0.10 bytes a character against LZ4's 0.25, and short
// lines in 0.31 against 0.71; it decompresses a chunk in 10 to 20 us, well
// within a frame, and compresses 250 to 360 MB/s on one core, more than a
// pseudo-terminal flat out brings (bench_compression prints the figures).
//
// The thread hands its results over under a mutex of its own and posts a
// bare event to say they wait; nothing it wrote is carried in the event. A
// chunk's last reference is never dropped on that thread once it is
// compressed: the result keeps the chunk until it is put in place.
//
// Without an application object nothing is compressed in the background:
// there is no event loop to put the results in place.
class ChunkCompressor
{
public:
    // A chunk that is full and will not change again.
    static void offer(const std::shared_ptr<const Chunk> &chunk);
    // Chunks offered and not yet compressed and in place: for tests and
    // benchmarks that wait for compression to be done.
    static qsizetype pending();
    // On the application's thread: waits for every chunk offered so far to
    // be compressed and puts the results in place now, rather than from the
    // event loop. For a decision about memory that must count compressed
    // chunks at their compressed size.
    static void finish();
    // Compresses `chunk` (full, not yet compressed) on the calling thread,
    // which must be the one that reads it, and puts the result in place at
    // once: for tests and fuzzers that choose when compression happens.
    static void compressNow(const Chunk &chunk);
    // Off, chunks offered are let go: for benchmarks that measure what
    // compression saves. On by default.
    static void setEnabled(bool enabled);
};

} // namespace TextTree
