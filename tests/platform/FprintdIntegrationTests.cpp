// FprintdFingerprint against a stand-in fprintd (fake_fprintd.py) on a message bus of the test's
// own, so every call and signal of a check goes over a real bus connection.

#include "platform/MainQueue.h"
#include "platform/linux/FprintdFingerprint.h"
#include "secrets/FingerprintChecks.h"

#include "MainLoop.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace quillpost {
namespace {

using Outcome = Fingerprint::Outcome;
using Log = std::vector<std::string>;

// A private dbus-daemon and the stand-in service on it, for the whole suite.
class FakeFprintd {
public:
    FakeFprintd()
    {
        const char* daemon[] = { "dbus-daemon", "--session", "--nofork", "--print-address=1", nullptr };
        m_daemon = g_subprocess_newv(daemon, static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_SILENCE), nullptr);
        if (!m_daemon)
            return;
        auto* lines = g_data_input_stream_new(g_subprocess_get_stdout_pipe(m_daemon));
        gchar* line = g_data_input_stream_read_line(lines, nullptr, nullptr, nullptr);
        g_object_unref(lines);
        if (!line)
            return;
        m_address = line;
        g_free(line);

        gchar* script = g_build_filename(QUILLPOST_SOURCE_DIR, "tests", "platform", "fake_fprintd.py", nullptr);
        const char* service[] = { "/usr/bin/python3", script, m_address.c_str(), nullptr };
        m_service = g_subprocess_newv(service, G_SUBPROCESS_FLAGS_NONE, nullptr);
        g_free(script);
        m_control = g_dbus_connection_new_for_address_sync(m_address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        // Python takes a moment to start, longer on a loaded machine.
        m_ready = m_service && m_control && runUntil([this] { return nameOwned(); }, 30);
    }

    ~FakeFprintd()
    {
        if (m_control)
            g_object_unref(m_control);
        for (auto* process : { m_service, m_daemon }) {
            if (!process)
                continue;
            g_subprocess_force_exit(process);
            g_subprocess_wait(process, nullptr, nullptr);
            g_object_unref(process);
        }
    }

    bool ready() const { return m_ready; }
    const std::string& address() const { return m_address; }

    void setReader(bool present, const std::vector<std::string>& fingers)
    {
        GVariantBuilder list;
        g_variant_builder_init(&list, G_VARIANT_TYPE("as"));
        for (auto& finger : fingers)
            g_variant_builder_add(&list, "s", finger.c_str());
        control("SetReader", g_variant_new("(bas)", present, &list));
    }

    // A finger on the reader, once a verification waits for one.
    void touch(const std::string& result, bool done)
    {
        ASSERT_TRUE(runUntil([this] { return state().listening; }, 20)) << "no verification started for " << result;
        EXPECT_TRUE(control("Touch", g_variant_new("(sb)", result.c_str(), done)));
    }

