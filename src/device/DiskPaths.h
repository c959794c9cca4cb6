// Device paths on a disk-mode iPod's volume as local paths below its mount root.
#pragma once

#include <optional>
#include <string>

namespace corvane {

// root + path ("/" or "\" separated). A ".." component, NUL, or a link on the way that leads
// out of root (or dangles) is refused, so no device path can leave the root. FAT volumes ignore
// letter case but a copied image may not, so a component that does not exist as spelled is matched
// without case.
std::optional<std::string> ResolveBelow(const std::string& root, const std::string& path);

}  // namespace corvane
