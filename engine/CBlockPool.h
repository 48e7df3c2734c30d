#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

//==============================================================================
/** Fixed-size memory blocks for the recorder's takes, supplied and freed off the
    audio thread.

    A take grows block by block, so appending never copies what was recorded, and
    a whole take is handed back as one chain, so discarding it costs the audio
    thread a constant amount of work whatever its length. A worker thread keeps a
    few pre-faulted blocks ready and frees retired chains.

    Threads: Take() has one caller at a time (the audio thread, or a thread that
    holds the processor's callback lock); Retire() likewise. Everything else may
    be called from any thread.
*/
class CBlockPool
{
public:
    static constexpr std::size_t kBlockBytes = 256 * 1024;

    /** A directory block: it lists the sample blocks of one stretch of a take and
        links to the directory of the next stretch. */
    static constexpr int kChunksPerDirectory = 16384;
    struct Directory
    {
        Directory* next;
        double* chunks[kChunksPerDirectory];
    };
    static_assert (sizeof (Directory) <= kBlockBytes);

    CBlockPool() noexcept = default;
    ~CBlockPool();

    /** A zero-filled block of kBlockBytes, or nullptr when memory cannot be had.
        Real-time safe unless the worker has fallen behind (or could not be
        started), in which case the block is allocated here; never once the
        system has refused memory and no spare is left. */
    void* Take() noexcept;

    /** Hands a chain of directories, with every block they list, to the worker
        to free. Real-time safe: it never frees here, even when the worker has
        fallen far behind. A caller holding a lock that the audio thread waits
        for may leave the wake-up for later (Wake()), outside the lock. */
    void Retire (Directory* chain, bool wakeWorker = true) noexcept;

    /** Lets the worker run: it frees what was retired and refills its spares. */
    void Wake() noexcept;

    /** Frees a chain of directories and their blocks on the calling thread. */
    void FreeChain (Directory* chain) noexcept;

    /** Has spare blocks ready from now on, so that a take can start on the
        audio thread without allocating there: the first call fills them here
        and starts the worker. Call it before recording can start (when Record
        is armed), off the audio thread and outside the callback lock.

        Without a thread for the worker (the system refused one), each call does
        the worker's work here instead and tries again to start it. */
    void Prime() noexcept;

    /** Blocks allocated and not yet freed, spares included. */
    std::size_t BlocksInUse() const noexcept   { return blocksInUse.load(); }

    /** Waits until the worker has freed everything retired so far and refilled
        its spares, or found that it cannot. Without a worker, does that here.
        Not for the audio thread. */
    void WaitUntilIdle();

    /** Makes allocation fail once this many blocks are in use: what running out
        of memory looks like to the recorder. */
    void SetBlockLimit (std::size_t maxBlocks) noexcept   { blockLimit.store (maxBlocks); }

    /** How often Take() had to allocate on its caller's thread. */
    std::size_t FallbackAllocations() const noexcept   { return fallbackAllocations.load(); }

private:
    static constexpr std::size_t kSpareBlocks = 6;
    static constexpr std::size_t kRetireSlots = 256;

    void* Allocate (bool prefault) noexcept;
    void Free (void* block) noexcept;
    bool StartWorker() noexcept;
    void Run();
    void FreeRetired() noexcept;
    void FillSpares() noexcept;
    bool SparesReady() const noexcept;
    static Directory* LastOf (Directory* chain) noexcept;

    // Spares: the worker produces, Take() consumes.
    void* spares[kSpareBlocks + 1] {};
    std::atomic<std::size_t> sparesHead { 0 }, sparesTail { 0 };

    // Retired chains: Retire() produces, the worker consumes.
    Directory* retired[kRetireSlots] {};
    std::atomic<std::size_t> retiredHead { 0 }, retiredTail { 0 };

    // Chains the ring had no room for, linked end to end: Retire()'s own, until
    // the ring has room again.
    Directory* overflow = nullptr;

    std::atomic<bool> primed { false };
    std::atomic<bool> allocationFailed { false };
    std::atomic<bool> quit { false };
    std::atomic<std::uint32_t> wakeCount { 0 };
    std::atomic<std::uint32_t> idleCount { 0 };
    std::atomic<std::size_t> blocksInUse { 0 };
    std::atomic<std::size_t> blockLimit { SIZE_MAX };
    std::atomic<std::size_t> fallbackAllocations { 0 };

    std::mutex workerLock;   // starting the worker, or doing its work without one
    std::thread worker;

    CBlockPool (const CBlockPool&) = delete;
    CBlockPool& operator= (const CBlockPool&) = delete;
};
