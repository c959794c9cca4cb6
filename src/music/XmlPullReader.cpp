#include "music/XmlPullReader.h"

#include <algorithm>
#include <cstdint>

#include "base/Text.h"

namespace corvane {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Characters that end a tag or attribute name.
bool EndsName(char c) {
    switch (c) {
        case ' ':
        case '\t':
        case '\n':
        case '\r':
        case '<':
        case '>':
        case '/':
        case '=':
        case '"':
        case '\'':
        case '&':
            return true;
        default:
            return static_cast<unsigned char>(c) < 0x20;
    }
}

// The characters XML allows in a document: no other control character, no surrogate.
bool IsXmlChar(uint32_t code) {
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// "#65" or "#x41" (without the "&" and ";"); nothing when it names no character XML allows.
bool CharacterReference(std::string_view reference, uint32_t& code) {
    reference.remove_prefix(1);
    int base = 10;
    if (!reference.empty() && reference.front() == 'x') {
        base = 16;
        reference.remove_prefix(1);
    }
    if (reference.empty() || reference.size() > 8)
        return false;
    code = 0;
    for (char c : reference) {
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else
            return false;
        code = code * static_cast<uint32_t>(base) + digit;
    }
    return IsXmlChar(code);
}

}  // namespace

TXmlPullReader::TXmlPullReader(std::string_view xml) : FXml(xml) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(xml[i]); };
    const auto* data = reinterpret_cast<const uint8_t*>(xml.data());
    if (xml.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        FXml.remove_prefix(3);
    } else if (xml.size() >= 2 &&
               ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == '<' && byte(1) == 0))) {
        const size_t skip = byte(0) == 0xFF ? 2 : 0;
        FUtf8 = Utf16LeToUtf8(data + skip, (xml.size() - skip) & ~size_t{1});
        FXml = FUtf8;
    } else if (xml.size() >= 2 &&
               ((byte(0) == 0xFE && byte(1) == 0xFF) || (byte(0) == 0 && byte(1) == '<'))) {
        const size_t skip = byte(0) == 0xFE ? 2 : 0;
        std::string swapped(xml.substr(skip, (xml.size() - skip) & ~size_t{1}));
        for (size_t i = 0; i + 1 < swapped.size(); i += 2)
            std::swap(swapped[i], swapped[i + 1]);
        FUtf8 = Utf16LeToUtf8(reinterpret_cast<const uint8_t*>(swapped.data()), swapped.size());
        FXml = FUtf8;
    }
}

TXmlEvent TXmlPullReader::Fail(const std::string& why) {
    FFailed = true;
    const size_t at = std::min(FAt, FXml.size());
    const auto lines = std::count(FXml.begin(), FXml.begin() + static_cast<ptrdiff_t>(at), '\n');
    FError = "line " + std::to_string(lines + 1) + ": " + why;
    return TXmlEvent::Error;
}

void TXmlPullReader::SkipBlanks() {
    while (FAt < FXml.size() && IsBlank(FXml[FAt]))
        ++FAt;
}

bool TXmlPullReader::ReadName(std::string_view& name) {
    const size_t start = FAt;
    while (FAt < FXml.size() && !EndsName(FXml[FAt]))
        ++FAt;
    name = FXml.substr(start, FAt - start);
    return !name.empty();
}

bool TXmlPullReader::SkipPast(std::string_view end) {
    const size_t found = FXml.find(end, FAt);
    if (found == std::string_view::npos)
        return false;
    FAt = found + end.size();
    return true;
}

bool TXmlPullReader::SkipDoctype() {
    char quote = 0;
    int brackets = 0;
    for (size_t i = FAt + 9; i < FXml.size(); ++i) {
        const char c = FXml[i];
        if (quote != 0) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '[') {
            ++brackets;
            FDeclaredEntities = true;
        } else if (c == ']') {
            --brackets;
        } else if (c == '>' && brackets <= 0) {
            FAt = i + 1;
            return true;
        }
    }
    return false;
}

bool TXmlPullReader::AppendEntity(std::string& out) {
    // The longest reference worth reading: "&#x10FFFF;".
    const size_t end = FXml.find(';', FAt + 1);
    if (end == std::string_view::npos || end - FAt > 12)
        return false;
    const std::string_view name = FXml.substr(FAt + 1, end - FAt - 1);
    uint32_t code = 0;
    if (name == "lt") {
        out += '<';
    } else if (name == "gt") {
        out += '>';
    } else if (name == "amp") {
        out += '&';
    } else if (name == "quot") {
        out += '"';
    } else if (name == "apos") {
        out += '\'';
    } else if (!name.empty() && name.front() == '#') {
        if (!CharacterReference(name, code))
            return false;
        AppendUtf8(out, code);
    } else if (!FDeclaredEntities || name.empty()) {
        return false;
    }
    // A declared entity stays unexpanded: it adds nothing, however it was declared.
    FAt = end + 1;
    return true;
}

