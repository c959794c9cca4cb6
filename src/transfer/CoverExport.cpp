#include "transfer/CoverExport.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <unordered_set>
#include <vector>

#include "device/iPodDev.h"
#include "music/iPodMusic.h"
#include "photo/ArtworkPictures.h"
#include "platform/FileCopy.h"
#include "platform/LocalFiles.h"
#include "transfer/CoverTags.h"

namespace corvane {
namespace {

constexpr const char* kCoverFileName = "cover.jpg";
// Failures logged per run; the rest are only counted, as the export does with its own.
constexpr int kMaxCoverLines = 20;

int WriteCoverFile(const std::string& target, const std::vector<uint8_t>& jpeg) {
    TAtomicFileWriter writer(target);
    int error = writer.Open();
    if (error == 0)
        error = writer.Write(jpeg.data(), jpeg.size());
    if (error == 0)
        error = writer.Commit();
    return error;
}

}  // namespace

TCoverOutcome ExportCovers(TIpodMusicDb& music, const TCoverChoice& choice) {
    TCoverOutcome outcome;
    if (!choice.Any())
        return outcome;
    // Album folders exist only under the artist and album naming.
    const bool coverFiles = choice.CoverFiles && music.NamingScheme == 0;
    if (choice.CoverFiles && !coverFiles)
        music.AddLog(
            "Covers: cover.jpg is written only into album folders (artist and album naming)");
    int failures = 0;
    auto fail = [&](const std::string& line) {
        if (++failures <= kMaxCoverLines)
            music.AddLog("Covers: " + line);
    };
    std::unordered_set<std::string> folders;  // album folders seen this run
    std::unordered_set<int> unreadable;
    int cachedCover = -1;
    std::vector<uint8_t> jpeg;
    for (const TTrackItem& track : music.Tracks) {
        if (music.Cancelled)
            break;
        // Only what this run copied as a file; books are folders or archives without covers.
        if (!track.Checked || track.TransferState != 1 || track.DestPath.empty() ||
            track.Cover < 0 || unreadable.count(track.Cover) > 0)
            continue;
        const std::string folder = std::filesystem::path(track.DestPath).parent_path().string();
        const bool wantFile = coverFiles && folders.insert(folder).second &&
                              !PathExists(folder + "/" + kCoverFileName);
        if (!wantFile && !choice.EmbedCovers)
            continue;
        if (track.Cover != cachedCover) {
            jpeg = CoverJpeg(music.Device, music.Artwork, track.Cover);
            cachedCover = track.Cover;
        }
        if (jpeg.empty()) {
            unreadable.insert(track.Cover);
            if (wantFile)
                folders.erase(folder);  // another track of the album may have a readable one
            fail("the cover of " + track.Title + " cannot be read from the device");
            continue;
        }
        if (wantFile) {
            const std::string target = folder + "/" + kCoverFileName;
            if (const int error = WriteCoverFile(target, jpeg); error == 0)
                ++outcome.Files;
            else if (error != EEXIST)
                fail(target + ": " + std::strerror(error));
        }
        if (choice.EmbedCovers) {
            bool embedded = false;
            const std::string why = tags::EmbedCover(track.DestPath, jpeg, embedded);
            if (embedded)
                ++outcome.Embedded;
            else if (!why.empty())
                fail(track.DestPath + ": " + why);
        }
    }
    if (failures > kMaxCoverLines)
        music.AddLog("Covers: " + std::to_string(failures - kMaxCoverLines) + " more failures");
    music.AddLog("Covers: " + std::to_string(outcome.Files) + " cover.jpg files, " +
                 std::to_string(outcome.Embedded) + " copies with an embedded cover");
    return outcome;
}

}  // namespace corvane
