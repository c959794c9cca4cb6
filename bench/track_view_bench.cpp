// The music view's steps on the user-interface thread over a library of 50,000 tracks:
// showing the library (tree and the root's list), selecting the root, sorting by each column,
// ticking all, and a search that finds nothing. Each must stay under 200 ms; every step is
// timed with the layout and painting it causes. Registered with the main of copy_bench.cpp;
// run with --benchmark_filter=TrackView.
#ifdef QT_WIDGETS_LIB

#include <benchmark/benchmark.h>

#include <QApplication>

#include <QTreeView>
#include <QTreeWidget>
#include <memory>
#include <random>
#include <string>
#include "BenchApplication.h"

#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "music/iPodMusic.h"
#include "views/KelMedia.h"
#include "views/TrackListModel.h"

namespace corvane::views {
namespace {

constexpr size_t kTracks = 50000;

using corvane::bench::EnsureApplication;

// A word of mixed letter case, so the name order has to fold a to z.
std::string Word(std::mt19937& random) {
    static const char* kParts[] = {"la", "Mo", "ri", "TE", "son", "Ka", "vel", "dUn", "é"};
    std::string word;
    const int parts = 2 + static_cast<int>(random() % 3);
    for (int i = 0; i < parts; ++i)
        word += kParts[random() % 9];
    return word;
}

// The view over an in-memory library, shown at a desktop size.
struct TBenchView {
    TBenchView() : Device(nullptr, OfflineSessionOptions()), Frame(nullptr, Device) {
        std::mt19937 random(7);
        static const char* kGenres[] = {"Rock", "jazz", "Classical", "Electronic", "Folk"};
        TIpodMusicDb& db = *Frame.MusicDb;
        for (size_t i = 0; i < kTracks; ++i) {
            TTrackItem& track = db.Tracks.Add();
            track.SetReaderDefaults();
            track.Checked = false;
            track.Pid = static_cast<int64_t>(1000 + i);
            track.Title = Word(random) + " " + Word(random);
            track.Artist = Word(random);
            track.Album = Word(random) + " " + std::to_string(i / 12);
            track.Genre = kGenres[random() % 5];
            track.DurationMs = 60000 + random() % 600000;
            track.DurationText = TIpodMusicDb::DurationText(track.DurationMs);
            track.FileSize = 1000000 + random() % 9000000;
            track.SizeText = TIpodDevice::FormatSize(track.FileSize);
            track.Kind = i % 20 == 0 ? mkMovie : mkMusic;
            track.TransferState = static_cast<int32_t>(random() % 4) - 1;
            db.TotalSize += track.FileSize;
            db.Tracks.Check(i);
        }
        TPlayListItem& master = db.PlayLists.Add();
        master.Name = "iPod";
        for (size_t p = 1; p < 50; ++p) {
            TPlayListItem& list = db.PlayLists.Add();
            list.Name = "Playlist " + std::to_string(p);
            for (size_t k = 0; k < 250; ++k)
                list.TrackPids.push_back(1000 + (p * 131 + k * 389) % kTracks);
        }
        Frame.resize(1100, 700);
        Frame.show();
        Settle();
    }

    // Runs what the step queued (the list's layout) and paints the view.
    void Settle() {
        QCoreApplication::processEvents();
        Frame.repaint();
    }
    QTreeWidgetItem* Root() { return Frame.MediaList->topLevelItem(0); }

    TIpodDevice Device;
    TMediaFrame Frame;
};

std::unique_ptr<TBenchView> MakeView() {
    EnsureApplication();
    return std::make_unique<TBenchView>();
}

void BM_TrackViewPopulate(benchmark::State& state) {
    auto view = MakeView();
    for (auto _ : state) {
        benchmark::DoNotOptimize(view->Frame.ShowLibrary());
        view->Settle();
    }
    state.counters["rows"] = view->Frame.MusicModel->rowCount();
}
BENCHMARK(BM_TrackViewPopulate)->Unit(benchmark::kMillisecond);

void BM_TrackViewSelectRoot(benchmark::State& state) {
    auto view = MakeView();
    view->Frame.ShowLibrary();
    QTreeWidgetItem* tones = view->Root()->child(3);
    for (auto _ : state) {
        state.PauseTiming();
        view->Frame.MediaList->setCurrentItem(tones);
        view->Settle();
        state.ResumeTiming();
        view->Frame.MediaList->setCurrentItem(view->Root());
        view->Settle();
    }
    state.counters["rows"] = view->Frame.MusicModel->rowCount();
}
BENCHMARK(BM_TrackViewSelectRoot)->Unit(benchmark::kMillisecond);

// Each iteration is one header click: ascending, then descending, and so on.
void BM_TrackViewSort(benchmark::State& state) {
    auto view = MakeView();
    view->Frame.ShowLibrary();
    const int column = static_cast<int>(state.range(0));
    for (auto _ : state) {
        view->Frame.MusicListHeaderClick(column);
        view->Settle();
    }
    state.SetLabel(view->Frame.MusicModel->headerData(column, Qt::Horizontal, Qt::DisplayRole)
                       .toString()
                       .toStdString());
}
BENCHMARK(BM_TrackViewSort)->DenseRange(tcMark, tcSize)->Unit(benchmark::kMillisecond);

// Sorting while every row is selected: the selection follows its rows.
void BM_TrackViewSortSelected(benchmark::State& state) {
    auto view = MakeView();
    view->Frame.ShowLibrary();
    view->Frame.MusicList->selectAll();
    view->Settle();
    for (auto _ : state) {
        view->Frame.MusicListHeaderClick(tcName);
        view->Settle();
    }
}
BENCHMARK(BM_TrackViewSortSelected)->Unit(benchmark::kMillisecond);

void BM_TrackViewCheckAll(benchmark::State& state) {
    auto view = MakeView();
    view->Frame.ShowLibrary();
    bool checked = false;
    for (auto _ : state) {
        view->Frame.CheckAll(checked);
        view->Settle();
        checked = !checked;
    }
}
BENCHMARK(BM_TrackViewCheckAll)->Unit(benchmark::kMillisecond);

// The longest search: nothing matches, so every track's three texts are looked at.
void BM_TrackViewFindNothing(benchmark::State& state) {
    auto view = MakeView();
    view->Frame.ShowLibrary();
    for (auto _ : state) {
        benchmark::DoNotOptimize(view->Frame.FindText("no such words"));
        view->Settle();
    }
}
BENCHMARK(BM_TrackViewFindNothing)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvane::views

#endif  // QT_WIDGETS_LIB