TXmlEvent TXmlPullReader::ReadText() {
    bool plain = true;
    const size_t start = FAt;
    size_t run = FAt;
    while (FAt < FXml.size()) {
        const char c = FXml[FAt];
        if (c == '<')
            break;
        if (c == '&') {
            if (plain)
                FDecoded.clear();
            plain = false;
            FDecoded.append(FXml.substr(run, FAt - run));
            if (!AppendEntity(FDecoded))
                return Fail("an unknown or damaged entity reference");
            run = FAt;
            continue;
        }
        if (static_cast<unsigned char>(c) < 0x20 && !IsBlank(c))
            return Fail("a control character in a text");
        ++FAt;
    }
    if (plain) {
        FText = FXml.substr(start, FAt - start);
    } else {
        FDecoded.append(FXml.substr(run, FAt - run));
        FText = FDecoded;
    }
    return TXmlEvent::Text;
}

TXmlEvent TXmlPullReader::ReadStartTag() {
    ++FAt;
    std::string_view name;
    if (!ReadName(name))
        return Fail("a tag without a name");
    if (FOpen.empty() && FRootSeen)
        return Fail("a second root element <" + std::string(name) + ">");
    bool empty = false;
    for (;;) {
        const size_t before = FAt;
        SkipBlanks();
        if (FAt >= FXml.size())
            return Fail("the document ends inside <" + std::string(name) + ">");
        const char c = FXml[FAt];
        if (c == '>') {
            ++FAt;
            break;
        }
        if (c == '/') {
            if (FAt + 1 < FXml.size() && FXml[FAt + 1] == '>') {
                FAt += 2;
                empty = true;
                break;
            }
            return Fail("a stray / in <" + std::string(name) + ">");
        }
        // Attributes are passed over, each after a blank.
        std::string_view attribute;
        if (FAt == before || !ReadName(attribute))
            return Fail("a damaged attribute in <" + std::string(name) + ">");
        SkipBlanks();
        if (FAt >= FXml.size() || FXml[FAt] != '=')
            return Fail("an attribute without a value in <" + std::string(name) + ">");
        ++FAt;
        SkipBlanks();
        if (FAt >= FXml.size() || (FXml[FAt] != '"' && FXml[FAt] != '\''))
            return Fail("an attribute value without quotes in <" + std::string(name) + ">");
        const size_t close = FXml.find(FXml[FAt], FAt + 1);
        if (close == std::string_view::npos ||
            FXml.substr(FAt, close - FAt).find('<') != std::string_view::npos)
            return Fail("an unclosed attribute value in <" + std::string(name) + ">");
        FAt = close + 1;
    }
    if (FOpen.size() >= kMaxDepth)
        return Fail("elements nested deeper than " + std::to_string(kMaxDepth));
    FOpen.push_back(name);
    FRootSeen = true;
    FName = name;
    FPendingEnd = empty;
    return TXmlEvent::Start;
}

TXmlEvent TXmlPullReader::ReadEndTag() {
    FAt += 2;
    std::string_view name;
    if (!ReadName(name))
        return Fail("an end tag without a name");
    SkipBlanks();
    if (FAt >= FXml.size() || FXml[FAt] != '>')
        return Fail("a damaged end tag </" + std::string(name) + ">");
    ++FAt;
    if (FOpen.empty())
        return Fail("</" + std::string(name) + "> closes no element");
    if (FOpen.back() != name)
        return Fail("</" + std::string(name) + "> closes <" + std::string(FOpen.back()) + ">");
    FOpen.pop_back();
    FName = name;
    return TXmlEvent::End;
}

TXmlEvent TXmlPullReader::ReadMarkup() {
    const std::string_view rest = FXml.substr(FAt);
    if (rest.starts_with("<?")) {
        if (!SkipPast("?>"))
            return Fail("an unclosed processing instruction");
    } else if (rest.starts_with("<!--")) {
        FAt += 4;
        if (!SkipPast("-->"))
            return Fail("an unclosed comment");
    } else if (rest.starts_with("<![CDATA[")) {
        if (FOpen.empty())
            return Fail("a CDATA section outside the root element");
        const size_t start = FAt + 9;
        FAt = start;
        if (!SkipPast("]]>"))
            return Fail("an unclosed CDATA section");
        FText = FXml.substr(start, FAt - 3 - start);
        return TXmlEvent::Text;
    } else if (rest.starts_with("<!DOCTYPE")) {
        if (FRootSeen)
            return Fail("a DOCTYPE after the root element");
        if (!SkipDoctype())
            return Fail("an unclosed DOCTYPE");
    } else if (rest.starts_with("<!")) {
        return Fail("unknown markup");
    } else if (rest.starts_with("</")) {
        return ReadEndTag();
    } else {
        return ReadStartTag();
    }
    // Nothing to hand out: the caller reads on.
    return TXmlEvent::Done;
}

TXmlEvent TXmlPullReader::Next() {
    if (FFailed)
        return TXmlEvent::Error;
    if (FPendingEnd) {
        FPendingEnd = false;
        FName = FOpen.back();
        FOpen.pop_back();
        return TXmlEvent::End;
    }
    while (FAt < FXml.size()) {
        if (FXml[FAt] == '<') {
            const TXmlEvent event = ReadMarkup();
            if (event != TXmlEvent::Done)
                return event;
            continue;
        }
        if (!FOpen.empty())
            return ReadText();
        SkipBlanks();
        if (FAt < FXml.size() && FXml[FAt] != '<')
            return Fail(FRootSeen ? "text after the root element" : "text before the root element");
    }
    if (!FOpen.empty())
        return Fail("the document ends inside <" + std::string(FOpen.back()) + ">");
    if (!FRootSeen)
        return Fail("no root element");
    return TXmlEvent::Done;
}

}  // namespace corvane
