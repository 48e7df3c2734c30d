#include "UpdateCheck.h"

#if JUCE_LINUX || JUCE_BSD
 #include <curl/curl.h>
#endif

//==============================================================================
#if JUCE_LINUX || JUCE_BSD

/*  On Linux the request goes to libcurl's multi interface directly, the stack
    that JUCE's WebInputStream uses there. JUCE's own cancel cannot interrupt
    the select() it waits in, which keeps a closing editor for up to a second;
    curl_multi_wakeup() ends the wait at once.
*/
class UpdateCheck::Request
{
public:
    explicit Request (const juce::URL& url)
        : address (url.toString (true))
    {
        if (easy == nullptr || multi == nullptr)
            return;

        const auto userAgent = juce::String ("curl/") + curl_version_info (CURLVERSION_NOW)->version;
        const auto timeOutSeconds = (long) (connectionTimeoutMs + 999) / 1000;

        ready = curl_easy_setopt (easy, CURLOPT_URL, address.toRawUTF8()) == CURLE_OK
             && curl_easy_setopt (easy, CURLOPT_HTTPGET, 1L) == CURLE_OK
             && curl_easy_setopt (easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK
             && curl_easy_setopt (easy, CURLOPT_USERAGENT, userAgent.toRawUTF8()) == CURLE_OK
             && curl_easy_setopt (easy, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK
             && curl_easy_setopt (easy, CURLOPT_MAXREDIRS, (long) maxRedirects) == CURLE_OK
             && curl_easy_setopt (easy, CURLOPT_CONNECTTIMEOUT_MS, (long) connectionTimeoutMs) == CURLE_OK
             && curl_easy_setopt (easy, CURLOPT_LOW_SPEED_LIMIT, 100L) == CURLE_OK
             && curl_easy_setopt (easy, CURLOPT_LOW_SPEED_TIME, timeOutSeconds) == CURLE_OK
             && curl_easy_setopt (easy, CURLOPT_WRITEFUNCTION, refuseBody) == CURLE_OK
             && curl_multi_add_handle (multi, easy) == CURLM_OK;

       #if LIBCURL_VERSION_NUM >= 0x075700
        // A name lookup still running must not hold up the cleanup.
        curl_easy_setopt (easy, CURLOPT_QUICK_EXIT, 1L);
       #endif
    }

    ~Request()
    {
        if (multi != nullptr && easy != nullptr)
            curl_multi_remove_handle (multi, easy);

        if (easy != nullptr)   curl_easy_cleanup (easy);
        if (multi != nullptr)  curl_multi_cleanup (multi);
    }

    /** Runs the request: the final status, or 0 when there was no answer. */
    long run (const std::atomic<bool>& abandoned)
    {
        if (! ready)
            return 0;

        for (int running = 1; running > 0 && ! abandoned.load();)
        {
            if (curl_multi_perform (multi, &running) != CURLM_OK)
                return 0;

            if (running > 0 && curl_multi_poll (multi, nullptr, 0, 1000, nullptr) != CURLM_OK)
                return 0;
        }

        return abandoned.load() ? 0 : finalStatus();
    }

    /** Ends a wait in run() at once. Thread-safe. */
    void wake()    { curl_multi_wakeup (multi); }

private:
    // The body is never read: the transfer stops at its first byte.
    static size_t refuseBody (char*, size_t, size_t, void*)    { return 0; }

    long finalStatus()
    {
        int pending = 0;

        while (auto* message = curl_multi_info_read (multi, &pending))
        {
            if (message->msg != CURLMSG_DONE)
                continue;

            // Headers of the final answer arrived; refusing its body is ours.
            const auto result = message->data.result;

            if (result != CURLE_OK && result != CURLE_WRITE_ERROR)
                return 0;

            long status = 0;
            curl_easy_getinfo (easy, CURLINFO_RESPONSE_CODE, &status);
            return status;
        }

        return 0;
    }

    const juce::String address;
    CURL* const easy = curl_easy_init();
    CURLM* const multi = curl_multi_init();
    bool ready = false;
};

#else

/*  Elsewhere JUCE's WebInputStream makes the request; its cancel() ends a
    wait promptly there.
*/
class UpdateCheck::Request
{
public:
    explicit Request (const juce::URL& url)
        : stream (url, false)
    {
        stream.withConnectionTimeout (connectionTimeoutMs)
              .withNumRedirectsToFollow (maxRedirects);
    }

    long run (const std::atomic<bool>& abandoned)
    {
        const bool answered = stream.connect (nullptr) && ! stream.isError();
        return answered && ! abandoned.load() ? (long) stream.getStatusCode() : 0;
    }

    void wake()    { stream.cancel(); }

private:
    juce::WebInputStream stream;
};

#endif

//==============================================================================
UpdateCheck::UpdateCheck (const juce::String& baseUrl, std::atomic<bool>& newVersionAvailable)
    : juce::Thread ("Vobrel update check"),
      url (getRequestUrl (baseUrl)),
      flag (newVersionAvailable)
{
}

UpdateCheck::~UpdateCheck()
{
    cancel();
}

juce::URL UpdateCheck::getRequestUrl (const juce::String& baseUrl)
{
    return juce::URL (baseUrl + "/vobrel_update.php?v=" + JucePlugin_VersionString);
}

//==============================================================================
void UpdateCheck::start()
{
    // Without a thread there is simply no check: the badge stays hidden.
    if (! startThread())
        finished = true;
}

void UpdateCheck::cancel()
{
    {
        const std::lock_guard<std::mutex> lock (requestLock);
        cancelled = true;

        if (request != nullptr)
            request->wake();
    }

    signalThreadShouldExit();
    waitForThreadToExit (-1);
}

//==============================================================================
void UpdateCheck::run()
{
    auto ownRequest = std::make_unique<Request> (url);

    {
        const std::lock_guard<std::mutex> lock (requestLock);

        if (cancelled)
        {
            finished = true;
            return;
        }

        request = ownRequest.get();
    }

    // Blocks until the server answers, the connection fails or cancel() wakes it.
    const auto status = ownRequest->run (cancelled);

    {
        const std::lock_guard<std::mutex> lock (requestLock);
        request = nullptr;

        if (! cancelled && status > 0)
            flag = (status == newVersionStatus);
    }

    ownRequest.reset();
    finished = true;
}
