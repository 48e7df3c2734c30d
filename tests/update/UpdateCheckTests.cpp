// The update check against a real server on 127.0.0.1, without a display.

#include "UpdateTesting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace
{
    class UpdateCheckTest : public ::testing::Test
    {
    protected:
        std::unique_ptr<VobrelAudioProcessorEditor> open (const juce::String& baseUrl)
        {
            return std::make_unique<VobrelAudioProcessorEditor> (processor, baseUrl);
        }

        /** Opens an editor whose timer the test ticks by hand. */
        std::unique_ptr<VobrelAudioProcessorEditor> openUnticked (const juce::String& baseUrl)
        {
            auto editor = open (baseUrl);
            editor->stopTimer();
            return editor;
        }

        static bool flag (const VobrelAudioProcessorEditor& e)     { return UpdateTestAccess::newVersionAvailable (e); }
        static bool badgeShown (VobrelAudioProcessorEditor& e)     { return UpdateTestAccess::badge (e).isVisible(); }

        VobrelAudioProcessor processor;
    };

    /** One GET of /vobrel_update.php?v=1.0.2 with curl's own three headers and nothing else. */
    void expectTheUpdateRequest (const LoggedRequest& r, int port)
    {
        EXPECT_EQ (r.method, "GET");
        EXPECT_EQ (r.path, "/vobrel_update.php");
        EXPECT_EQ (r.query, "v=1.0.2");
        EXPECT_EQ (r.version, "HTTP/1.1");
        EXPECT_EQ (r.bodyBytes, 0);
        EXPECT_FALSE (r.chunked);
        EXPECT_FALSE (r.hasContentLength);

        auto names = r.headerNames;
        names.sort (false);
        EXPECT_EQ (names.joinIntoString (", "), "Accept, Host, User-Agent")
            << "headers sent: " << r.headers.getDescription();

        EXPECT_EQ (r.headers["Host"], "127.0.0.1:" + juce::String (port));
        EXPECT_TRUE (r.headers["User-Agent"].startsWith ("curl/")) << r.headers["User-Agent"];
        EXPECT_EQ (r.headers["Accept"], "*/*");
    }
}

//==============================================================================
class StatusTest : public UpdateCheckTest,
                   public ::testing::WithParamInterface<int> {};

TEST_P (StatusTest, OnlyA202ShowsTheBadgeOnTheNextTick)
{
    const auto status = GetParam();
    const bool newer = (status == 202);

    TestServer server ({ "--status", juce::String (status) });
    ASSERT_TRUE (server.isRunning()) << server.getStartError();

    auto editor = openUnticked (server.getBaseUrl());
    ASSERT_TRUE (waitForCheck (*editor));

    EXPECT_EQ (flag (*editor), newer);
    EXPECT_FALSE (badgeShown (*editor));          // nothing shows it but the timer

    editor->timerCallback();
    EXPECT_EQ (badgeShown (*editor), newer);

    const auto requests = server.getRequests();
    ASSERT_EQ (requests.size(), 1);                // one request, no retry

    const auto request = LoggedRequest::from (requests[0]);
    expectTheUpdateRequest (request, server.getPort());
    EXPECT_EQ (request.status, status);
    EXPECT_FALSE (request.tls);

    if (newer)
        std::cout << "request: " << request.method << " " << request.path << "?" << request.query << " " << request.version
                  << ", headers: " << request.headers.getDescription().trimCharactersAtEnd (", ")
                  << ", body " << request.bodyBytes << " bytes" << std::endl;
}

INSTANTIATE_TEST_SUITE_P (Answers, StatusTest, ::testing::Values (202, 200, 204, 404, 500),
                          [] (const auto& p) { return "Status" + std::to_string (p.param); });

//==============================================================================
class RedirectTest : public UpdateCheckTest,
                     public ::testing::WithParamInterface<int> {};

TEST_P (RedirectTest, FiveRedirectsAreFollowedButNotSix)
{
    const auto redirects = GetParam();
    const bool followed = redirects <= 5;

    TestServer server ({ "--redirects", juce::String (redirects), "--status", "202" });
    ASSERT_TRUE (server.isRunning()) << server.getStartError();

    auto editor = openUnticked (server.getBaseUrl());
    ASSERT_TRUE (waitForCheck (*editor));

    EXPECT_EQ (flag (*editor), followed);
    editor->timerCallback();
    EXPECT_EQ (badgeShown (*editor), followed);

    // The first request and at most five hops, each a GET that keeps the query.
    const auto requests = server.getRequests();
    ASSERT_EQ (requests.size(), 6);

    expectTheUpdateRequest (LoggedRequest::from (requests[0]), server.getPort());

    for (int hop = 1; hop < requests.size(); ++hop)
    {
        const auto r = LoggedRequest::from (requests[hop]);
        EXPECT_EQ (r.method, "GET") << hop;
        EXPECT_EQ (r.path, "/hop/" + juce::String (hop));
        EXPECT_EQ (r.query, "v=1.0.2") << hop;
    }

    EXPECT_EQ (LoggedRequest::from (requests.getLast()).status, followed ? 202 : 302);
}

