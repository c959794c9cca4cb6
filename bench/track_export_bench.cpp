// Export throughput: TIpodMusicDb::Export of 2 GiB of tracks (256 files of 8 MiB) from a
// disk-mode iPod folder against `cp -r` of the same files, warm and cold. The ratios are printed
// by the main in copy_bench.cpp.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "PageCache.h"
#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/TempDir.h"
#include "music/iPodMusic.h"

extern char** environ;

namespace corvane {
namespace {

constexpr size_t kTrackCount = 256;
constexpr size_t kTrackSize = size_t{8} << 20;
constexpr size_t kTotal = kTrackCount * kTrackSize;

struct TExportFiles {
    testing::TTempDir Dir;
    std::string Ipod = Dir / "ipod";
    std::string Out = Dir / "out";
    std::unique_ptr<TIpodDevice> Device;
    std::unique_ptr<TIpodMusicDb> Music;

    TExportFiles() {
        namespace fs = std::filesystem;
        fs::create_directories(Ipod + "/iPod_Control/iTunes");
        fs::create_directories(Out);
        std::vector<char> block(kTrackSize);
        testing::TITunesDbBuilder db;
        for (size_t i = 0; i < kTrackCount; ++i) {
            char folder[16];
            char name[32];
            std::snprintf(folder, sizeof folder, "F%02zu", 10 + i % 20);
            std::snprintf(name, sizeof name, "T%04zu.mp3", 1000 + i);
            fs::create_directories(Ipod + "/iPod_Control/Music/" + std::string(folder));
            for (size_t b = 0; b < block.size(); ++b)
                block[b] = static_cast<char>(b * 7 + i);
            FILE* file =
                std::fopen((Ipod + "/iPod_Control/Music/" + folder + "/" + name).c_str(), "wb");
            if (file) {
                std::fwrite(block.data(), 1, block.size(), file);
                std::fclose(file);
            }
            testing::TITunesDbTrack track;
            track.Id = static_cast<uint32_t>(i + 1);
            track.Title = "Track " + std::to_string(i);
            track.Artist = "Artist " + std::to_string(i % 16);
            track.Album = "Album " + std::to_string(i % 32);
            track.Location = std::string(":iPod_Control:Music:") + folder + ":" + name;
            track.Size = static_cast<uint32_t>(kTrackSize);
            db.AddTrack(track);
        }
        std::string bytes = db.Build();
        if (FILE* file = std::fopen((Ipod + "/iPod_Control/iTunes/iTunesDB").c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), file);
            std::fclose(file);
        }
        // Written back before timing starts: 2 GiB of dirty pages would slow whatever runs
        // first.
        sync();
        Device = std::make_unique<TIpodDevice>(nullptr, OfflineSessionOptions({Ipod}));
        Device->ScanDrives();
        Music = std::make_unique<TIpodMusicDb>(*Device);
        Music->Load(true);
    }
};

TExportFiles& Files() {
    static TExportFiles files;
    return files;
}

bool ExportOnce(TIpodMusicDb& music, const std::string& target) {
    music.DestFolder = target + "/";
    std::filesystem::create_directories(target);
    return music.Export() == static_cast<int>(kTrackCount);
}

bool CpOnce(const std::string& source, const std::string& target) {
    const char* argv[] = {"cp", "-r", source.c_str(), target.c_str(), nullptr};
    pid_t pid;
    int status = 0;
    return posix_spawnp(&pid, "cp", nullptr, nullptr, const_cast<char**>(argv), environ) == 0 &&
           waitpid(pid, &status, 0) >= 0 && status == 0;
}

// Each side runs once untimed first: whichever ran first in a process was up to twice as slow,
// from the page cache and the file system settling, not from the copy.
void BM_TrackExport(benchmark::State& state) {
    TIpodMusicDb& music = *Files().Music;
    if (music.Tracks.Count() != kTrackCount) {
        state.SkipWithError("the demo library did not load");
        return;
    }
    music.NamingScheme = 0;  // artist and album folders, as most users choose
    std::string target = Files().Out + "/export";
    ExportOnce(music, target);
    std::filesystem::remove_all(target);
    for (auto _ : state) {
        if (!ExportOnce(music, target))
            state.SkipWithError("export failed");
        state.PauseTiming();
        std::filesystem::remove_all(target);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

void BM_CpTracks(benchmark::State& state) {
    std::string source = Files().Ipod + "/iPod_Control/Music";
    std::string target = Files().Out + "/cp";
    CpOnce(source, target);
    std::filesystem::remove_all(target);
    for (auto _ : state) {
        if (!CpOnce(source, target))
            state.SkipWithError("cp failed");
        state.PauseTiming();
        std::filesystem::remove_all(target);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

// The same two from a cold page cache, in turn, so both read the tracks from the disk.
void BM_TrackExportVsCpCold(benchmark::State& state) {
    TIpodMusicDb& music = *Files().Music;
    if (music.Tracks.Count() != kTrackCount) {
        state.SkipWithError("the demo library did not load");
        return;
    }
    music.NamingScheme = 0;
    const std::string source = Files().Ipod + "/iPod_Control/Music";
    const std::string ours = Files().Out + "/export";
    const std::string theirs = Files().Out + "/cp";
    ColdPairs(
        state, [&] { return ExportOnce(music, ours); }, [&] { return CpOnce(source, theirs); },
        [&] {
            std::filesystem::remove_all(ours);
            std::filesystem::remove_all(theirs);
        });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

BENCHMARK(BM_TrackExport)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_CpTracks)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_TrackExportVsCpCold)->Unit(benchmark::kMillisecond)->Iterations(7)->UseManualTime();

}  // namespace
}  // namespace corvane
