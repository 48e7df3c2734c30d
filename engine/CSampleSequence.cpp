#include "CSampleSequence.h"

//==============================================================================
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
    lastChunk = samples;
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
