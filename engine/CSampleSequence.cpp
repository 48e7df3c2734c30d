#include "CSampleSequence.h"

//==============================================================================
bool CSampleSequence::NextChunk() noexcept
{
    // Blocks already held are written over before the storage grows.
    if (size == capacity && ! Grow())
        return false;

    lastChunk = Chunk (size);
    writeEnd = size + kChunkFrames;
    return true;
}

bool CSampleSequence::Grow() noexcept
{
    const auto chunk = capacity >> kChunkShift;
    const auto directory = static_cast<int> (capacity >> kDirectoryShift);

    if (directory >= kMaxDirectories)
        return false;

    if (directory == numDirectories)
    {
        auto* fresh = static_cast<CBlockPool::Directory*> (blocks.Take());

        if (fresh == nullptr)
            return false;

        if (numDirectories > 0)
            directories[numDirectories - 1]->next = fresh;

        directories[numDirectories++] = fresh;
    }

    auto* samples = static_cast<double*> (blocks.Take());

    if (samples == nullptr)
        return false;

    directories[directory]->chunks[chunk & (CBlockPool::kChunksPerDirectory - 1)] = samples;
    capacity += kChunkFrames;
    return true;
}

CBlockPool::Directory* CSampleSequence::Detach() noexcept
{
    auto* chain = directories[0];

    for (int i = 0; i < numDirectories; ++i)
        directories[i] = nullptr;

    numDirectories = 0;
    size = 0;
    capacity = 0;
    lastChunk = nullptr;
    writeEnd = 0;
    return chain;
}

void CSampleSequence::Release (bool wakeWorker) noexcept
{
    blocks.Retire (Detach(), wakeWorker);
}

void CSampleSequence::FreeNow() noexcept
{
    blocks.FreeChain (Detach());
}

void CSampleSequence::ReleaseUnused (bool wakeWorker) noexcept
{
    constexpr int perDirectory = CBlockPool::kChunksPerDirectory;
    const auto used = (size + kChunkFrames - 1) >> kChunkShift;   // blocks holding samples

    if (used == 0)
    {
        Release (wakeWorker);
        return;
    }

    if (used == capacity >> kChunkShift)
        return;

    // Whole directories past the last one in use go as they are, still linked.
    const auto last = static_cast<int> ((used - 1) / perDirectory);
    auto* directory = directories[last];
    auto* unused = directory->next;
    directory->next = nullptr;

    for (int i = last + 1; i < numDirectories; ++i)
        directories[i] = nullptr;

    numDirectories = last + 1;

    // The unused blocks that the last one lists go too: the first of them becomes
    // the directory that lists the others, so that giving them back takes no memory.
    const auto first = static_cast<int> (used - static_cast<std::int64_t> (last) * perDirectory);

    if (first < perDirectory && directory->chunks[first] != nullptr)
    {
        auto* list = reinterpret_cast<CBlockPool::Directory*> (directory->chunks[first]);
        directory->chunks[first] = nullptr;
        int listed = 0;

        for (int i = first + 1; i < perDirectory && directory->chunks[i] != nullptr; ++i)
        {
            list->chunks[listed++] = directory->chunks[i];
            directory->chunks[i] = nullptr;
        }

        list->chunks[listed] = nullptr;
        list->next = unused;
        unused = list;
    }

    capacity = used << kChunkShift;
    blocks.Retire (unused, wakeWorker);
}
