// File helpers of the platform binding that the simulated device shares.
#pragma once

#include <cstddef>
#include <string>

namespace corvane {

namespace mobiledev {

// Property lists larger than this are refused rather than read into memory.
constexpr size_t kMaxPlistBytes = 64u << 20;

// Reads a regular file of at most maxBytes; false on any failure.
bool ReadSmallFile(const std::string& path, size_t maxBytes, std::string* content);

// Writes content to a temporary file in the target's folder and renames it over the target,
// so the target is either the old file or the complete new one.
bool ReplaceFile(const std::string& target, const char* data, size_t size);

}  // namespace mobiledev

}  // namespace corvane
