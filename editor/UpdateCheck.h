#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <memory>
#include <mutex>

//==============================================================================
/** Asks the maker's update server once, on a thread of its own, whether a
    version newer than this one exists.

    The answer goes into a flag that the owner reads: status 202 sets it; any
    other answer, or none, leaves it false. The owner calls cancel(), or
    destroys this object, before the flag goes.

    cancel() ends a request in flight at once, whatever the server does, so
    closing the editor never waits for a silent server's time-out.
*/
class UpdateCheck final : private juce::Thread
{
public:
    /** baseUrl is scheme and host, e.g. "https://www.ferrowood-audio.com";
        the path and query are appended to it. */
    UpdateCheck (const juce::String& baseUrl, std::atomic<bool>& newVersionAvailable);

    /** Cancels a request in flight and waits for the thread to end. */
    ~UpdateCheck() override;

    /** Starts the single request. Call once. */
    void start();

    /** Abandons the request and waits until the thread has ended; afterwards
        the flag is never written again. Safe before, during or after start(). */
    void cancel();

    /** True once the thread has done everything it will ever do. */
    bool hasFinished() const noexcept      { return finished.load(); }

    //==============================================================================
    static constexpr int connectionTimeoutMs = 3000;
    static constexpr int maxRedirects = 5;
    static constexpr int newVersionStatus = 202;

private:
    //==============================================================================
    class Request;

    /** The request's address for a base URL such as "https://host". */
    static juce::URL getRequestUrl (const juce::String& baseUrl);

    void run() override;

    const juce::URL url;
    std::atomic<bool>& flag;

    // Guards request: cancel() comes from the message thread while the worker
    // creates, uses or destroys it.
    std::mutex requestLock;
    Request* request = nullptr;
    std::atomic<bool> cancelled { false };

    std::atomic<bool> finished { false };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UpdateCheck)
};
