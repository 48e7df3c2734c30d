#include "UpdatePrompt.h"

struct UpdatePrompt::Wording
{
    juce::String title, message, yes, no;
};

namespace
{
    juce::String utf8 (const char* text)
    {
        return juce::String (juce::CharPointer_UTF8 (text));
    }
}

//==============================================================================
UpdatePrompt::Wording UpdatePrompt::getWording (UILanguage::Texts language)
{
    const juce::String product (JucePlugin_Name);

    switch (language)
    {
        case UILanguage::Texts::japanese:
            // "新しいバージョンの" + product + "がリリースされています",
            // "Webサイトから新しいバージョンを入手しますか？ ", "はい", "いいえ"
            return { utf8 ("\xe6\x96\xb0\xe3\x81\x97\xe3\x81\x84\xe3\x83\x90\xe3\x83\xbc\xe3\x82\xb8\xe3\x83\xa7\xe3\x83\xb3\xe3\x81\xae")
                       + product
                       + utf8 ("\xe3\x81\x8c\xe3\x83\xaa\xe3\x83\xaa\xe3\x83\xbc\xe3\x82\xb9\xe3\x81\x95\xe3\x82\x8c\xe3\x81\xa6\xe3\x81\x84\xe3\x81\xbe\xe3\x81\x99"),
                     utf8 ("Web\xe3\x82\xb5\xe3\x82\xa4\xe3\x83\x88\xe3\x81\x8b\xe3\x82\x89\xe6\x96\xb0\xe3\x81\x97\xe3\x81\x84\xe3\x83\x90\xe3\x83\xbc\xe3\x82\xb8\xe3\x83\xa7\xe3\x83\xb3\xe3\x82\x92\xe5\x85\xa5\xe6\x89\x8b\xe3\x81\x97\xe3\x81\xbe\xe3\x81\x99\xe3\x81\x8b\xef\xbc\x9f "),
                     utf8 ("\xe3\x81\xaf\xe3\x81\x84"),
                     utf8 ("\xe3\x81\x84\xe3\x81\x84\xe3\x81\x88") };

        case UILanguage::Texts::simplifiedChinese:
            // "新" + product + "发布", "你想获得新版本吗？", "是的", "没有"
            return { utf8 ("\xe6\x96\xb0") + product + utf8 ("\xe5\x8f\x91\xe5\xb8\x83"),
                     utf8 ("\xe4\xbd\xa0\xe6\x83\xb3\xe8\x8e\xb7\xe5\xbe\x97\xe6\x96\xb0\xe7\x89\x88\xe6\x9c\xac\xe5\x90\x97\xef\xbc\x9f"),
                     utf8 ("\xe6\x98\xaf\xe7\x9a\x84"),
                     utf8 ("\xe6\xb2\xa1\xe6\x9c\x89") };

        case UILanguage::Texts::english:
            break;
    }

    return { "New " + product + " is released",
             "Do you want to get the new version ? ",
             "Yes, open the webpage",
             "No, check later" };
}

UpdatePrompt::UpdatePrompt (UILanguage::Texts language)
    : UpdatePrompt (getWording (language))
{
}

UpdatePrompt::UpdatePrompt (const Wording& texts)
    : juce::AlertWindow (texts.title, texts.message, juce::AlertWindow::WarningIcon, nullptr)
{
    addButton (texts.yes, openWebPage);
    addButton (texts.no, checkLater);
}
