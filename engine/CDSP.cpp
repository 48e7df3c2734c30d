#include "CDSP.h"

//==============================================================================
CDSP::CDSP() noexcept
    : sequences { CSampleSequence { blocks }, CSampleSequence { blocks },
                  CSampleSequence { blocks }, CSampleSequence { blocks },
                  CSampleSequence { blocks }, CSampleSequence { blocks },
                  CSampleSequence { blocks }, CSampleSequence { blocks } }
{
}

CDSP::~CDSP()
{
    // The pool is the last member, so it goes first: empty the slots while it lives.
    for (auto& sequence : sequences)
        sequence.FreeNow();
}

//==============================================================================
void CDSP::DoProcess (double inLeft, double inRight,
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
        currentLeft = &slotLeft (slot);
        currentRight = &slotRight (slot);

        if (record)
            blocks.Prime();

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

void CDSP::Record (double inLeft, double inRight, std::int64_t hostTime, int slot) noexcept
{
    if (! isRecording)
    {
        isRecording = true;
        slotStartTime[slot] = hostTime;
        position = 0;
        ClearSlot (slot);
    }

    // Both channels or neither: when memory runs out the take keeps what it has.
    if (currentLeft->Reserve() && currentRight->Reserve())
    {
        currentLeft->AppendReserved (inLeft);
        currentRight->AppendReserved (inRight);
        ++position;
    }

    lastRecordTime = hostTime;
}

void CDSP::Play (double& left, double& right, std::int64_t hostTime, int slot) noexcept
{
    const auto length = currentLeft->Size();

    if (! playbackStarted)
    {
        playbackStarted = true;

        // A difference too large for 64 bits lies outside any take as well.
        std::int64_t offset = 0;

        if (__builtin_sub_overflow (hostTime, slotStartTime[slot], &offset) || offset < 0 || offset >= length)
            offset = 0;

        position = offset;
    }

    if (! isPaused && position < length && position < currentRight->Size())
    {
        left = (*currentLeft)[position];
        right = (*currentRight)[position];
    }

    position = position + 1 < length ? position + 1 : 0;
}

void CDSP::ClearSlot (int slot) noexcept
{
    slotLeft (slot).Release();
    slotRight (slot).Release();
}
