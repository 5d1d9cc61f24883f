// The floor for Quillpost's own figures: a bare WebKitGTK window with one script-message handler
// that replies and one URI scheme that serves and takes bytes, loading the same page with the same
// page script (QUILLPOST_TEST_SCRIPT, console to standard output). bench/floor_bench.py runs both.
//
//   floor_window <page.html>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtk/gtk.h>
#include <sstream>
#include <string>
#include <webkit/webkit.h>

namespace {

std::string g_bytes;

std::string stringProperty(JSCValue* object, const char* name)
{
    g_autoptr(JSCValue) value = jsc_value_object_get_property(object, name);
    if (!jsc_value_is_string(value))
        return {};
    g_autoptr(GBytes) bytes = jsc_value_to_string_as_bytes(value);
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    return std::string(data, size);
}

// "small" answers at once; "carry" takes the text of "args" over into this process; "give"
// answers a string of as many characters as "args" says. (A script reply can't carry an
// ArrayBuffer: WebKit hands the page an empty object in its place, so large bytes go by fetch.)
gboolean received(WebKitUserContentManager*, JSCValue* body, WebKitScriptMessageReply* reply, gpointer)
{
    JSCContext* context = jsc_value_get_context(body);
    const std::string command = stringProperty(body, "cmd");
    g_autoptr(JSCValue) answer = nullptr;
    if (command == "carry") {
        const std::string text = stringProperty(body, "args");
        answer = jsc_value_new_string(context, text.empty() ? "false" : "true");
    } else if (command == "give") {
        const std::string text(static_cast<size_t>(std::atoll(stringProperty(body, "args").c_str())), 'A');
        g_autoptr(GBytes) bytes = g_bytes_new(text.data(), text.size());
        answer = jsc_value_new_string_from_bytes(context, bytes);
    } else {
        answer = jsc_value_new_string(context, "null");
    }
    webkit_script_message_reply_return_value(reply, answer);
    return TRUE;
}

// GET floor-bytes://bytes/<n> serves n bytes; a POST takes its body whole and answers its length.
void scheme(WebKitURISchemeRequest* request, gpointer)
{
    const std::string method = webkit_uri_scheme_request_get_http_method(request) ? webkit_uri_scheme_request_get_http_method(request) : "GET";
    std::string body;
    if (method == "POST") {
        g_autoptr(GInputStream) stream = webkit_uri_scheme_request_get_http_body(request);
        char chunk[256 * 1024];
        gsize count = sizeof(chunk);
        while (stream && count == sizeof(chunk) && g_input_stream_read_all(stream, chunk, sizeof(chunk), &count, nullptr, nullptr))
            body.append(chunk, count);
        body = std::to_string(body.size());
    } else {
        const char* path = webkit_uri_scheme_request_get_path(request);
        const char* slash = path ? std::strrchr(path, '/') : nullptr;
        const size_t size = slash ? static_cast<size_t>(std::atoll(slash + 1)) : 0;
        if (g_bytes.size() < size)
            g_bytes.resize(size, 'x');
        body = g_bytes.substr(0, size);
    }
    auto* owned = new std::string(std::move(body));
    g_autoptr(GBytes) bytes = g_bytes_new_with_free_func(owned->data(), owned->size(), [](gpointer data) { delete static_cast<std::string*>(data); }, owned);
    g_autoptr(GInputStream) stream = g_memory_input_stream_new_from_bytes(bytes);
    g_autoptr(WebKitURISchemeResponse) response = webkit_uri_scheme_response_new(stream, static_cast<gint64>(g_bytes_get_size(bytes)));
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    soup_message_headers_append(headers, "Access-Control-Allow-Origin", "*");
    webkit_uri_scheme_response_set_http_headers(response, headers);
    webkit_uri_scheme_response_set_content_type(response, "application/octet-stream");
    webkit_uri_scheme_request_finish_with_response(request, response);
}

void activate(GtkApplication* application, gpointer page)
{
    WebKitWebContext* context = webkit_web_context_get_default();
    webkit_web_context_register_uri_scheme(context, "floor-bytes", scheme, nullptr, nullptr);
    webkit_security_manager_register_uri_scheme_as_secure(webkit_web_context_get_security_manager(context), "floor-bytes");
    webkit_security_manager_register_uri_scheme_as_cors_enabled(webkit_web_context_get_security_manager(context), "floor-bytes");

    WebKitUserContentManager* manager = webkit_user_content_manager_new();
    g_signal_connect(manager, "script-message-with-reply-received::floor", G_CALLBACK(received), nullptr);
    webkit_user_content_manager_register_script_message_handler_with_reply(manager, "floor", nullptr);
    if (const char* path = std::getenv("QUILLPOST_TEST_SCRIPT")) {
        std::ifstream file(path);
        std::stringstream source;
        source << file.rdbuf();
        g_autoptr(WebKitUserScript) script = webkit_user_script_new(source.str().c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
            WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END, nullptr, nullptr);
        webkit_user_content_manager_add_script(manager, script);
    }

    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
    webkit_settings_set_enable_write_console_messages_to_stdout(settings, TRUE);
    GtkWidget* view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", manager, "settings", settings, nullptr));
    GtkWidget* window = gtk_application_window_new(application);
    gtk_window_set_default_size(GTK_WINDOW(window), 1400, 900);
    gtk_window_set_child(GTK_WINDOW(window), view);
    g_autofree char* uri = g_filename_to_uri(static_cast<const char*>(page), nullptr, nullptr);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), uri);
    gtk_window_present(GTK_WINDOW(window));
}

}

int main(int argc, char** argv)
{
    if (argc < 2) {
        g_printerr("usage: floor_window <page.html>\n");
        return 2;
    }
    g_autofree char* page = g_canonicalize_filename(argv[1], nullptr);
    GtkApplication* application = gtk_application_new("org.quillpost.FloorWindow", G_APPLICATION_NON_UNIQUE);
    g_signal_connect(application, "activate", G_CALLBACK(activate), page);
    char* arguments[] = { argv[0], nullptr };
    const int status = g_application_run(G_APPLICATION(application), 1, arguments);
    g_object_unref(application);
    return status;
}