INSTANTIATE_TEST_SUITE_P (Chains, RedirectTest, ::testing::Values (5, 6),
                          [] (const auto& p) { return std::to_string (p.param) + "Redirects"; });

//==============================================================================
TEST_F (UpdateCheckTest, ARefusedConnectionShowsNoBadge)
{
    const auto port = findClosedPort();
    ASSERT_GT (port, 0);

    auto editor = openUnticked ("http://127.0.0.1:" + juce::String (port));
    ASSERT_TRUE (waitForCheck (*editor));

    EXPECT_FALSE (flag (*editor));
    editor->timerCallback();
    EXPECT_FALSE (badgeShown (*editor));
}

TEST_F (UpdateCheckTest, BadgeShowsWithinOneTickOfA202)
{
    TestServer server ({ "--status", "202" });
    ASSERT_TRUE (server.isRunning()) << server.getStartError();

    // With the editor's own 50 ms timer running.
    auto editor = open (server.getBaseUrl());
    ASSERT_TRUE (pumpUntil ([&] { return flag (*editor); }, 10000));

    const auto flagSeen = juce::Time::getHighResolutionTicks();
    ASSERT_TRUE (pumpUntil ([&] { return badgeShown (*editor); }, 2000));
    std::cout << "badge shown " << millisecondsSince (flagSeen) << " ms after the flag was seen (tick: "
              << VobrelAudioProcessorEditor::refreshIntervalMs << " ms)" << std::endl;

    // Counted in ticks: the first tick after the answer shows it.
    auto second = openUnticked (server.getBaseUrl());
    ASSERT_TRUE (waitForCheck (*second));
    ASSERT_TRUE (flag (*second));
    EXPECT_FALSE (badgeShown (*second));
    second->timerCallback();
    EXPECT_TRUE (badgeShown (*second));

    // And it stays.
    for (int tick = 0; tick < 5; ++tick)
        second->timerCallback();

    EXPECT_TRUE (badgeShown (*second));
}

TEST_F (UpdateCheckTest, EachEditorAsksOnceAndNothingCarriesOver)
{
    TestServer newer ({ "--status", "202" }), same ({ "--status", "204" });
    ASSERT_TRUE (newer.isRunning()) << newer.getStartError();
    ASSERT_TRUE (same.isRunning()) << same.getStartError();

    auto first = openUnticked (newer.getBaseUrl());
    ASSERT_TRUE (waitForCheck (*first));
    first->timerCallback();
    EXPECT_TRUE (badgeShown (*first));
    first.reset();

    auto second = openUnticked (same.getBaseUrl());
    ASSERT_TRUE (waitForCheck (*second));
    second->timerCallback();
    EXPECT_FALSE (flag (*second));
    EXPECT_FALSE (badgeShown (*second));
    second.reset();

    auto third = openUnticked (newer.getBaseUrl());
    ASSERT_TRUE (waitForCheck (*third));
    EXPECT_TRUE (flag (*third));

    EXPECT_EQ (newer.getRequests().size(), 2);
    EXPECT_EQ (same.getRequests().size(), 1);
}

//==============================================================================
TEST_F (UpdateCheckTest, ClosingWithAStalledServerDoesNotWait)
{
    TestServer server ({ "--stall" });
    ASSERT_TRUE (server.isRunning()) << server.getStartError();

    // Closed at different moments of the wait for an answer that never comes.
    const int waitsMs[] { 0, 50, 100, 150, 250, 500 };
    std::vector<double> closeMs;

    for (auto waitMs : waitsMs)
    {
        auto editor = open (server.getBaseUrl());

        ASSERT_TRUE (server.waitForRequests ((int) closeMs.size() + 1)) << waitMs;
        pump (waitMs);
        EXPECT_FALSE (flag (*editor));
        EXPECT_FALSE (badgeShown (*editor));

        const auto start = juce::Time::getHighResolutionTicks();
        editor.reset();
        closeMs.push_back (millisecondsSince (start));
    }

    std::cout << "closing with a stalled server took (ms):";

    for (auto ms : closeMs)
        std::cout << " " << juce::String (ms, 1);

    std::sort (closeMs.begin(), closeMs.end());
    std::cout << "\n  fastest " << closeMs.front() << ", median " << closeMs[closeMs.size() / 2]
              << ", slowest " << closeMs.back() << " (connection time-out " << UpdateCheck::connectionTimeoutMs
              << " ms)" << std::endl;

    // Closing that waited for the request would wait out the 3 s time-out;
    // closing takes a few ms. Half the time-out tells the two apart whatever
    // the machine's load.
    EXPECT_LT (closeMs.back(), UpdateCheck::connectionTimeoutMs / 2.0);

    const auto requests = server.getRequests();
    ASSERT_EQ (requests.size(), (int) std::size (waitsMs));

    for (auto& record : requests)
    {
        const auto request = LoggedRequest::from (record);
        expectTheUpdateRequest (request, server.getPort());
        EXPECT_EQ (request.status, 0);
    }
}

