// The music export: copies every checked track into DestFolder, marks each with its outcome
// and logs the failures.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>

#include "device/iPodDev.h"
#include "music/iPodMusic.h"

namespace corvane {

namespace {

// The track got no base path; TrackFileBase has logged why.
constexpr int kNoBasePath = -1;
// The platform's transient I/O error gets one more try after a pause.
constexpr int kTransientCopyError = kCopyLocalError + EIO;

uint64_t TrackSize(const TTrackItem& track) {
    return static_cast<uint64_t>(std::max<int64_t>(track.FileSize, 0));
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// A book folder that a failed copy left half-filled: the device session made it afresh for
// this copy (only then does it report a device failure), so it can go.
bool IsOurPartialFolder(int result) {
    return result == kCopyDeviceFailed;
}

int ExportTrack(TIpodMusicDb& music, int index, std::string& path) {
    const TTrackItem& track = music.Tracks.Items(index);
    path = music.TrackFileBase(index, music.NamingScheme);
    if (path.empty())
        return kNoBasePath;
    int result = music.Device.CopyTrackFile(track.Location, path, TrackSize(track));
    if (result != kTransientCopyError)
        return result;
    path = music.TrackFileBase(index, music.NamingScheme);
    if (path.empty())
        return kNoBasePath;
    if (music.OnRetryWait) {
        music.OnRetryWait();
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(TIpodMusicDb::kRetryDelayMs));
    }
    return music.Device.CopyTrackFile(track.Location, path, TrackSize(track));
}

int ExportBook(TIpodMusicDb& music, int index, std::string& path) {
    const TTrackItem& track = music.Tracks.Items(index);
    // No path names the device's root, which would be copied whole as a book folder.
    if (track.Location.find_first_not_of("/:\\") == std::string::npos)
        return kCopyDeviceFailed;
    path = music.TrackFileBase(index, 1);  // books keep their title, whatever the scheme
    if (path.empty())
        return kNoBasePath;
    bool isFolder = false;
    int result = music.Device.CopyItem(track.Location, path, isFolder, TrackSize(track));
    if (!isFolder || path.empty())
        return result;
    if (result != kCopyDone) {
        if (IsOurPartialFolder(result))
            music.RemoveCopiedFolder(path);
        return result;
    }
    std::string archive;
    result = music.ZipBookFolder(path, WithoutTrailingSlash(path),
                                 TIpodMusicDb::BookExtension(track.Location), archive);
    // Packed or not, the copied folder goes: a failed book leaves nothing half-made behind.
    music.RemoveCopiedFolder(path);
    if (result == kCopyDone)
        path = archive;
    return result;
}

}  // namespace

int TIpodMusicDb::Export() {
    Cancelled = false;
    ExportFailures = 0;
    // Without a folder the names would land in the working folder: nothing is exported.
    if (DestFolder.empty())
        return 0;
    if (DestFolder.back() != '/')
        DestFolder += '/';
    int copied = 0;
    int n = 0;
    const std::string total = std::to_string(Tracks.CheckedCount);
    for (int index = 0; index < Tracks.Count(); ++index) {
        // Read once per track: a stop requested during a copy lets that copy finish.
        if (Cancelled)
            break;
        TTrackItem& track = Tracks.Items(index);
        if (!track.Checked)
            continue;
        ++n;
        if (OnProgress)
            OnProgress(std::to_string(n) + "/" + total + "  " + track.Title);
        track.DestPath.clear();

        std::string path;
        int result;
        if (track.Kind == mkBook) {
            track.TransferState = 2;
            result = ExportBook(*this, index, path);
        } else {
            track.TransferState = 1;
            result = ExportTrack(*this, index, path);
        }
        if (result == kCopyDone) {
            ++copied;
            track.DestPath = path;
            continue;
        }
        track.TransferState = 0;
        ++ExportFailures;
        if (result != kNoBasePath && ExportFailures <= kMaxFailureLines)
            AddLog(track.Title + ": Err " + std::to_string(static_cast<uint32_t>(result)));
    }
    return copied;
}

}  // namespace corvane
