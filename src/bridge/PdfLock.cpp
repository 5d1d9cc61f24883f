#include "bridge/PdfLock.h"

#include "common/Uuid.h"

// qpdf 11: std::shared_ptr throughout, none of the old PointerHolder.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <memory>

namespace quillpost::PdfLock {

namespace {

// A strict reader: damage is not repaired, since a repaired handover could silently lose pages.
std::unique_ptr<QPDF> open(std::string_view pdf, const std::string& password)
{
    auto document = std::make_unique<QPDF>();
    document->setSuppressWarnings(true);
    document->setAttemptRecovery(false);
    document->processMemoryFile("handover.pdf", pdf.data(), pdf.size(), password.c_str());
    // The page tree is read through, so a document with broken pages fails here, not half-way.
    document->getAllPages();
    return document;
}

}

std::size_t characterCount(std::string_view text)
{
    std::size_t count = 0;
    for (unsigned char byte : text) {
        if ((byte & 0xC0) != 0x80)
            ++count;
    }
    return count;
}

bool opens(std::string_view pdf, const std::string& password)
{
    try {
        open(pdf, password);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::variant<std::string, Refusal> protect(std::string_view pdf, std::string_view password)
{
    // qpdf takes the password as C text: one with a NUL in it would be cut short there, and the
    // lock would open with fewer characters than the page was told.
    if (characterCount(password) < minimumPasswordLength || password.find('\0') != std::string_view::npos)
        return Refusal::Unusable;
    std::string userPassword(password);

    std::string written;
    try {
        auto document = open(pdf, {});
        // Re-locking an encrypted document would drop the restrictions its author set.
        if (document->isEncrypted())
            return Refusal::Unusable;

        try {
            std::string ownerPassword = randomUuid();
            ownerPassword.append(randomUuid());
            QPDFWriter writer(*document);
            writer.setOutputMemory();
            writer.setR6EncryptionParameters(userPassword.c_str(), ownerPassword.c_str(), true, true, true, true, true, true, qpdf_r3p_full, true);
            writer.write();
            auto buffer = writer.getBufferSharedPointer();
            if (!buffer || buffer->getSize() == 0)
                return Refusal::NotLocked;
            written.assign(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
        } catch (const std::exception&) {
            return Refusal::NotLocked;
        }
    } catch (const std::exception&) {
        return Refusal::Unusable;
    }

    // The copy must open again, be locked, refuse a near miss and open with the password.
    try {
        auto reopened = open(written, userPassword);
        if (!reopened->isEncrypted())
            return Refusal::NotLocked;
    } catch (const std::exception&) {
        return Refusal::NotLocked;
    }
    std::string nearMiss = "x";
    nearMiss.append(userPassword);
    if (opens(written, {}) || opens(written, nearMiss))
        return Refusal::NotLocked;
    return written;
}

}
