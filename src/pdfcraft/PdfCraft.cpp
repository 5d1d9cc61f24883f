#include "pdfcraft/PdfCraft.h"

#include "common/Files.h"
#include "store/Store.h"

#include <openssl/rand.h>

namespace quillpost {

namespace fs = std::filesystem;

namespace {

// 16 secure random bytes as 32 lower-case hex digits; nothing when the random source fails.
std::optional<std::string> documentToken()
{
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof(bytes)) != 1)
        return std::nullopt;
    static constexpr char hex[] = "0123456789abcdef";
    std::string token;
    for (unsigned char byte : bytes) {
        token.push_back(hex[byte >> 4]);
        token.push_back(hex[byte & 0xF]);
    }
    return token;
}

// Every character but ASCII letters and digits as %XX of its UTF-8 bytes.
std::string percentEncoded(std::string_view text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z')) {
            encoded.push_back(c);
            continue;
        }
        encoded.push_back('%');
        encoded.push_back(hex[byte >> 4]);
        encoded.push_back(hex[byte & 0xF]);
    }
    return encoded;
}

}

PdfCraft::PdfCraft(Services services)
    : m_services(std::move(services))
    , m_self(std::make_shared<PdfCraft*>(this))
{
}

PdfCraft::~PdfCraft()
{
    *m_self = nullptr;
}

bool PdfCraft::open(std::optional<std::string> bytes, const std::string& name)
{
    if (!has(current()))
        return false;

    std::string query;
    if (bytes) {
        auto token = documentToken();
        if (!token)
            return false;
        m_docs[*token] = std::move(*bytes);
        std::string fileName = name.empty() ? "document.pdf" : name;
        std::replace(fileName.begin(), fileName.end(), '/', '-');
        std::replace(fileName.begin(), fileName.end(), '\\', '-');
        std::string address = "pdfcraft://app/doc/";
        address.append(*token).append("/").append(fileName);
        query = "?file=";
        query.append(percentEncoded(address));
        m_services.mainQueue.after(documentLifetime, [self = m_self, token = *token] {
            if (*self)
                (*self)->m_docs.erase(token);
        });
    }

    std::string title = "PdfCraft";
    if (!name.empty())
        title = std::string(name).append(" \xE2\x80\x94 PdfCraft");
    std::string url = "pdfcraft://app/index.html";
    url.append(query);

    auto show = [this, url, title] {
        withRules([this, url, title](std::shared_ptr<ContentRuleList> rules) {
            auto window = PdfCraftWindow::create(m_services.windows, { url, title, std::move(rules), [this] { return current(); }, true }, m_docs,
                [this](PdfCraftWindow& closed) { windowClosed(closed); });
            m_windows.push_back(std::move(window));
        });
    };
    if (m_updating)
        m_heldOpens.push_back(std::move(show));
    else
        show();
    return true;
}

void PdfCraft::updateEnded()
{
    m_updating = false;
    auto held = std::move(m_heldOpens);
    m_heldOpens.clear();
    for (auto& show : held)
        show();
}

void PdfCraft::windowClosed(PdfCraftWindow& window)
{
    auto it = std::find_if(m_windows.begin(), m_windows.end(), [&window](auto& open) { return open.get() == &window; });
    if (it == m_windows.end())
        return;
    // The window is in the middle of closing: it goes once that has finished.
    auto closing = *it;
    m_windows.erase(std::remove_if(m_windows.begin(), m_windows.end(), [&window](auto& open) { return open.get() == &window; }), m_windows.end());
    m_services.mainQueue.post([closing] { });
}

void PdfCraft::closeAll(std::function<void(int)> completion)
{
    auto windows = m_windows;
    for (auto& window : windows)
        window->performClose();
    m_services.mainQueue.after(closeAllWait, [self = m_self, completion = std::move(completion)] {
        completion(*self ? static_cast<int>((*self)->m_windows.size()) : 0);
    });
}

namespace {

void closeInTurn(std::shared_ptr<std::vector<std::weak_ptr<PdfCraftWindow>>> windows, std::function<void(bool)> completion)
{
    while (!windows->empty()) {
        auto window = windows->front().lock();
        windows->erase(windows->begin());
        if (!window || window->closing())
            continue;
        window->requestClose([windows, completion](bool closed) {
            if (!closed) {
                completion(false);
                return;
            }
            closeInTurn(windows, completion);
        });
        return;
    }
    completion(true);
}

}

