#include "doubles/SamplePdf.h"

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>

#include <algorithm>
#include <random>
#include <vector>

namespace quillpost {

namespace {

std::string written(QPDF& document, const std::optional<std::string>& userPassword)
{
    QPDFWriter writer(document);
    writer.setOutputMemory();
    if (userPassword)
        writer.setR6EncryptionParameters(userPassword->c_str(), "owner", true, true, true, true, true, true, qpdf_r3p_full, true);
    writer.write();
    auto buffer = writer.getBufferSharedPointer();
    return std::string(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
}

QPDFObjectHandle addPage(QPDF& document, const std::string& content, QPDFObjectHandle resources)
{
    auto dictionary = QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] >>");
    dictionary.replaceKey("/Resources", resources);
    dictionary.replaceKey("/Contents", QPDFObjectHandle::newStream(&document, content));
    auto page = document.makeIndirectObject(dictionary);
    QPDFPageDocumentHelper(document).addPage(QPDFPageObjectHelper(page), false);
    return page;
}

QPDFObjectHandle helvetica(QPDF& document)
{
    return document.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"));
}

}

std::string samplePdf(int pages, const std::string& userPassword)
{
    QPDF document;
    document.emptyPDF();
    for (int page = 0; page < pages; ++page)
        addPage(document, "BT /F1 12 Tf 72 720 Td (Handover) Tj ET", QPDFObjectHandle::newDictionary());
    return written(document, userPassword.empty() ? std::nullopt : std::optional(userPassword));
}

std::string filledFormPdf(const SampleForm& form)
{
    QPDF document;
    document.emptyPDF();
    auto font = helvetica(document);
    std::vector<QPDFObjectHandle> pages;
    for (int page = 0; page < form.pages; ++page) {
        auto resources = QPDFObjectHandle::newDictionary();
        resources.replaceKey("/Font", QPDFObjectHandle::newDictionary());
        resources.getKey("/Font").replaceKey("/F1", font);
        pages.push_back(addPage(document, "BT /F1 14 Tf 72 740 Td (Application for a study permit) Tj ET", resources));
    }

    if (form.filler > 0) {
        // Noise, so that compressing the stream keeps it large.
        std::string noise(form.filler, '\0');
        std::generate(noise.begin(), noise.end(), std::minstd_rand());
        auto image = QPDFObjectHandle::newStream(&document, noise);
        image.replaceDict(QPDFObjectHandle::parse("<< /Type /XObject /Subtype /Image /Width " + std::to_string(form.filler)
            + " /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 >>"));
        auto xobjects = QPDFObjectHandle::newDictionary();
        xobjects.replaceKey("/Filler", image);
        pages.front().getKey("/Resources").replaceKey("/XObject", xobjects);
    }

    auto fieldResources = QPDFObjectHandle::newDictionary();
    fieldResources.replaceKey("/Font", QPDFObjectHandle::newDictionary());
    fieldResources.getKey("/Font").replaceKey("/Helv", font);
    auto fields = QPDFObjectHandle::newArray();
    auto addField = [&](const std::string& name, const std::string& value, int flags, const std::string& rect) {
        auto widget = document.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Annot /Subtype /Widget /FT /Tx /DA (/Helv 10 Tf 0 g) >>"));
        widget.replaceKey("/T", QPDFObjectHandle::newUnicodeString(name));
        widget.replaceKey("/V", QPDFObjectHandle::newUnicodeString(value));
        widget.replaceKey("/F", QPDFObjectHandle::newInteger(flags));
        widget.replaceKey("/Rect", QPDFObjectHandle::parse(rect));
        widget.replaceKey("/P", pages.front());
        if (form.drawn) {
            // Text as a reader draws it: the value in the field's font, encoded for that font.
            auto content = "/Tx BMC BT /Helv 10 Tf 2 6 Td " + QPDFObjectHandle::newString(QUtil::utf8_to_win_ansi(value)).unparse() + " Tj ET EMC";
            auto appearance = QPDFObjectHandle::newStream(&document, content);
            appearance.replaceDict(QPDFObjectHandle::parse("<< /Type /XObject /Subtype /Form /BBox [0 0 300 20] >>"));
            appearance.getDict().replaceKey("/Resources", fieldResources);
            auto appearances = QPDFObjectHandle::newDictionary();
            appearances.replaceKey("/N", appearance);
            widget.replaceKey("/AP", appearances);
        }
        auto page = pages.front();
        if (!page.hasKey("/Annots"))
            page.replaceKey("/Annots", QPDFObjectHandle::newArray());
        page.getKey("/Annots").appendItem(widget);
        fields.appendItem(widget);
    };
    // Flag 4 prints; 2 hides.
    addField("applicant", sampleFormValue, 4, "[72 650 372 670]");
    addField("internal", sampleFormHiddenValue, 2 | 4, "[72 610 372 630]");

    auto acroForm = QPDFObjectHandle::newDictionary();
    acroForm.replaceKey("/Fields", fields);
    acroForm.replaceKey("/DR", fieldResources);
    acroForm.replaceKey("/DA", QPDFObjectHandle::newString("/Helv 0 Tf 0 g"));
    if (!form.drawn)
        acroForm.replaceKey("/NeedAppearances", QPDFObjectHandle::newBool(true));
    document.getRoot().replaceKey("/AcroForm", document.makeIndirectObject(acroForm));
    return written(document, form.userPassword);
}

std::string nestedFormXObjectsPdf()
{
    QPDF document;
    document.emptyPDF();
    auto font = helvetica(document);
    auto outer = QPDFObjectHandle::newStream(&document, "BT /F1 9 Tf (outer) Tj ET /Inner Do /Outer Do");
    // The inner form has no resources of its own: it uses those of the form that draws it.
    auto inner = QPDFObjectHandle::newStream(&document, "BT /F1 9 Tf [(in) -50 (ner)] TJ ET /Outer Do");
    for (auto form : { outer, inner })
        form.replaceDict(QPDFObjectHandle::parse("<< /Type /XObject /Subtype /Form /BBox [0 0 100 100] >>"));
    auto formResources = QPDFObjectHandle::parse("<< /Font << >> /XObject << >> >>");
    formResources.getKey("/Font").replaceKey("/F1", font);
    formResources.getKey("/XObject").replaceKey("/Outer", outer);
    formResources.getKey("/XObject").replaceKey("/Inner", inner);
    outer.getDict().replaceKey("/Resources", formResources);

    auto pageResources = QPDFObjectHandle::parse("<< /Font << >> /XObject << >> >>");
    pageResources.getKey("/Font").replaceKey("/F1", font);
    pageResources.getKey("/XObject").replaceKey("/Outer", outer);
    addPage(document, "BT /F1 12 Tf 72 720 Td (page) Tj 14 TL (quote) ' 1 2 (double quote) \" ET /Outer Do /Outer Do /Missing Do", pageResources);
    return written(document, std::nullopt);
}

std::optional<PdfFacts> pdfFacts(const std::string& pdf)
{
    try {
        QPDF document;
        document.setSuppressWarnings(true);
        document.processMemoryFile("facts.pdf", pdf.data(), pdf.size());
        PdfFacts facts;
        facts.acroForm = document.getRoot().hasKey("/AcroForm");
        for (auto& page : QPDFPageDocumentHelper(document).getAllPages()) {
            ++facts.pages;
            facts.widgets += static_cast<int>(page.getAnnotations("/Widget").size());
        }
        return facts;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}
