#include "cli/Json.h"

#include <cstdio>

namespace corvane::cli {

namespace {

// Length of the valid UTF-8 sequence at text[i], 0 when it is not one.
size_t Utf8Length(std::string_view text, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char c = byte(i);
    if (c < 0x80)
        return 1;
    size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (length == 0 || c > 0xF4 || i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    }
    // Overlong forms, surrogates and code points past U+10FFFF.
    if (c == 0xE0 && byte(i + 1) < 0xA0)
        return 0;
    if (c == 0xED && byte(i + 1) >= 0xA0)
        return 0;
    if (c == 0xF0 && byte(i + 1) < 0x90)
        return 0;
    if (c == 0xF4 && byte(i + 1) >= 0x90)
        return 0;
    return length;
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            char escaped[8];
            const char* named = c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : nullptr;
            if (named == nullptr)
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += named ? named : escaped;
            ++i;
        } else if (size_t length = Utf8Length(text, i)) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    out += '"';
    return out;
}

void TJsonWriter::Separate() {
    if (FNeedComma)
        FText += ',';
    FNeedComma = false;
}

TJsonWriter& TJsonWriter::BeginObject() {
    Separate();
    FText += '{';
    return *this;
}

TJsonWriter& TJsonWriter::EndObject() {
    FText += '}';
    FNeedComma = true;
    return *this;
}

TJsonWriter& TJsonWriter::BeginArray() {
    Separate();
    FText += '[';
    return *this;
}

TJsonWriter& TJsonWriter::EndArray() {
    FText += ']';
    FNeedComma = true;
    return *this;
}

TJsonWriter& TJsonWriter::Key(std::string_view key) {
    Separate();
    FText += JsonString(key);
    FText += ':';
    return *this;
}

TJsonWriter& TJsonWriter::String(std::string_view value) {
    Separate();
    FText += JsonString(value);
    FNeedComma = true;
    return *this;
}

TJsonWriter& TJsonWriter::Int(int64_t value) {
    Separate();
    FText += std::to_string(value);
    FNeedComma = true;
    return *this;
}

TJsonWriter& TJsonWriter::UInt(uint64_t value) {
    Separate();
    FText += std::to_string(value);
    FNeedComma = true;
    return *this;
}

TJsonWriter& TJsonWriter::Bool(bool value) {
    Separate();
    FText += value ? "true" : "false";
    FNeedComma = true;
    return *this;
}

TJsonWriter& TJsonWriter::Null() {
    Separate();
    FText += "null";
    FNeedComma = true;
    return *this;
}

}  // namespace corvane::cli
