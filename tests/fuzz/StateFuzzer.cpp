// libFuzzer target: whatever bytes a host restores, the processor reads only
// those bytes and changes nothing.

#include "../ProcessorSnapshot.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    static VobrelAudioProcessor processor;
    static const ProcessorSnapshot initial (processor);

    processor.setStateInformation (data, (int) std::min<std::size_t> (size, (std::size_t) std::numeric_limits<int>::max()));

    if (! (ProcessorSnapshot (processor) == initial))
        std::abort();

    return 0;
}
