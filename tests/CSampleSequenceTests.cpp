#include "CSampleSequence.h"

#include <gtest/gtest.h>

TEST (CSampleSequence, GrowsBlockByBlockWithoutMovingWhatItHolds)
{
    CBlockPool pool;
    CSampleSequence sequence (pool);
    EXPECT_EQ (sequence.Capacity(), 0);

    ASSERT_TRUE (sequence.Append (1.5));
    EXPECT_EQ (sequence.Capacity(), CSampleSequence::kChunkFrames);

    const auto n = CSampleSequence::kChunkFrames * 2 + 3;
    for (std::int64_t i = 1; i < n; ++i)
        ASSERT_TRUE (sequence.Append ((double) i));

    EXPECT_EQ (sequence.Size(), n);
    EXPECT_EQ (sequence.Capacity(), CSampleSequence::kChunkFrames * 3);
    EXPECT_EQ (sequence[0], 1.5);
    EXPECT_EQ (sequence[CSampleSequence::kChunkFrames], (double) CSampleSequence::kChunkFrames);
    EXPECT_EQ (sequence[n - 1], (double) (n - 1));
}

TEST (CSampleSequence, ReleaseEmptiesAtOnceAndTheWorkerFreesTheMemory)
{
    CBlockPool pool;
    CSampleSequence sequence (pool);

    for (int i = 0; i < 100000; ++i)
        sequence.Append (i);

    const auto inUse = pool.BlocksInUse();
    EXPECT_GE (inUse, 5u);  // four sample blocks and a directory

    sequence.Release();
    EXPECT_EQ (sequence.Size(), 0);
    EXPECT_EQ (sequence.Capacity(), 0);

    pool.WaitUntilIdle();
    EXPECT_EQ (pool.BlocksInUse(), 0u);  // never primed, so no spares either

    ASSERT_TRUE (sequence.Append (2.0));  // usable again after release
    EXPECT_EQ (sequence[0], 2.0);
}

TEST (CSampleSequence, PrimedPoolServesBlocksWithoutAllocatingOnTheCaller)
{
    CBlockPool pool;
    pool.Prime();
    pool.WaitUntilIdle();

    CSampleSequence sequence (pool);
    for (int i = 0; i < 3 * CSampleSequence::kChunkFrames; ++i)
    {
        ASSERT_TRUE (sequence.Append (i));

        if (i % 4096 == 0)
            pool.WaitUntilIdle();  // the audio thread's pace gives the worker time to refill
    }

    EXPECT_EQ (pool.FallbackAllocations(), 0u);
}

TEST (CSampleSequence, FailedGrowthChangesNothing)
{
    CBlockPool pool;
    pool.SetBlockLimit (2);  // one directory and one sample block

    CSampleSequence sequence (pool);
    for (int i = 0; i < CSampleSequence::kChunkFrames; ++i)
        ASSERT_TRUE (sequence.Append (i));

    EXPECT_FALSE (sequence.Append (-1.0));
    EXPECT_FALSE (sequence.Reserve());
    EXPECT_EQ (sequence.Size(), CSampleSequence::kChunkFrames);
    EXPECT_EQ (sequence[CSampleSequence::kChunkFrames - 1], (double) (CSampleSequence::kChunkFrames - 1));

    // Memory back: nothing is asked of the system again until spares are.
    pool.SetBlockLimit (SIZE_MAX);
    EXPECT_FALSE (sequence.Append (-1.0));
    pool.Prime();
    EXPECT_TRUE (sequence.Append (-1.0));
}

TEST (CSampleSequence, ReleasesTheWorkerCannotTakeYetAreKeptNotFreedByTheCaller)
{
    CBlockPool pool;   // never primed: no worker
    CSampleSequence sequence (pool);

    for (int i = 0; i < 300; ++i)
    {
        ASSERT_TRUE (sequence.Append (i));
        sequence.Release();
    }

    EXPECT_EQ (pool.BlocksInUse(), 600u);   // a directory and a block each

    pool.WaitUntilIdle();
    ASSERT_TRUE (sequence.Append (0));
    sequence.Release();                      // the kept ones follow it
    pool.WaitUntilIdle();
    EXPECT_EQ (pool.BlocksInUse(), 0u);
}

TEST (CSampleSequence, RewoundWritesOverItsOwnBlocksThenGivesBackTheRest)
{
    CBlockPool pool;   // never primed: every block in use is the sequence's
    CSampleSequence sequence (pool);
    const auto k = CSampleSequence::kChunkFrames;

    for (std::int64_t i = 0; i < 5 * k; ++i)
        ASSERT_TRUE (sequence.Append ((double) i));

    ASSERT_EQ (pool.BlocksInUse(), 6u);   // a directory and five blocks

    sequence.Rewind();
    pool.SetBlockLimit (0);   // no memory: the blocks it holds still serve

    for (std::int64_t i = 0; i < k + 3; ++i)
        ASSERT_TRUE (sequence.Append ((double) -i));

    sequence.ReleaseUnused();
    pool.WaitUntilIdle();
    EXPECT_EQ (sequence.Capacity(), 2 * k);
    EXPECT_EQ (pool.BlocksInUse(), 3u);
    EXPECT_EQ (sequence[k + 2], (double) -(k + 2));

    sequence.Rewind();
    sequence.ReleaseUnused();
    pool.WaitUntilIdle();
    EXPECT_EQ (pool.BlocksInUse(), 0u);
}
