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

void CDSP::ClearSlot (int slot, bool wakeWorker) noexcept
{
    slotLeft (slot).Release (wakeWorker);
    slotRight (slot).Release (wakeWorker);
}
