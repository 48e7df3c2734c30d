#include "AboutBox.h"
#include "MakerInfo.h"

#include <array>

namespace
{
    juce::String utf8 (const char* text)
    {
        return juce::String (juce::CharPointer_UTF8 (text));
    }

    /** Sound design, UI design, development and distribution, in that order. */
    std::array<juce::String, 4> getCreditLabels (UILanguage::Texts language)
    {
        switch (language)
        {
            case UILanguage::Texts::japanese:
                // "サウンドデザイン : ", "UIデザイン : ", "開発 : ", "販売 : "
                return { utf8 ("\xe3\x82\xb5\xe3\x82\xa6\xe3\x83\xb3\xe3\x83\x89\xe3\x83\x87\xe3\x82\xb6\xe3\x82\xa4\xe3\x83\xb3 : "),
                         utf8 ("UI\xe3\x83\x87\xe3\x82\xb6\xe3\x82\xa4\xe3\x83\xb3 : "),
                         utf8 ("\xe9\x96\x8b\xe7\x99\xba : "),
                         utf8 ("\xe8\xb2\xa9\xe5\xa3\xb2 : ") };

            case UILanguage::Texts::simplifiedChinese:
                // "声音设计 : ", "UI设计 : ", "发展 : ", "销售 : "
                return { utf8 ("\xe5\xa3\xb0\xe9\x9f\xb3\xe8\xae\xbe\xe8\xae\xa1 : "),
                         utf8 ("UI\xe8\xae\xbe\xe8\xae\xa1 : "),
                         utf8 ("\xe5\x8f\x91\xe5\xb1\x95 : "),
                         utf8 ("\xe9\x94\x80\xe5\x94\xae : ") };

            case UILanguage::Texts::english:
                break;
        }

        return { "Sound design : ", "UI Design : ", "Development : ", "Distribute : " };
    }
}

//==============================================================================
AboutBox::AboutBox (UILanguage::Texts language)
    : juce::AlertWindow (getTitle (language), getMessage (language), juce::AlertWindow::NoIcon, nullptr)
{
    addButton ("  OK  ", 1);
}

juce::String AboutBox::getTitle (UILanguage::Texts language)
{
    const juce::String product (JucePlugin_Name);

    switch (language)
    {
        case UILanguage::Texts::japanese:           return product + utf8 ("\xe3\x81\xab\xe3\x81\xa4\xe3\x81\x84\xe3\x81\xa6");  // "について"
        case UILanguage::Texts::simplifiedChinese:  return utf8 ("\xe5\x85\xb3\xe4\xba\x8e") + product;                          // "关于"
        case UILanguage::Texts::english:            break;
    }

    return "About " + product;
}

juce::String AboutBox::getMessage (UILanguage::Texts language)
{
    const auto labels = getCreditLabels (language);
    const char* const names[] { MakerInfo::soundDesign, MakerInfo::uiDesign,
                                MakerInfo::development, MakerInfo::distribution };

    juce::String message;
    message << "Version:" << JucePlugin_VersionString << "\n\n";

    for (size_t i = 0; i < labels.size(); ++i)
        message << labels[i] << names[i] << "\n";

    message << "\n" << MakerInfo::copyrightLine;
    return message;
}
