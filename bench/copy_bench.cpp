// Copy throughput: CopyDeviceFile against cp on a 512 MiB file (warm and cold), and reading 100 MiB
// through the simulated device's file service against a plain read. Prints the ratios at the end.
#include <benchmark/benchmark.h>
#ifdef QT_WIDGETS_LIB
#include <QApplication>
#endif
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "PageCache.h"
#include "device/DeviceFolder.h"
#include "device/IosHelper.h"
#include "device/SimulatedDevice.h"
#include "device/iPodDev.h"
#include "fixtures/TempDir.h"

extern char** environ;

namespace corvane {
namespace {

constexpr size_t kBigFile = size_t{512} << 20;
constexpr size_t kStreamFile = size_t{100} << 20;

struct TBenchFiles {
    testing::TTempDir Dir;
    std::string Ipod = Dir / "ipod";
    std::string Phone = Dir / "phone";
    std::string Out = Dir / "out";
    TBenchFiles() {
        std::filesystem::create_directories(Ipod + "/iPod_Control/iTunes");
        std::filesystem::create_directories(Phone + "/iTunes_Control/iTunes");
        std::filesystem::create_directories(Out);
        WriteBytes(Ipod + "/big.bin", kBigFile);
        WriteBytes(Phone + "/stream.bin", kStreamFile);
    }
    static void WriteBytes(const std::string& path, size_t size) {
        std::vector<char> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>(i * 7);
        FILE* file = std::fopen(path.c_str(), "wb");
        for (size_t done = 0; done < size; done += block.size()) {
            std::fwrite(block.data(), 1, block.size(), file);
        }
        std::fclose(file);
    }
};

TBenchFiles& Files() {
    static TBenchFiles files;
    return files;
}

void BM_CopyDeviceFile(benchmark::State& state) {
    TIpodDevice device(nullptr, OfflineSessionOptions({Files().Ipod}));
    device.ScanDrives();
    std::string target = Files().Out + "/copy.bin";
    for (auto _ : state) {
        if (device.CopyDeviceFile(":big.bin", target) != 0)
            state.SkipWithError("copy failed");
        state.PauseTiming();
        unlink(target.c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigFile));
}

bool CpOnce(const std::string& source, const std::string& target) {
    const char* argv[] = {"cp", source.c_str(), target.c_str(), nullptr};
    pid_t pid;
    int status = 0;
    return posix_spawnp(&pid, "cp", nullptr, nullptr, const_cast<char**>(argv), environ) == 0 &&
           waitpid(pid, &status, 0) >= 0 && status == 0;
}

void BM_Cp(benchmark::State& state) {
    std::string source = Files().Ipod + "/big.bin";
    std::string target = Files().Out + "/cp.bin";
    for (auto _ : state) {
        if (!CpOnce(source, target))
            state.SkipWithError("cp failed");
        state.PauseTiming();
        unlink(target.c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigFile));
}

// The two above from a cold page cache, in turn.
void BM_CopyDeviceFileVsCpCold(benchmark::State& state) {
    TIpodDevice device(nullptr, OfflineSessionOptions({Files().Ipod}));
    device.ScanDrives();
    const std::string source = Files().Ipod + "/big.bin";
    const std::string ours = Files().Out + "/copy.bin";
    const std::string theirs = Files().Out + "/cp.bin";
    ColdPairs(
        state, [&] { return device.CopyDeviceFile(":big.bin", ours) == 0; },
        [&] { return CpOnce(source, theirs); },
        [&] {
            unlink(ours.c_str());
            unlink(theirs.c_str());
        });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigFile));
}

void BM_SimulatedCopyToStream(benchmark::State& state) {
    TSimulatedDeviceOptions options;
    options.Root = Files().Phone;
    TSimulatedDevice simulated = MakeSimulatedDevice(options);
    TIosHelper service(nullptr, std::move(simulated.Library));
    service.StartNotify();
    simulated.Control->WaitIdle();
    for (auto _ : state) {
        TMemoryStream stream;
        if (!service.CopyToStream("/stream.bin", stream))
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(stream.Data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStreamFile));
}

void BM_PlainRead(benchmark::State& state) {
    std::string path = Files().Phone + "/stream.bin";
    std::vector<uint8_t> buffer(kCopyBufferSize);
    for (auto _ : state) {
        TMemoryStream stream;
        int fd = open(path.c_str(), O_RDONLY);
        ssize_t got;
        while ((got = read(fd, buffer.data(), buffer.size())) > 0) {
            stream.Write(buffer.data(), static_cast<size_t>(got));
        }
        close(fd);
        benchmark::DoNotOptimize(stream.Data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStreamFile));
}

BENCHMARK(BM_CopyDeviceFile)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_Cp)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_CopyDeviceFileVsCpCold)->Unit(benchmark::kMillisecond)->Iterations(7)->UseManualTime();
BENCHMARK(BM_SimulatedCopyToStream)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// Keeps each benchmark's throughput so the ratios can be printed after the table, and the CPU
// time of those repeated for a "min" statistic (the repetition least disturbed by the rest of
// the machine).
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end())
                it = run.counters.find("items_per_second");
            if (it != run.counters.end())
                Throughput[run.benchmark_name()] = it->second.value;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "min")
                FastestCpuTime[run.run_name.str()] = run.GetAdjustedCPUTime();
            if (auto pace = run.counters.find("pace"); pace != run.counters.end())
                Pace[run.run_name.str()] = pace->second.value;
        }
    }
    std::map<std::string, double> Pace;
    std::map<std::string, double> Throughput;
    std::map<std::string, double> FastestCpuTime;
};

