#pragma once

#include "platform/Clipboard.h"
#include "platform/Fingerprint.h"
#include "platform/InlinePromptView.h"
#include "platform/Keyring.h"

#include <algorithm>
#include <functional>
#include <map>
#include <stdexcept>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillpost {

// A password store in memory. `answer` makes every lookup fail the way a real store can (locked, a
// dismissed unlock prompt, no service), `byAccount` only those of one account; `scripted` answers
// the next lookups one by one before either.
class FakeKeyring final : public Keyring {
public:
    using Status = Lookup::Status;

    Lookup lookup(const std::string& service, const std::string& account, Interaction interaction) override
    {
        interactions.push_back(interaction);
        auto status = answer;
        if (auto only = byAccount.find(account); only != byAccount.end())
            status = only->second;
        if (!scripted.empty()) {
            status = scripted.front();
            scripted.erase(scripted.begin());
        }
        if (status == Status::Locked)
            return { status, {}, "the collection is locked" };
        if (status == Status::Unavailable)
            return { status, {}, "org.freedesktop.secrets was not provided" };
        auto it = items.find({ service, account });
        if (status == Status::NotFound || it == items.end())
            return { Status::NotFound, {}, {} };
        return { Status::Found, it->second, {} };
    }
    bool write(const std::string& service, const std::string& account, const std::string& value) override
    {
        ++writes;
        if (refuseWrites)
            return false;
        items[{ service, account }] = value;
        return true;
    }
    void remove(const std::string& service, const std::string& account) override { items.erase({ service, account }); }

    // Found: answers from the items.
    Status answer { Status::Found };
    std::map<std::string, Status> byAccount;
    std::vector<Status> scripted;
    bool refuseWrites { false };
    int writes { 0 };
    std::vector<Interaction> interactions;
    std::map<std::pair<std::string, std::string>, std::string> items;
};

// A reader whose checks wait until the test answers them, as a finger on the reader would.
class FakeFingerprint final : public Fingerprint {
public:
    struct Check final : Verification {
        std::string reason;
        std::function<void(Result)> completion;
        bool cancelled { false };
        FakeFingerprint* owner { nullptr };
        void cancel() override
        {
            cancelled = true;
            if (!owner->answersCancelLater)
                owner->complete(*this, Outcome::Cancelled);
        }
    };

    Availability availability() override { return { state.has_value() && reader, reader ? (state ? "" : "No fingerprints are enrolled.") : "There is no fingerprint reader." }; }
    std::optional<std::string> domainState() override { return state; }
    std::shared_ptr<Verification> verify(const std::string& reason, std::function<void(Result)> completion) override
    {
        auto check = std::make_shared<Check>();
        check->reason = reason;
        check->completion = std::move(completion);
        check->owner = this;
        checks.push_back(check);
        return check;
    }

    // Answers the oldest check still waiting.
    void answer(Outcome outcome)
    {
        for (auto& check : checks) {
            if (check->completion) {
                complete(*check, outcome);
                return;
            }
        }
        throw std::logic_error("no fingerprint check is waiting");
    }
    void complete(Check& check, Outcome outcome)
    {
        auto completion = std::move(check.completion);
        check.completion = nullptr;
        if (completion)
            completion(Result { outcome, outcome == Outcome::Verified ? state : std::nullopt });
    }
    size_t waiting() const
    {
        return static_cast<size_t>(std::count_if(checks.begin(), checks.end(), [](const auto& check) { return bool(check->completion); }));
    }

    bool reader { true };
    // As fprintd does: a cancelled check answers only once the reader is released (answer()).
    bool answersCancelLater { false };
    std::optional<std::string> state { "right-index-finger" };
    std::vector<std::shared_ptr<Check>> checks;
};

class FakeClipboard final : public Clipboard {
public:
    void writeText(const std::string& value) override { writeText(value, {}); }
    void writeText(const std::string& value, const std::vector<std::pair<std::string, std::string>>& given) override
    {
        text = value;
        markers = { given.begin(), given.end() };
        ++count;
    }
    void clear() override
    {
        text.reset();
        markers.clear();
        ++count;
    }
    std::uint64_t changeCount() const override { return count; }
    void readText(std::function<void(std::string)> completion) override { completion(text.value_or("")); }
    bool hasType(const std::string& type) const override { return markers.contains(type); }

    std::optional<std::string> text;
    // The marker types offered beside the text, with their values.
    std::map<std::string, std::string> markers;
    std::uint64_t count { 0 };
};

class FakeInlinePromptView final : public InlinePromptView {
public:
    void show(const ViewFrame& frame, ControlSize size) override
    {
        shown = frame;
        controlSize = size;
        ++shows;
    }
    void move(const ViewFrame& frame) override
    {
        shown = frame;
        ++moves;
    }
    void hide() override { shown.reset(); }
    double pageZoom() const override { return zoom; }
    bool flipped() const override { return true; }
    double boundsHeight() const override { return 800; }

    double zoom { 1 };
    std::optional<ViewFrame> shown;
    ControlSize controlSize { ControlSize::Mini };
    int shows { 0 };
    int moves { 0 };
};

}
