#include "store/DocumentCheck.h"

#include "common/JsonLexing.h"

#include <cstring>
#include <utility>
#include <string>
#include <vector>

namespace quillpost {

namespace {

using namespace jsonLexing;

// An encrypted document of version 2 opens only when "people" is a non-empty array of objects,
// each with a string "salt" and objects "priv" and "dk". With repeated keys the last one counts.
class Checker {
public:
    Checker(std::string_view bytes)
        : m_p(bytes.data())
        , m_end(bytes.data() + bytes.size())
    {
    }

    DocumentCheck run()
    {
        DocumentCheck result;
        if (!parse())
            return result;
        result.json = true;
        result.whole = m_topIsContainer;
        if (!m_topIsObject || !m_encrypted || !m_versionTwo)
            result.opens = true;
        else
            result.opens = m_peopleOpen;
        return result;
    }

private:
    // What a value stands for in the check.
    enum class Target { None, Top, Encrypted, Version, People, Person, Salt, Private, Derived };
    enum class Kind { Object, Array, String, Number, True, Other };
    enum class Role : unsigned char { Other, Top, People, Person };
    struct Frame {
        bool object;
        Role role;
    };

    bool parse()
    {
        // The JSON library skips a byte-order mark at the very start.
        if (m_p < m_end && static_cast<unsigned char>(*m_p) == 0xEF) {
            if (m_end - m_p < 3 || static_cast<unsigned char>(m_p[1]) != 0xBB || static_cast<unsigned char>(m_p[2]) != 0xBF)
                return false;
            m_p += 3;
        }
        Target target = Target::Top;
        while (true) {
            m_p = skipSpace(m_p, m_end);
            if (m_p == m_end)
                return false;
            const char c = *m_p;
            if (c == '{' || c == '[') {
                const bool object = c == '{';
                const Role role = roleOf(target, object);
                seen(target, object ? Kind::Object : Kind::Array);
                m_stack.push_back({ object, role });
                m_p = skipSpace(m_p + 1, m_end);
                if (m_p < m_end && *m_p == (object ? '}' : ']')) {
                    ++m_p;
                    close();
                } else {
                    if (!object) {
                        target = elementTarget(role);
                        continue;
                    }
                    if (!key(target))
                        return false;
                    continue;
                }
            } else if (!scalar(target)) {
                return false;
            }

            // After a value: a separator, the end of containers, or the end of the text.
            while (true) {
                m_p = skipSpace(m_p, m_end);
                if (m_stack.empty())
                    return m_p == m_end || *m_p == '\0'; // the JSON library reads a NUL as the end of its input
                if (m_p == m_end)
                    return false;
                const Frame frame = m_stack.back();
                if (*m_p == ',') {
                    ++m_p;
                    if (!frame.object)
                        target = elementTarget(frame.role);
                    else if (!key(target))
                        return false;
                    break;
                }
                if (*m_p != (frame.object ? '}' : ']'))
                    return false;
                ++m_p;
                close();
            }
        }
    }

    // A member's name and its colon; target becomes what the member's value stands for.
    bool key(Target& target)
    {
        m_p = skipSpace(m_p, m_end);
        if (m_p == m_end || *m_p != '"')
            return false;
        const Role role = m_stack.back().role;
        target = Target::None;
        if (role == Role::Top || role == Role::Person) {
            m_key.clear();
            m_p = readString(m_p + 1, m_end, m_key);
            if (!m_p)
                return false;
            if (role == Role::Top)
                target = m_key == "enc" ? Target::Encrypted : m_key == "v" ? Target::Version : m_key == "people" ? Target::People : Target::None;
            else
                target = m_key == "salt" ? Target::Salt : m_key == "priv" ? Target::Private : m_key == "dk" ? Target::Derived : Target::None;
        } else {
            m_p = skipString(m_p + 1, m_end);
            if (!m_p)
                return false;
        }
        m_p = skipSpace(m_p, m_end);
        if (m_p == m_end || *m_p != ':')
            return false;
        ++m_p;
        return true;
    }

