#include "CBlockPool.h"

#include <sys/mman.h>

//==============================================================================
CBlockPool::CBlockPool()
    : worker ([this] { Run(); })
{
}

CBlockPool::~CBlockPool()
{
    quit.store (true);
    Wake();
    worker.join();

    FreeRetired();

    for (auto i = sparesHead.load(); i != sparesTail.load(); i = (i + 1) % (kSpareBlocks + 1))
        Free (spares[i]);
}

//==============================================================================
void* CBlockPool::Take() noexcept
{
    const auto head = sparesHead.load (std::memory_order_relaxed);

    if (head != sparesTail.load (std::memory_order_acquire))
    {
        auto* block = spares[head];
        sparesHead.store ((head + 1) % (kSpareBlocks + 1), std::memory_order_release);
        Wake();
        return block;
    }

    // The worker has fallen behind (or was never asked): one block, bounded work.
    Wake();
    auto* block = Allocate (false);

    if (block != nullptr)
        fallbackAllocations.fetch_add (1, std::memory_order_relaxed);

    return block;
}

void CBlockPool::Retire (Directory* chain, bool wakeWorker) noexcept
{
    if (chain == nullptr)
        return;

    const auto tail = retiredTail.load (std::memory_order_relaxed);
    const auto next = (tail + 1) % kRetireSlots;

    if (next == retiredHead.load (std::memory_order_acquire))
    {
        // Only reachable if the worker has stalled for hundreds of takes.
        FreeChain (chain);
        return;
    }

    retired[tail] = chain;
    retiredTail.store (next, std::memory_order_release);

    if (wakeWorker)
        Wake();
}

void CBlockPool::FreeChain (Directory* chain) noexcept
{
    while (chain != nullptr)
    {
        for (auto* chunk : chain->chunks)
        {
            if (chunk == nullptr)
                break;

            Free (chunk);
        }

        auto* next = chain->next;
        Free (chain);
        chain = next;
    }
}

void CBlockPool::WaitUntilIdle()
{
    for (;;)
    {
        const auto passes = idleCount.load();
        Wake();
        idleCount.wait (passes);

        const bool sparesReady = ! primed.load()
                                  || (sparesTail.load() + 1) % (kSpareBlocks + 1) == sparesHead.load()
                                  || blocksInUse.load() >= blockLimit.load();

        if (retiredHead.load() == retiredTail.load() && sparesReady)
            return;
    }
}

//==============================================================================
void* CBlockPool::Allocate (bool prefault) noexcept
{
    if (blocksInUse.fetch_add (1) >= blockLimit.load())
    {
        blocksInUse.fetch_sub (1);
        return nullptr;
    }

    // Fresh zeroed pages straight from the system, away from the allocator's locks.
    auto* block = mmap (nullptr, kBlockBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);

    if (block == MAP_FAILED)
        block = nullptr;

    // Touch every page here, so that the audio thread does not take the page faults.
    if (block != nullptr && prefault)
        for (std::size_t i = 0; i < kBlockBytes; i += 4096)
            static_cast<volatile char*> (block)[i] = 0;

    if (block == nullptr)
        blocksInUse.fetch_sub (1);

    return block;
}

void CBlockPool::Free (void* block) noexcept
{
    munmap (block, kBlockBytes);
    blocksInUse.fetch_sub (1);
}

void CBlockPool::Wake() noexcept
{
    wakeCount.fetch_add (1, std::memory_order_release);
    wakeCount.notify_one();
}

//==============================================================================
void CBlockPool::Run()
{
    for (;;)
    {
        const auto seen = wakeCount.load (std::memory_order_acquire);

        if (quit.load())
            return;

        FreeRetired();
        FillSpares();

        idleCount.fetch_add (1);
        idleCount.notify_all();

        wakeCount.wait (seen, std::memory_order_acquire);
    }
}

void CBlockPool::FreeRetired() noexcept
{
    auto head = retiredHead.load (std::memory_order_relaxed);

    while (head != retiredTail.load (std::memory_order_acquire))
    {
        FreeChain (retired[head]);
        head = (head + 1) % kRetireSlots;
        retiredHead.store (head, std::memory_order_release);
    }
}

void CBlockPool::FillSpares() noexcept
{
    if (! primed.load())
        return;

    auto tail = sparesTail.load (std::memory_order_relaxed);

    for (;;)
    {
        const auto next = (tail + 1) % (kSpareBlocks + 1);

        if (next == sparesHead.load (std::memory_order_acquire))
            break;

        auto* block = Allocate (true);

        if (block == nullptr)
            break;

        spares[tail] = block;
        tail = next;
        sparesTail.store (tail, std::memory_order_release);
    }
}
