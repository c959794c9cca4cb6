// What album art adds to loading a library: the same 50,000-track disk-mode iPod (albums of 12
// tracks, each album's tracks linked to one cover) loaded without and with its ArtworkDB of
// about 4,200 covers in two formats. The index should add at most a tenth to the load. Registered
// with the main of copy_bench.cpp; run with --benchmark_filter=LibraryLoad.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "device/iPodDev.h"
#include "fixtures/ArtworkDbFiles.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/TempDir.h"
#include "music/iPodMusic.h"

namespace corvane {
namespace {

using namespace testing;

constexpr size_t kTracks = 50000;
constexpr size_t kTracksPerAlbum = 12;

struct TIpodFolder {
    TTempDir Root;
    std::unique_ptr<TIpodDevice> Device;
    size_t ArtworkBytes = 0;
};

// The library of both folders, the ArtworkDB only in the second.
TIpodFolder& Folder(bool withArtwork) {
    static std::unique_ptr<TIpodFolder> folders[2];
    std::unique_ptr<TIpodFolder>& folder = folders[withArtwork ? 1 : 0];
    if (folder)
        return *folder;
    folder = std::make_unique<TIpodFolder>();
    TITunesDbBuilder db;
    std::vector<TCoverSpec> covers;
    for (size_t i = 0; i < kTracks; ++i) {
        const size_t album = i / kTracksPerAlbum;
        const std::string n = std::to_string(i);
        TITunesDbTrack track{
            .Id = static_cast<uint32_t>(1000 + i),
            .Title = "Track title number " + n,
            .Location = ":iPod_Control:Music:F" + std::to_string(i % 50) + ":TRK" + n + ".mp3",
            .Album = "Album " + std::to_string(album),
            .Artist = "Artist " + std::to_string(i / 60),
            .Size = 4000000};
        track.Dbid = 0x1000000000ull + i;
        track.ArtworkLink = static_cast<uint32_t>(100 + album);
        db.AddTrack(track);
        if (i % kTracksPerAlbum == 0)
            covers.push_back({.ImageId = static_cast<uint32_t>(100 + album), .SongId = track.Dbid});
    }
    db.AddPlaylist({.Name = "iPod", .IsMaster = true, .TrackIds = db.AllTrackIds()});
    WriteFile(folder->Root / "iPod_Control/iTunes/iTunesDB", db.Build());
    if (withArtwork) {
        const std::string artwork = BuildArtworkDb(covers);
        WriteFile(folder->Root / "iPod_Control/Artwork/ArtworkDB", artwork);
        folder->ArtworkBytes = artwork.size();
    }
    folder->Device = DiskDevice(folder->Root.Path());
    return *folder;
}

void BM_LibraryLoad(benchmark::State& state, bool withArtwork) {
    TIpodFolder& folder = Folder(withArtwork);
    for (auto _ : state) {
        TIpodMusicDb music(*folder.Device);
        const bool ok = music.Load(true);
        const bool linked =
            !withArtwork ||
            (music.Tracks.Count() > 0 && music.Tracks.Items(music.Tracks.Count() - 1).Cover >= 0);
        if (!ok || music.Tracks.Count() != static_cast<int>(kTracks) || !linked)
            state.SkipWithError("the library or its covers were not read whole");
        benchmark::DoNotOptimize(music.Tracks.Count());
    }
    state.counters["tracks_per_second"] = benchmark::Counter(
        static_cast<double>(kTracks), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["artworkdb_KiB"] = static_cast<double>(folder.ArtworkBytes) / 1024;
}

BENCHMARK_CAPTURE(BM_LibraryLoad, without_artwork, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LibraryLoad, with_artwork, true)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvane
