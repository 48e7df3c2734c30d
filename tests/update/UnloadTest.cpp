// The built VST3 in JUCE's own host, while the editor's update check waits for
// a name server on 127.0.0.1 that answers only when the test lets it: closing
// the editor must not wait for the lookup, releasing the plug-in must, and once
// the host has closed the module no thread of it (or of libcurl) may be left.
//
// The program moves itself into a network and mount namespace of its own (root
// only; otherwise it skips), where /etc/resolv.conf names that server alone and
// the loopback interface is the only one.

#include <juce_audio_processors/juce_audio_processors.h>

#include "../MessageLoop.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <iostream>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace
{
    constexpr const char* updateServerName = "www.ferrowood-audio.com";

    // Long enough that no lookup ends by the resolver's own time-out while the test runs.
    constexpr const char* resolverConfig = "nameserver 127.0.0.1\noptions timeout:30 attempts:1\n";

    //==============================================================================
    std::string systemError (const char* what)
    {
        return std::string (what) + ": " + std::strerror (errno);
    }

    bool bindOver (const juce::File& replacement, const char* path, const char* content)
    {
        return replacement.replaceWithText (content)
            && mount (replacement.getFullPathName().toRawUTF8(), path, nullptr, MS_BIND, nullptr) == 0;
    }

    /** Moves the process into namespaces where name lookups go to 127.0.0.1
        alone. Before any thread starts: a threaded process cannot unshare its
        mounts. Returns what went wrong, or nothing. */
    std::string isolateNameLookups (const juce::File& folder)
    {
        if (unshare (CLONE_NEWNET | CLONE_NEWNS) != 0)
            return systemError ("unshare");

        if (mount (nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return systemError ("making mounts private");

        if (! folder.createDirectory()
             || ! bindOver (folder.getChildFile ("resolv.conf"), "/etc/resolv.conf", resolverConfig)
             || ! bindOver (folder.getChildFile ("nsswitch.conf"), "/etc/nsswitch.conf", "hosts: files dns\n"))
            return systemError ("binding the resolver configuration");

        // A new network namespace starts with its loopback interface down.
        const int s = socket (AF_INET, SOCK_DGRAM, 0);
        ifreq request {};
        std::strcpy (request.ifr_name, "lo");
        const bool up = s >= 0 && ioctl (s, SIOCGIFFLAGS, &request) == 0
                     && (request.ifr_flags |= IFF_UP, ioctl (s, SIOCSIFFLAGS, &request) == 0);

        if (s >= 0)
            close (s);

        return up ? std::string() : systemError ("bringing up the loopback interface");
    }

    //==============================================================================
    /** A DNS server on 127.0.0.1:53 that keeps every query unanswered until
        answering is allowed, then answers each (pending ones too) with "no
        such name". */
    class NameServer
    {
    public:
        NameServer()
        {
            socketHandle = socket (AF_INET, SOCK_DGRAM, 0);

            sockaddr_in address {};
            address.sin_family = AF_INET;
            address.sin_port = htons (53);
            address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);

            if (socketHandle >= 0 && bind (socketHandle, (const sockaddr*) &address, sizeof (address)) == 0)
                thread = std::thread ([this] { serve(); });
        }

        ~NameServer()
        {
            stop = true;

            if (thread.joinable())
                thread.join();

            if (socketHandle >= 0)
                close (socketHandle);
        }

        bool isRunning() const      { return thread.joinable(); }

        /** Answers from this moment on, the queries waiting included. */
        void answerFrom (juce::uint32 millisecondCounter)     { answerTime = millisecondCounter; }

        int getNumQueriesFor (const juce::String& name) const
        {
            const std::lock_guard<std::mutex> lock (queriesLock);
            return (int) std::count (names.begin(), names.end(), name);
        }

        int getNumAnswered() const  { return answered.load(); }

    private:
        struct Query
        {
            sockaddr_in from;
            std::vector<char> bytes;
        };

        void serve()
        {
            while (! stop)
            {
                pollfd fd { socketHandle, POLLIN, 0 };

                if (poll (&fd, 1, 10) > 0)
                    receive();

                if (juce::Time::getMillisecondCounter() >= answerTime.load())
                    answerAll();
            }
        }

        void receive()
        {
            Query query {};
            query.bytes.resize (512);
            socklen_t fromSize = sizeof (query.from);
            const auto size = recvfrom (socketHandle, query.bytes.data(), query.bytes.size(), 0, (sockaddr*) &query.from, &fromSize);

            if (size < 12)
                return;

            query.bytes.resize ((size_t) size);
            const std::lock_guard<std::mutex> lock (queriesLock);
            names.push_back (readName (query.bytes));
            pending.push_back (std::move (query));
        }

        /** The question's name, "www.example.com". */
        static juce::String readName (const std::vector<char>& message)
        {
            juce::StringArray labels;

            for (size_t i = 12; i < message.size() && message[i] != 0; i += (size_t) (juce::uint8) message[i] + 1)
                labels.add (juce::String (message.data() + i + 1, juce::jmin ((size_t) (juce::uint8) message[i], message.size() - i - 1)));

            return labels.joinIntoString (".");
        }

        void answerAll()
        {
            const std::lock_guard<std::mutex> lock (queriesLock);

            for (auto& query : pending)
            {
                // The query itself, turned into a response: recursion available, NXDOMAIN.
                query.bytes[2] = (char) (query.bytes[2] | 0x80);
                query.bytes[3] = (char) 0x83;
                sendto (socketHandle, query.bytes.data(), query.bytes.size(), 0, (const sockaddr*) &query.from, sizeof (query.from));
                ++answered;
            }

            pending.clear();
        }

        int socketHandle = -1;
        std::atomic<bool> stop { false };
        std::atomic<juce::uint32> answerTime { std::numeric_limits<juce::uint32>::max() };
        std::atomic<int> answered { 0 };
        mutable std::mutex queriesLock;
        std::vector<Query> pending;
        std::vector<juce::String> names;
        std::thread thread;
    };

    //==============================================================================
    /** The names of this process's threads, as the kernel lists them. */
    juce::StringArray threadNames()
    {
        juce::StringArray names;

        for (const auto& task : juce::RangedDirectoryIterator (juce::File ("/proc/self/task"), false, "*", juce::File::findDirectories))
            names.add (task.getFile().getChildFile ("comm").loadFileAsString().trim());

        names.sort (false);
        return names;
    }

    int countThreadsNamed (const juce::String& prefix)
    {
        const auto names = threadNames();
        return (int) std::count_if (names.begin(), names.end(), [&] (const auto& n) { return n.startsWith (prefix); });
    }

    bool isMapped (const juce::String& fileName)
    {
        return juce::File ("/proc/self/maps").loadFileAsString().contains ("/" + fileName);
    }

    std::unique_ptr<juce::AudioPluginInstance> createVst3()
    {
        // The module sits in <bundle>/Contents/<arch>-linux.
        const auto bundle = juce::File (VOBREL_VST3_BINARY_DIR).getParentDirectory().getParentDirectory();

        juce::VST3PluginFormat format;
        juce::OwnedArray<juce::PluginDescription> types;
        format.findAllTypesForFile (types, bundle.getFullPathName());

        juce::String error;
        return types.isEmpty() ? nullptr : format.createInstanceFromDescription (*types[0], 48000.0, 512, error);
    }

    // The update check's thread; curl's resolver threads inherit its name.
    const juce::String updateThreadName = "Vobrel update";
}

//==============================================================================
TEST (Unload, ClosingDoesNotWaitForTheLookupAndUnloadingLeavesNoThread)
{
    NameServer nameServer;
    ASSERT_TRUE (nameServer.isRunning()) << "cannot serve 127.0.0.1:53";

    const auto threadsBefore = threadNames();
    double closeMs = 0, releaseMs = 0;
    int threadsAfterClose = 0;

    {
        juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return nullptr; };
        const juce::ScopedJuceInitialiser_GUI gui;

        auto plugin = createVst3();
        ASSERT_NE (plugin, nullptr);

        std::unique_ptr<juce::AudioProcessorEditor> editor (plugin->createEditorIfNeeded());
        ASSERT_NE (editor, nullptr);

        // The editor's update check asks for the maker's server, and hears nothing.
        ASSERT_TRUE (pumpUntil ([&] { return nameServer.getNumQueriesFor (updateServerName) > 0; }, 20000));
        ASSERT_EQ (nameServer.getNumAnswered(), 0);

        auto start = juce::Time::getHighResolutionTicks();
        editor.reset();
        closeMs = millisecondsSince (start);

        // Still unanswered: closing left the lookup to the update-check thread.
        threadsAfterClose = countThreadsNamed (updateThreadName);
        EXPECT_GE (threadsAfterClose, 1);

        // Releasing the last instance shuts the plug-in's framework down: that
        // must wait for the lookup, which ends when the server answers.
        nameServer.answerFrom (juce::Time::getMillisecondCounter() + 500);
        start = juce::Time::getHighResolutionTicks();
        plugin.reset();
        releaseMs = millisecondsSince (start);

        EXPECT_GT (nameServer.getNumAnswered(), 0) << "released before the lookup ended";
        EXPECT_EQ (countThreadsNamed (updateThreadName), 0);
    }

    // The host's framework is gone too: it has called ModuleExit and closed the
    // module, which is unmapped with the libcurl it loaded (it exports nothing
    // that pins it). No thread of either may be left, or it would run into
    // unmapped code.
    EXPECT_EQ (threadNames().joinIntoString (", "), threadsBefore.joinIntoString (", "));
    EXPECT_FALSE (isMapped ("Vobrel.so"));
    EXPECT_FALSE (isMapped ("libcurl.so.4"));

    std::cout << "closing the editor during the lookup: " << juce::String (closeMs, 1) << " ms\n"
              << "releasing the plug-in waited for the lookup: " << juce::String (releaseMs, 1)
              << " ms (the server answered after 500 ms)\n"
              << "update-check threads after closing: " << threadsAfterClose << "\n"
              << "threads before loading: " << threadsBefore.size() << ", after unloading: " << threadNames().size()
              << std::endl;
}

//==============================================================================
int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);

    if (geteuid() != 0)
    {
        std::cout << "skipped: a private network and mount namespace needs root" << std::endl;
        return 77;
    }

    const auto folder = juce::File::createTempFile ("vobrel-unload");

    if (const auto problem = isolateNameLookups (folder); ! problem.empty())
    {
        std::cout << "cannot isolate the name lookups: " << problem << std::endl;
        return 1;
    }

    const auto result = RUN_ALL_TESTS();
    folder.deleteRecursively();
    return result;
}
