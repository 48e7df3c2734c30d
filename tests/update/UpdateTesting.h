#pragma once

#include "editor/PluginEditor.h"
#include "../MessageLoop.h"
#include "TestServer.h"

#include <functional>

//==============================================================================
/** The editor's private parts that the update tests look at. */
struct UpdateTestAccess
{
    static bool newVersionAvailable (const VobrelAudioProcessorEditor& e)   { return e.newVersionAvailable.load(); }
    static bool checkHasFinished (const VobrelAudioProcessorEditor& e)      { return e.updateCheck.hasFinished(); }
    static juce::ImageButton& badge (VobrelAudioProcessorEditor& e)         { return e.notificationBtn; }
    static juce::ImageButton& logo (VobrelAudioProcessorEditor& e)          { return e.logoBtn; }

    static void replaceBrowser (VobrelAudioProcessorEditor& e, std::function<void (const juce::URL&)> open)
    {
        e.openInBrowser = std::move (open);
    }
};

/** Waits (bounded) until the editor's update check has ended. */
bool waitForCheck (VobrelAudioProcessorEditor&, int maxMs = 10000);

/** What the server saw of one request, in a form that prints well in failures. */
struct LoggedRequest
{
    juce::String method, path, query, version;
    juce::StringArray headerNames;   // as sent, in order
    juce::StringPairArray headers;
    int bodyBytes = 0;
    bool chunked = false, hasContentLength = false, tls = false;
    int status = 0;                  // 0 while unanswered

    static LoggedRequest from (const juce::var& record);
};
