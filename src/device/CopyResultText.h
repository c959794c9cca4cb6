// Copy result codes in words, for the per-item lines of the transfer logs.
#pragma once

#include <string>

namespace corvane {

// What went wrong, for a code other than kCopyDone: "the device file could not be read (No
// such file or directory)".
std::string CopyFailureText(int code);

}  // namespace corvane
