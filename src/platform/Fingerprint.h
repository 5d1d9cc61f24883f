#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quillpost {

// The fingerprint reader, through the system's fingerprint service.
class Fingerprint {
public:
    struct Availability {
        bool available { false };
        // Why not, in words the page can show; empty when available.
        std::string reason;
    };

    enum class Outcome { Verified, Cancelled, Lockout, Failed };

    struct Result {
        Outcome outcome { Outcome::Failed };
        // The enrolled fingers' state read as the check ended, as domainState() gives it.
        std::optional<std::string> domainState;
    };

    // A check in progress. Cancelling ends it soon with Outcome::Cancelled (unless it had already ended).
    class Verification {
    public:
        virtual ~Verification() = default;
        virtual void cancel() = 0;
    };

    virtual ~Fingerprint() = default;

    // A reader with enrolled fingers.
    virtual Availability availability() = 0;

    // A digest of the enrolled fingers: it changes when fingers are enrolled or removed. Nothing
    // without a reader or without enrolled fingers.
    virtual std::optional<std::string> domainState() = 0;

    // Asks for a finger; the completion runs once, on the main thread.
    virtual std::shared_ptr<Verification> verify(const std::string& reason, std::function<void(Result)> completion) = 0;

    static Fingerprint& shared();
};

}
