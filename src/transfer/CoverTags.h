// A cover picture embedded into a copied track's own tags (ID3v2 APIC, the MP4 "covr" atom, a
// FLAC picture block), for players that show only what the file carries.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace corvane::tags {

// Whether the file carries a picture already; false also when it cannot be read.
bool HasEmbeddedCover(const std::string& path);

// Embeds jpeg as the file's front cover unless it carries a picture already (then nothing is
// written and embedded is false). The tags are written into a copy beside the file that
// replaces it only when saved whole. Empty on success, else the reason.
std::string EmbedCover(const std::string& path, std::span<const uint8_t> jpeg, bool& embedded);

}  // namespace corvane::tags
