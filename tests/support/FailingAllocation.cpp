#include "FailingAllocation.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include <stdlib.h>

namespace {

// Allocations through operator new left before one fails, on this thread;
// negative when none is to fail.
thread_local long allocationsBeforeFailure = -1;

bool failsNow()
{
    return allocationsBeforeFailure >= 0 && allocationsBeforeFailure-- == 0;
}

void *allocate(std::size_t size)
{
    if (failsNow())
        throw std::bad_alloc();
    if (void *memory = std::malloc(size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}

void *allocate(std::size_t size, std::align_val_t alignment)
{
    if (failsNow())
        throw std::bad_alloc();
    void *memory = nullptr;
    const std::size_t boundary = std::max(static_cast<std::size_t>(alignment), sizeof(void *));
    if (::posix_memalign(&memory, boundary, size == 0 ? 1 : size) == 0)
        return memory;
    throw std::bad_alloc();
}

template<typename... Alignment>
void *allocateOrNull(std::size_t size, Alignment... alignment) noexcept
{
    try {
        return allocate(size, alignment...);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

} // namespace

void FailingAllocation::failAfter(long count)
{
    allocationsBeforeFailure = count;
}

void *operator new(std::size_t size) { return allocate(size); }
void *operator new[](std::size_t size) { return allocate(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return allocateOrNull(size); }
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept { return allocateOrNull(size); }
void *operator new(std::size_t size, std::align_val_t alignment) { return allocate(size, alignment); }
void *operator new[](std::size_t size, std::align_val_t alignment) { return allocate(size, alignment); }
void *operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept
{
    return allocateOrNull(size, alignment);
}
void *operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept
{
    return allocateOrNull(size, alignment);
}
void operator delete(void *memory) noexcept { std::free(memory); }
void operator delete[](void *memory) noexcept { std::free(memory); }
void operator delete(void *memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void *memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void *memory, const std::nothrow_t &) noexcept { std::free(memory); }
void operator delete[](void *memory, const std::nothrow_t &) noexcept { std::free(memory); }
void operator delete(void *memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void *memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void *memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void *memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void *memory, std::align_val_t, const std::nothrow_t &) noexcept { std::free(memory); }
void operator delete[](void *memory, std::align_val_t, const std::nothrow_t &) noexcept { std::free(memory); }
