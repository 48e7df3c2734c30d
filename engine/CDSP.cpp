#include "CDSP.h"

#include <algorithm>

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
    // The pool is declared after the slots, so it goes first: empty them while it lives.
    for (auto& sequence : sequences)
        sequence.FreeNow();
}

void CDSP::ClearSlot (int slot, bool wakeWorker) noexcept
{
    readCursor = {};
    slotLeft (slot).Release (wakeWorker);
    slotRight (slot).Release (wakeWorker);
}

bool CDSP::EndTake (int slot, bool wakeWorker) noexcept
{
    isRecording = false;
    readCursor = {};

    // The worker is woken once both channels are handed over: its unmapping of
    // the first would slow down the listing of the second several times over.
    slotLeft (slot).ReleaseUnused (false);
    slotRight (slot).ReleaseUnused (false);

    if (wakeWorker)
        blocks.Wake();

    return slotLeft (slot).Size() > 0;
}

std::uint64_t CDSP::FindReadBlock() noexcept
{
    // Both channels or neither, as when recording: outside the shorter one nothing is read.
    const auto length = std::min (currentLeft->Size(), currentRight->Size());

    if (position < 0 || position >= length)
        return UINT64_MAX;

    const auto begin = position & ~(CSampleSequence::kChunkFrames - 1);
    readCursor = { currentLeft, currentLeft->ChunkAt (position), currentRight->ChunkAt (position),
                   static_cast<std::uint64_t> (begin),
                   static_cast<std::uint64_t> (std::min (CSampleSequence::kChunkFrames, length - begin)) };
    return static_cast<std::uint64_t> (position - begin);
}
