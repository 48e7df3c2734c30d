// The update check over real HTTPS, with the test certificate that the
// update_trust_test_certificate fixture makes the system trust.

#include "UpdateTesting.h"

#include <gtest/gtest.h>

namespace
{
    class HttpsTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            const auto result = TestServer::getCertificateDirectory().getChildFile ("trust-result");
            juce::StringArray lines;
            lines.addLines (result.loadFileAsString());

            if (! result.existsAsFile())
                GTEST_SKIP() << "no " << result.getFullPathName() << ": run through ctest, whose fixture trusts the test certificate";

            if (lines[0].trim() != "0")
                GTEST_SKIP() << "test certificate not trusted (trust-test-certificate exit " << lines[0] << "): " << lines[1];

            // Another build tree's run may have installed its own certificate since.
            const juce::File installed ("/usr/local/share/ca-certificates/vobrel-test-127.0.0.1.crt");
            ASSERT_TRUE (installed.hasIdenticalContentTo (TestServer::getCertificate()))
                << installed.getFullPathName() << " is not " << TestServer::getCertificate().getFullPathName()
                << ": run these tests through ctest, whose fixture installs it";
        }

        VobrelAudioProcessor processor;
    };
}

//==============================================================================
TEST_F (HttpsTest, A202AfterARedirectShowsTheBadge)
{
    TestServer server ({ "--redirects", "1", "--status", "202" },
                       TestServer::getCertificate(), TestServer::getCertificateKey());
    ASSERT_TRUE (server.isRunning()) << server.getStartError();
    ASSERT_TRUE (server.getBaseUrl().startsWith ("https://"));

    VobrelAudioProcessorEditor editor (processor, server.getBaseUrl());
    editor.stopTimer();
    ASSERT_TRUE (waitForCheck (editor));

    EXPECT_TRUE (UpdateTestAccess::newVersionAvailable (editor));
    editor.timerCallback();
    EXPECT_TRUE (UpdateTestAccess::badge (editor).isVisible());

    const auto requests = server.getRequests();
    ASSERT_EQ (requests.size(), 2);

    const auto first = LoggedRequest::from (requests[0]);
    EXPECT_TRUE (first.tls);
    EXPECT_EQ (first.method, "GET");
    EXPECT_EQ (first.path, "/vobrel_update.php");
    EXPECT_EQ (first.query, "v=1.0.2");
    EXPECT_EQ (first.bodyBytes, 0);
    EXPECT_EQ (LoggedRequest::from (requests[1]).status, 202);
}

TEST_F (HttpsTest, A404ShowsNoBadge)
{
    TestServer server ({ "--status", "404" }, TestServer::getCertificate(), TestServer::getCertificateKey());
    ASSERT_TRUE (server.isRunning()) << server.getStartError();

    VobrelAudioProcessorEditor editor (processor, server.getBaseUrl());
    editor.stopTimer();
    ASSERT_TRUE (waitForCheck (editor));

    EXPECT_FALSE (UpdateTestAccess::newVersionAvailable (editor));
    editor.timerCallback();
    EXPECT_FALSE (UpdateTestAccess::badge (editor).isVisible());
    EXPECT_EQ (server.getRequests().size(), 1);
}

TEST_F (HttpsTest, ClosingWithAStalledServerDoesNotWait)
{
    TestServer server ({ "--stall" }, TestServer::getCertificate(), TestServer::getCertificateKey());
    ASSERT_TRUE (server.isRunning()) << server.getStartError();

    auto editor = std::make_unique<VobrelAudioProcessorEditor> (processor, server.getBaseUrl());
    ASSERT_TRUE (server.waitForRequests (1));

    const auto start = juce::Time::getHighResolutionTicks();
    editor.reset();
    const auto ms = juce::Time::highResolutionTicksToSeconds (juce::Time::getHighResolutionTicks() - start) * 1000.0;

    std::cout << "closing with a stalled HTTPS server took " << ms << " ms" << std::endl;

    // As over HTTP: no wait for the 3 s time-out.
    EXPECT_LT (ms, UpdateCheck::connectionTimeoutMs / 2.0);
}
