#pragma once

#include "CBlockPool.h"
#include "CSampleSequence.h"

#include <atomic>
#include <cstdint>

//==============================================================================
/** The memory recorder: four slots of stereo takes, recorded and played back one
    frame at a time against the host's timeline.

    A plain class whose fields the processor and the editor drive directly. The
    audio thread runs DoProcess; other threads change the fields only while no
    block is being processed (the processor's callback lock).
*/
class CDSP
{
public:
    static constexpr int kNumSlots = 4;

    CDSP() noexcept;
    ~CDSP();

    /** One stereo frame: records it into the slot, replaces it with the take's
        aligned sample, or passes it through. The inputs are taken by value, so
        the outputs may point at the samples they came from. In mono, outRight
        is not written. */
    void DoProcess (double inLeft, double inRight,
                    double* outLeft, double* outRight,
                    bool record, bool play, bool hostPlaying,
                    std::int64_t hostTime, int slot,
                    const std::atomic<bool>* slotFilled,
                    bool mono) noexcept;

    /** Empties both sequences of a slot and gives their storage back. Under a
        lock, pass false and call blocks.Wake() once the lock is released. */
    void ClearSlot (int slot, bool wakeWorker = true) noexcept;

    /** Ends the running take in a slot: gives back the storage it did not write
        over, as ClearSlot() does, and says whether it holds a frame. */
    bool EndTake (int slot, bool wakeWorker = true) noexcept;

    CSampleSequence& slotLeft (int slot) noexcept              { return sequences[2 * slot]; }
    CSampleSequence& slotRight (int slot) noexcept             { return sequences[2 * slot + 1]; }
    const CSampleSequence& slotLeft (int slot) const noexcept  { return sequences[2 * slot]; }
    const CSampleSequence& slotRight (int slot) const noexcept { return sequences[2 * slot + 1]; }

    //==============================================================================
    std::int64_t position = 0;
    bool isRecording = false;
    bool playbackStarted = false;
    std::int64_t lastRecordTime = 0;
    std::int64_t slotStartTime[kNumSlots] {};
    bool holdPlayback = false;
    bool isPaused = false;

    /** Slot 0 left, slot 0 right, slot 1 left, ... slot 3 right. */
    CSampleSequence sequences[2 * kNumSlots];

    CSampleSequence* currentLeft = &sequences[0];
    CSampleSequence* currentRight = &sequences[1];

    /** Where the takes' memory comes from and goes to. */
    CBlockPool blocks;

private:
    /** Where playback reads: the storage block of each channel of one take that
        holds frames begin to begin + frames - 1. Found again only when the position
        leaves it or another take is selected; ClearSlot forgets it before the
        storage goes. */
    struct ReadCursor
    {
        const CSampleSequence* take = nullptr;
        const double* left = nullptr;
        const double* right = nullptr;
        std::uint64_t begin = 0, frames = 0;
    };

    void Record (double inLeft, double inRight, std::int64_t hostTime, int slot) noexcept;
    void Play (double& left, double& right, std::int64_t hostTime, int slot) noexcept;
    std::uint64_t FindReadBlock() noexcept;

    ReadCursor readCursor;
    bool takeFull = false;   // the running take lost a frame for lack of memory

    CDSP (const CDSP&) = delete;
    CDSP& operator= (const CDSP&) = delete;
};

//==============================================================================
[[gnu::always_inline]] inline void CDSP::DoProcess (double inLeft, double inRight,
                      double* outLeft, double* outRight,
                      bool record, bool play, bool hostPlaying,
                      std::int64_t hostTime, int slot,
                      const std::atomic<bool>* slotFilled,
                      bool mono) noexcept
{
    double left = inLeft, right = inRight;

    // No caller passes another slot; should one arrive, the frame just passes through.
    if (slot >= 0 && slot < kNumSlots)
    {
        currentLeft = sequences + 2 * slot;
        currentRight = currentLeft + 1;

        if (hostPlaying && record)
            Record (inLeft, inRight, hostTime, slot);

        if (! holdPlayback && ! isRecording && (play || hostPlaying || isPaused)
             && slotFilled[slot].load (std::memory_order_relaxed))
            Play (left, right, hostTime, slot);
    }

    *outLeft = left;

    if (! mono)
        *outRight = right;
}

inline void CDSP::Record (double inLeft, double inRight, std::int64_t hostTime, int slot) noexcept
{
    if (! isRecording)
    {
        isRecording = true;
        slotStartTime[slot] = hostTime;
        position = 0;
        takeFull = false;

        // The new take writes over the old one's storage: memory at hand, so it
        // neither waits for the old take to be freed nor goes short for it.
        readCursor = {};
        currentLeft->Rewind();
        currentRight->Rewind();
    }

    // Both channels or neither. Once a frame is lost the take stops growing, so
    // what it holds stays aligned to where it began, and memory is not asked for
    // again until the next take.
    if (! takeFull && currentLeft->Reserve() && currentRight->Reserve())
    {
        currentLeft->AppendReserved (inLeft);
        currentRight->AppendReserved (inRight);
        ++position;
    }
    else
    {
        takeFull = true;
    }

    lastRecordTime = hostTime;
}

inline void CDSP::Play (double& left, double& right, std::int64_t hostTime, int slot) noexcept
{
    if (! playbackStarted)
    {
        playbackStarted = true;

        // A difference too large for 64 bits lies outside any take as well.
        std::int64_t offset = 0;

        if (__builtin_sub_overflow (hostTime, slotStartTime[slot], &offset) || offset < 0 || offset >= currentLeft->Size())
            offset = 0;

        position = offset;
    }

    if (! isPaused)
    {
        // Read the way recording writes: through the current block, not the directories.
        // Most frames lie inside it with their successor, which is then inside the take too.
        const auto offset = static_cast<std::uint64_t> (position) - readCursor.begin;

        if (readCursor.take == currentLeft && offset + 1 < readCursor.frames)
        {
            left = readCursor.left[offset];
            right = readCursor.right[offset];
            ++position;
            return;
        }

        // At the block's last frame, or outside it: find the block again.
        const auto found = FindReadBlock();

        if (found < readCursor.frames)
        {
            left = readCursor.left[found];
            right = readCursor.right[found];
        }
    }

    position = position + 1 < currentLeft->Size() ? position + 1 : 0;
}