void PdfCraft::closeBeforeQuit(std::function<void(bool)> completion)
{
    closeInTurn(std::make_shared<std::vector<std::weak_ptr<PdfCraftWindow>>>(m_windows.begin(), m_windows.end()), std::move(completion));
}

void PdfCraft::withRules(std::function<void(std::shared_ptr<ContentRuleList>)> continuation)
{
    if (m_rules || !m_services.compileRules) {
        continuation(m_rules);
        return;
    }
    m_services.compileRules(rulesIdentifier, rulesSource, [self = m_self, continuation = std::move(continuation)](std::shared_ptr<ContentRuleList> rules, std::string error) {
        if (!*self)
            return;
        if (!rules && (*self)->m_services.log)
            (*self)->m_services.log("PdfCraft offline rules: " + error);
        // A failed compile is tried again at the next window; this one opens without the rules.
        if (rules)
            (*self)->m_rules = rules;
        continuation(std::move(rules));
    });
}

fs::path PdfCraft::editorRoot() const
{
    return m_services.store.dir() / "pdfcraft";
}

fs::path PdfCraft::current() const
{
    const Json& config = m_services.store.config();
    auto installed = config.find("pdfcraft");
    if (installed == config.end() || !installed->is_object())
        return builtInSite();
    auto dir = installed->find("dir");
    if (dir == installed->end() || !dir->is_string())
        return builtInSite();
    // A ".." in a hand-edited setting must not lead out of the editor root.
    const fs::path site = fs::path(dir->get<std::string>()).lexically_normal();
    if (!site.string().starts_with(editorRoot().lexically_normal().string() + "/") || !has(site))
        return builtInSite();
    return site;
}

bool PdfCraft::has(const std::optional<fs::path>& folder)
{
    std::error_code error;
    return folder && fs::is_regular_file(*folder / "index.html", error);
}

std::string PdfCraft::versionOf(const fs::path& folder)
{
    auto text = readFile(folder / "VERSION.txt");
    return text ? PdfCraftRelease::versionIn(*text) : std::string();
}

Json PdfCraft::info() const
{
    const fs::path site = current();
    const bool updated = site != builtInSite();
    return Json {
        { "version", versionOf(site) },
        { "bundled", versionOf(builtInSite()) },
        { "updated", updated },
        { "open", static_cast<int>(m_windows.size()) },
        { "canRollback", updated },
    };
}

Json PdfCraft::rollback()
{
    Json& config = m_services.store.config();
    auto previous = config.find("pdfcraftPrev");
    if (previous != config.end() && previous->is_string() && has(fs::path(previous->get<std::string>()))) {
        const std::string dir = previous->get<std::string>();
        config["pdfcraft"] = Json { { "version", versionOf(dir) }, { "dir", dir } };
    } else {
        config.erase("pdfcraft");
    }
    config.erase("pdfcraftPrev");
    m_services.store.saveConfig();
    return info();
}

bool PdfCraft::allInside(const fs::path& folder)
{
    std::error_code error;
    const fs::path root = fs::canonical(folder, error);
    if (error)
        return false;
    fs::recursive_directory_iterator walk(folder, fs::directory_options::none, error);
    if (error)
        return false;
    for (auto end = fs::recursive_directory_iterator(); walk != end; walk.increment(error)) {
        if (error)
            return false;
        if (walk->is_symlink(error) || error)
            return false;
        auto resolved = fs::canonical(walk->path(), error);
        if (error || !resolved.string().starts_with(root.string()))
            return false;
    }
    return !error;
}

std::optional<fs::path> PdfCraft::findSite(const fs::path& folder, int depth)
{
    std::error_code error;
    if (fs::exists(folder / "index.html", error))
        return folder;
    if (depth >= 3)
        return std::nullopt;
    for (const auto& name : namesInFolder(folder)) {
        const fs::path entry = folder / name;
        if (!fs::is_directory(fs::symlink_status(entry, error)))
            continue;
        if (auto site = findSite(entry, depth + 1))
            return site;
    }
    return std::nullopt;
}

}
