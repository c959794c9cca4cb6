// What the device's own records add to loading a library of 50,000 tracks from a disk-mode
// iPod: Load with iTunesDB alone; with a Play Counts entry for every track and an On-The-Go
// list; with an ArtworkDB (a cover per album of 12 tracks); with both; and with PlayCounts.plist
// instead. The additions should stay within 10 % of the plain load: the main of copy_bench.cpp
// prints the ratios of the fastest of several repetitions, which other work on the machine
// disturbs least. Run with --benchmark_filter=SinceLastSync.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/ArtworkDbFiles.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/IpodExtrasBuilder.h"
#include "fixtures/TempDir.h"
#include "music/iPodMusic.h"

namespace corvane {
namespace {

using namespace testing;

constexpr size_t kTracks = 50000;

enum TExtras { kNone, kPlayCounts, kPlist, kArtwork, kPlayCountsAndArtwork };

// One iPod folder per variant, written once.
const std::string& IpodFolder(TExtras extras) {
    static TTempDir dir;
    static std::map<TExtras, std::string> folders;
    if (auto found = folders.find(extras); found != folders.end())
        return found->second;
    const std::string root = dir / std::to_string(extras);
    TITunesDbBuilder db;
    std::vector<TPlayCountEntry> counts;
    std::vector<TPlayCountsPlistEntry> plist;
    std::vector<uint32_t> onTheGo;
    std::vector<TCoverSpec> covers;
    for (size_t i = 0; i < kTracks; ++i) {
        const std::string n = std::to_string(i);
        db.AddTrack(
            {.Id = static_cast<uint32_t>(1000 + i),
             .Title = "Track title number " + n,
             .Location = ":iPod_Control:Music:F" + std::to_string(i % 50) + ":TRK" + n + ".mp3",
             .Album = "Album " + std::to_string(i / 12),
             .Artist = "Artist " + std::to_string(i / 60),
             .Genre = "Rock",
             .Size = static_cast<uint32_t>(3000000 + (i * 7919) % 6000000),
             .DurationMs = static_cast<uint32_t>(150000 + (i * 104729) % 200000),
             .Rating = static_cast<uint8_t>((i % 6) * 20),
             .PlayCount = static_cast<uint32_t>(i % 97),
             .Dbid = 0x1000000 + i,
             .ArtworkLink = static_cast<uint32_t>(100 + i / 12)});
        if (i % 12 == 0)
            covers.push_back(
                {.ImageId = static_cast<uint32_t>(100 + i / 12), .SongId = 0x1000000 + i});
        const TPlayCountEntry entry{.Plays = static_cast<uint32_t>(i % 3),
                                    .LastPlayedMac = i % 3 ? MacTime(1700000000 + i) : 0,
                                    .Rating = static_cast<uint32_t>((i % 5) * 20),
                                    .Skips = static_cast<uint32_t>(i % 2)};
        counts.push_back(entry);
        plist.push_back({.PersistentId = static_cast<int64_t>(0x1000000 + i),
                         .Counts = entry,
                         .UserRating = static_cast<int>(entry.Rating)});
        if (i % 500 == 0)
            onTheGo.push_back(static_cast<uint32_t>(i));
    }
    db.AddPlaylist({.Name = "iPod", .IsMaster = true, .TrackIds = db.AllTrackIds()});
    WriteFile(root + "/iPod_Control/iTunes/iTunesDB", db.Build());
    if (extras == kPlayCounts || extras == kPlayCountsAndArtwork) {
        WriteFile(root + "/iPod_Control/iTunes/Play Counts", PlayCountsFile(counts, 0x1c));
        WriteFile(root + "/iPod_Control/iTunes/OTGPlaylistInfo", OnTheGoFile(onTheGo));
    }
    if (extras == kArtwork || extras == kPlayCountsAndArtwork)
        WriteFile(root + "/iPod_Control/Artwork/ArtworkDB", BuildArtworkDb(covers));
    if (extras == kPlist)
        WriteFile(root + "/iPod_Control/iTunes/PlayCounts.plist", PlayCountsPlist(plist));
    return folders.emplace(extras, root).first->second;
}

void BM_SinceLastSyncLoad(benchmark::State& state, TExtras extras) {
    const std::string& root = IpodFolder(extras);
    TIpodDevice device(nullptr, OfflineSessionOptions({root}));
    if (!device.ScanDrives()) {
        state.SkipWithError("the iPod folder is not found");
        return;
    }
    for (auto _ : state) {
        TIpodMusicDb music(device);
        const bool ok = music.Load(true);
        if (!ok || music.Tracks.Count() != static_cast<int>(kTracks))
            state.SkipWithError("the library was not read whole");
        if ((extras == kArtwork || extras == kPlayCountsAndArtwork) &&
            music.Tracks.Items(kTracks - 1).Cover < 0)
            state.SkipWithError("the covers were not linked");
        benchmark::DoNotOptimize(music.Tracks.Items(0).PlayCount);
    }
    state.counters["tracks_per_second"] = benchmark::Counter(
        static_cast<double>(kTracks), benchmark::Counter::kIsIterationInvariantRate);
}

double Fastest(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

// The cases compared with each other: many short repetitions, reported by their mean, median
// and fastest one; the fastest is the one the rest of the machine disturbed least.
void Repeated(benchmark::internal::Benchmark* bench) {
    bench->Unit(benchmark::kMillisecond)
        ->Iterations(2)
        ->Repetitions(25)
        ->ComputeStatistics("min", Fastest)
        ->DisplayAggregatesOnly(true);
}

BENCHMARK_CAPTURE(BM_SinceLastSyncLoad, itunesdb_only, kNone)->Apply(Repeated);
BENCHMARK_CAPTURE(BM_SinceLastSyncLoad, play_counts_and_on_the_go, kPlayCounts)->Apply(Repeated);
BENCHMARK_CAPTURE(BM_SinceLastSyncLoad, artwork, kArtwork)->Apply(Repeated);
BENCHMARK_CAPTURE(BM_SinceLastSyncLoad, play_counts_and_artwork, kPlayCountsAndArtwork)
    ->Apply(Repeated);
BENCHMARK_CAPTURE(BM_SinceLastSyncLoad, play_counts_plist, kPlist)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvane
