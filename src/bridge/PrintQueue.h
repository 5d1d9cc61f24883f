#pragma once

#include "platform/WebView.h"

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>

namespace quillpost {

// The main page's print operations, one at a time. WebKit's web process does not survive a
// second print operation started while one still runs (a double click on "Save as PDF" did it),
// so each request waits for the ones before it.
class PrintQueue {
public:
    explicit PrintQueue(std::function<std::shared_ptr<WebView>()> page);
    ~PrintQueue();

    PrintQueue(const PrintQueue&) = delete;
    PrintQueue& operator=(const PrintQueue&) = delete;

    // Prints now, or once the prints before it have finished. A page gone by then fails the
    // request with "No window"; the completion runs exactly once.
    void print(WebView::PrintDestination, std::filesystem::path pdfFile, WebView::Completion);

    // A print to this destination is running or waiting.
    bool has(WebView::PrintDestination) const;
    // Requests waiting behind the running one.
    std::size_t waiting() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

}
