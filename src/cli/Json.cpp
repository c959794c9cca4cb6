#include "cli/Json.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

namespace corvane::cli {

namespace {

// A streaming writer hands on its text in pieces of about this size.
constexpr size_t kSinkPiece = size_t{64} << 10;

// Bytes a JSON string cannot carry as they stand: control characters, the quote, the backslash,
// and every byte of a multi-byte sequence, which is checked before it is copied.
constexpr std::array<bool, 256> kNeedsCare = [] {
    std::array<bool, 256> table{};
    for (size_t c = 0; c < 256; ++c)
        table[c] = c < 0x20 || c == '"' || c == '\\' || c >= 0x80;
    return table;
}();

// Whether any of eight bytes needs care, as kNeedsCare says, tested at once. Exact: a byte's
// subtraction borrows from the next only when the byte itself matches.
bool AnyNeedsCare(uint64_t word) {
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    constexpr uint64_t kHigh = 0x8080808080808080ULL;
    auto below = [](uint64_t bytes, uint64_t limit) { return (bytes - limit * kOnes) & ~bytes; };
    const uint64_t controls = below(word, 0x20);
    const uint64_t quotes = below(word ^ (kOnes * '"'), 1);
    const uint64_t backslashes = below(word ^ (kOnes * '\\'), 1);
    return ((word | controls | quotes | backslashes) & kHigh) != 0;
}

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

// Writes text as a JSON string literal at out, which has room for MaxJsonString(text) bytes;
// returns the end of what was written.
char* WriteJsonString(char* out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    *out++ = '"';
    size_t i = 0;
    while (i < text.size()) {
        // Most text needs nothing: it is copied a run at a time.
        size_t run = i;
        for (uint64_t word; run + sizeof word <= text.size(); run += sizeof word) {
            std::memcpy(&word, text.data() + run, sizeof word);
            if (AnyNeedsCare(word))
                break;
        }
        while (run < text.size() && !kNeedsCare[static_cast<unsigned char>(text[run])])
            ++run;
        std::memcpy(out, text.data() + i, run - i);
        out += run - i;
        i = run;
        if (i == text.size())
            break;
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            *out++ = '\\';
            *out++ = static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            *out++ = '\\';
            if (c == '\n') {
                *out++ = 'n';
            } else if (c == '\r') {
                *out++ = 'r';
            } else if (c == '\t') {
                *out++ = 't';
            } else {
                const char escaped[] = {'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
                std::memcpy(out, escaped, sizeof escaped);
                out += sizeof escaped;
            }
            ++i;
        } else if (size_t length = Utf8Length(text, i)) {
            std::memcpy(out, text.data() + i, length);
            out += length;
            i += length;
        } else {
            std::memcpy(out, "\xEF\xBF\xBD", 3);
            out += 3;
            ++i;
        }
    }
    *out++ = '"';
    return out;
}

// The most WriteJsonString can write for text: a control byte becomes six characters.
size_t MaxJsonString(std::string_view text) {
    return text.size() * 6 + 2;
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
    size_t start = out.size();
    out.resize(start + MaxJsonString(text));
    char* end = WriteJsonString(out.data() + start, text);
    out.resize(static_cast<size_t>(end - out.data()));
}

std::string JsonString(std::string_view text) {
    std::string out;
    AppendJsonString(out, text);
    return out;
}

void TJsonWriter::Grow(size_t count) {
    FText.resize(std::max(FText.size() * 2, FLength + count + 256));
}

void TJsonWriter::Put(std::string_view text) {
    std::memcpy(Room(text.size()), text.data(), text.size());
    FLength += text.size();
}

void TJsonWriter::PutString(std::string_view text) {
    char* start = Room(MaxJsonString(text));
    FLength += static_cast<size_t>(WriteJsonString(start, text) - start);
}

void TJsonWriter::Number(auto value) {
    Separate();
    char* start = Room(24);
    FLength += static_cast<size_t>(std::to_chars(start, start + 24, value).ptr - start);
    FNeedComma = true;
}

void TJsonWriter::Closed() {
    FNeedComma = true;
    if (FSink != nullptr && FLength >= kSinkPiece)
        Flush();
}

bool TJsonWriter::Flush() {
    if (FSink == nullptr)
        return true;
    if (FLength > 0 && !FSinkFailed)
        FSinkFailed = std::fwrite(FText.data(), 1, FLength, FSink) != FLength;
    FLength = 0;
    return !FSinkFailed;
}

TJsonWriter& TJsonWriter::BeginObject() {
    Separate();
    Put('{');
    return *this;
}

TJsonWriter& TJsonWriter::EndObject() {
    Put('}');
    Closed();
    return *this;
}

TJsonWriter& TJsonWriter::BeginArray() {
    Separate();
    Put('[');
    return *this;
}

TJsonWriter& TJsonWriter::EndArray() {
    Put(']');
    Closed();
    return *this;
}

TJsonWriter& TJsonWriter::Key(std::string_view key) {
    Separate();
    PutString(key);
    Put(':');
    return *this;
}

TJsonWriter& TJsonWriter::String(std::string_view value) {
    Separate();
    PutString(value);
    FNeedComma = true;
    return *this;
}

TJsonWriter& TJsonWriter::Int(int64_t value) {
    Number(value);
    return *this;
}

TJsonWriter& TJsonWriter::UInt(uint64_t value) {
    Number(value);
    return *this;
}

TJsonWriter& TJsonWriter::Bool(bool value) {
    Separate();
    Put(value ? "true" : "false");
    FNeedComma = true;
    return *this;
}

TJsonWriter& TJsonWriter::Null() {
    Separate();
    Put("null");
    FNeedComma = true;
    return *this;
}

}  // namespace corvane::cli
