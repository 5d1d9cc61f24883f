#include "selftest/SelfTestPdfCraft.h"

#include "pdfcraft/PdfCraft.h"
#include "platform/MainQueue.h"
#include "platform/WebView.h"
#include "platform/Window.h"
#include "selftest/SelfTest.h"
#include "store/Store.h"

#include <array>
#include <memory>

namespace quillpost {

namespace {

using namespace std::chrono_literals;

constexpr auto probeTimeout = 15s;
constexpr auto windowWait = 2000ms;
constexpr auto sheetWait = 1000ms;

struct Probe {
    const char* key;
    const char* body;
};

// The outside address is one the offline editor must never reach.
constexpr std::array probes {
    // The editor's WebAssembly compiles after the window opens; a busy machine may take seconds.
    Probe { "started", "for (let i = 0; i < 100 && !window.wasmBindings; ++i) await new Promise(r => setTimeout(r, 100));"
                       " return !!window.wasmBindings;" },
    Probe { "secureContext", "return window.isSecureContext;" },
    Probe { "webgpu", "return !!navigator.gpu;" },
    Probe { "internet", "try { await fetch('https://www.example.com/', { mode: 'no-cors', cache: 'no-store' }); return 'reached'; }"
                        " catch (e) { return 'blocked'; }" },
    Probe { "docServed", "const file = new URLSearchParams(location.search).get('file');"
                         "if (!file) return 0;"
                         "const response = await fetch(file);"
                         "return (await response.arrayBuffer()).byteLength;" },
    Probe { "unsaved", "return typeof window.onbeforeunload === 'function';" },
};

// One run of the checks; it keeps itself alive through the callbacks it hands out.
class Run : public std::enable_shared_from_this<Run> {
public:
    Run(const SelfTestPdfCraft& checks, std::function<void(Json)> completion)
        : m_checks(checks)
        , m_completion(std::move(completion))
    {
    }

    void start()
    {
        auto& pdfcraft = m_checks.pdfcraft;
        m_result["opened"] = pdfcraft.open(SelfTestPdfCraft::blankPdf(), SelfTestPdfCraft::documentName);
        m_result["info"] = pdfcraft.info();
        m_checks.mainQueue.after(windowWait, [self = shared_from_this()] { self->windowOpened(); });
    }

private:
    void windowOpened()
    {
        auto& windows = m_checks.pdfcraft.windows();
        if (windows.empty()) {
            m_result["error"] = "No editor window opened.";
            done();
            return;
        }
        m_window = windows.back();
        nextProbe(0);
    }

    void nextProbe(size_t index)
    {
        if (index == probes.size()) {
            askToClose();
            return;
        }
        auto self = shared_from_this();
        within(m_checks.mainQueue, probeTimeout,
            [self, index](auto answer) {
                auto window = self->m_window.lock();
                if (!window) {
                    answer(Json("error: the editor window has gone"));
                    return;
                }
                window->webView().callAsyncFunction(probes[index].body, Json::object(), [answer](std::optional<Json> value, std::string error) {
                    answer(value ? *value : Json("error: " + error));
                });
            },
            [self, index](std::optional<Json> value) {
                self->m_result[probes[index].key] = value ? *value : Json("error: no answer in time");
                self->nextProbe(index + 1);
            });
    }

    // With a handler that always refuses to unload, closing must ask first.
    void askToClose()
    {
        auto window = m_window.lock();
        if (!window) {
            m_result["asksWhenUnsaved"] = false;
            snapshot();
            return;
        }
        window->webView().evaluateScript("window.__savedHook = window.onbeforeunload; window.onbeforeunload = (e) => { e.preventDefault(); }; 1",
            [self = shared_from_this()](std::optional<Json>, std::string) {
                if (auto editor = self->m_window.lock())
                    editor->performClose();
                self->m_checks.mainQueue.after(sheetWait, [self] { self->answerQuestion(); });
            });
    }

    void answerQuestion()
    {
        auto window = m_window.lock();
        m_result["asksWhenUnsaved"] = window && window->window().showsSheet();
        if (!window) {
            snapshot();
            return;
        }
        window->window().endSheets();
        window->webView().evaluateScript("window.onbeforeunload = window.__savedHook; 1",
            [self = shared_from_this()](std::optional<Json>, std::string) { self->snapshot(); });
    }

    void snapshot()
    {
        auto self = shared_from_this();
        within(m_checks.mainQueue, probeTimeout,
            [self](auto answer) {
                auto window = self->m_window.lock();
                if (!window) {
                    answer(false);
                    return;
                }
                window->webView().snapshot([self, answer](std::optional<std::string> png, std::string) {
                    if (png) {
                        try {
                            Store::atomicWrite(self->m_checks.folder / "pdfcraft.png", *png);
                        } catch (const std::exception&) {
                        }
                    }
                    answer(png.has_value());
                });
            },
            [self](std::optional<Json>) { self->closeAll(); });
    }

    void closeAll()
    {
        m_checks.pdfcraft.closeAll([self = shared_from_this()](int stillOpen) {
            self->m_result["leftOpen"] = stillOpen;
            if (self->m_checks.updateChecks)
                self->check();
            else
                self->done();
        });
    }

    void check()
    {
        m_checks.pdfcraft.check([self = shared_from_this()](Json answer) {
            self->m_result["check"] = std::move(answer);
            self->update();
        });
    }

    void update()
    {
        auto& pdfcraft = m_checks.pdfcraft;
        m_result["steps"] = Json::array();
        m_pageProgress = pdfcraft.progress;
        pdfcraft.progress = [self = shared_from_this()](const Json& event) {
            self->m_result["steps"].push_back(Json {
                { "step", event.value("step", "") }, { "state", event.value("state", "") }, { "detail", event.value("detail", "") } });
            if (self->m_pageProgress)
                self->m_pageProgress(event);
        };
        pdfcraft.update([self = shared_from_this()](Json answer) {
            auto& host = self->m_checks.pdfcraft;
            host.progress = self->m_pageProgress;
            self->m_result["update"] = std::move(answer);
            self->m_result["afterUpd"] = host.info();
            host.smokeTest(host.current(), [self](bool started) {
                self->m_result["updatedStarts"] = started;
                self->m_result["afterRollback"] = self->m_checks.pdfcraft.rollback();
                self->done();
            });
        });
    }

    void done()
    {
        if (auto completion = std::exchange(m_completion, nullptr))
            completion(m_result);
    }

    SelfTestPdfCraft m_checks;
    std::function<void(Json)> m_completion;
    Json m_result = Json::object();
    std::weak_ptr<PdfCraftWindow> m_window;
    PdfCraft::Progress m_pageProgress;
};

}

const std::string& SelfTestPdfCraft::blankPdf()
{
    static const std::string pdf = "%PDF-1.4\n"
                                   "1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
                                   "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
                                   "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]>>endobj\n"
                                   "trailer<</Root 1 0 R>>\n"
                                   "%%EOF";
    return pdf;
}

void SelfTestPdfCraft::run(std::function<void(Json)> completion) const
{
    std::make_shared<Run>(*this, std::move(completion))->start();
}

}
