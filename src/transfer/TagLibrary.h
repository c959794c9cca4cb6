// The media-library automation interface over the copies themselves: every copy is "added"
// by carrying its rating and play count in its own tags, where the players read them when
// they scan the folder. There is no library to look tracks up in and no playlists (those are
// the playlist files).
#pragma once

#include <memory>
#include <string>

#include "transfer/LibraryTargets.h"
#include "transfer/iTunesLib_TLB.h"

namespace corvane::tags {

// For one restore of the copies below destFolder; files elsewhere are refused.
std::shared_ptr<itunes::IiTunes> CreateTagLibrary(const std::string& destFolder, TLibraryLog log);

}  // namespace corvane::tags
