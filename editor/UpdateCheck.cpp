#include "UpdateCheck.h"

#include <juce_events/juce_events.h>

#include <mutex>

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
    }

    /** Waits for a name lookup in progress to end: libcurl joins its resolver
        thread here, unless CURLOPT_QUICK_EXIT, which this never sets, lets
        that thread run on detached, and maybe past the module's unloading. */
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
struct UpdateCheck::Shared
{
    explicit Shared (std::atomic<bool>& f) : flag (f) {}

    // Guards flag and request: cancel() comes from the message thread while the
    // worker creates, uses or destroys the request.
    std::mutex lock;
    std::atomic<bool>& flag;
    Request* request = nullptr;
    std::atomic<bool> cancelled { false };

    std::atomic<bool> finished { false };
};

//==============================================================================
/** The thread of one request. It owns everything that it uses, so that it can
    end on its own after its editor has gone. */
class UpdateCheck::Worker final : public juce::Thread
{
public:
    Worker (const juce::URL& u, std::shared_ptr<Shared> s)
        : juce::Thread ("Vobrel update"), url (u), shared (std::move (s))
    {
    }

private:
    void run() override
    {
        if (auto request = std::make_unique<Request> (url); share (request.get()))
        {
            // Blocks until the server answers, the connection fails or cancel() wakes it.
            const auto status = request->run (shared->cancelled);
            report (status);
        }

        shared->finished = true;
    }

    /** Lets cancel() reach the request; false when cancelled already. */
    bool share (Request* request)
    {
        const std::lock_guard<std::mutex> lock (shared->lock);

        if (shared->cancelled)
            return false;

        shared->request = request;
        return true;
    }

    void report (long status)
    {
        const std::lock_guard<std::mutex> lock (shared->lock);
        shared->request = nullptr;

        if (! shared->cancelled && status > 0)
            shared->flag = (status == newVersionStatus);
    }

    const juce::URL url;
    const std::shared_ptr<Shared> shared;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Worker)
};

//==============================================================================
/** Every update-check thread of the process, closed editors' included. The
    framework deletes this when it shuts down, before the host can unload the
    module, and that waits for them all. Message thread only.
*/
class UpdateCheck::Workers final : public juce::DeletedAtShutdown
{
public:
    Workers() = default;

    ~Workers() override
    {
        for (auto* worker : workers)
            worker->waitForThreadToExit (-1);

        clearSingletonInstance();
    }

    /** Starts the thread and keeps it; false when it could not start. */
    bool start (std::unique_ptr<Worker> worker)
    {
        for (int i = workers.size(); --i >= 0;)
            if (! workers.getUnchecked (i)->isThreadRunning())
                workers.remove (i);

        if (! worker->startThread())
            return false;

        workers.add (worker.release());
        return true;
    }

    JUCE_DECLARE_SINGLETON_SINGLETHREADED_MINIMAL (Workers)

private:
    juce::OwnedArray<Worker> workers;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Workers)
};

JUCE_IMPLEMENT_SINGLETON (UpdateCheck::Workers)

//==============================================================================
UpdateCheck::UpdateCheck (const juce::String& baseUrl, std::atomic<bool>& newVersionAvailable)
    : url (getRequestUrl (baseUrl)),
      shared (std::make_shared<Shared> (newVersionAvailable))
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

bool UpdateCheck::hasFinished() const noexcept
{
    return shared->finished.load();
}

//==============================================================================
void UpdateCheck::start()
{
    // Without a thread there is simply no check: the badge stays hidden.
    if (! Workers::getInstance()->start (std::make_unique<Worker> (url, shared)))
        shared->finished = true;
}

void UpdateCheck::cancel()
{
    // Never waits for the thread: a name lookup in progress cannot be cut short.
    const std::lock_guard<std::mutex> lock (shared->lock);
    shared->cancelled = true;

    if (shared->request != nullptr)
        shared->request->wake();
}
