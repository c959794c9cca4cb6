// A small JSON writer for the command-line front end's machine-readable output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace corvane::cli {

// A JSON string literal; invalid UTF-8 from a device becomes U+FFFD so the output stays valid.
std::string JsonString(std::string_view text);

// Appends text to out as a JSON string literal, as JsonString words it.
void AppendJsonString(std::string& out, std::string_view text);

// A key fixed when the program is built ("title"_key), checked then to need no escaping, so the
// writer copies it as it stands.
class TJsonKey {
public:
    consteval explicit TJsonKey(std::string_view text) : FText(text) {
        for (char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte >= 0x80 || c == '"' || c == '\\')
                throw "a key written with _key must be plain ASCII that needs no escaping";
        }
    }
    std::string_view Text() const { return FText; }

private:
    std::string_view FText;
};

consteval TJsonKey operator""_key(const char* text, size_t size) {
    return TJsonKey(std::string_view(text, size));
}

// Builds one JSON value with commas placed automatically.
class TJsonWriter {
public:
    TJsonWriter() = default;
    // Streams the text to sink instead of keeping it: Text() holds only what has not been
    // written yet, and Flush (or the end of the writer) writes it.
    explicit TJsonWriter(std::FILE* sink) : FSink(sink) {}
    ~TJsonWriter() { Flush(); }
    TJsonWriter(const TJsonWriter&) = delete;
    TJsonWriter& operator=(const TJsonWriter&) = delete;

    TJsonWriter& BeginObject();
    TJsonWriter& EndObject();
    TJsonWriter& BeginArray();
    TJsonWriter& EndArray();
    TJsonWriter& Key(std::string_view key);
    TJsonWriter& Key(TJsonKey key) {
        Separate();
        const std::string_view text = key.Text();
        char* out = Room(text.size() + 3);
        out[0] = '"';
        std::memcpy(out + 1, text.data(), text.size());
        out[text.size() + 1] = '"';
        out[text.size() + 2] = ':';
        FLength += text.size() + 3;
        return *this;
    }
    TJsonWriter& String(std::string_view value);
    TJsonWriter& Int(int64_t value);
    TJsonWriter& UInt(uint64_t value);
    TJsonWriter& Bool(bool value);
    TJsonWriter& Null();
    const std::string& Text() const {
        FText.resize(FLength);
        return FText;
    }
    // Writes the text so far to the sink; false when the sink failed (a closed pipe).
    bool Flush();

private:
    // Room for count more bytes at the end of the text; the caller advances FLength.
    char* Room(size_t count) {
        if (FText.size() - FLength < count)
            Grow(count);
        return FText.data() + FLength;
    }
    void Grow(size_t count);
    void Put(char c) {
        Room(1)[0] = c;
        ++FLength;
    }
    void Put(std::string_view text);
    void Separate() {
        if (FNeedComma)
            Put(',');
        FNeedComma = false;
    }
    void PutString(std::string_view text);
    void Number(auto value);
    // A closed value: a streaming writer hands its text on once enough has gathered.
    void Closed();
    // The text is written through a cursor into spare room (FText's size runs ahead of
    // FLength) instead of a call per piece.
    mutable std::string FText;
    size_t FLength = 0;
    bool FNeedComma = false;
    std::FILE* FSink = nullptr;
    bool FSinkFailed = false;
};

}  // namespace corvane::cli
