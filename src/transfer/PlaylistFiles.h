// Playlist files beside a music export: each of the device's own playlists (not the library
// list at index 0, not the smart ones) becomes an .m3u8 file in DestFolder that lists the
// tracks the export copied, by paths relative to that folder.
//
// A track listed twice stays twice. Tracks that were not copied (or are not in the library)
// are left out and counted in one log line per playlist; a playlist left with no track writes
// no file. Names are made safe like album folders and never replace a file: a name that is
// taken gets a number ("Mix.m3u8", "Mix1.m3u8", ...), so two playlists of the same name both
// get a file, while a file that already holds the very same text counts as written, so a
// second export into the same folder adds nothing.
#pragma once

#include "music/iPodMusic.h"

namespace corvane {

// Writes the playlist files of music's last export; returns the number written (or found
// already there).
int WritePlaylistFiles(TIpodMusicDb& music);

}  // namespace corvane
