#include "bridge/PrintQueue.h"

#include <algorithm>
#include <optional>

namespace quillpost {

struct PrintQueue::State : std::enable_shared_from_this<State> {
    struct Request {
        WebView::PrintDestination destination;
        std::filesystem::path file;
        WebView::Completion completion;
    };

    std::function<std::shared_ptr<WebView>()> page;
    std::optional<WebView::PrintDestination> running;
    std::deque<Request> queue;

    void startNext()
    {
        // A print whose page is gone answers at once and lets the next one try.
        while (!running && !queue.empty()) {
            auto request = std::move(queue.front());
            queue.pop_front();
            auto view = page();
            if (!view) {
                request.completion(false, "No window");
                continue;
            }
            running = request.destination;
            auto finished = std::make_shared<bool>(false);
            std::weak_ptr<State> weak = weak_from_this();
            // The view may finish before print returns (a dialog cancelled at once).
            view->print(request.destination, request.file, [weak, finished, completion = std::move(request.completion)](bool ok, std::string message) {
                if (*finished)
                    return;
                *finished = true;
                auto self = weak.lock();
                if (self)
                    self->running.reset();
                completion(ok, std::move(message));
                if (self)
                    self->startNext();
            });
        }
    }
};

PrintQueue::PrintQueue(std::function<std::shared_ptr<WebView>()> page)
    : m_state(std::make_shared<State>())
{
    m_state->page = std::move(page);
}

PrintQueue::~PrintQueue() = default;

void PrintQueue::print(WebView::PrintDestination destination, std::filesystem::path pdfFile, WebView::Completion completion)
{
    m_state->queue.push_back({ destination, std::move(pdfFile), std::move(completion) });
    m_state->startNext();
}

bool PrintQueue::has(WebView::PrintDestination destination) const
{
    if (m_state->running == destination)
        return true;
    return std::any_of(m_state->queue.begin(), m_state->queue.end(), [destination](auto& request) { return request.destination == destination; });
}

std::size_t PrintQueue::waiting() const
{
    return m_state->queue.size();
}

}
