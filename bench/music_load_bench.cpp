// iTunesDB reading speed and memory on generated libraries of 50,000 and 100,000 tracks with 200
// playlists, plain and compressed. The reader should pass a million tracks a second and grow
// linearly. Registered with the main of copy_bench.cpp; run with --benchmark_filter=ITunesDb.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <map>
#include <memory>
#include <string>
#include <utility>

#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/ITunesDbBuilder.h"
#include "music/iPodMusic.h"

namespace corvane {
namespace {

using testing::TITunesDbBuilder;
using testing::TITunesDbPlaylist;

constexpr size_t kPlaylists = 200;
constexpr size_t kEntriesPerPlaylist = 250;

// A library shaped like a large real one: artists with several albums, long colon locations,
// a master playlist holding everything and 199 more of a few hundred entries each.
TITunesDbBuilder MakeLibrary(size_t tracks) {
    static const char* kGenres[] = {"Rock", "Jazz", "Classical", "Electronic", "Folk"};
    TITunesDbBuilder db;
    for (size_t i = 0; i < tracks; ++i) {
        std::string n = std::to_string(i);
        db.AddTrack({.Id = static_cast<uint32_t>(1000 + i),
                     .Title = "Track title number " + n,
                     .Location = ":iPod_Control:Music:F" + std::to_string(i % 50) + ":TRK" + n +
                                 (i % 20 == 0 ? ".m4v" : ".mp3"),
                     .Album = "Album " + std::to_string(i / 12),
                     .Artist = "Artist " + std::to_string(i / 60),
                     .Genre = kGenres[i % 5],
                     .Size = static_cast<uint32_t>(3000000 + (i * 7919) % 6000000),
                     .DurationMs = static_cast<uint32_t>(150000 + (i * 104729) % 200000),
                     .Rating = static_cast<uint8_t>((i % 6) * 20),
                     .PlayCount = static_cast<uint32_t>(i % 97)});
    }
    db.AddPlaylist({.Name = "iPod", .IsMaster = true, .TrackIds = db.AllTrackIds()});
    for (size_t p = 1; p < kPlaylists; ++p) {
        TITunesDbPlaylist playlist{.Name = "Playlist " + std::to_string(p), .IsSmart = p % 10 == 0};
        for (size_t k = 0; k < kEntriesPerPlaylist; ++k) {
            playlist.TrackIds.push_back(static_cast<uint32_t>(1000 + (p * 131 + k * 389) % tracks));
        }
        db.AddPlaylist(std::move(playlist));
    }
    return db;
}

const std::string& Library(size_t tracks, bool compressed) {
    static std::map<std::pair<size_t, bool>, std::string> cache;
    auto key = std::make_pair(tracks, compressed);
    auto it = cache.find(key);
    if (it == cache.end()) {
        TITunesDbBuilder db = MakeLibrary(tracks);
        it = cache.emplace(key, compressed ? db.BuildCompressed() : db.Build()).first;
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

double PeakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024;  // ru_maxrss is in KiB
}

void BM_ITunesDbRead(benchmark::State& state, bool compressed) {
    const size_t tracks = static_cast<size_t>(state.range(0));
    const std::string& bytes = Library(tracks, compressed);
    double modelMiB = 0;
    for (auto _ : state) {
        state.PauseTiming();
        double before = HeapInUseMiB();
        auto db = std::make_unique<TIpodMusicDb>(Device());
        TMemoryStream stream;
        stream.Write(bytes.data(), bytes.size());
        state.ResumeTiming();

        bool ok = db->ReadITunesBytes(stream, compressed);

        state.PauseTiming();
        if (!ok || static_cast<size_t>(db->Tracks.Count()) != tracks ||
            db->PlayLists.Count() != kPlaylists) {
            state.SkipWithError("the library was not read whole");
        }
        // What the model holds once the read is done, the database bytes not counted.
        stream = TMemoryStream();
        modelMiB = HeapInUseMiB() - before;
        db.reset();
        state.ResumeTiming();
    }
    state.SetComplexityN(state.range(0));
    state.counters["tracks_per_second"] = benchmark::Counter(
        static_cast<double>(tracks), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["db_MiB"] = static_cast<double>(bytes.size()) / (1 << 20);
    state.counters["model_MiB"] = modelMiB;
    state.counters["peak_rss_MiB"] = PeakRssMiB();
}

BENCHMARK_CAPTURE(BM_ITunesDbRead, plain, false)
    ->Arg(50000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK_CAPTURE(BM_ITunesDbRead, compressed, true)
    ->Arg(50000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
}  // namespace corvane
