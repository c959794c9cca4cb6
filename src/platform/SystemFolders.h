// Folders and space the platform provides: the work file, the user's music and pictures
// folders, free space, the trash.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// A private staging path: a fresh 0700 folder "~ipXXXXXX" in $TMPDIR (or /tmp) holding the
// not yet existing work file of the same name. Empty when no folder can be made.
std::string MakeWorkFile();
// Removes the work file, its companions and its private folder.
void RemoveWorkFile(const std::string& workFile);

// XDG user-dirs value of key (e.g. "XDG_MUSIC_DIR") in the text of user-dirs.dirs, with $HOME
// expanded; nothing when the key is absent or malformed.
std::optional<std::string> ParseUserDirs(std::string_view text, std::string_view key,
                                         const std::string& home);
// The user's music or pictures folder, with a trailing "/"; empty when there is none.
std::string UserMusicFolder();
std::string UserPicturesFolder();

// Free bytes for an unprivileged user on the file system of path's nearest existing folder.
std::optional<uint64_t> FreeDiskSpace(const std::string& path);
// The mount point holding path's nearest existing folder.
std::string MountPointOf(const std::string& path);

// True when path (which need not exist yet) lies in folder or is folder, by the identity
// (device and inode) of path's nearest existing folder and each of its ancestors, so that no
// spelling, link or bind mount hides it. When folder is the top of its own file system,
// anything on that file system counts as inside.
bool IsInsideFolder(const std::string& path, const std::string& folder);

// Moves a file or folder into the user's freedesktop.org trash; 0 or errno.
int MoveToTrash(const std::string& path);

}  // namespace corvane
