// Throws arbitrary content at LockFileOwner::ownerIn, the reading of a lock
// file another program left. What must hold for every input: no crash and
// no undefined behaviour; no allocation; the PID found is in (0, PidLimit]
// and is the one the conventions name, as a reading written another way
// finds it. And a PID taken from the input, written the ways serial tools
// write it (ASCII, with whatever follows, or 4 binary bytes), reads back.
#include "LockFileOwner.h"

#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

using LockFileOwner::PidLimit;

namespace {

thread_local bool counting = false;
thread_local std::size_t allocations = 0;

void noteAllocation(const volatile void *, std::size_t)
{
    if (counting)
        ++allocations;
}

void noteFree(const volatile void *) {}

[[noreturn]] void broken(const char *what, std::string_view content)
{
    std::fprintf(stderr, "LockFileOwner: %s for content of %zu bytes:", what, content.size());
    for (char c : content)
        std::fprintf(stderr, " %02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
    std::fprintf(stderr, "\n");
    std::abort();
}

std::optional<pid_t> owner(std::string_view content)
{
    counting = true;
    allocations = 0;
    const std::optional<pid_t> found = LockFileOwner::ownerIn(
        QByteArrayView(content.data(), static_cast<qsizetype>(content.size())));
    counting = false;
    if (allocations != 0)
        broken("allocated", content);
    if (found && (*found <= 0 || *found > PidLimit))
        broken("a PID out of range", content);
    return found;
}

// The ASCII conventions, read by finding the stretches: blanks, digits,
// then the end or a blank or a line end.
std::optional<pid_t> asciiOwner(std::string_view content)
{
    const std::size_t start = content.find_first_not_of(" \t");
    if (start == std::string_view::npos)
        return std::nullopt;
    const std::size_t stop = content.find_first_not_of("0123456789", start);
    const std::string_view digits = content.substr(start, stop == std::string_view::npos ? stop : stop - start);
    if (digits.empty())
        return std::nullopt;
    if (stop != std::string_view::npos && std::string_view(" \t\n\r").find(content[stop]) == std::string_view::npos)
        return std::nullopt;
    const std::size_t significant = digits.find_first_not_of('0');
    // Zero, or more digits than the largest PID has.
    if (significant == std::string_view::npos || digits.size() - significant > 7)
        return std::nullopt;
    std::int64_t pid = 0;
    std::from_chars(digits.data() + significant, digits.data() + digits.size(), pid);
    if (pid > PidLimit)
        return std::nullopt;
    return static_cast<pid_t>(pid);
}

std::optional<pid_t> expectedOwner(std::string_view content)
{
    if (const std::optional<pid_t> pid = asciiOwner(content))
        return pid;
    std::int32_t binary = 0;
    if (content.size() != sizeof binary)
        return std::nullopt;
    std::memcpy(&binary, content.data(), sizeof binary);
    if (binary <= 0 || binary > PidLimit)
        return std::nullopt;
    return binary;
}

void readsBack(const std::string &content, pid_t pid)
{
    if (owner(content) != pid)
        broken("a lock file does not read back", content);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (__sanitizer_install_malloc_and_free_hooks(noteAllocation, noteFree) == 0) {
        std::fprintf(stderr, "LockFileOwner: allocations cannot be watched\n");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view content(reinterpret_cast<const char *>(data), size);
    if (owner(content) != expectedOwner(content))
        broken("not the owner the conventions name", content);

    // A PID from the input, written as the tools write it.
    std::uint32_t seed = 0;
    if (size > 0)
        std::memcpy(&seed, data, std::min(size, sizeof seed));
    const auto pid = static_cast<pid_t>(1 + seed % PidLimit);
    char line[64];
    std::snprintf(line, sizeof line, "%10d\n", pid);
    readsBack(line, pid);
    // What follows the PID's line, or the word after it, is no matter.
    readsBack(line + std::string(content), pid);
    std::snprintf(line, sizeof line, "%10ld minicom user\n", static_cast<long>(pid));
    readsBack(line, pid);
    std::snprintf(line, sizeof line, "\t%d\r\n", pid);
    readsBack(line, pid);
    std::snprintf(line, sizeof line, "%d", pid);
    readsBack(line, pid);
    std::snprintf(line, sizeof line, "%020d\n", pid);
    readsBack(line, pid);
    // One more than any PID names none, in any number of bytes but 4.
    std::snprintf(line, sizeof line, "%10lld\n", static_cast<long long>(PidLimit + pid));
    if (owner(line))
        broken("a PID beyond the limit", line);

    // Binary: the PID, unless its bytes read as an ASCII lock of their own.
    std::string binary(sizeof(std::int32_t), '\0');
    const std::int32_t value = pid;
    std::memcpy(binary.data(), &value, sizeof value);
    const std::optional<pid_t> ascii = asciiOwner(binary);
    readsBack(binary, ascii ? *ascii : pid);
    return 0;
}
