#pragma once

#include "platform/Fingerprint.h"

#include <memory>
#include <string>

namespace quillpost {

// fprintd on the message bus at this address (a test's own bus); Fingerprint::shared() uses the
// system bus. It must outlive the checks it starts.
std::unique_ptr<Fingerprint> makeFprintdFingerprint(const std::string& busAddress);

}
