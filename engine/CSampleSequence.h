#pragma once

#include "CBlockPool.h"

#include <cstdint>

//==============================================================================
/** A growable sequence of 64-bit samples: one channel of one memory slot.

    Storage grows a block at a time, so appending never moves what is already
    recorded, and Release() hands the whole storage to the pool's worker in
    constant time. Rewind() keeps the storage for the sequence to be written
    over. Not thread-safe: the recorder's callers see to exclusion.
*/
class CSampleSequence
{
public:
    static constexpr int kChunkShift = 15;
    static constexpr std::int64_t kChunkFrames = std::int64_t { 1 } << kChunkShift;
    static constexpr int kDirectoryShift = kChunkShift + 14;
    static constexpr int kMaxDirectories = 64;
    static_assert ((std::int64_t { 1 } << (kDirectoryShift - kChunkShift)) == CBlockPool::kChunksPerDirectory);
    static_assert (kChunkFrames * (std::int64_t) sizeof (double) == (std::int64_t) CBlockPool::kBlockBytes);

    explicit CSampleSequence (CBlockPool& pool) noexcept  : blocks (pool) {}
    ~CSampleSequence()
    {
        if (numDirectories > 0)
            FreeNow();
    }

    std::int64_t Size() const noexcept        { return size; }
    std::int64_t Capacity() const noexcept    { return capacity; }

    /** Element access; i must be below Size(). */
    double operator[] (std::int64_t i) const noexcept
    {
        return ChunkAt (i)[i & (kChunkFrames - 1)];
    }

    /** The storage block that holds sample i, which must be below Size(). It starts at
        i rounded down to a multiple of kChunkFrames, and stays put until released. */
    const double* ChunkAt (std::int64_t i) const noexcept   { return Chunk (i); }

    /** Makes room for one more sample; false when storage cannot grow. */
    bool Reserve() noexcept
    {
        return size < writeEnd || NextChunk();
    }

    /** Appends after a successful Reserve(). */
    void AppendReserved (double value) noexcept
    {
        lastChunk[size & (kChunkFrames - 1)] = value;
        ++size;
    }

    /** Appends one sample; false, with nothing changed, when storage cannot grow. */
    bool Append (double value) noexcept
    {
        if (! Reserve())
            return false;

        AppendReserved (value);
        return true;
    }

    /** Empties the sequence and gives its storage back: capacity returns to zero.
        The memory itself is freed by the pool's worker thread. */
    void Release (bool wakeWorker = true) noexcept;

    /** Like Release(), but frees the memory on the calling thread. */
    void FreeNow() noexcept;

    /** Empties the sequence but keeps its storage, to be written over from the start. */
    void Rewind() noexcept
    {
        size = 0;
        writeEnd = 0;
        lastChunk = nullptr;
    }

    /** Gives back the storage beyond the samples held (after a Rewind(), what
        was not written over), in constant memory; the worker frees it, as with
        Release(). */
    void ReleaseUnused (bool wakeWorker = true) noexcept;

private:
    double* Chunk (std::int64_t i) const noexcept
    {
        return directories[i >> kDirectoryShift]->chunks[(i >> kChunkShift) & (CBlockPool::kChunksPerDirectory - 1)];
    }

    bool NextChunk() noexcept;
    bool Grow() noexcept;
    CBlockPool::Directory* Detach() noexcept;

    CBlockPool& blocks;
    CBlockPool::Directory* directories[kMaxDirectories] {};
    int numDirectories = 0;
    std::int64_t size = 0, capacity = 0;
    double* lastChunk = nullptr;   // where the next appended sample goes
    std::int64_t writeEnd = 0;     // where lastChunk ends

    CSampleSequence (const CSampleSequence&) = delete;
    CSampleSequence& operator= (const CSampleSequence&) = delete;
};
