// FprintdFingerprint against a stand-in fprintd (fake_fprintd.py) on the test's session bus, so
// every call and signal of a check goes over a real bus connection.

#include "platform/MainQueue.h"
#include "platform/linux/FprintdFingerprint.h"
#include "secrets/FingerprintChecks.h"

#include "MainLoop.h"

#include <gtest/gtest.h>

namespace quillpost {
namespace {

using Outcome = Fingerprint::Outcome;
using Answer = Awaited<Fingerprint::Result>;

class FprintdIntegration : public testing::Test {
protected:
    void SetUp() override
    {
        static StandIn fprintd("fake_fprintd.py");
        ASSERT_EQ(fprintd.ready, "ready") << "the stand-in fprintd did not start (python3-dbus, python3-gi)";
        setReader(true, "right-index-finger");
        g_autofree char* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        m_fingerprint = makeFprintdFingerprint(address);
    }

    static GVariant* control(const char* method, GVariant* parameters)
    {
        g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        return g_dbus_connection_call_sync(bus, "net.reactivated.Fprint", "/net/reactivated/Fprint/Manager",
            "net.reactivated.Fprint.Test", method, parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    }

    // Whether there is a reader, its enrolled fingers and the results its next scans give.
    static void setReader(bool present, const char* fingers, const char* results = "")
    {
        g_autoptr(GVariant) reply = control("SetReader", g_variant_new("(bss)", present, fingers, results));
        ASSERT_TRUE(reply);
    }

    // The reader's calls so far; "!" marks one it refused (a release by another than the claimant, say).
    static std::string calls()
    {
        g_autoptr(GVariant) reply = control("Calls", nullptr);
        const char* log = "";
        if (reply)
            g_variant_get(reply, "(&s)", &log);
        return log;
    }

    // The calls made, once the reader is given back: the answer can come before the claim has
    // even reached the service.
    static std::string logOnceReleased()
    {
        std::string log;
        EXPECT_TRUE(runUntil([&] { return (log = calls()).ends_with("Release"); }, 20)) << "never released: " << log;
        return log;
    }

    std::unique_ptr<Fingerprint> m_fingerprint;
};

TEST_F(FprintdIntegration, AvailableOnlyWithAReaderAndEnrolledFingers)
{
    const std::tuple<bool, const char*, const char*> cases[] = {
        { true, "right-index-finger", "" },
        { true, "", "No fingerprints are enrolled" },
        { false, "right-index-finger", "There is no fingerprint reader" },
    };
    for (const auto& [present, fingers, reason] : cases) {
        SCOPED_TRACE(reason);
        setReader(present, fingers);
        auto availability = m_fingerprint->availability();
        EXPECT_EQ(availability.available, *fingers && present);
        EXPECT_EQ(availability.reason.find(reason), 0u) << availability.reason;
        EXPECT_EQ(m_fingerprint->domainState().has_value(), availability.available);
    }

    // The enrolled fingers' state: the same for the same fingers in any order, another for others.
    setReader(true, "right-index-finger left-thumb");
    auto fingers = m_fingerprint->domainState();
    setReader(true, "left-thumb right-index-finger");
    EXPECT_EQ(m_fingerprint->domainState(), fingers);
    setReader(true, "left-thumb");
    EXPECT_NE(m_fingerprint->domainState(), fingers);
    EXPECT_EQ(calls(), "") << "asking claims nothing";

    // With no bus there is no reader, and a check fails on the main loop instead of waiting for ever.
    auto unreachable = makeFprintdFingerprint("unix:path=/nonexistent/quillpost-test-bus");
    EXPECT_EQ(unreachable->availability().reason.find("There is no system message bus"), 0u);
    Answer failed;
    auto check = unreachable->verify("test", failed.collect());
    ASSERT_TRUE(failed.arrived(20));
    EXPECT_EQ(failed->outcome, Outcome::Failed);
    check->cancel();
    runUntil([] { return false; }, 0);
    EXPECT_EQ(failed->outcome, Outcome::Failed) << "a check that ended stays ended";
}

TEST_F(FprintdIntegration, ACheckClaimsVerifiesAndReleasesWhateverItsEnd)
{
    struct Case {
        const char* name;
        std::string results;
        std::optional<std::string> cancelAfter; // cancelled once the log ends so ("" at once)
        Outcome outcome;
        std::string log;
    };
    const std::string once = "Claim VerifyStart VerifyStop Release";
    std::string fiveWrong;
    std::string lockout = "Claim";
    for (int attempt = 0; attempt < 5; ++attempt) {
        fiveWrong += "verify-no-match ";
        lockout += " VerifyStart VerifyStop";
    }
    const Case cases[] = {
        // First, before an earlier check's release has come back and made this one wait for the reader.
        { "cancelled while claiming", "", "", Outcome::Cancelled, "Claim Release" },
        { "a match", "verify-match", {}, Outcome::Verified, once },
        { "a wrong finger, then the right one", "verify-no-match verify-match", {}, Outcome::Verified,
            "Claim VerifyStart VerifyStop VerifyStart VerifyStop Release" },
        { "a swipe too short, then a match", "verify-swipe-too-short verify-retry-scan verify-match", {},
            Outcome::Verified, once },
        { "five wrong fingers", fiveWrong, {}, Outcome::Lockout, lockout + " Release" },
        { "the reader unplugged", "verify-disconnected", {}, Outcome::Failed, once },
        { "cancelled while waiting for a finger", "", "VerifyStart", Outcome::Cancelled, once },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        setReader(true, "right-index-finger", test.results.c_str());
        Answer answer;
        auto check = m_fingerprint->verify("test", answer.collect());
        if (test.cancelAfter) {
            ASSERT_TRUE(runUntil([&] { return calls().ends_with(*test.cancelAfter); }, 20));
            check->cancel();
        }
        ASSERT_TRUE(answer.arrived(20));
        EXPECT_EQ(answer->outcome, test.outcome);
        EXPECT_EQ(answer->domainState.has_value(), test.outcome == Outcome::Verified);
        EXPECT_EQ(logOnceReleased(), test.log);
    }

    SCOPED_TRACE("two checks at once: the second waits for the reader, and is cancelled by the first's answer");
    setReader(true, "right-index-finger", "verify-match");
    FingerprintChecks checks(*m_fingerprint, MainQueue::shared());
    Answer first;
    Answer second;
    checks.verify("test", first.collect());
    checks.verify("test", second.collect());
    ASSERT_TRUE(first.arrived(20) && second.arrived(20));
    EXPECT_EQ(first->outcome, Outcome::Verified);
    EXPECT_EQ(second->outcome, Outcome::Cancelled);
    EXPECT_EQ(logOnceReleased(), once) << "the second never claimed";
    EXPECT_EQ(checks.pending(), 0u);
}

}
}
