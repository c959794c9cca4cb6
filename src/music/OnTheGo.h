// On-The-Go playlists, made on the iPod itself and kept beside iTunesDB until the next sync:
// the binary OTGPlaylistInfo files (entries are positions in the iTunesDB track list) and the
// Playlist_<ID>.plist files of the later models (entries are track persistent ids). Reading
// only: TIpodMusicDb adds them to its playlists (OnTheGoPlaylists.cpp).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

struct TOnTheGoFile {
    std::vector<uint32_t> TrackIndexes;  // into the iTunesDB track list, in playlist order
    std::string Damage;                  // why the file was ignored; empty when it was read
};

struct TDevicePlaylist {
    uint64_t PersistentId = 0;  // of the iTunesDB playlist it replaces, or a new one
    int64_t SavedIndex = 0;     // the device's order of its saved playlists
    std::string Name;           // empty when the device gave none
    bool Deleted = false;       // the user deleted this playlist on the device
    std::vector<uint64_t> TrackPersistentIds;
    std::string Damage;
};

// More entries than any iPod holds tracks.
constexpr size_t kMaxOnTheGoEntries = size_t{1} << 20;

TOnTheGoFile ParseOnTheGoFile(std::span<const uint8_t> bytes);
TDevicePlaylist ParseDevicePlaylist(std::string_view xml);

// "Playlist_<ID>.plist": the file names the playlist form uses.
bool IsDevicePlaylistFileName(std::string_view name);

}  // namespace corvane
