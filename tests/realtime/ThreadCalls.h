#pragma once

#include <atomic>
#include <cstddef>

//==============================================================================
/** Counts, per thread, the calls that a real-time thread must never make:
    heap allocation and release, and mapping or unmapping memory. It also lets a
    test refuse large allocations, memory maps or new threads, as a starved
    machine does.

    It replaces malloc and friends, mmap, munmap, madvise and pthread_create in
    the test program, so it cannot be linked beside a sanitizer's own.
*/
namespace ThreadCalls
{
    struct Counts
    {
        long heap = 0;     // malloc, calloc, realloc, aligned allocations and free
        long mapping = 0;  // mmap, munmap, mremap, madvise

        Counts operator- (const Counts& o) const   { return { heap - o.heap, mapping - o.mapping }; }
        long total() const                           { return heap + mapping; }
    };

    /** What the calling thread has done so far. */
    Counts ofThisThread() noexcept;

    /** Allocations above this many bytes fail (0: none fail). */
    extern std::atomic<std::size_t> refuseAllocationsOver;

    /** Anonymous memory maps of at least this many bytes fail (0: none fail). */
    extern std::atomic<std::size_t> refuseMapsFrom;

    /** When set, pthread_create fails with EAGAIN. */
    extern std::atomic<bool> refuseThreads;
}
