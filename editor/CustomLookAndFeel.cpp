#include "CustomLookAndFeel.h"

//==============================================================================
void CustomLookAndFeel_NoticationBtn::drawImageButton (juce::Graphics& g, juce::Image*,
                                                       int, int, int, int,
                                                       const juce::Colour&, float,
                                                       juce::ImageButton&)
{
    g.setImageResamplingQuality (juce::Graphics::lowResamplingQuality);

    juce::Path path;
    path.addEllipse (0.0f, 0.0f, 24.0f, 24.0f);
    g.setColour (juce::Colours::red);
    g.fillPath (path);

    // Bar and dot in one path, filled once.
    path.clear();
    path.addRectangle (10.0f, 4.0f, 4.0f, 10.0f);
    path.addRectangle (10.0f, 17.0f, 4.0f, 4.0f);
    g.setColour (juce::Colours::white);
    g.fillPath (path);
}