TEST_F (UpdateCheckTest, AnUntrustedCertificateShowsNoBadge)
{
    const juce::TemporaryFile certificate (".crt"), key (".key");
    juce::ChildProcess openssl;

    ASSERT_TRUE (openssl.start (juce::StringArray { "openssl", "req", "-x509", "-newkey", "ec",
                                                    "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "2",
                                                    "-subj", "/CN=untrusted", "-addext", "subjectAltName=IP:127.0.0.1",
                                                    "-keyout", key.getFile().getFullPathName(),
                                                    "-out", certificate.getFile().getFullPathName() }));
    ASSERT_TRUE (openssl.waitForProcessToFinish (20000));
    ASSERT_EQ (openssl.getExitCode(), 0u);

    TestServer server ({ "--status", "202" }, certificate.getFile(), key.getFile());
    ASSERT_TRUE (server.isRunning()) << server.getStartError();

    auto editor = openUnticked (server.getBaseUrl());
    ASSERT_TRUE (waitForCheck (*editor));

    EXPECT_FALSE (flag (*editor));
    editor->timerCallback();
    EXPECT_FALSE (badgeShown (*editor));
    EXPECT_EQ (server.getRequests().size(), 0);    // refused during the handshake
}

//==============================================================================
class ManyEditorsTest : public UpdateCheckTest,
                        public ::testing::WithParamInterface<const char*> {};

TEST_P (ManyEditorsTest, FiftyOpenedAndClosedWhileRequestsAreInFlight)
{
    const bool stalling = juce::String (GetParam()) == "Stalling";
    TestServer server (stalling ? juce::StringArray { "--stall" } : juce::StringArray { "--status", "202" });
    ASSERT_TRUE (server.isRunning()) << server.getStartError();

    juce::Random random (50);
    std::vector<std::unique_ptr<VobrelAudioProcessorEditor>> kept;
    int answered = 0;

    for (int i = 0; i < 50; ++i)
    {
        auto editor = open (server.getBaseUrl());

        switch (i % 5)
        {
            case 0:  break;                                                     // before the request leaves
            case 1:  juce::Thread::sleep (random.nextInt (4)); break;           // while it connects
            case 2:  pump (random.nextInt (60)); break;                         // with live ticks

            case 3:
                // Several at once, closed newest first.
                kept.push_back (std::move (editor));

                if (kept.size() == 5)
                    while (! kept.empty())
                        kept.pop_back();

                break;

            default:
                if (stalling)
                {
                    pump (random.nextInt (120));
                    EXPECT_FALSE (flag (*editor)) << i;
                }
                else
                {
                    ASSERT_TRUE (waitForCheck (*editor)) << i;
                    EXPECT_TRUE (flag (*editor)) << i;
                    editor->timerCallback();
                    EXPECT_TRUE (badgeShown (*editor)) << i;
                    ++answered;
                }
                break;
        }

        editor.reset();
    }

    kept.clear();

    // A late answer to a closed editor would land here, in freed memory.
    pump (300);

    const auto requests = server.getRequests();
    EXPECT_LE (requests.size(), 50);
    EXPECT_GE (requests.size(), answered);

    for (auto& record : requests)
        expectTheUpdateRequest (LoggedRequest::from (record), server.getPort());

    // The processor still makes working editors.
    auto last = openUnticked (server.getBaseUrl());

    if (! stalling)
    {
        ASSERT_TRUE (waitForCheck (*last));
        EXPECT_TRUE (flag (*last));
    }
}

INSTANTIATE_TEST_SUITE_P (Servers, ManyEditorsTest, ::testing::Values ("Stalling", "Answering202"),
                          [] (const auto& p) { return std::string (p.param); });
