#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <memory>

//==============================================================================
/** Asks the maker's update server once, on a thread of its own, whether a
    version newer than this one exists.

    The answer goes into a flag that the owner reads: status 202 sets it; any
    other answer, or none, leaves it false. The owner calls cancel(), or
    destroys this object, before the flag goes.

    cancel() returns at once, whatever the network does, and the flag is never
    written after it. The request's thread then ends on its own: at once while
    it connects or waits for an answer, or when a name lookup in progress ends,
    which nothing can interrupt (the system resolver's time-out, about 10 s by
    default). Such threads are joined when the framework shuts down, that is
    when the host releases the plug-in's last instance, so none is left running
    when the host unloads the module.
*/
class UpdateCheck final
{
public:
    /** baseUrl is scheme and host, e.g. "https://www.ferrowood-audio.com";
        the path and query are appended to it. */
    UpdateCheck (const juce::String& baseUrl, std::atomic<bool>& newVersionAvailable);

    /** Cancels the request. */
    ~UpdateCheck();

    /** Starts the single request. Call once. */
    void start();

    /** Abandons the request without waiting for its thread; afterwards the
        flag is never written again. Safe before, during or after start(). */
    void cancel();

    /** True once the thread has done everything it will ever do. */
    bool hasFinished() const noexcept;

    //==============================================================================
    static constexpr int connectionTimeoutMs = 3000;
    static constexpr int maxRedirects = 5;
    static constexpr int newVersionStatus = 202;

private:
    //==============================================================================
    class Request;
    class Worker;
    class Workers;
    struct Shared;

    /** The request's address for a base URL such as "https://host". */
    static juce::URL getRequestUrl (const juce::String& baseUrl);

    const juce::URL url;

    // Outlives this object while the thread still needs it.
    const std::shared_ptr<Shared> shared;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UpdateCheck)
};
