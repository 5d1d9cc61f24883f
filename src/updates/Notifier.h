#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillpost {

class Notifications;

// The page's notifications and the program's own, shown on the desktop. A click hands the
// notification's identifier to onClick. In a self-test run they are recorded instead of shown.
class Notifier {
public:
    enum class Mode { Show, Record };

    struct Record {
        std::string id;
        std::string title;
        std::string body;
    };

    Notifier(Notifications&, Mode);

    void post(const std::string& id, const std::string& title, const std::string& body);

    // Present, and growing with every post, exactly in a self-test run.
    const std::optional<std::vector<Record>>& recorded() const { return m_recorded; }

    std::function<void(const std::string& id)> onClick;

    static Notifier& shared();

private:
    Notifications& m_notifications;
    std::optional<std::vector<Record>> m_recorded;
};

}
