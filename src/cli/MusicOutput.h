// How `corvane-cli music list` prints a loaded music library.
#pragma once

#include <string>

namespace corvane {
class TIpodDevice;
class TIpodMusicDb;
}  // namespace corvane

namespace corvane::cli {

const char* KindName(int kind);
class TJsonWriter;

// One JSON object; its shape is relied on by scripts and other front ends.
std::string MusicLibraryJson(TIpodDevice& device, const TIpodMusicDb& music, bool loaded);
// The same object into json (which may stream it), without the line break.
void WriteMusicLibraryJson(TJsonWriter& json, TIpodDevice& device, const TIpodMusicDb& music,
                           bool loaded);
// A readable table of tracks and playlists with the totals and the log.
std::string MusicLibraryTable(TIpodDevice& device, const TIpodMusicDb& music, bool loaded);

}  // namespace corvane::cli
