// Local file-system helpers for the device session and the export side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/UniqueFd.h"

namespace corvane {

bool FileExists(const std::string& path);       // a regular file (symlinks followed)
bool DirectoryExists(const std::string& path);  // a folder (symlinks followed)
bool PathExists(const std::string& path);       // anything, without following a final symlink
std::optional<uint64_t> FileSize(const std::string& path);

// Creates a folder with every missing parent; true when it exists afterwards.
bool ForceDirectories(const std::string& path);
// Creates one folder in an existing parent; true only when a real folder is there afterwards,
// not a link to one: an export must not follow a link it finds in its destination.
bool MakeRealFolder(const std::string& path);

// The regular files below dir, depth first in the order the system returns them. Symlinks are
// skipped altogether (to files and folders alike, so nothing outside dir is listed), each folder
// is walked once, and the walk keeps its own stack, so no tree depth can overflow the call
// stack. Appends full paths to files; returns the number appended.
size_t ListLocalTree(const std::string& dir, std::vector<std::string>& files);

// Joins a relative path below base, refusing anything that could leave base: an absolute
// path, a ".." component, an empty component or one made only of dots, NUL or a control
// character. Nothing on refusal.
std::optional<std::string> JoinInside(const std::string& base, const std::string& relative);

// name cut to at most limit bytes without splitting a UTF-8 sequence, for names that must fit
// the 255 bytes a file system allows.
std::string CutFileName(const std::string& name, size_t limit);

// Opens a file of a device for reading without ever blocking: a FIFO, socket or device node in
// place of a file would hang a plain open or read. Only a regular file is handed back (its
// descriptor blocking again, access time untouched where allowed); otherwise an empty handle
// and error says why (EISDIR for a folder, EINVAL for anything else not a file, or the open's
// errno).
TUniqueFd OpenRegularFile(const std::string& path, int& error);

// Reads a whole regular local file (never waiting on a FIFO); nothing when it cannot be read
// or holds more than maxBytes.
std::optional<std::string> ReadLocalFile(const std::string& path, size_t maxBytes = SIZE_MAX);

// Sets a file's access and modification times (nanoseconds since 1970); false on failure.
bool SetLocalFileTime(const std::string& path, int64_t nanoseconds);

}  // namespace corvane
