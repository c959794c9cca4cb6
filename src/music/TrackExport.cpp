// The music export: copies every checked track into DestFolder, marks each with its outcome
// and logs the failures.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <thread>

#include <stdlib.h>

#include "device/CopyResultText.h"
#include "device/iPodDev.h"
#include "music/TrackNameTemplate.h"
#include "music/iPodMusic.h"
#include "platform/LocalFiles.h"

namespace corvane {

namespace {

// The track got no base path; TrackFileBase has logged why.
constexpr int kNoBasePath = -1;
// Room for ".<title>.book-XXXXXX" within the 255 bytes of a name.
constexpr size_t kMaxStagingLeaf = 200;
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

// A book the device keeps as a folder: copied into a private folder of this export, made
// afresh inside the destination (so no other export and no name of the user's can meet it),
// packed under the book's own name, and the copy removed right away.
int ExportBookFolder(TIpodMusicDb& music, const TTrackItem& track, std::string& path) {
    const std::string base = WithoutTrailingSlash(path);
    const size_t slash = base.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : base.substr(0, slash);
    const std::string leaf = slash == std::string::npos ? base : base.substr(slash + 1);
    if (!ForceDirectories(parent))
        return kCopyFolderFailed;
    std::string staging = parent + "/." + CutFileName(leaf, kMaxStagingLeaf) + ".book-XXXXXX";
    if (!mkdtemp(staging.data()))
        return LocalCopyCode(errno);
    std::string folder = staging + "/" + leaf;
    const std::string devicePath = music.Device.LocationToPath(track.Location);
    int result = music.Device.CopyDirectory(WithoutTrailingSlash(devicePath) + "/", folder);
    if (result == kCopyDone) {
        std::string archive;
        result = music.ZipBookFolder(WithoutTrailingSlash(folder), base,
                                     TIpodMusicDb::BookExtension(track.Location), archive);
        if (result == kCopyDone)
            path = archive;
    } else if (IsOurPartialFolder(result)) {
        // What a failed copy left is kept in the trash, where the user may still look.
        music.RemoveCopiedFolder(folder);
    }
    std::error_code ignored;
    std::filesystem::remove_all(staging, ignored);  // never follows a link inside it
    return result;
}

int ExportBook(TIpodMusicDb& music, int index, std::string& path) {
    const TTrackItem& track = music.Tracks.Items(index);
    // No path names the device's root, which would be copied whole as a book folder.
    if (track.Location.find_first_not_of("/:\\") == std::string::npos)
        return kCopyDeviceFailed;
    path = music.TrackFileBase(index, 1);  // books keep their title, whatever the scheme
    if (path.empty())
        return kNoBasePath;
    if (music.Device.IsIos() &&
        music.Device.DirectoryExistsOnDevice(music.Device.LocationToPath(track.Location)))
        return ExportBookFolder(music, track, path);
    bool isFolder = false;
    return music.Device.CopyItem(track.Location, path, isFolder, TrackSize(track));
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
    // A template that cannot name files stops the export once, not once per track.
    if (NamingScheme == kTemplateScheme) {
        const TTrackNameTemplate naming(NameTemplate);
        if (!naming.Valid()) {
            AddLog("[X] " + naming.Error());
            return 0;
        }
    }
    Device.ForgetFreeNames();
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
        ProgressItemSize = TrackSize(track);
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
            AddLog(track.Title + ": " + CopyFailureText(result));
    }
    return copied;
}

}  // namespace corvane
