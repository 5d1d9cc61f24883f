#include "app/LinkRouter.h"

#include "app/PageHooks.h"

namespace quillpost {

LinkRouter::LinkRouter(std::function<void(const std::string&)> evaluate)
    : m_evaluate(std::move(evaluate))
{
}

static bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::optional<std::string_view> LinkRouter::scheme(std::string_view text)
{
    if (text.empty() || text.size() > maximumLength || !isAsciiLetter(text[0]))
        return std::nullopt;
    for (unsigned char c : text) {
        if (c <= 0x20 || c == 0x7f)
            return std::nullopt;
    }
    for (std::size_t index = 1; index < text.size(); ++index) {
        char c = text[index];
        if (c == ':')
            return text.substr(0, index);
        if (!isAsciiLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.')
            return std::nullopt;
    }
    return std::nullopt;
}

bool LinkRouter::isQuillpostLink(std::string_view text)
{
    auto found = scheme(text);
    if (!found || found->size() != 9)
        return false;
    constexpr std::string_view quillpost = "quillpost";
    for (std::size_t index = 0; index < quillpost.size(); ++index) {
        char c = (*found)[index];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != quillpost[index])
            return false;
    }
    return true;
}

void LinkRouter::open(const std::vector<std::string>& urls)
{
    for (auto& url : urls) {
        if (isQuillpostLink(url))
            deliver(url);
    }
}

void LinkRouter::deliver(const std::string& link)
{
    if (!m_pageLoaded) {
        m_pending.push_back(link);
        return;
    }
    m_evaluate(PageHooks::afterPageLoad(PageHooks::link(link)));
}

void LinkRouter::pageLoaded()
{
    m_pageLoaded = true;
    auto waiting = std::move(m_pending);
    m_pending.clear();
    for (auto& link : waiting)
        deliver(link);
}

}
