#include "selftest/SelfTest.h"

#include "selftest/SelfTestResults.h"
#include "common/Base64.h"
#include "common/Files.h"
#include "platform/WebView.h"
#include "platform/Window.h"
#include "store/Store.h"

#include <algorithm>

namespace quillpost {

void within(MainQueue& queue, std::chrono::milliseconds timeout, std::function<void(std::function<void(Json)>)> begin,
    std::function<void(std::optional<Json>)> then)
{
    struct Pending {
        std::function<void(std::optional<Json>)> then;
        TimerId timer { 0 };
    };
    auto pending = std::make_shared<Pending>(Pending { std::move(then) });
    auto settle = [pending, &queue](std::optional<Json> answer, bool timedOut) {
        auto next = std::exchange(pending->then, nullptr);
        if (!next)
            return;
        if (!timedOut)
            queue.cancel(pending->timer);
        next(std::move(answer));
    };
    pending->timer = queue.after(timeout, [settle] { settle(std::nullopt, true); });
    begin([settle](Json answer) { settle(std::move(answer), false); });
}

std::optional<SelfTest::Options> SelfTest::Options::fromEnvironment(const std::function<const char*(const char*)>& environment)
{
    const char* folder = environment("QUILLPOST_SELFTEST");
    if (!folder)
        return std::nullopt;
    Options options;
    options.folder = folder;
    if (const char* fixture = environment("QUILLPOST_SELFTEST_FIXTURE")) {
        if (auto bytes = readFile(fixture))
            options.fixtureBase64 = base64Encode(*bytes);
    }
    if (const char* relay = environment("QUILLPOST_SELFTEST_RELAY")) {
        options.relay = relay;
        std::erase(options.relay, '\'');
    }
    options.editorUpdate = environment("QUILLPOST_SELFTEST_UPDATE") != nullptr;
    return options;
}

std::string SelfTest::scriptText(const Options& options)
{
    std::string text = "const FIXTURE_B64 = '";
    // Base64 holds no quote or backslash, so it stands in single quotes as it is.
    text.append(options.fixtureBase64).append("';\nconst RELAY = '").append(options.relay).append("';\n");
    text.append(selfTestScript());
    return text;
}

SelfTest::SelfTest(Options options, Services services)
    : m_options(std::move(options))
    , m_services(std::move(services))
{
}

void SelfTest::start()
{
    std::error_code ignored;
    std::filesystem::create_directories(m_options.folder, ignored);
    m_services.mainQueue.after(startDelay, [this] { runScript(); });
}

void SelfTest::runScript()
{
    within(m_services.mainQueue, scriptTimeout,
        [this](auto answer) {
            m_services.page.callAsyncFunction(scriptText(m_options), Json::object(), [answer](std::optional<Json> value, std::string error) {
                answer(Json { { "value", value ? *value : Json() }, { "ok", value.has_value() }, { "error", error } });
            });
        },
        [this](std::optional<Json> outcome) {
            if (!outcome) {
                scriptAnswered(std::nullopt, "The page didn't finish the self-test script within "
                        + std::to_string(scriptTimeout.count() / 1000) + " seconds.");
                return;
            }
            if ((*outcome)["ok"].get<bool>())
                scriptAnswered((*outcome)["value"], {});
            else
                scriptAnswered(std::nullopt, (*outcome)["error"].get<std::string>());
        });
}

void SelfTest::scriptAnswered(const std::optional<Json>& answer, const std::string& errorMessage)
{
    m_results = SelfTestResults::fromScript(answer, errorMessage);
    Json native;
    native["badge"] = m_services.badgeLabel ? m_services.badgeLabel() : std::string();
    if (auto copy = SelfTestResults::takeFormCopy(m_results))
        write("form-copy.pdf", *copy);
    native["notifications"] = m_services.notifications ? m_services.notifications() : Json::array();
    auto buttonsBottom = m_services.window.windowButtonsBottom();
    native["windowButtonsBottom"] = buttonsBottom ? Json(*buttonsBottom) : Json();
    // The translucent material of the newest macOS has no counterpart here.
    native["liquidGlass"] = false;
    SelfTestResults::merge(m_results, native);
    takeSnapshots();
}

void SelfTest::takeSnapshots()
{
    within(m_services.mainQueue, snapshotTimeout,
        [this](auto answer) {
            m_services.page.snapshot([this, answer](std::optional<std::string> png, std::string) {
                if (png)
                    write("page.png", *png);
                answer(true);
            });
        },
        [this](std::optional<Json>) {
            within(m_services.mainQueue, snapshotTimeout,
                [this](auto answer) {
                    m_services.window.snapshot([this, answer](std::optional<std::string> png, std::string) {
                        if (png)
                            write("window.png", *png);
                        answer(true);
                    });
                },
                [this](std::optional<Json>) { printPdf(); });
        });
}

void SelfTest::printPdf()
{
    within(m_services.mainQueue, printTimeout,
        [this](auto answer) {
            m_services.page.callAsyncFunction(printProbe, Json::object(), [answer](std::optional<Json> value, std::string error) {
                answer(value ? *value : Json("error: " + (error.empty() ? std::string("the page gave no answer") : error)));
            });
        },
        [this](std::optional<Json> answer) {
            m_results["printPdf"] = answer ? *answer : Json("error: printing the page didn't finish in time");
            runEditorChecks();
        });
}

void SelfTest::runEditorChecks()
{
    within(m_services.mainQueue, editorTimeout,
        [this](auto answer) {
            if (m_services.editorChecks)
                m_services.editorChecks(answer);
            else
                answer(Json { { "error", "The editor checks aren't available." } });
        },
        [this](std::optional<Json> checks) {
            m_results["pdfcraft"] = checks ? *checks : Json { { "error", "The editor checks didn't finish in time." } };
            auto fingerprint = m_services.fingerprint ? m_services.fingerprint() : FingerprintState { false, "No fingerprint service." };
            m_results["touchIdAvailable"] = fingerprint.available;
            m_results["touchIdReason"] = fingerprint.reason;
            finish();
        });
}

void SelfTest::finish()
{
    write("results.json", SelfTestResults::text(m_results));
    m_finished = true;
    if (m_services.quit)
        m_services.quit();
}

void SelfTest::write(const std::string& name, const std::string& bytes)
{
    // A file that can't be written is left out; the run goes on.
    try {
        Store::atomicWrite(m_options.folder / name, bytes);
    } catch (const std::exception&) {
    }
}

}