    bool scalar(Target target)
    {
        const char c = *m_p;
        if (c == '"') {
            seen(target, Kind::String);
            m_p = skipString(m_p + 1, m_end);
            return m_p;
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            const Number number = scanNumber(m_p, m_end);
            if (!number.end)
                return false;
            seen(target, Kind::Number);
            if (target == Target::Version)
                m_versionTwo = isTwo(std::string_view(m_p, static_cast<size_t>(number.end - m_p)), number.integer);
            m_p = number.end;
            return true;
        }
        static constexpr std::pair<std::string_view, Kind> literals[] { { "true", Kind::True }, { "false", Kind::Other }, { "null", Kind::Other } };
        for (const auto& [literal, kind] : literals) {
            if (c != literal.front())
                continue;
            if (static_cast<size_t>(m_end - m_p) < literal.size() || std::memcmp(m_p, literal.data(), literal.size()))
                return false;
            seen(target, kind);
            m_p += literal.size();
            return true;
        }
        return false;
    }

    static bool isTwo(std::string_view token, bool integer)
    {
        // The page reads the version in JavaScript, where 2 and 2.0 are the same number.
        if (integer)
            return token == "2";
        return numberValue(token) == 2.0;
    }

    Role roleOf(Target target, bool object) const
    {
        if (target == Target::Top)
            return object ? Role::Top : Role::Other;
        if (target == Target::People && !object)
            return Role::People;
        if (target == Target::Person && object)
            return Role::Person;
        return Role::Other;
    }

    static Target elementTarget(Role role)
    {
        return role == Role::People ? Target::Person : Target::None;
    }

    void seen(Target target, Kind kind)
    {
        switch (target) {
        case Target::None:
            return;
        case Target::Top:
            m_topIsObject = kind == Kind::Object;
            m_topIsContainer = kind == Kind::Object || kind == Kind::Array;
            return;
        case Target::Encrypted:
            m_encrypted = kind == Kind::True;
            return;
        case Target::Version:
            m_versionTwo = false; // a number decides once it is read
            return;
        case Target::People:
            m_peopleOpen = false;
            m_people = 0;
            m_everyPersonOpens = true;
            return;
        case Target::Person:
            ++m_people;
            if (kind != Kind::Object)
                m_everyPersonOpens = false;
            m_salt = m_private = m_derived = false;
            return;
        case Target::Salt:
            m_salt = kind == Kind::String;
            return;
        case Target::Private:
            m_private = kind == Kind::Object;
            return;
        case Target::Derived:
            m_derived = kind == Kind::Object;
            return;
        }
    }

    void close()
    {
        const Role role = m_stack.back().role;
        m_stack.pop_back();
        if (role == Role::Person && !(m_salt && m_private && m_derived))
            m_everyPersonOpens = false;
        if (role == Role::People)
            m_peopleOpen = m_people > 0 && m_everyPersonOpens;
    }

    const char* m_p;
    const char* m_end;
    // Nesting has no limit here, as in the JSON library's own reading: the stack is on the heap.
    std::vector<Frame> m_stack;
    std::string m_key;

    bool m_topIsObject { false };
    bool m_topIsContainer { false };
    bool m_encrypted { false };
    bool m_versionTwo { false };
    bool m_peopleOpen { false };
    size_t m_people { 0 };
    bool m_everyPersonOpens { true };
    bool m_salt { false };
    bool m_private { false };
    bool m_derived { false };
};

}

DocumentCheck checkDocument(std::string_view bytes)
{
    return Checker(bytes).run();
}

bool holdsNothing(std::string_view bytes)
{
    const auto first = bytes.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return true;
    const auto last = bytes.find_last_not_of(" \t\r\n");
    return bytes.substr(first, last - first + 1) == "null";
}

}
