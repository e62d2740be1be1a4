#pragma once

// Global operator new and delete replaced, for the test program or fuzzer
// that links FailingAllocation.cpp: an allocation through operator new can
// be made to fail (std::bad_alloc) at a chosen count, on the calling thread
// only. Memory taken with malloc or mmap directly is not counted.
#include <new>

namespace FailingAllocation {

// The allocation after `count` more fails; a negative count fails none.
void failAfter(long count);

// Runs `operation` with the allocation after `count` more failing; whether
// it completed rather than failing with std::bad_alloc. No allocation fails
// once it returns.
template<typename Operation>
bool attempt(long count, Operation &&operation)
{
    failAfter(count);
    try {
        operation();
    } catch (const std::bad_alloc &) {
        failAfter(-1);
        return false;
    }
    failAfter(-1);
    return true;
}

} // namespace FailingAllocation
