#pragma once

#include <juce_core/juce_core.h>

//==============================================================================
/** update_server.py in a child process on 127.0.0.1, for one test.

    The constructor starts it and waits (bounded) for its READY line; the
    destructor stops it with SIGTERM (SIGKILL if it lingers). The server also
    stops by itself when this process ends, because it holds the only writer of
    the server's stdin.
*/
class TestServer final
{
public:
    /** Options as update_server.py takes them, e.g. { "--status", "404" }.
        With a certificate and its key, the server speaks HTTPS. */
    explicit TestServer (const juce::StringArray& options,
                         const juce::File& certificate = {}, const juce::File& key = {});
    ~TestServer();

    bool isRunning() const noexcept         { return port > 0; }
    int getPort() const noexcept            { return port; }

    /** "http://127.0.0.1:PORT", or https with tls. */
    juce::String getBaseUrl() const;

    /** The request records that the server has logged so far, oldest first. */
    juce::Array<juce::var> getRequests() const;

    /** Waits (bounded) until at least n requests are logged. */
    bool waitForRequests (int n, int maxMs = 10000) const;

    /** What went wrong while starting, for test messages. */
    const juce::String& getStartError() const noexcept    { return startError; }

    /** Where the test certificate lives; its files are made by the ctest fixture. */
    static juce::File getCertificateDirectory();
    static juce::File getCertificate();
    static juce::File getCertificateKey();

private:
    void stop();

    juce::TemporaryFile logFile;
    juce::String startError;
    bool secure = false;
    int pid = -1, stdinWriter = -1, port = 0;

    JUCE_DECLARE_NON_COPYABLE (TestServer)
};

/** A port on 127.0.0.1 that nothing listens on: bound once, then closed. */
int findClosedPort();
