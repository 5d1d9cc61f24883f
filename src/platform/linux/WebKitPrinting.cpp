#include "platform/linux/WebKitWebViewHost.h"

namespace quillpost {

namespace {

struct PrintRun {
    WebView::Completion completion;
    bool done { false };

    void finish(bool ok, std::string message)
    {
        if (done)
            return;
        done = true;
        completion(ok, std::move(message));
    }
};

}

void WebKitWebViewHost::print(PrintDestination destination, const std::filesystem::path& pdfFile, Completion completion)
{
    auto* operation = webkit_print_operation_new(m_view);
    auto* run = new PrintRun { std::move(completion) };
    g_object_set_data_full(G_OBJECT(operation), "quillpost-print-run", run, [](gpointer data) { delete static_cast<PrintRun*>(data); });

    g_signal_connect(operation, "failed", G_CALLBACK(+[](WebKitPrintOperation*, GError* error, gpointer data) {
        static_cast<PrintRun*>(data)->finish(false, error && error->message ? error->message : "Printing failed.");
    }),
        run);
    g_signal_connect(operation, "finished", G_CALLBACK(+[](WebKitPrintOperation* finishedOperation, gpointer data) {
        static_cast<PrintRun*>(data)->finish(true, {});
        g_object_unref(finishedOperation);
    }),
        run);

    if (destination == PrintDestination::PdfFile) {
        g_autoptr(GtkPrintSettings) settings = gtk_print_settings_new();
        g_autofree char* uri = g_filename_to_uri(pdfFile.c_str(), nullptr, nullptr);
        gtk_print_settings_set_printer(settings, "Print to File");
        gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_FILE_FORMAT, "pdf");
        gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_URI, uri ? uri : "");
        webkit_print_operation_set_print_settings(operation, settings);
        webkit_print_operation_print(operation);
        return;
    }

    auto* parent = GTK_WINDOW(gtk_widget_get_root(GTK_WIDGET(m_view)));
    if (webkit_print_operation_run_dialog(operation, parent) == WEBKIT_PRINT_OPERATION_RESPONSE_CANCEL) {
        run->finish(false, {});
        g_object_unref(operation);
    }
}

}
