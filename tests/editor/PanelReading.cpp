#include "PanelReading.h"

#include <BinaryData.h>

namespace
{
    /** The artwork compiled into the plug-in. */
    PanelArt bundledArt()
    {
        const std::pair<const char*, int> data[] = {
            { BinaryData::temp1, BinaryData::temp1Size },   { BinaryData::temp2, BinaryData::temp2Size },
            { BinaryData::temp3, BinaryData::temp3Size },   { BinaryData::temp4, BinaryData::temp4Size },
            { BinaryData::temp5, BinaryData::temp5Size },   { BinaryData::temp6, BinaryData::temp6Size },
            { BinaryData::temp7, BinaryData::temp7Size },   { BinaryData::temp8, BinaryData::temp8Size },
            { BinaryData::temp9, BinaryData::temp9Size },   { BinaryData::temp10, BinaryData::temp10Size },
            { BinaryData::temp11, BinaryData::temp11Size }, { BinaryData::temp12, BinaryData::temp12Size },
            { BinaryData::temp13, BinaryData::temp13Size }, { BinaryData::temp14, BinaryData::temp14Size }
        };

        PanelArt art;

        for (size_t i = 0; i < std::size (data); ++i)
            art[i + 1] = juce::ImageCache::getFromMemory (data[i].first, data[i].second);

        return art;
    }
}

//==============================================================================
std::unique_ptr<VobrelAudioProcessorEditor> openEditor (VobrelAudioProcessor& processor)
{
    // Its update check goes to a closed local port, not to the maker's server.
    return std::make_unique<VobrelAudioProcessorEditor> (processor, "http://127.0.0.1:9");
}

void closeEditor (VobrelAudioProcessor& processor, std::unique_ptr<VobrelAudioProcessorEditor>& editor)
{
    if (editor != nullptr)
        processor.editorBeingDeleted (editor.get());

    editor.reset();
}

juce::ImageButton& button (VobrelAudioProcessorEditor& editor, Key key)
{
    auto* b = dynamic_cast<juce::ImageButton*> (editor.getChildComponent ((int) key));
    jassert (b != nullptr);
    return *b;
}

juce::Image baseArt()
{
    return juce::ImageCache::getFromMemory (BinaryData::temp1, BinaryData::temp1Size);
}

PanelLooks readPanel (const juce::Image& image)
{
    return readPanel (image, bundledArt());
}

