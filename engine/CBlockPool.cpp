#include "CBlockPool.h"

#include <sys/mman.h>

#include <system_error>

//==============================================================================
CBlockPool::~CBlockPool()
{
    if (worker.joinable())
    {
        quit.store (true);
        Wake();
        worker.join();
    }

    FreeRetired();
    FreeChain (overflow);

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

    Wake();

    // Once the system has refused memory, asking it again here only costs the
    // audio thread; the worker finds out when memory comes back.
    if (allocationFailed.load (std::memory_order_relaxed))
        return nullptr;

    // The worker has fallen behind, or has no thread: one block, bounded work.
    auto* block = Allocate (false);

    if (block != nullptr)
        fallbackAllocations.fetch_add (1, std::memory_order_relaxed);

    return block;
}

void CBlockPool::Retire (Directory* chain, bool wakeWorker) noexcept
{
    if (chain == nullptr)
        return;

    // A take has at most a few dozen directories, so finding its end is bounded.
    if (overflow != nullptr)
    {
        LastOf (chain)->next = overflow;
        overflow = nullptr;
    }

    const auto tail = retiredTail.load (std::memory_order_relaxed);
    const auto next = (tail + 1) % kRetireSlots;

    if (next == retiredHead.load (std::memory_order_acquire))
    {
        // The worker is far behind, or has no thread: keep the chain for later.
        overflow = chain;
        return;
    }

    retired[tail] = chain;
    retiredTail.store (next, std::memory_order_release);

    if (wakeWorker)
        Wake();
}

CBlockPool::Directory* CBlockPool::LastOf (Directory* chain) noexcept
{
    while (chain->next != nullptr)
        chain = chain->next;

    return chain;
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

//==============================================================================
void CBlockPool::Prime() noexcept
{
    const std::lock_guard<std::mutex> lock (workerLock);
    primed.store (true);

    if (worker.joinable())
    {
        // After the system refused memory, the spares may be gone: let the
        // worker try again before a take can ask for them.
        if (allocationFailed.load())
        {
            const auto passes = idleCount.load();
            Wake();
            idleCount.wait (passes);
        }

        return;
    }

    // No worker yet, so this thread is the only one that fills or frees.
    FreeRetired();
    FillSpares();
    StartWorker();
}

bool CBlockPool::StartWorker() noexcept
{
    try
    {
        worker = std::thread ([this] { Run(); });
        return true;
    }
    catch (const std::system_error&)
    {
        // No thread to be had: Take() allocates for itself, and retired takes
        // wait for the next Prime() or the pool's end.
        return false;
    }
}

void CBlockPool::WaitUntilIdle()
{
    {
        const std::lock_guard<std::mutex> lock (workerLock);

        if (! worker.joinable())
        {
            FreeRetired();
            FillSpares();
            return;
        }
    }

    for (;;)
    {
        const auto passes = idleCount.load();
        Wake();
        idleCount.wait (passes);

        if (retiredHead.load() == retiredTail.load() && SparesReady())
            return;
    }
}

bool CBlockPool::SparesReady() const noexcept
{
    return ! primed.load()
        || (sparesTail.load() + 1) % (kSpareBlocks + 1) == sparesHead.load()
        || allocationFailed.load();
}

//==============================================================================
void* CBlockPool::Allocate (bool prefault) noexcept
{
    if (blocksInUse.fetch_add (1) >= blockLimit.load())
    {
        blocksInUse.fetch_sub (1);
        allocationFailed.store (true, std::memory_order_relaxed);
        return nullptr;
    }

    // Fresh zeroed pages straight from the system, away from the allocator's locks.
    auto* block = mmap (nullptr, kBlockBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);

    if (block == MAP_FAILED)
    {
        blocksInUse.fetch_sub (1);
        allocationFailed.store (true, std::memory_order_relaxed);
        return nullptr;
    }

    // Touch every page here, so that the audio thread does not take the page faults.
    if (prefault)
        for (std::size_t i = 0; i < kBlockBytes; i += 4096)
            static_cast<volatile char*> (block)[i] = 0;

    allocationFailed.store (false, std::memory_order_relaxed);
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
