// Export of N tracks of one title whose files differ in size from what the database says, so
// that every track needs a numbered name ("Tide1.mp3", "Tide2.mp3", ...): the time per track
// must stay flat from 1,000 to 8,000 tracks (the fitted complexity is printed as O(N)).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/TempDir.h"
#include "music/iPodMusic.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

struct TSameTitleLibrary {
    testing::TTempDir Dir;
    std::string Ipod = Dir / "ipod";
    std::unique_ptr<TIpodDevice> Device;
    std::unique_ptr<TIpodMusicDb> Music;

    explicit TSameTitleLibrary(int count) {
        testing::WriteFile(Ipod + "/iPod_Control/Music/F00/TIDE.mp3", "sixteen bytes!!\n");
        testing::TITunesDbBuilder db;
        for (int i = 0; i < count; ++i) {
            testing::TITunesDbTrack track;
            track.Id = static_cast<uint32_t>(i + 1);
            track.Title = "Tide";
            track.Artist = "Harbour";
            track.Album = "Charts";
            track.Location = ":iPod_Control:Music:F00:TIDE.mp3";
            track.Size = 999;  // not the file's 16 bytes: no copy counts as already there
            db.AddTrack(track);
        }
        testing::WriteFile(Ipod + "/iPod_Control/iTunes/iTunesDB", db.Build());
        Device = std::make_unique<TIpodDevice>(nullptr, OfflineSessionOptions({Ipod}));
        Device->ScanDrives();
        Music = std::make_unique<TIpodMusicDb>(*Device);
        Music->Load(true);
        Music->NamingScheme = 0;
    }
};

void BM_SameTitleExport(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    TSameTitleLibrary library(count);
    if (library.Music->Tracks.Count() != count) {
        state.SkipWithError("the library did not load");
        return;
    }
    const std::string target = library.Dir / "out";
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(target);
        fs::create_directories(target);
        library.Music->DestFolder = target + "/";
        state.ResumeTiming();
        if (library.Music->Export() != count)
            state.SkipWithError("export failed");
    }
    state.SetComplexityN(count);
    state.counters["tracks_per_s"] = benchmark::Counter(
        static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_SameTitleExport)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Arg(8000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime()
    ->Complexity(benchmark::oN);

}  // namespace
}  // namespace corvane
