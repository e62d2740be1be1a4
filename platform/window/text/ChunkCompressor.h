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
// Without an application object nothing is compressed: there is no event
// loop to put the results in place.
class ChunkCompressor
{
public:
    // A chunk that is full and will not change again.
    static void offer(const std::shared_ptr<const Chunk> &chunk);
    // Chunks offered and not yet compressed and in place: for tests and
    // benchmarks that wait for compression to be done.
    static qsizetype pending();
    // Off, chunks offered are let go: for benchmarks that measure what
    // compression saves. On by default.
    static void setEnabled(bool enabled);
};

} // namespace TextTree