    struct State {
        Log log;
        bool claimed { false };
        bool listening { false };
    };
    State state()
    {
        State state;
        GVariant* reply = g_dbus_connection_call_sync(m_control, "net.reactivated.Fprint", "/net/reactivated/Fprint/Manager",
            "net.reactivated.Fprint.Test", "State", nullptr, G_VARIANT_TYPE("(asbb)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (!reply)
            return state;
        GVariantIter* calls = nullptr;
        const gchar* call = nullptr;
        gboolean claimed = FALSE;
        gboolean verifying = FALSE;
        g_variant_get(reply, "(asbb)", &calls, &claimed, &verifying);
        while (g_variant_iter_loop(calls, "&s", &call))
            state.log.emplace_back(call);
        g_variant_iter_free(calls);
        g_variant_unref(reply);
        state.claimed = claimed;
        state.listening = verifying;
        return state;
    }

    void clearLog() { control("ClearLog", nullptr); }

    // Waits until the reader has been released and returns the calls made. The check's answer can
    // come before its claim has even reached the service, so "not claimed" alone proves nothing.
    Log logOnceReleased()
    {
        auto released = [this] {
            auto now = state();
            return !now.claimed && !now.log.empty() && now.log.back() == "Release";
        };
        EXPECT_TRUE(runUntil(released, 20)) << "the reader was never released";
        return state().log;
    }

private:
    bool control(const char* method, GVariant* parameters)
    {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(m_control, "net.reactivated.Fprint", "/net/reactivated/Fprint/Manager",
            "net.reactivated.Fprint.Test", method, parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
        if (!reply) {
            ADD_FAILURE() << method << ": " << error->message;
            g_error_free(error);
            return false;
        }
        g_variant_unref(reply);
        return true;
    }

    bool nameOwned()
    {
        GVariant* reply = g_dbus_connection_call_sync(m_control, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "NameHasOwner", g_variant_new("(s)", "net.reactivated.Fprint"), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (!reply)
            return false;
        gboolean owned = FALSE;
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
        return owned;
    }

    GSubprocess* m_daemon { nullptr };
    GSubprocess* m_service { nullptr };
    GDBusConnection* m_control { nullptr };
    std::string m_address;
    bool m_ready { false };
};

class FprintdIntegration : public testing::Test {
protected:
    static void SetUpTestSuite() { s_fprintd = new FakeFprintd; }
    static void TearDownTestSuite()
    {
        delete s_fprintd;
        s_fprintd = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_fprintd->ready()) << "the stand-in fprintd did not start (dbus-daemon, python3-dbus, python3-gi)";
        s_fprintd->setReader(true, { "right-index-finger" });
        s_fprintd->clearLog();
        m_fingerprint = makeFprintdFingerprint(s_fprintd->address());
    }

    void TearDown() override
    {
        // Every check has let go of the reader before the reader goes.
        EXPECT_FALSE(s_fprintd->state().claimed);
    }

    struct Answer {
        std::optional<Fingerprint::Result> result;
        std::function<void(Fingerprint::Result)> collect()
        {
            return [this](Fingerprint::Result value) { result = std::move(value); };
        }
        bool arrived(int seconds = 20)
        {
            return runUntil([this] { return result.has_value(); }, seconds);
        }
    };

    static FakeFprintd* s_fprintd;
    std::unique_ptr<Fingerprint> m_fingerprint;
};

FakeFprintd* FprintdIntegration::s_fprintd = nullptr;

TEST_F(FprintdIntegration, AvailableOnlyWithAReaderAndEnrolledFingers)
{
    struct Case {
        bool present;
        std::vector<std::string> fingers;
        const char* reason;
    };
    const Case cases[] = {
        { true, { "right-index-finger" }, "" },
        { true, {}, "No fingerprints are enrolled" },
        { false, { "right-index-finger" }, "There is no fingerprint reader" },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.reason);
        s_fprintd->setReader(test.present, test.fingers);
        auto availability = m_fingerprint->availability();
        EXPECT_EQ(availability.available, test.fingers.size() && test.present);
        EXPECT_EQ(availability.reason.find(test.reason), 0u) << availability.reason;
        EXPECT_EQ(m_fingerprint->domainState().has_value(), availability.available);
    }

    // The enrolled fingers' state: the same for the same fingers in any order, another for others.
    s_fprintd->setReader(true, { "right-index-finger", "left-thumb" });
    auto state = m_fingerprint->domainState();
    s_fprintd->setReader(true, { "left-thumb", "right-index-finger" });
    EXPECT_EQ(m_fingerprint->domainState(), state);
    s_fprintd->setReader(true, { "left-thumb" });
    EXPECT_NE(m_fingerprint->domainState(), state);
    EXPECT_TRUE(s_fprintd->state().log.empty()) << "asking claims nothing";
}

TEST_F(FprintdIntegration, ACheckClaimsVerifiesAndReleases)
{
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, bool>> touches;
        Outcome outcome;
        Log log;
    };
    const Log once { "Claim", "VerifyStart", "VerifyStop", "Release" };
    const Log retried { "Claim", "VerifyStart", "VerifyStop", "VerifyStart", "VerifyStop", "Release" };
    std::vector<std::pair<std::string, bool>> fiveWrong(5, { "verify-no-match", true });
    Log lockout { "Claim" };
    for (int i = 0; i < 5; ++i)
        lockout.insert(lockout.end(), { "VerifyStart", "VerifyStop" });
    lockout.push_back("Release");
    const Case cases[] = {
        { "a match", { { "verify-match", true } }, Outcome::Verified, once },
        { "a wrong finger, then the right one", { { "verify-no-match", true }, { "verify-match", true } }, Outcome::Verified, retried },
        { "a swipe too short, then a match", { { "verify-swipe-too-short", false }, { "verify-retry-scan", false }, { "verify-match", true } }, Outcome::Verified, once },
        { "five wrong fingers", fiveWrong, Outcome::Lockout, lockout },
        { "the reader unplugged", { { "verify-disconnected", true } }, Outcome::Failed, once },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        s_fprintd->clearLog();
        Answer answer;
        m_fingerprint->verify("test", answer.collect());
        for (auto& [result, done] : test.touches)
            s_fprintd->touch(result, done);
        ASSERT_TRUE(answer.arrived());
        EXPECT_EQ(answer.result->outcome, test.outcome);
        EXPECT_EQ(answer.result->domainState.has_value(), test.outcome == Outcome::Verified);
        EXPECT_EQ(s_fprintd->logOnceReleased(), test.log);
    }
}

TEST_F(FprintdIntegration, ACancelledCheckReleasesTheReader)
{
    struct Case {
        const char* name;
        bool waitForVerification;
        Log log;
    };
    const Case cases[] = {
        { "while claiming", false, { "Claim", "Release" } },
        { "while waiting for a finger", true, { "Claim", "VerifyStart", "VerifyStop", "Release" } },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        s_fprintd->clearLog();
        Answer answer;
        auto check = m_fingerprint->verify("test", answer.collect());
        if (test.waitForVerification) {
            ASSERT_TRUE(runUntil([] { return s_fprintd->state().listening; }, 20));
        }
        check->cancel();
        ASSERT_TRUE(answer.arrived());
        EXPECT_EQ(answer.result->outcome, Outcome::Cancelled);
        EXPECT_EQ(s_fprintd->logOnceReleased(), test.log);
    }
}

TEST_F(FprintdIntegration, ChecksTakeTurnsAndLetGoInTime)
{
    // Two checks at once: the second waits for the reader, and is cancelled once the first has answered.
    FingerprintChecks checks(*m_fingerprint, MainQueue::shared());
    Answer first;
    Answer second;
    checks.verify("test", first.collect());
    checks.verify("test", second.collect());
    s_fprintd->touch("verify-match", true);
    ASSERT_TRUE(first.arrived());
    ASSERT_TRUE(second.arrived());
    EXPECT_EQ(first.result->outcome, Outcome::Verified);
    EXPECT_EQ(second.result->outcome, Outcome::Cancelled);
    EXPECT_EQ(s_fprintd->logOnceReleased(), (Log { "Claim", "VerifyStart", "VerifyStop", "Release" })) << "the second never claimed";

    // No finger within the time limit: the reader is given back.
    s_fprintd->clearLog();
    FingerprintChecks hurried(*m_fingerprint, MainQueue::shared(), std::chrono::milliseconds(500));
    Answer late;
    hurried.verify("test", late.collect());
    ASSERT_TRUE(late.arrived());
    EXPECT_EQ(late.result->outcome, Outcome::Cancelled);
    auto log = s_fprintd->logOnceReleased();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "Claim");
    EXPECT_EQ(log.back(), "Release");
    EXPECT_EQ(hurried.pending(), 0u);
}

}
}
