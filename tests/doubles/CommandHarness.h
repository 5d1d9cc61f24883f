#pragma once

#include "bridge/Bridge.h"
#include "doubles/DesktopDoubles.h"
#include "doubles/FakeHttpClient.h"
#include "doubles/PdfCraftDoubles.h"
#include "doubles/TemporaryFolder.h"
#include "doubles/VirtualClock.h"
#include "store/Store.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quillpost {

struct CommandAnswer {
    int calls { 0 };
    std::optional<std::string> result;
    std::optional<std::string> error;

    Json json() const { return result ? Json::parse(*result) : Json(); }
};

inline ScriptReplyHandler recordInto(const std::shared_ptr<CommandAnswer>& answer)
{
    return [answer](std::optional<std::string> result, std::optional<std::string> error) {
        ++answer->calls;
        answer->result = std::move(result);
        answer->error = std::move(error);
    };
}

// A store in a temporary folder (home, documents and data directory inside it) and a bridge over
// it with every desktop service doubled.
class CommandHarness {
public:
    explicit CommandHarness(bool dataDirectoryOverridden = true, const std::function<void(Bridge::Services&)>& extra = {})
    {
        Store::Location location { m_folder / "data", dataDirectoryOverridden, m_folder / "home", m_folder / "home" / "Documents" };
        location.runtime = m_folder / "run";
        location.betaDataFile = m_folder / "home" / ".local" / "share" / "Quillpost Beta" / "data.json";
        m_store = std::make_unique<Store>(location, Store::Services { clock, clock, clock });
        m_pdfcraft = std::make_unique<PdfCraft>(PdfCraft::Services { .store = *m_store, .mainQueue = clock, .clock = clock, .http = http, .processes = processes,
            .windows = editor.windowServices(panels, workspace), .compileRules = editor.compiler(), .builtInSite = m_folder / "pdfcraft-site",
            .releasesURL = "https://api.example.test/latest" });
        Bridge::Services services { .store = *m_store, .panels = panels, .workspace = workspace, .processes = processes, .mainQueue = clock,
            .pdfcraft = m_pdfcraft.get(), .clock = &clock };
        if (extra)
            extra(services);
        m_bridge = std::make_unique<Bridge>(services);
    }

    std::shared_ptr<CommandAnswer> send(const std::string& cmd, const Json& args = Json::array())
    {
        return receive(Json { { "cmd", cmd }, { "args", args.dump() } });
    }

    // As the page-API script sends commands that give bytes: large ones may come through the side channel.
    std::shared_ptr<CommandAnswer> sendViaChannel(const std::string& cmd, const Json& args = Json::array())
    {
        return receive(Json { { "cmd", cmd }, { "args", args.dump() }, { "via", "quillpost-bytes" } });
    }

    std::shared_ptr<CommandAnswer> receive(const Json& body)
    {
        auto answer = std::make_shared<CommandAnswer>();
        m_bridge->receive(body, recordInto(answer));
        return answer;
    }

    Store& store() { return *m_store; }
    Bridge& bridge() { return *m_bridge; }
    PdfCraft& pdfcraft() { return *m_pdfcraft; }
    std::filesystem::path path(const std::filesystem::path& relative) const { return m_folder / relative; }

    VirtualClock clock;
    FakePanels panels;
    FakeWorkspace workspace;
    FakeProcessRunner processes;
    FakeHttpClient http;
    EditorDoubles editor;

private:
    TemporaryFolder m_folder { "quillpost-commands" };
    std::unique_ptr<Store> m_store;
    std::unique_ptr<PdfCraft> m_pdfcraft;
    std::unique_ptr<Bridge> m_bridge;
};

}
