#include "base/Text.h"

#include <bit>
#include <charconv>
#include <cstring>

namespace corvane {

namespace {
char LowerChar(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
char UpperChar(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
bool IsSeparator(char c) {
    return c == '/' || c == '\\' || c == ':';
}
}  // namespace

std::string AsciiLower(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = LowerChar(c);
    return result;
}

std::string AsciiUpper(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = UpperChar(c);
    return result;
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerChar(a[i]) != LowerChar(b[i]))
            return false;
    }
    return true;
}

bool StartsWithText(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

bool EndsWithText(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           SameText(text.substr(text.size() - suffix.size()), suffix);
}

std::string ExtractFileExt(std::string_view path) {
    for (size_t i = path.size(); i > 0; --i) {
        char c = path[i - 1];
        if (IsSeparator(c))
            break;
        if (c == '.')
            return std::string(path.substr(i - 1));
    }
    return {};
}

std::string ExtractFileName(std::string_view path) {
    for (size_t i = path.size(); i > 0; --i) {
        if (IsSeparator(path[i - 1]))
            return std::string(path.substr(i));
    }
    return std::string(path);
}

std::string ReplaceChar(std::string text, char from, char to) {
    for (char& c : text) {
        if (c == from)
            c = to;
    }
    return text;
}

std::string Trim(std::string_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
        --end;
    return std::string(text.substr(begin, end - begin));
}

std::optional<int64_t> ParseInt64(std::string_view text) {
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

namespace {
// Writes one code point as UTF-8 at out; returns the end.
char* PutUtf8(char* out, uint32_t code) {
    if (code < 0x80) {
        *out++ = static_cast<char>(code);
    } else if (code < 0x800) {
        *out++ = static_cast<char>(0xC0 | (code >> 6));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (code >> 12));
        *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (code >> 18));
        *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

// out resized to length bytes; a string too small for them is replaced by one of exactly that
// size (the records keep hundreds of thousands of strings: none holds spare room).
void SizeText(std::string& out, size_t length) {
    if (length > out.capacity()) {
        out = std::string(length, '\0');
    } else {
        out.resize(length);
    }
}

}  // namespace

void AssignUtf16LeAsUtf8(std::string& out, const uint8_t* data, size_t bytes) {
    constexpr uint32_t kReplacement = 0xFFFD;
    // Four little-endian units, the bits that make any of them more than U+007F.
    constexpr uint64_t kNotAscii = 0xFF80FF80FF80FF80ULL;
    const size_t units = bytes / 2;
    auto unitAt = [data](size_t i) { return data[2 * i] | (uint32_t{data[2 * i + 1]} << 8); };
    auto pairAt = [&](size_t i) {
        return i + 1 < units && unitAt(i) >= 0xD800 && unitAt(i) <= 0xDBFF &&
               unitAt(i + 1) >= 0xDC00 && unitAt(i + 1) <= 0xDFFF;
    };
    // Text that is all ASCII (most of a music library) is narrowed four units at a time.
    size_t ascii = 0;
    while (std::endian::native == std::endian::little && ascii + 4 <= units) {
        uint64_t four;
        std::memcpy(&four, data + 2 * ascii, sizeof four);
        if ((four & kNotAscii) != 0)
            break;
        ascii += 4;
    }
    while (ascii < units && unitAt(ascii) < 0x80)
        ++ascii;
    if (ascii == units && bytes % 2 == 0) {
        SizeText(out, units);
        char* cursor = out.data();
        for (size_t i = 0; i < units; ++i)
            cursor[i] = static_cast<char>(data[2 * i]);
        return;
    }
    // Otherwise the exact length first, so that the text is written once through a cursor.
    size_t length = ascii + (bytes % 2 != 0 ? 3 : 0);
    for (size_t i = ascii; i < units; ++i) {
        uint32_t unit = unitAt(i);
        if (unit < 0x80) {
            length += 1;
        } else if (unit < 0x800) {
            length += 2;
        } else if (pairAt(i)) {
            length += 4;
            ++i;
        } else {
            length += 3;  // the rest of the plane, or U+FFFD for a lone surrogate
        }
    }
    SizeText(out, length);
    char* cursor = out.data();
    for (size_t i = 0; i < units; ++i) {
        uint32_t unit = unitAt(i);
        if (unit < 0x80) {
            *cursor++ = static_cast<char>(unit);
        } else if (pairAt(i)) {
            cursor = PutUtf8(cursor, 0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00));
            ++i;
        } else {
            cursor = PutUtf8(cursor, (unit >= 0xD800 && unit <= 0xDFFF) ? kReplacement : unit);
        }
    }
    if (bytes % 2 != 0)
        PutUtf8(cursor, kReplacement);
}

std::string Utf16LeToUtf8(const uint8_t* data, size_t bytes) {
    std::string out;
    AssignUtf16LeAsUtf8(out, data, bytes);
    return out;
}

}  // namespace corvane
