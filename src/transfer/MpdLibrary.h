// The media-library automation interface over an MPD server: the library playlist is MPD's
// database, user playlists are its stored playlists, ratings and play counts are stickers.
#pragma once

#include <memory>
#include <string>

#include "transfer/LibraryTargets.h"
#include "transfer/iTunesLib_TLB.h"

namespace corvane::mpd {

// Connects for one restore of the copies below destFolder. Throws EITunesError when no
// server answers or it does not tell where its music lies.
std::shared_ptr<itunes::IiTunes> CreateMpdLibrary(const std::string& destFolder, TLibraryLog log);

// Empty when a restore into MPD can work right now (a server answers and its music
// directory is known), else why not, in words.
std::string MpdUnavailableReason();

// The music directory an MPD configuration text names ("~" expanded against home); empty
// when it names none.
std::string ConfiguredMusicDirectory(const std::string& config, const std::string& home);

// MPD refuses "/" and line breaks in a stored playlist's name and cannot store an empty
// name: slashes become the look-alike U+2215, control characters blanks, and a name left
// empty "Playlist".
std::string SafePlaylistName(const std::string& name);

}  // namespace corvane::mpd
