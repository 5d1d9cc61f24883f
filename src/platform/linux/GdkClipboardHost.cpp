#include "platform/Clipboard.h"

#include <gtk/gtk.h>

namespace quillpost {

namespace {

// The display's CLIPBOARD selection. The change count is the program's own writes, plus one while
// the clipboard no longer holds the content the program last put there (someone else copied).
class GdkClipboardHost final : public Clipboard {
public:
    void writeText(const std::string& text) override
    {
        auto* provider = gdk_content_provider_new_typed(G_TYPE_STRING, text.c_str());
        claim(provider);
    }

    void writeText(const std::string& text, const std::vector<std::pair<std::string, std::string>>& markers) override
    {
        std::vector<GdkContentProvider*> providers;
        providers.push_back(gdk_content_provider_new_typed(G_TYPE_STRING, text.c_str()));
        for (auto& [type, value] : markers) {
            GBytes* bytes = g_bytes_new(value.data(), value.size());
            providers.push_back(gdk_content_provider_new_for_bytes(type.c_str(), bytes));
            g_bytes_unref(bytes);
        }
        // The union takes the providers over.
        claim(gdk_content_provider_new_union(providers.data(), providers.size()));
    }

    void clear() override
    {
        auto* board = clipboard();
        if (board)
            gdk_clipboard_set_content(board, nullptr);
        release();
        ++m_writes;
    }

    std::uint64_t changeCount() const override
    {
        auto* board = clipboard();
        const bool stillOurs = board && gdk_clipboard_get_content(board) == m_provider;
        return m_writes * 2 + (stillOurs ? 0 : 1);
    }

    void readText(std::function<void(std::string)> completion) override
    {
        auto* board = clipboard();
        if (!board) {
            completion({});
            return;
        }
        auto* heapCompletion = new std::function<void(std::string)>(std::move(completion));
        gdk_clipboard_read_text_async(board, nullptr, textRead, heapCompletion);
    }

    bool hasType(const std::string& type) const override
    {
        auto* board = clipboard();
        if (!board)
            return false;
        return gdk_content_formats_contain_mime_type(gdk_clipboard_get_formats(board), type.c_str());
    }

private:
    static GdkClipboard* clipboard()
    {
        auto* display = gdk_display_get_default();
        return display ? gdk_display_get_clipboard(display) : nullptr;
    }

    void claim(GdkContentProvider* provider)
    {
        auto* board = clipboard();
        if (board)
            gdk_clipboard_set_content(board, provider);
        release();
        m_provider = provider;
        ++m_writes;
    }

    static void textRead(GObject* source, GAsyncResult* result, gpointer data)
    {
        std::unique_ptr<std::function<void(std::string)>> completion(static_cast<std::function<void(std::string)>*>(data));
        char* text = gdk_clipboard_read_text_finish(GDK_CLIPBOARD(source), result, nullptr);
        std::string value = text ? text : "";
        g_free(text);
        (*completion)(std::move(value));
    }

    void release()
    {
        if (m_provider)
            g_object_unref(m_provider);
        m_provider = nullptr;
    }

    // Kept referenced, so that no later provider can take its address while it is compared.
    GdkContentProvider* m_provider { nullptr };
    std::uint64_t m_writes { 0 };
};

}

Clipboard& Clipboard::shared()
{
    static Clipboard* const clipboard = new GdkClipboardHost;
    return *clipboard;
}

}
