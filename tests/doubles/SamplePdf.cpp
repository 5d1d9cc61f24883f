#include "doubles/SamplePdf.h"

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

namespace quillpost {

std::string samplePdf(int pages, const std::string& userPassword)
{
    QPDF document;
    document.emptyPDF();
    QPDFPageDocumentHelper helper(document);
    for (int page = 0; page < pages; ++page) {
        auto contents = QPDFObjectHandle::newStream(&document, "BT /F1 12 Tf 72 720 Td (Handover) Tj ET");
        auto dictionary = QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] /Resources << >> >>");
        dictionary.replaceKey("/Contents", contents);
        helper.addPage(QPDFPageObjectHelper(document.makeIndirectObject(dictionary)), false);
    }
    QPDFWriter writer(document);
    writer.setOutputMemory();
    if (!userPassword.empty())
        writer.setR6EncryptionParameters(userPassword.c_str(), "owner", true, true, true, true, true, true, qpdf_r3p_full, true);
    writer.write();
    auto buffer = writer.getBufferSharedPointer();
    return std::string(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
}

}
