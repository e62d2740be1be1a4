// Which compressor the text box's older chunks get: LZ4 or Zstandard, on
// the chunk sizes the text box could use, for the kinds of text it holds.
// Prints, for each: bytes stored per character (the compressed chunks and
// what each costs to keep), and how fast chunks compress and decompress.
//
//   bench_compression [MB]      (default 64 MB of each kind)

#include "SampleText.h"

#include <lz4.h>
#include <zstd.h>

#include <QtCore/QByteArray>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Codec
{
    const char *name;
    std::function<qsizetype(const char *in, qsizetype size, char *out, qsizetype capacity)> compress;
    std::function<qsizetype(const char *in, qsizetype size, char *out, qsizetype capacity)> decompress;
    qsizetype (*bound)(qsizetype size);
};

Codec zstd(int level)
{
    static ZSTD_CCtx *compressor = ZSTD_createCCtx();
    static ZSTD_DCtx *decompressor = ZSTD_createDCtx();
    return {level == 1 ? "zstd -1" : level == 3 ? "zstd -3" : "zstd",
            [level](const char *in, qsizetype size, char *out, qsizetype capacity) {
                const std::size_t written = ZSTD_compressCCtx(compressor, out, static_cast<std::size_t>(capacity), in,
                                                              static_cast<std::size_t>(size), level);
                if (ZSTD_isError(written))
                    throw std::runtime_error(ZSTD_getErrorName(written));
                return static_cast<qsizetype>(written);
            },
            [](const char *in, qsizetype size, char *out, qsizetype capacity) {
                const std::size_t read = ZSTD_decompressDCtx(decompressor, out, static_cast<std::size_t>(capacity), in,
                                                             static_cast<std::size_t>(size));
                if (ZSTD_isError(read))
                    throw std::runtime_error(ZSTD_getErrorName(read));
                return static_cast<qsizetype>(read);
            },
            [](qsizetype size) { return static_cast<qsizetype>(ZSTD_compressBound(static_cast<std::size_t>(size))); }};
}

Codec lz4()
{
    return {"lz4",
            [](const char *in, qsizetype size, char *out, qsizetype capacity) {
                return static_cast<qsizetype>(
                    LZ4_compress_default(in, out, static_cast<int>(size), static_cast<int>(capacity)));
            },
            [](const char *in, qsizetype size, char *out, qsizetype capacity) {
                return static_cast<qsizetype>(
                    LZ4_decompress_safe(in, out, static_cast<int>(size), static_cast<int>(capacity)));
            },
            [](qsizetype size) { return static_cast<qsizetype>(LZ4_compressBound(static_cast<int>(size))); }};
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char **argv)
{
    const qsizetype megabytes = argc > 1 ? std::atoll(argv[1]) : 64;
    const qsizetype total = megabytes * 1000 * 1000;
    const std::vector<Codec> codecs{lz4(), zstd(1), zstd(3)};
    // What keeping one compressed chunk costs besides its bytes: the
    // allocation's own overhead, on the order of malloc's.
    constexpr qsizetype perChunk = 16;

    std::printf("Compressing chunks of a text box's text, %lld MB of each kind (one byte a character)\n",
                static_cast<long long>(megabytes));
    std::printf("%-17s %6s %-8s %8s %11s %11s\n", "text", "chunk", "codec", "B/char", "comp. MB/s", "decomp. MB/s");
    for (const SampleText::Kind kind :
         {SampleText::Kind::Readings, SampleText::Kind::ShortLines, SampleText::Kind::RandomBytes}) {
        const QByteArray text = SampleText(kind).next(total);
        for (const qsizetype chunk : {qsizetype(8192), qsizetype(65536)}) {
            for (const Codec &codec : codecs) {
                std::vector<QByteArray> packed;
                qsizetype stored = 0;
                auto start = Clock::now();
                for (qsizetype at = 0; at < total; at += chunk) {
                    const qsizetype size = std::min(chunk, total - at);
                    QByteArray out(codec.bound(size), Qt::Uninitialized);
                    const qsizetype written = codec.compress(text.constData() + at, size, out.data(), out.size());
                    // A chunk that does not shrink is kept as it is.
                    out.truncate(written > 0 && written < size ? written : 0);
                    stored += (out.isEmpty() ? size : out.size()) + perChunk;
                    packed.push_back(std::move(out));
                }
                const double compressSeconds = secondsSince(start);
                QByteArray back(chunk, Qt::Uninitialized);
                start = Clock::now();
                qsizetype at = 0;
                qsizetype unpacked = 0;
                for (const QByteArray &piece : packed) {
                    const qsizetype size = std::min(chunk, total - at);
                    if (!piece.isEmpty()) {
                        if (codec.decompress(piece.constData(), piece.size(), back.data(), chunk) != size)
                            throw std::runtime_error("a chunk did not come back whole");
                        unpacked += size;
                    }
                    at += size;
                }
                const double decompressSeconds = secondsSince(start);
                std::printf("%-17s %5lldK %-8s %8.3f %11.0f ", SampleText::label(kind),
                            static_cast<long long>(chunk / 1024), codec.name,
                            static_cast<double>(stored) / static_cast<double>(total),
                            static_cast<double>(total) / compressSeconds / 1e6);
                if (unpacked > 0)
                    std::printf("%11.0f\n", static_cast<double>(unpacked) / decompressSeconds / 1e6);
                else
                    std::printf("%11s\n", "(kept)");
            }
        }
    }
    std::printf("B/char: compressed chunks (or the chunk itself where compressing does not shrink it)\n"
                "plus %lld bytes of allocation each, over the characters. Speeds: one core, MB of text;\n"
                "(kept): no chunk shrank, so none is ever decompressed.\n",
                static_cast<long long>(perChunk));
    return 0;
}
