#include "common/Files.h"
#include "doubles/FakeWebView.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"
#include "selftest/SelfTest.h"
#include "selftest/SelfTestResults.h"

#include <gtest/gtest.h>

#include <map>

namespace quillpost {
namespace {

using namespace std::chrono_literals;

TEST(SelfTestResults, TheNativeKeysWinAndAnythingButAnObjectBecomesAnError)
{
    Json results = SelfTestResults::fromScript(Json(R"({"badge":"from the page","formCopyB64":"JVBERi0="})"), {});
    EXPECT_EQ(SelfTestResults::takeFormCopy(results), "%PDF-");
    SelfTestResults::merge(results, Json { { "badge", "3" } });
    EXPECT_EQ(results, (Json { { "badge", "3" } }));
    // A script may hand back the object itself rather than its text.
    EXPECT_EQ(SelfTestResults::fromScript(Json { { "ready", true } }, {}), (Json { { "ready", true } }));

    EXPECT_EQ(SelfTestResults::fromScript(std::nullopt, "ReferenceError"), (Json { { "error", "ReferenceError" } }));
    for (auto answer : { Json("[1,2]"), Json("not json"), Json(42), Json() })
        EXPECT_TRUE(SelfTestResults::fromScript(answer, {}).contains("error")) << answer;
    for (auto bad : { Json(12), Json("%%not base64%%") }) {
        Json withCopy { { "formCopyB64", bad } };
        EXPECT_EQ(SelfTestResults::takeFormCopy(withCopy), std::nullopt);
        EXPECT_FALSE(withCopy.contains("formCopyB64"));
    }
}

TEST(SelfTestOptions, ComeFromTheEnvironment)
{
    TemporaryFolder folder;
    writeText(folder / "form.pdf", "%PDF-1.7 form");
    std::map<std::string, std::string> variables;
    auto environment = [&variables](const char* name) -> const char* {
        auto found = variables.find(name);
        return found == variables.end() ? nullptr : found->second.c_str();
    };
    EXPECT_FALSE(SelfTest::Options::fromEnvironment(environment));

    variables = { { "QUILLPOST_SELFTEST", "/tmp/out" }, { "QUILLPOST_SELFTEST_FIXTURE", (folder / "missing.pdf").string() } };
    auto plain = SelfTest::Options::fromEnvironment(environment);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->fixtureBase64, "");
    EXPECT_FALSE(plain->editorUpdate);

    variables["QUILLPOST_SELFTEST_FIXTURE"] = (folder / "form.pdf").string();
    variables["QUILLPOST_SELFTEST_RELAY"] = "http://127.0.0.1:8080';alert(1)//'";
    variables["QUILLPOST_SELFTEST_UPDATE"] = "";
    auto full = SelfTest::Options::fromEnvironment(environment);
    ASSERT_TRUE(full);
    EXPECT_TRUE(full->editorUpdate);
    // A quote in the relay's address can't end the script's string.
    EXPECT_TRUE(SelfTest::scriptText(*full).starts_with("const FIXTURE_B64 = 'JVBERi0xLjcgZm9ybQ==';\nconst RELAY = 'http://127.0.0.1:8080;alert(1)//';\n"));
}

class SelfTestRun : public testing::Test {
protected:
    SelfTestRun()
    {
        SelfTest::Services services {
            .mainQueue = m_clock,
            .page = m_page,
            .window = m_window,
            .badgeLabel = [] { return std::string("3"); },
            .notifications = [] { return Json::array(); },
            .fingerprint = [] { return SelfTest::FingerprintState { false, "none" }; },
            .editorChecks = [this](std::function<void(Json)> answer) { m_editorAnswer = std::move(answer); },
            .quit = [this] { ++m_quits; },
        };
        SelfTest::Options options;
        options.folder = m_output;
        m_run = std::make_unique<SelfTest>(options, services);
        m_run->start();
    }

    Json results() { return Json::parse(readFile(m_output / "results.json").value_or("null")); }

    TemporaryFolder m_folder;
    std::filesystem::path m_output { m_folder.path() / "not" / "there" / "yet" };
    VirtualClock m_clock;
    FakeWebView m_page;
    FakeWindow m_window;
    std::function<void(Json)> m_editorAnswer;
    int m_quits { 0 };
    std::unique_ptr<SelfTest> m_run;
};

TEST_F(SelfTestRun, APageThatNeverAnswersStillEndsInResultsAndAQuit)
{
    EXPECT_TRUE(std::filesystem::is_directory(m_output));
    m_clock.advance(2499ms);
    EXPECT_TRUE(m_page.asyncCalls.empty());
    m_clock.advance(1ms);
    ASSERT_EQ(m_page.asyncCalls.size(), 1u);

    // Nothing answers: not the script, the snapshots, the print or the editor.
    m_clock.advance(SelfTest::scriptTimeout + SelfTest::snapshotTimeout * 2 + SelfTest::printTimeout + SelfTest::editorTimeout);
    EXPECT_TRUE(m_run->finished());
    EXPECT_EQ(m_quits, 1);
    Json written = results();
    EXPECT_NE(written.value("error", "").find("180 seconds"), std::string::npos);
    EXPECT_EQ(written["badge"], "3");
    EXPECT_TRUE(written.value("printPdf", "").starts_with("error: "));
    EXPECT_TRUE(written["pdfcraft"].contains("error"));
    EXPECT_FALSE(std::filesystem::exists(m_output / "page.png"));

    // Answers that come after their time-outs change nothing.
    m_page.asyncCalls[0].completion(Json(R"({"ready":true})"), {});
    m_editorAnswer(Json::object());
    EXPECT_EQ(m_quits, 1);
    EXPECT_EQ(results(), written);
    EXPECT_EQ(m_clock.pendingTimers(), 0u) << "no timer is left to fire after the quit";
}

}
}
