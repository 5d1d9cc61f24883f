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

TEST(SelfTestSetup, OptionsComeFromTheEnvironmentAndResultsAreAnObjectWhereTheNativeKeysWin)
{
    TemporaryFolder folder;
    writeText(folder / "form.pdf", "%PDF-1.7 form");
    std::map<std::string, std::string> variables;
    auto environment = [&variables](const char* name) { return variables.contains(name) ? variables[name].c_str() : nullptr; };
    EXPECT_FALSE(SelfTest::Options::fromEnvironment(environment));
    variables = { { "QUILLPOST_SELFTEST", "/tmp/out" }, { "QUILLPOST_SELFTEST_FIXTURE", (folder / "missing.pdf").string() } };
    auto plain = SelfTest::Options::fromEnvironment(environment);
    ASSERT_TRUE(plain);
    EXPECT_EQ(std::pair(plain->fixtureBase64, plain->editorUpdate), std::pair(std::string(), false));
    variables["QUILLPOST_SELFTEST_FIXTURE"] = (folder / "form.pdf").string();
    variables["QUILLPOST_SELFTEST_RELAY"] = "http://127.0.0.1:8080';alert(1)//'";
    variables["QUILLPOST_SELFTEST_UPDATE"] = "";
    auto full = SelfTest::Options::fromEnvironment(environment);
    ASSERT_TRUE(full);
    EXPECT_TRUE(full->editorUpdate);
    // A quote in the relay's address can't end the script's string.
    EXPECT_TRUE(SelfTest::scriptText(*full).starts_with(
        "const FIXTURE_B64 = 'JVBERi0xLjcgZm9ybQ==';\nconst RELAY = 'http://127.0.0.1:8080;alert(1)//';\n"));

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

TEST(SelfTestRun, APageThatNeverAnswersStillEndsInResultsAndAQuit)
{
    TemporaryFolder folder;
    VirtualClock clock;
    FakeWebView page;
    FakeWindow window;
    std::function<void(Json)> editorAnswer;
    int quits = 0;
    SelfTest::Options options;
    options.folder = folder / "not" / "there" / "yet";
    SelfTest run(options, { .mainQueue = clock, .page = page, .window = window, .badgeLabel = [] { return std::string("3"); },
                              .notifications = [] { return Json::array(); },
                              .fingerprint = [] { return SelfTest::FingerprintState { false, "none" }; },
                              .editorChecks = [&](std::function<void(Json)> answer) { editorAnswer = std::move(answer); },
                              .quit = [&] { ++quits; } });
    run.start();
    const auto results = [&] { return Json::parse(readFile(options.folder / "results.json").value_or("null")); };
    EXPECT_TRUE(std::filesystem::is_directory(options.folder));
    clock.advance(2499ms);
    EXPECT_TRUE(page.asyncCalls.empty());
    clock.advance(1ms);
    ASSERT_EQ(page.asyncCalls.size(), 1u);

    // Nothing answers: not the script, the snapshots, the print or the editor.
    clock.advance(SelfTest::scriptTimeout + SelfTest::snapshotTimeout * 2 + SelfTest::printTimeout + SelfTest::editorTimeout);
    EXPECT_TRUE(run.finished());
    EXPECT_EQ(quits, 1);
    Json written = results();
    EXPECT_NE(written.value("error", "").find("180 seconds"), std::string::npos);
    EXPECT_EQ(written["badge"], "3");
    EXPECT_TRUE(written.value("printPdf", "").starts_with("error: "));
    EXPECT_TRUE(written["pdfcraft"].contains("error"));
    EXPECT_FALSE(std::filesystem::exists(options.folder / "page.png"));

    // Answers that come after their time-outs change nothing.
    page.asyncCalls[0].completion(Json(R"({"ready":true})"), {});
    editorAnswer(Json::object());
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(results(), written);
    EXPECT_EQ(clock.pendingTimers(), 0u) << "no timer is left to fire after the quit";
}

}
}
