#include "bridge/PdfFormCopy.h"

// qpdf 11: std::shared_ptr throughout, none of the old PointerHolder.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <memory>
#include <set>

namespace quillpost::PdfFormCopy {

namespace {

// Form XObjects drawn inside form XObjects deeper than this are not read: no real page nests
// that far, and the walk stays off the end of the stack.
constexpr int maximumDepth = 32;
// Enough to confirm what a form says, without an answer of millions of strings.
constexpr std::size_t maximumStrings = 100000;

// A strict reader, as for handover PDFs: damage is not repaired, since a repaired copy could
// silently lose pages.
std::unique_ptr<QPDF> open(std::string_view pdf)
{
    auto document = std::make_unique<QPDF>();
    document->setSuppressWarnings(true);
    document->setAttemptRecovery(false);
    document->processMemoryFile("form.pdf", pdf.data(), pdf.size(), "");
    // The page tree is read through, so a document with broken pages fails here, not half-way.
    document->getAllPages();
    return document;
}

// qpdf, like the readers, accepts the header anywhere in the first kilobyte.
bool hasPdfHeader(std::string_view pdf)
{
    return pdf.substr(0, 1024).find("%PDF-") != std::string_view::npos;
}

std::string writtenBytes(QPDF& document)
{
    QPDFWriter writer(document);
    writer.setOutputMemory();
    writer.write();
    auto buffer = writer.getBufferSharedPointer();
    if (!buffer)
        return {};
    return std::string(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
}

std::size_t widgetCount(QPDF& document)
{
    std::size_t count = 0;
    for (auto& page : QPDFPageDocumentHelper(document).getAllPages())
        count += page.getAnnotations("/Widget").size();
    return count;
}

// A widget that had no appearance at all is still on its page after flattening; without the form
// it would be an empty box that readers may still offer to fill.
void removeWidgets(QPDF& document)
{
    for (auto& page : QPDFPageDocumentHelper(document).getAllPages()) {
        auto pageObject = page.getObjectHandle();
        auto annotations = pageObject.getKey("/Annots");
        if (!annotations.isArray())
            continue;
        auto kept = QPDFObjectHandle::newArray();
        for (auto& annotation : annotations.aitems()) {
            if (annotation.isDictionary() && annotation.getKey("/Subtype").isNameAndEquals("/Widget"))
                continue;
            kept.appendItem(annotation);
        }
        if (kept.getArrayNItems() == 0)
            pageObject.removeKey("/Annots");
        else if (kept.getArrayNItems() != annotations.getArrayNItems())
            pageObject.replaceKey("/Annots", kept);
    }
}

class TextCollector {
public:
    void readPage(QPDFPageObjectHelper page);
    void readForm(QPDFObjectHandle form, QPDFObjectHandle inheritedResources, int depth);
    void add(std::string&& text)
    {
        if (m_text.size() < maximumStrings)
            m_text.push_back(std::move(text));
    }
    std::vector<std::string> take() { return std::move(m_text); }

private:
    std::vector<std::string> m_text;
    std::set<QPDFObjGen> m_readForms;
};

// Follows one content stream's operators; every operator of interest takes its string or name as
// its last operand, so only that one is kept.
class ContentReader final : public QPDFObjectHandle::ParserCallbacks {
public:
    ContentReader(TextCollector& collector, QPDFObjectHandle resources, int depth)
        : m_collector(collector)
        , m_resources(std::move(resources))
        , m_depth(depth)
    {
    }

    void handleObject(QPDFObjectHandle object) override
    {
        if (!object.isOperator()) {
            m_lastOperand = std::move(object);
            return;
        }
        auto name = object.getOperatorValue();
        if ((name == "Tj" || name == "'" || name == "\"") && m_lastOperand.isString()) {
            m_collector.add(m_lastOperand.getUTF8Value());
        } else if (name == "TJ" && m_lastOperand.isArray()) {
            std::string joined;
            for (auto& piece : m_lastOperand.aitems()) {
                if (piece.isString())
                    joined.append(piece.getStringValue());
            }
            m_collector.add(QPDFObjectHandle::newString(joined).getUTF8Value());
        } else if (name == "Do" && m_lastOperand.isName() && m_resources.isDictionary()) {
            auto xobjects = m_resources.getKey("/XObject");
            if (xobjects.isDictionary())
                m_collector.readForm(xobjects.getKey(m_lastOperand.getName()), m_resources, m_depth + 1);
        }
        m_lastOperand = QPDFObjectHandle::newNull();
    }

    void handleEOF() override { }

private:
    TextCollector& m_collector;
    QPDFObjectHandle m_resources;
    int m_depth;
    QPDFObjectHandle m_lastOperand;
};

void TextCollector::readPage(QPDFPageObjectHelper page)
{
    ContentReader reader(*this, page.getAttribute("/Resources", false), 0);
    try {
        page.parseContents(&reader);
    } catch (const std::exception&) {
        // A damaged content stream shows what came before the damage, and so does this list.
    }
}

void TextCollector::readForm(QPDFObjectHandle form, QPDFObjectHandle inheritedResources, int depth)
{
    if (depth > maximumDepth || !form.isFormXObject())
        return;
    // Once per form: a form drawing itself ends here, and so does one drawn a million times.
    if (!m_readForms.insert(form.getObjGen()).second)
        return;
    // Old files leave a form's resources to those of the page that draws it.
    auto resources = form.getDict().getKey("/Resources");
    ContentReader reader(*this, resources.isDictionary() ? resources : inheritedResources, depth);
    try {
        form.parseAsContents(&reader);
    } catch (const std::exception&) {
    }
}

std::vector<std::string> drawnText(QPDF& document)
{
    TextCollector collector;
    for (auto& page : QPDFPageDocumentHelper(document).getAllPages())
        collector.readPage(page);
    return collector.take();
}

}

std::optional<std::vector<std::string>> drawnText(std::string_view pdf)
{
    try {
        auto document = open(pdf);
        if (document->isEncrypted())
            return std::nullopt;
        return drawnText(*document);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::variant<Copy, Refusal> flatten(std::string_view pdf)
{
    if (pdf.size() > maximumInputBytes)
        return Refusal::TooLarge;
    if (!hasPdfHeader(pdf))
        return Refusal::NotPdf;

    Copy copy;
    std::size_t pageCount = 0;
    try {
        std::unique_ptr<QPDF> document;
        try {
            document = open(pdf);
        } catch (const QPDFExc& error) {
            return error.getErrorCode() == qpdf_e_password ? Refusal::PasswordProtected : Refusal::Damaged;
        }
        // Even one that opens without a password carries its author's restrictions, which a
        // rewritten copy would drop.
        if (document->isEncrypted())
            return Refusal::PasswordProtected;

        // A page tree that leads nowhere leaves nothing to put the fields on.
        pageCount = document->getAllPages().size();
        if (pageCount == 0)
            return Refusal::Damaged;
        QPDFAcroFormDocumentHelper form(*document);
        copy.fields = form.hasAcroForm() ? static_cast<int>(form.getFormFields().size()) : 0;
        if (copy.fields == 0)
            return Refusal::NoFields;

        // Values set without appearances (NeedAppearances) get theirs drawn now, so they are
        // what flattening puts on the page.
        form.generateAppearancesIfNeeded();
        // As on paper: widgets that don't print (a form's own "Print" or "Validate" buttons) and
        // hidden or invisible ones go, without being drawn.
        QPDFPageDocumentHelper(*document).flattenAnnotations(an_print, an_invisible | an_hidden);
        removeWidgets(*document);
        auto root = document->getRoot();
        root.removeKey("/AcroForm");
        // Usage rights are signed over the original form; left in, readers would warn that the
        // copy was altered.
        root.removeKey("/Perms");
        copy.bytes = writtenBytes(*document);
    } catch (const std::exception&) {
        // Damage that only shows once objects are read while flattening.
        return Refusal::Damaged;
    }

    // The copy must open again, with every page and no form left.
    try {
        auto reopened = open(copy.bytes);
        auto pages = reopened->getAllPages().size();
        if (pages != pageCount || reopened->getRoot().hasKey("/AcroForm") || widgetCount(*reopened) != 0)
            return Refusal::NotFlattened;
        copy.pages = static_cast<int>(pages);
        copy.text = drawnText(*reopened);
    } catch (const std::exception&) {
        return Refusal::NotFlattened;
    }
    return copy;
}

}
