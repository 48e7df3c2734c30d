#include "TestServer.h"

#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace
{
    constexpr int readyTimeoutMs = 10000;

    /** Reads one line from fd, waiting at most maxMs in all. */
    juce::String readLine (int fd, int maxMs)
    {
        const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) maxMs;
        juce::String line;

        while (juce::Time::getMillisecondCounter() < deadline)
        {
            pollfd p { fd, POLLIN, 0 };
            const auto left = (int) (deadline - juce::Time::getMillisecondCounter());

            if (::poll (&p, 1, juce::jmax (1, left)) <= 0)
                continue;

            char c = 0;

            if (::read (fd, &c, 1) != 1 || c == '\n')
                break;

            line << c;
        }

        return line;
    }

    bool waitForExit (int pid, int maxMs)
    {
        for (int waited = 0; waited <= maxMs; waited += 10)
        {
            int status = 0;

            if (::waitpid (pid, &status, WNOHANG) == pid)
                return true;

            juce::Thread::sleep (10);
        }

        return false;
    }
}

//==============================================================================
TestServer::TestServer (const juce::StringArray& options, const juce::File& certificate, const juce::File& key)
    : logFile (".jsonl"), secure (certificate != juce::File())
{
    juce::StringArray args { "/usr/bin/python3", VOBREL_UPDATE_SERVER_SCRIPT,
                             "--log", logFile.getFile().getFullPathName(), "--max-lifetime", "120" };
    args.addArray (options);

    if (secure)
        args.addArray ({ "--tls", certificate.getFullPathName(), key.getFullPathName() });

    int toServer[2], fromServer[2];

    if (::pipe2 (toServer, O_CLOEXEC) != 0)
    {
        startError = "pipe failed";
        return;
    }

    if (::pipe2 (fromServer, O_CLOEXEC) != 0)
    {
        ::close (toServer[0]);
        ::close (toServer[1]);
        startError = "pipe failed";
        return;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init (&actions);
    posix_spawn_file_actions_adddup2 (&actions, toServer[0], 0);
    posix_spawn_file_actions_adddup2 (&actions, fromServer[1], 1);

    std::vector<char*> argv;

    for (auto& a : args)
        argv.push_back (const_cast<char*> (a.toRawUTF8()));

    argv.push_back (nullptr);

    pid_t child = -1;
    const auto spawned = ::posix_spawn (&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy (&actions);

    ::close (toServer[0]);
    ::close (fromServer[1]);
    stdinWriter = toServer[1];

    if (spawned != 0)
    {
        ::close (fromServer[0]);
        startError = "posix_spawn failed";
        return;
    }

    pid = child;
    const auto line = readLine (fromServer[0], readyTimeoutMs);
    ::close (fromServer[0]);

    if (line.startsWith ("READY "))
        port = line.fromFirstOccurrenceOf (" ", false, false).getIntValue();

    if (port <= 0)
        startError = "no READY line from update_server.py, got \"" + line + "\"";
}

TestServer::~TestServer()
{
    stop();
}

void TestServer::stop()
{
    if (pid > 0)
    {
        ::kill (pid, SIGTERM);

        if (! waitForExit (pid, 5000))
        {
            ::kill (pid, SIGKILL);
            ::waitpid (pid, nullptr, 0);
        }

        pid = -1;
    }

    if (stdinWriter >= 0)
        ::close (stdinWriter);

    stdinWriter = -1;
    port = 0;
}

juce::String TestServer::getBaseUrl() const
{
    return juce::String (secure ? "https" : "http") + "://127.0.0.1:" + juce::String (port);
}

juce::Array<juce::var> TestServer::getRequests() const
{
    juce::Array<juce::var> requests;
    juce::StringArray lines;
    lines.addLines (logFile.getFile().loadFileAsString());

    for (auto& line : lines)
    {
        const auto record = juce::JSON::parse (line);

        if (record["event"].toString() == "request")
            requests.add (record);
    }

    return requests;
}

bool TestServer::waitForRequests (int n, int maxMs) const
{
    for (int waited = 0; waited <= maxMs; waited += 5)
    {
        if (getRequests().size() >= n)
            return true;

        juce::Thread::sleep (5);
    }

    return false;
}

juce::File TestServer::getCertificateDirectory()   { return juce::File (VOBREL_TEST_CERTIFICATE_DIR); }
juce::File TestServer::getCertificate()            { return getCertificateDirectory().getChildFile ("vobrel-test-127.0.0.1.crt"); }
juce::File TestServer::getCertificateKey()         { return getCertificateDirectory().getChildFile ("vobrel-test-127.0.0.1.key"); }

//==============================================================================
int findClosedPort()
{
    const int fd = ::socket (AF_INET, SOCK_STREAM, 0);

    if (fd < 0)
        return 0;

    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof (address);

    int port = 0;

    if (::bind (fd, reinterpret_cast<sockaddr*> (&address), sizeof (address)) == 0
         && ::getsockname (fd, reinterpret_cast<sockaddr*> (&address), &length) == 0)
        port = ntohs (address.sin_port);

    ::close (fd);
    return port;
}
