#include "common/JsonText.h"

#include "common/JsonLexing.h"

#include <charconv>
#include <cstring>

namespace quillpost {

namespace {

std::optional<unsigned> surrogateAt(std::string_view text, size_t index)
{
    // index points at the backslash of a "\uXXXX" escape.
    if (index + 6 > text.size() || text[index + 1] != 'u')
        return std::nullopt;
    unsigned value = 0;
    const char* digits = text.data() + index + 2;
    const auto [end, error] = std::from_chars(digits, digits + 4, value, 16);
    if (error != std::errc() || end != digits + 4)
        return std::nullopt;
    if (value < 0xD800 || value > 0xDFFF)
        return std::nullopt;
    return value;
}

// Reads the JSON that messages and settings are made of (objects, arrays and long strings) several
// times faster than the JSON library's own parser, into the same value. It gives up on anything
// out of the ordinary (an error, a byte-order mark, deep nesting, a NUL after the value) and leaves
// that text to the JSON library, so whatever it answers is what the library would have answered.
class FastReader {
public:
    explicit FastReader(std::string_view text)
        : m_p(text.data())
        , m_end(text.data() + text.size())
    {
    }

    std::optional<Json> read()
    {
        if (m_p < m_end && static_cast<unsigned char>(*m_p) == 0xEF)
            return std::nullopt;
        Json result;
        if (!value(result, 0))
            return std::nullopt;
        if (jsonLexing::skipSpace(m_p, m_end) != m_end)
            return std::nullopt;
        return result;
    }

private:
    // Well inside maximumJsonDepth, so that the library decides every case near the limit.
    static constexpr int deepest = 64;

    bool value(Json& out, int depth)
    {
        m_p = jsonLexing::skipSpace(m_p, m_end);
        if (m_p == m_end)
            return false;
        switch (*m_p) {
        case '"': {
            std::string text;
            m_p = jsonLexing::readString(m_p + 1, m_end, text);
            out = std::move(text);
            return m_p;
        }
        case '{':
            return depth < deepest && object(out, depth);
        case '[':
            return depth < deepest && array(out, depth);
        case 't':
            out = true;
            return literal("true");
        case 'f':
            out = false;
            return literal("false");
        case 'n':
            out = nullptr;
            return literal("null");
        default:
            return number(out);
        }
    }

    bool literal(std::string_view word)
    {
        if (static_cast<size_t>(m_end - m_p) < word.size() || std::memcmp(m_p, word.data(), word.size()))
            return false;
        m_p += word.size();
        return true;
    }

    bool number(Json& out)
    {
        const jsonLexing::Number number = jsonLexing::scanNumber(m_p, m_end);
        if (!number.end)
            return false;
        const std::string_view token(m_p, static_cast<size_t>(number.end - m_p));
        m_p = number.end;
        const bool negative = token.front() == '-';
        // Short integers are read here, as the library reads them: unsigned unless negative.
        if (number.integer && token.size() - negative <= 18) {
            std::uint64_t magnitude = 0;
            for (const char digit : token.substr(negative))
                magnitude = magnitude * 10 + static_cast<std::uint64_t>(digit - '0');
            if (negative)
                out = -static_cast<std::int64_t>(magnitude);
            else
                out = magnitude;
            return true;
        }
        out = Json::parse(token, nullptr, false);
        return !out.is_discarded();
    }

    bool array(Json& out, int depth)
    {
        out = Json::array();
        m_p = jsonLexing::skipSpace(m_p + 1, m_end);
        if (m_p < m_end && *m_p == ']') {
            ++m_p;
            return true;
        }
        while (true) {
            Json element;
            if (!value(element, depth + 1))
                return false;
            out.push_back(std::move(element));
            m_p = jsonLexing::skipSpace(m_p, m_end);
            if (m_p == m_end)
                return false;
            if (*m_p == ']') {
                ++m_p;
                return true;
            }
            if (*m_p++ != ',')
                return false;
        }
    }

    bool object(Json& out, int depth)
    {
        out = Json::object();
        m_p = jsonLexing::skipSpace(m_p + 1, m_end);
        if (m_p < m_end && *m_p == '}') {
            ++m_p;
            return true;
        }
        while (true) {
            m_p = jsonLexing::skipSpace(m_p, m_end);
            if (m_p == m_end || *m_p != '"')
                return false;
            std::string key;
            m_p = jsonLexing::readString(m_p + 1, m_end, key);
            if (!m_p)
                return false;
            m_p = jsonLexing::skipSpace(m_p, m_end);
            if (m_p == m_end || *m_p++ != ':')
                return false;
            // A repeated key keeps its last value, as in the library.
            if (!value(out[std::move(key)], depth + 1))
                return false;
            m_p = jsonLexing::skipSpace(m_p, m_end);
            if (m_p == m_end)
                return false;
            if (*m_p == '}') {
                ++m_p;
                return true;
            }
            if (*m_p++ != ',')
                return false;
        }
    }

    const char* m_p;
    const char* m_end;
};

}

std::optional<std::string> withLoneSurrogatesReplaced(std::string_view text)
{
    std::optional<std::string> repaired;
    size_t copiedUpTo = 0;
    for (size_t index = text.find('\\'); index != std::string_view::npos; index = text.find('\\', index)) {
        const auto unit = surrogateAt(text, index);
        if (!unit) {
            index += 2; // any other escape, including an escaped backslash
            continue;
        }
        if (*unit < 0xDC00) {
            const auto low = surrogateAt(text, index + 6);
            if (low && *low >= 0xDC00) {
                index += 12;
                continue;
            }
        }
        if (!repaired)
            repaired.emplace();
        repaired->append(text.substr(copiedUpTo, index - copiedUpTo)).append("\\ufffd");
        index += 6;
        copiedUpTo = index;
    }
    if (repaired)
        repaired->append(text.substr(copiedUpTo));
    return repaired;
}

Json parseJsonText(std::string_view text)
{
    if (auto value = FastReader(text).read())
        return std::move(*value);
    const auto repaired = withLoneSurrogatesReplaced(text);
    bool tooDeep = false;
    // Values below the limit are dropped as they are read, so a hostile text never builds a deep tree.
    auto limit = [&tooDeep](int depth, Json::parse_event_t, Json&) {
        if (depth <= maximumJsonDepth)
            return true;
        tooDeep = true;
        return false;
    };
    Json value = Json::parse(repaired ? std::string_view(*repaired) : text, limit, false);
    return tooDeep ? Json(Json::value_t::discarded) : value;
}

}
