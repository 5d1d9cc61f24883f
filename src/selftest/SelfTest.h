#pragma once

#include "common/Json.h"
#include "platform/MainQueue.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quillpost {

class WebView;
class Window;

// Runs an asynchronous step: begin gets a function to answer with; then runs once, with the
// answer, or with nothing when no answer came within the time-out. A late answer is dropped.
void within(MainQueue&, std::chrono::milliseconds timeout, std::function<void(std::function<void(Json)>)> begin,
    std::function<void(std::optional<Json>)> then);

// A run of the whole program without a user, started by QUILLPOST_SELFTEST=<folder>: the page is
// driven through a fixed test script, native measurements and the editor's checks are added,
// results.json and the screenshots are written into the folder, and the program quits, whatever
// failed on the way.
class SelfTest {
public:
    struct Options {
        std::filesystem::path folder;
        // The fixture form's bytes in Base64, or empty.
        std::string fixtureBase64;
        std::string relay;
        bool editorUpdate { false };

        // Nothing unless QUILLPOST_SELFTEST is set.
        static std::optional<Options> fromEnvironment(const std::function<const char*(const char*)>& environment);
    };

    struct FingerprintState {
        bool available { false };
        std::string reason;
    };

    struct Services {
        MainQueue& mainQueue;
        WebView& page;
        Window& window;
        std::function<std::string()> badgeLabel;
        std::function<Json()> notifications;
        std::function<FingerprintState()> fingerprint;
        // The editor checks; they answer with their object.
        std::function<void(std::function<void(Json)>)> editorChecks;
        // The program's normal quit.
        std::function<void()> quit;
    };

    static constexpr std::chrono::milliseconds startDelay { 2500 };
    static constexpr std::chrono::milliseconds scriptTimeout { 180'000 };
    static constexpr std::chrono::milliseconds printTimeout { 60'000 };
    static constexpr std::chrono::milliseconds snapshotTimeout { 20'000 };
    static constexpr std::chrono::milliseconds editorTimeout { 300'000 };

    static constexpr const char* printProbe
        = "const b = await window.quillpost.printPdf(); return String.fromCharCode(...b.slice(0, 5)) + '|' + b.length;";

    // The script the page runs: the fixture and relay constants, then the fixed test script.
    static std::string scriptText(const Options&);

    SelfTest(Options, Services);

    // Creates the folder and starts the run after startDelay.
    void start();
    bool finished() const { return m_finished; }

private:
    void runScript();
    void scriptAnswered(const std::optional<Json>& answer, const std::string& errorMessage);
    void takeSnapshots();
    void printPdf();
    void runEditorChecks();
    void finish();
    void write(const std::string& name, const std::string& bytes);

    Options m_options;
    Services m_services;
    Json m_results;
    bool m_finished { false };
};

std::string_view selfTestScript();

}
