#include "platform/linux/WebKitWebViewHost.h"

#include <gtk/gtkunixprint.h>

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

// GTK's "Print to File" printer: its name is translated, so it is found by what it is, a virtual
// printer that writes PDF, rather than by name. Found once; GTK enumerates its backends meanwhile.
std::string fileprinterName()
{
    static const std::string name = [] {
        std::string found;
        gtk_enumerate_printers(
            [](GtkPrinter* printer, gpointer data) -> gboolean {
                if (!gtk_printer_is_virtual(printer) || !gtk_printer_accepts_pdf(printer))
                    return FALSE;
                *static_cast<std::string*>(data) = gtk_printer_get_name(printer);
                return TRUE;
            },
            &found, nullptr, TRUE);
        return found.empty() ? std::string("Print to File") : found;
    }();
    return name;
}

GtkPageSetup* pageSetup(GtkPaperSize* paper, double margin)
{
    auto* setup = gtk_page_setup_new();
    if (paper)
        gtk_page_setup_set_paper_size(setup, paper);
    gtk_page_setup_set_top_margin(setup, margin, GTK_UNIT_POINTS);
    gtk_page_setup_set_bottom_margin(setup, margin, GTK_UNIT_POINTS);
    gtk_page_setup_set_left_margin(setup, margin, GTK_UNIT_POINTS);
    gtk_page_setup_set_right_margin(setup, margin, GTK_UNIT_POINTS);
    return setup;
}

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
        // US Letter without margins, written straight to the file: no dialog.
        g_autoptr(GtkPaperSize) letter = gtk_paper_size_new(GTK_PAPER_NAME_LETTER);
        g_autoptr(GtkPageSetup) setup = pageSetup(letter, 0);
        g_autoptr(GtkPrintSettings) settings = gtk_print_settings_new();
        g_autofree char* uri = g_filename_to_uri(pdfFile.c_str(), nullptr, nullptr);
        gtk_print_settings_set_printer(settings, fileprinterName().c_str());
        gtk_print_settings_set_paper_size(settings, letter);
        gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_FILE_FORMAT, "pdf");
        gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_URI, uri ? uri : "");
        webkit_print_operation_set_page_setup(operation, setup);
        webkit_print_operation_set_print_settings(operation, settings);
        webkit_print_operation_print(operation);
        return;
    }

    // Paper keeps the user's paper size, with half an inch all round.
    g_autoptr(GtkPageSetup) setup = pageSetup(nullptr, 36);
    webkit_print_operation_set_page_setup(operation, setup);
    auto* parent = GTK_WINDOW(gtk_widget_get_root(GTK_WIDGET(m_view)));
    if (webkit_print_operation_run_dialog(operation, parent) == WEBKIT_PRINT_OPERATION_RESPONSE_CANCEL) {
        run->finish(false, {});
        g_object_unref(operation);
    }
}

}
