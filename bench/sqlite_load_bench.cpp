// Reading speed and memory of the SQLite music readers on generated libraries of 50,000 and
// 100,000 tracks with 200 playlists: MediaLibrary.sqlitedb, and the itlp trio read in the
// loader's order. Time and peak memory must grow linearly. Registered with the main of
// copy_bench.cpp; run with --benchmark_filter=Sqlite.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/SqliteBuilder.h"
#include "fixtures/TempDir.h"
#include "music/iPodMusic.h"

namespace corvane {
namespace {

constexpr size_t kPlaylists = 200;
constexpr size_t kEntriesPerPlaylist = 250;

const char* const kGenres[] = {"Rock", "Jazz", "Classical", "Electronic", "Folk"};

// Entry k of playlist p: spread over the whole library.
int64_t EntryPid(size_t p, size_t k, size_t tracks) {
    return static_cast<int64_t>(1000 + (p * 131 + k * 389) % tracks);
}

std::string TrackFile(size_t i) {
    return "TRK" + std::to_string(i) + (i % 20 == 0 ? ".m4v" : ".mp3");
}

std::string MusicFolder(size_t i) {
    char name[8];
    std::snprintf(name, sizeof name, "F%02zu", i % 50);
    return name;
}

testing::TMediaLibraryBuilder MediaLibrary(size_t tracks) {
    testing::TMediaLibraryBuilder library;
    std::vector<int64_t> all;
    for (size_t i = 0; i < tracks; ++i) {
        auto pid = static_cast<int64_t>(1000 + i);
        all.push_back(pid);
        testing::TMediaTrack& track = library.AddTrack(
            testing::MediaTrack(pid, "Track title number " + std::to_string(i), TrackFile(i),
                                "iTunes_Control/Music/" + MusicFolder(i)));
        track.Album = "Album " + std::to_string(i / 12);
        track.Artist = "Artist " + std::to_string(i / 60);
        track.Genre = kGenres[i % 5];
        track.FileSize = static_cast<int64_t>(3000000 + (i * 7919) % 6000000);
        track.DurationMs = static_cast<double>(150000 + (i * 104729) % 200000);
        track.Rating = static_cast<int64_t>((i % 6) * 20);
        track.PlayCount = static_cast<int64_t>(i % 97);
    }
    library.AddPlaylist(testing::MediaPlaylist(1, "iPhone", all)).IsHidden = true;
    library.SetPrimaryContainer(1);
    for (size_t p = 1; p < kPlaylists; ++p) {
        std::vector<int64_t> entries;
        for (size_t k = 0; k < kEntriesPerPlaylist; ++k)
            entries.push_back(EntryPid(p, k, tracks));
        testing::TMediaPlaylist& playlist = library.AddPlaylist(testing::MediaPlaylist(
            static_cast<int64_t>(1 + p), "Playlist " + std::to_string(p), std::move(entries)));
        playlist.SmartDynamic = p % 10 == 0;
    }
    return library;
}

testing::TItdbBuilder ItdbLibrary(size_t tracks) {
    testing::TItdbBuilder trio;
    std::vector<int64_t> all;
    for (size_t i = 0; i < tracks; ++i) {
        auto pid = static_cast<int64_t>(1000 + i);
        all.push_back(pid);
        testing::TItdbTrack& track = trio.AddTrack(testing::ItdbTrack(
            pid, "Track title number " + std::to_string(i), MusicFolder(i) + "/" + TrackFile(i)));
        track.Album = "Album " + std::to_string(i / 12);
        track.Artist = "Artist " + std::to_string(i / 60);
        track.Genre = kGenres[i % 5];
        track.FileSize = static_cast<int64_t>(3000000 + (i * 7919) % 6000000);
        track.DurationMs = static_cast<double>(150000 + (i * 104729) % 200000);
        track.Rating = static_cast<int64_t>((i % 6) * 20);
        track.PlayCount = static_cast<int64_t>(i % 97);
    }
    trio.AddPlaylist(testing::ItdbPlaylist(1, "iPod", all));
    trio.SetPrimaryContainer(1);
    for (size_t p = 1; p < kPlaylists; ++p) {
        std::vector<int64_t> entries;
        for (size_t k = 0; k < kEntriesPerPlaylist; ++k)
            entries.push_back(EntryPid(p, k, tracks));
        trio.AddPlaylist(testing::ItdbPlaylist(static_cast<int64_t>(1 + p),
                                               "Playlist " + std::to_string(p), std::move(entries)))
            .MediaKinds = p % 10 == 0 ? 0 : 1;
    }
    return trio;
}

// The generated databases, made once per size and kept for the run.
struct TFiles {
    testing::TTempDir Dir;
    std::map<size_t, std::string> Media;
    std::map<size_t, std::string> Itlp;
};

TFiles& Files() {
    static TFiles files;
    return files;
}

const std::string& MediaLibraryFile(size_t tracks) {
    auto& media = Files().Media;
    auto it = media.find(tracks);
    if (it == media.end()) {
        std::string path = Files().Dir / ("MediaLibrary-" + std::to_string(tracks) + ".sqlitedb");
        MediaLibrary(tracks).Write(path, testing::TMediaLibraryEra::Ios8);
        it = media.emplace(tracks, path).first;
    }
    return it->second;
}

const std::string& ItlpFolder(size_t tracks) {
    auto& itlp = Files().Itlp;
    auto it = itlp.find(tracks);
    if (it == itlp.end()) {
        std::string folder = Files().Dir / ("itlp-" + std::to_string(tracks));
        ItdbLibrary(tracks).Write(folder, testing::TItdbEra::Ios4);
        it = itlp.emplace(tracks, folder).first;
    }
    return it->second;
}

TIpodDevice& Device() {
    static TIpodDevice device(nullptr, OfflineSessionOptions());
    return device;
}

double HeapInUseMiB() {
    struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd) / (1 << 20);
}

// The kernel's high-water mark of resident memory, reset before each read so that it gives
// the peak of that read alone.
long StatusKiB(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(key + ":"))
            return std::stol(line.substr(key.size() + 1));
    }
    return 0;
}

