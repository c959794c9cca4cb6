// Small text helpers shared by every subsystem: ASCII case rules, path pieces, numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

std::string AsciiLower(std::string_view text);
std::string AsciiUpper(std::string_view text);

// Comparisons of tags, keys and extensions ignore ASCII letter case.
bool SameText(std::string_view a, std::string_view b);
bool StartsWithText(std::string_view text, std::string_view prefix);
bool EndsWithText(std::string_view text, std::string_view suffix);

// The extension with its dot: the text from the last "." that follows the last "/", "\" or ":".
std::string ExtractFileExt(std::string_view path);
// The last component after "/", "\" or ":".
std::string ExtractFileName(std::string_view path);

std::string ReplaceChar(std::string text, char from, char to);
std::string Trim(std::string_view text);

// A whole decimal number (optional sign); nothing when the text is not one or overflows.
std::optional<int64_t> ParseInt64(std::string_view text);

// UTF-16 little-endian bytes as UTF-8. An unpaired surrogate and an odd last byte each become
// U+FFFD; a U+0000 is kept (callers that want C-string semantics cut before converting).
std::string Utf16LeToUtf8(const uint8_t* data, size_t bytes);
// The same written into out, whose memory is used where it has room: a reader fills a record's
// fields in place instead of moving a new string into each.
void AssignUtf16LeAsUtf8(std::string& out, const uint8_t* data, size_t bytes);

}  // namespace corvane