// A benchmark's value by its name, which may go on with "/iterations:N", "/repeats:N" and
// the like; 0 when it did not run.
double Lookup(const std::map<std::string, double>& values, const std::string& name) {
    for (const auto& [key, value] : values) {
        if (key == name || key.rfind(name + "/", 0) == 0)
            return value;
    }
    return 0.0;
}

// One line of the summary: at least target (atLeast) or at most target is the aim.
void PrintVerdict(const char* what, double value, double target, bool atLeast, int digits = 2) {
    const bool met = atLeast ? value >= target : value <= target;
    std::printf("%-44s %.*f (target %s %.2f) %s\n", what, digits, value,
                atLeast ? ">=" : "<=", target,
                met ? "ok" : (atLeast ? "BELOW TARGET" : "ABOVE TARGET"));
}

// Ours' throughput over the reference's: at least target.
void PrintRatio(const TRatioReporter& reporter, const char* what, const std::string& ours,
                const std::string& reference, double target) {
    const double a = Lookup(reporter.Throughput, ours), b = Lookup(reporter.Throughput, reference);
    if (a > 0 && b > 0)
        PrintVerdict(what, a / b, target, true);
}

// The pace of ours against the reference from a paired benchmark (ColdPairs): at least target.
void PrintPace(const TRatioReporter& reporter, const char* what, const std::string& name,
               double target) {
    if (const double pace = Lookup(reporter.Pace, name); pace > 0)
        PrintVerdict(what, pace, target, true);
}

// The time ours takes over the reference's, for benchmarks that count the same items: at
// most target is the aim.
void PrintTimeRatio(const TRatioReporter& reporter, const char* what, const std::string& ours,
                    const std::string& reference, double target) {
    const double a = Lookup(reporter.Throughput, ours), b = Lookup(reporter.Throughput, reference);
    if (a > 0 && b > 0)
        PrintVerdict(what, b / a, target, false);
}

// What the work of `with` costs on top of `without`, as the ratio of their fastest CPU times.
void PrintAddedCost(const TRatioReporter& reporter, const char* what, const std::string& with,
                    const std::string& without, double limit) {
    const double more = Lookup(reporter.FastestCpuTime, with);
    const double base = Lookup(reporter.FastestCpuTime, without);
    if (more > 0 && base > 0)
        PrintVerdict(what, more / base, limit, false, 3);
}

}  // namespace
}  // namespace corvane

int main(int argc, char** argv) {
#ifdef QT_WIDGETS_LIB
    // The benchmarks of the desktop program's views need the one application of the process;
    // it lives in main's scope so that it goes before any static of Qt's own does.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    corvane::TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    corvane::PrintRatio(reporter, "CopyDeviceFile / cp (512 MiB):", "BM_CopyDeviceFile", "BM_Cp",
                        0.9);
    corvane::PrintPace(reporter,
                       "CopyDeviceFile / cp (512 MiB), cold:", "BM_CopyDeviceFileVsCpCold", 0.9);
    corvane::PrintRatio(reporter, "simulated CopyToStream / plain read (100 MiB):",
                        "BM_SimulatedCopyToStream", "BM_PlainRead", 0.8);
    corvane::PrintRatio(reporter, "Export / cp -r (2 GiB of tracks):", "BM_TrackExport",
                        "BM_CpTracks", 0.9);
    corvane::PrintPace(reporter,
                       "Export / cp -r (2 GiB of tracks), cold:", "BM_TrackExportVsCpCold", 0.9);
    // Photo export of the video formats: decoding alone, then decoding and encoding as the
    // export does, each over libjpeg-turbo encoding the same pictures from RGB.
    corvane::PrintTimeRatio(reporter,
                            "uYUV decode / JPEG encode (400 pictures):", "BM_DecodeOnly400/1019",
                            "BM_EncodeOnly400/1019", 0.25);
    corvane::PrintTimeRatio(reporter,
                            "I420 decode / JPEG encode (400 pictures):", "BM_DecodeOnly400/1067",
                            "BM_EncodeOnly400/1067", 0.25);
    corvane::PrintTimeRatio(reporter,
                            "uYUV decode + encode / JPEG encode:", "BM_DecodeEncode400/1019",
                            "BM_EncodeOnly400/1019", 1.25);
    corvane::PrintTimeRatio(reporter,
                            "I420 decode + encode / JPEG encode:", "BM_DecodeEncode400/1067",
                            "BM_EncodeOnly400/1067", 1.25);
    // The device's own records beside iTunesDB, on a library of 50,000 tracks.
    const std::string load = "BM_SinceLastSyncLoad/";
    corvane::PrintAddedCost(reporter,
                            "merge + artwork index / plain load:", load + "play_counts_and_artwork",
                            load + "itunesdb_only", 1.10);
    corvane::PrintAddedCost(reporter, "Play Counts + On-The-Go / plain load:",
                            load + "play_counts_and_on_the_go", load + "itunesdb_only", 1.10);
    corvane::PrintAddedCost(reporter, "ArtworkDB index / plain load:", load + "artwork",
                            load + "itunesdb_only", 1.10);
    benchmark::Shutdown();
    return 0;
}