struct TPeakMeter {
    long Base = 0;
    void Start() {
        malloc_trim(0);  // memory freed before must not hide in the base
        std::ofstream("/proc/self/clear_refs") << "5";
        Base = StatusKiB("VmRSS");
    }
    double PeakMiB() const { return static_cast<double>(StatusKiB("VmHWM") - Base) / 1024; }
};

template <typename TRead>
void RunRead(benchmark::State& state, size_t expectedPlaylists, TRead read) {
    const size_t tracks = static_cast<size_t>(state.range(0));
    double modelMiB = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto db = std::make_unique<TIpodMusicDb>(Device());
        double before = HeapInUseMiB();
        state.ResumeTiming();

        read(*db);

        state.PauseTiming();
        modelMiB = HeapInUseMiB() - before;
        if (static_cast<size_t>(db->Tracks.Count()) != tracks ||
            static_cast<size_t>(db->PlayLists.Count()) != expectedPlaylists ||
            db->Tracks.CheckedCount != static_cast<int32_t>(tracks)) {
            state.SkipWithError("the library was not read whole");
        }
        db.reset();
        state.ResumeTiming();
    }
    // The peak of one more read, outside the timing: returning freed memory first, which
    // would slow the timed reads, keeps it from hiding in the base.
    TPeakMeter meter;
    meter.Start();
    {
        TIpodMusicDb db(Device());
        read(db);
    }
    state.SetComplexityN(state.range(0));
    state.counters["tracks_per_second"] = benchmark::Counter(
        static_cast<double>(tracks), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["model_MiB"] = modelMiB;
    state.counters["peak_MiB"] = meter.PeakMiB();
}

void BM_SqliteMediaLibraryRead(benchmark::State& state) {
    const std::string& path = MediaLibraryFile(static_cast<size_t>(state.range(0)));
    RunRead(state, kPlaylists, [&](TIpodMusicDb& db) { db.ReadMediaLibrary(path); });
}

void BM_SqliteItdbTrioRead(benchmark::State& state) {
    const std::string& folder = ItlpFolder(static_cast<size_t>(state.range(0)));
    RunRead(state, kPlaylists, [&](TIpodMusicDb& db) {
        db.ReadItdbLibrary(folder + "/Library.itdb");
        db.ReadItdbLocations(folder + "/Locations.itdb");
        db.ReadItdbStats(folder + "/Dynamic.itdb");
    });
}

BENCHMARK(BM_SqliteMediaLibraryRead)
    ->Arg(50000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_SqliteItdbTrioRead)
    ->Arg(50000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
}  // namespace corvane
