#include "common/JsonLexing.h"

#include "common/Hex.h"

#include <array>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <locale.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillpost::jsonLexing {

namespace {

// Skips characters that need no attention: anything but a quote, a backslash, a control
// character or a byte of a multi-byte sequence.
const char* skipPlain(const char* p, const char* end)
{
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i space = _mm_set1_epi8(' ');
    while (end - p >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // Signed comparison: bytes from 0x80 up count as below the space, like control characters.
        const __m128i special = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, quote), _mm_cmpeq_epi8(chunk, backslash)), _mm_cmplt_epi8(chunk, space));
        const int mask = _mm_movemask_epi8(special);
        if (mask)
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    while (p < end) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80)
            return p;
        ++p;
    }
    return p;
}

// One well-formed UTF-8 sequence of two to four bytes (no overlong forms, surrogates or values
// past U+10FFFF); the position after it, or nullptr.
const char* skipMultiByte(const char* p, const char* end)
{
    const auto lead = static_cast<unsigned char>(p[0]);
    int length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead == 0xE0) {
        length = 3;
        low = 0xA0;
    } else if (lead == 0xED) {
        length = 3;
        high = 0x9F;
    } else if (lead >= 0xE1 && lead <= 0xEF)
        length = 3;
    else if (lead == 0xF0) {
        length = 4;
        low = 0x90;
    } else if (lead >= 0xF1 && lead <= 0xF3)
        length = 4;
    else if (lead == 0xF4) {
        length = 4;
        high = 0x8F;
    } else
        return nullptr;
    if (end - p < length)
        return nullptr;
    const auto second = static_cast<unsigned char>(p[1]);
    if (second < low || second > high)
        return nullptr;
    for (int index = 2; index < length; ++index) {
        const auto next = static_cast<unsigned char>(p[index]);
        if (next < 0x80 || next > 0xBF)
            return nullptr;
    }
    return p + length;
}

// The four hex digits after "\u" at p; -1 when they are not four hex digits.
long unitAt(const char* p, const char* end)
{
    if (end - p < 6 || p[0] != '\\' || p[1] != 'u')
        return -1;
    long value = 0;
    for (int index = 2; index < 6; ++index) {
        const int digit = hexDigitValue(p[index]);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

void appendCodePoint(std::string& out, std::uint32_t codePoint)
{
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// One escape at p (a backslash); the position after it, or nullptr. A surrogate pair is one
// escape; a lone half decodes as U+FFFD.
template<bool decode>
const char* escape(const char* p, const char* end, std::string& out)
{
    if (end - p < 2)
        return nullptr;
    char decoded = 0;
    switch (p[1]) {
    case '"':
    case '\\':
    case '/':
        decoded = p[1];
        break;
    case 'b':
        decoded = '\b';
        break;
    case 'f':
        decoded = '\f';
        break;
    case 'n':
        decoded = '\n';
        break;
    case 'r':
        decoded = '\r';
        break;
    case 't':
        decoded = '\t';
        break;
    case 'u': {
        const long unit = unitAt(p, end);
        if (unit < 0)
            return nullptr;
        if (unit >= 0xD800 && unit < 0xDC00) {
            const long low = unitAt(p + 6, end);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                if constexpr (decode)
                    appendCodePoint(out, 0x10000 + ((static_cast<std::uint32_t>(unit) - 0xD800) << 10) + (static_cast<std::uint32_t>(low) - 0xDC00));
                return p + 12;
            }
            // withLoneSurrogatesReplaced takes any "?uDC00" after a high half for its pair, backslash
            // or not, and leaves the high half to the JSON library, which refuses it.
            if (end - p >= 12 && p[7] == 'u') {
                std::array<char, 6> shifted { '\\', 'u', p[8], p[9], p[10], p[11] };
                const long follower = unitAt(shifted.data(), shifted.data() + shifted.size());
                if (follower >= 0xDC00 && follower <= 0xDFFF)
                    return nullptr;
            }
        }
        if constexpr (decode)
            appendCodePoint(out, unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : static_cast<std::uint32_t>(unit));
        return p + 6;
    }
    default:
        return nullptr;
    }
    if constexpr (decode)
        out.push_back(decoded);
    return p + 2;
}

template<bool decode>
const char* string(const char* p, const char* end, std::string& out)
{
    while (true) {
        const char* plain = skipPlain(p, end);
        if constexpr (decode)
            out.append(p, plain);
        p = plain;
        if (p == end)
            return nullptr;
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"')
            return p + 1;
        if (c == '\\') {
            p = escape<decode>(p, end, out);
        } else if (c >= 0x80) {
            const char* next = skipMultiByte(p, end);
            if constexpr (decode) {
                if (next)
                    out.append(p, next);
            }
            p = next;
        } else {
            return nullptr; // a control character must be escaped
        }
        if (!p)
            return nullptr;
    }
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

}

const char* skipString(const char* p, const char* end)
{
    std::string unused;
    return string<false>(p, end, unused);
}

const char* readString(const char* p, const char* end, std::string& out)
{
    return string<true>(p, end, out);
}

Number scanNumber(const char* p, const char* end)
{
    const char* start = p;
    if (p < end && *p == '-')
        ++p;
    if (p == end || !isDigit(*p))
        return {};
    const char* integerStart = p;
    if (*p == '0')
        ++p;
    else {
        while (p < end && isDigit(*p))
            ++p;
    }
    const auto integerDigits = p - integerStart;
    bool integer = true;
    if (p < end && *p == '.') {
        ++p;
        if (p == end || !isDigit(*p))
            return {};
        while (p < end && isDigit(*p))
            ++p;
        integer = false;
    }
    long exponent = 0;
    bool exponentIsLong = false;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negative = false;
        if (p < end && (*p == '+' || *p == '-'))
            negative = *p++ == '-';
        if (p == end || !isDigit(*p))
            return {};
        const char* digits = p;
        while (p < end && isDigit(*p))
            ++p;
        exponentIsLong = p - digits > 6;
        if (!exponentIsLong) {
            for (const char* digit = digits; digit < p; ++digit)
                exponent = exponent * 10 + (*digit - '0');
        }
        if (negative)
            exponent = -exponent;
        integer = false;
    }
    // Below 10^300 a number cannot overflow a double; only a longer one is read to find out.
    if (exponentIsLong || integerDigits + std::max(exponent, 0L) > 300) {
        if (!std::isfinite(numberValue(std::string_view(start, static_cast<size_t>(p - start)))))
            return {};
    }
    return { p, integer };
}

double numberValue(std::string_view token)
{
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const std::string text(token);
    return ::strtod_l(text.c_str(), nullptr, cLocale);
}

}
