// A small JSON writer for the command-line front end's machine-readable output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::cli {

// A JSON string literal; invalid UTF-8 from a device becomes U+FFFD so the output stays valid.
std::string JsonString(std::string_view text);

// Builds one JSON value with commas placed automatically.
class TJsonWriter {
public:
    TJsonWriter& BeginObject();
    TJsonWriter& EndObject();
    TJsonWriter& BeginArray();
    TJsonWriter& EndArray();
    TJsonWriter& Key(std::string_view key);
    TJsonWriter& String(std::string_view value);
    TJsonWriter& Int(int64_t value);
    TJsonWriter& UInt(uint64_t value);
    TJsonWriter& Bool(bool value);
    TJsonWriter& Null();
    const std::string& Text() const { return FText; }

private:
    void Separate();
    std::string FText;
    bool FNeedComma = false;
};

}  // namespace corvane::cli
