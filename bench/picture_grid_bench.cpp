// The photo view with 20,000 photos: the user-interface steps that must each stay under 200 ms
// (showing the whole library or a camera roll of 20,000 files in the grid, painting the visible
// cells while the loader rewrites previews, one preview report), and the preview loading rate of
// the real loader on both demo devices. Each UI step reports its slowest run as max_ms and ok = 1
// when that is under the limit. Registered with the main of copy_bench.cpp; run with
// --benchmark_filter=PictureGrid.
#include <benchmark/benchmark.h>

#include <QApplication>

#include <QElapsedTimer>
#include <QScrollBar>
#include <QTreeWidget>
#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include "BenchApplication.h"

#include "device/iPodDev.h"
#include "fixtures/DemoDevice.h"
#include "fixtures/DemoPhotos.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/IthmbBuilder.h"
#include "fixtures/PhotoDbBuilder.h"
#include "fixtures/TempDir.h"
#include "gui/UiDispatcher.h"
#include "photo/ThumbnailLoader.h"
#include "photo/iPodPhoto.h"
#include "views/KelPicture.h"
#include "views/PictureGridView.h"
#include "views/PictureListModel.h"

namespace corvane {
namespace {

constexpr int kPhotos = 20000;
constexpr double kLimitMs = 200;
// Disk-mode previews: 130 x 88 records shown in 119 x 88 cells.
constexpr int kRecordWidth = 130;
constexpr int kRecordHeight = 88;
// Rows given a preview: around the two places painted (a whole library of previews would
// take 700 MB and change nothing on screen).
constexpr int kPreviewRows = 600;
constexpr int kMiddleRow = kPhotos / 2;

using corvane::bench::EnsureApplication;

// A photo view over a library of 20,000 photos made in memory (album 0 holds them all), shown
// at a common window size.
struct TLargeView {
    testing::TTempDir Root;
    std::unique_ptr<TIpodDevice> Device = testing::DiskDevice(Root.Path());
    std::unique_ptr<views::TPicFrame> Frame;
    std::vector<TBitmap> Scenes;

    TLargeView() {
        EnsureApplication();
        Frame = std::make_unique<views::TPicFrame>(nullptr, *Device);
        TIpodPhotoDb& db = *Frame->PhotoDb();
        db.Photos.ThumbWidth = 119;
        db.Photos.ThumbHeight = 88;
        for (int s = 0; s < 8; ++s)
            Scenes.push_back(testing::DemoScene(s, kRecordWidth, kRecordHeight));
        TPhotoAlbumItem& all = db.Albums.Add();
        all.Name = "Photo Library";
        for (int i = 0; i < kPhotos; ++i) {
            TPhotoItem& photo = db.Photos.Add();
            photo.ImageId = static_cast<uint32_t>(100 + i);
            photo.Name = std::to_string(photo.ImageId);
            photo.Checked = true;
            all.Members.push_back(i);
        }
        all.Count = kPhotos;
        db.Photos.CheckedCount = kPhotos;
        for (int i = 0; i < kPreviewRows / 2; ++i) {
            db.Photos.Items(i).Thumb = Scenes[i % 8];
            db.Photos.Items(kMiddleRow + i).Thumb = Scenes[(i + 3) % 8];
        }
        Frame->PictureList->SetThumbSize(QSize(119, 88));
        Frame->resize(1280, 800);
        Frame->show();
        Flush();
    }
    ~TLargeView() {
        Frame.reset();
        Flush();
    }
    void ShowRoot() { Frame->ShowNode(Frame->PicList->topLevelItem(0)); }
    static void Flush() {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
};

// Records the slowest run of a step in milliseconds.
class TStepTimer {
public:
    double Run(const std::function<void()>& step) {
        QElapsedTimer timer;
        timer.start();
        step();
        const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        FMaxMs = std::max(FMaxMs, ms);
        return ms / 1000;
    }
    void Report(benchmark::State& state) const {
        state.counters["max_ms"] = FMaxMs;
        state.counters["ok"] = FMaxMs < kLimitMs ? 1 : 0;
    }

private:
    double FMaxMs = 0;
};

// FillList of the root: the model is refilled, the grid laid out and its first screen drawn.
void BM_PictureGridFillRoot(benchmark::State& state) {
    TLargeView view;
    TStepTimer steps;
    for (auto _ : state) {
        state.SetIterationTime(steps.Run([&] {
            view.ShowRoot();
            view.Frame->PictureList->doItemsLayout();
            view.Frame->PictureList->viewport()->repaint();
        }));
        view.Flush();
    }
    // The whole grid was laid out: its scrolling range covers every row.
    state.counters["scroll_px"] = view.Frame->PictureList->verticalScrollBar()->maximum();
    steps.Report(state);
}
BENCHMARK(BM_PictureGridFillRoot)->UseManualTime()->Unit(benchmark::kMillisecond);

// A screen of cells painted while a loader thread keeps rewriting previews under ThumbLock; every
// visible preview was reported changed, so each is copied again under the lock. Range 0: the top
// of the grid, 1: scrolled to the middle.
void BM_PictureGridPaintWhileLoading(benchmark::State& state) {
    TLargeView view;
    view.ShowRoot();
    view.Flush();
    views::TPictureGridView& grid = *view.Frame->PictureList;
    const int first = state.range(0) == 0 ? 0 : kMiddleRow;
    grid.scrollTo(view.Frame->PictureModel()->index(first), QAbstractItemView::PositionAtTop);
    view.Flush();
    std::vector<int> visible;
    for (int row = first; row < first + kPreviewRows / 2; ++row) {
        if (grid.RowOnScreen(row))
            visible.push_back(row);
    }
    TIpodPhotoDb& db = *view.Frame->PhotoDb();
    std::atomic<bool> stop{false};
    std::thread loader([&] {
        for (int k = 0; !stop; ++k) {
            const int row = visible[static_cast<size_t>(k) % visible.size()];
            std::lock_guard lock(db.ThumbLock);
            db.Photos.Items(row).Thumb = view.Scenes[static_cast<size_t>(k) % view.Scenes.size()];
        }
    });
    TStepTimer steps;
    for (auto _ : state) {
        for (int row : visible)
            view.Frame->PictureModel()->PreviewChanged(false, row, false);
        state.SetIterationTime(steps.Run([&] { grid.viewport()->repaint(); }));
    }
    stop = true;
    loader.join();
    state.counters["cells"] = static_cast<double>(visible.size());
    steps.Report(state);
}
BENCHMARK(BM_PictureGridPaintWhileLoading)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The camera roll of 20,000 files with their dates taken: the grid refilled, laid out and its
// first screen drawn with two-line captions (what selecting its node does before the loader
// starts).
void BM_PictureGridFillCameraRoll(benchmark::State& state) {
    TLargeView view;
    TIpodPhotoDb& db = *view.Frame->PhotoDb();
    for (int i = 0; i < kPhotos; ++i) {
        TCamPhotoItem& item = db.CameraPhotos.Add();
        item.FileName = "IMG_" + std::to_string(10000 + i) + ".HEIC";
        item.Path = "/DCIM/100APPLE/" + item.FileName;
        item.DateTaken = int64_t{1600000000} + i * 60;
    }
    std::vector<int> tags(static_cast<size_t>(kPhotos));
    for (int i = 0; i < kPhotos; ++i)
        tags[static_cast<size_t>(i)] = i;
    TStepTimer steps;
    for (auto _ : state) {
        state.SetIterationTime(steps.Run([&] {
            view.Frame->PictureModel()->Fill(true, tags);
            view.Frame->PictureList->doItemsLayout();
            view.Frame->PictureList->viewport()->repaint();
            benchmark::DoNotOptimize(view.Frame->PictureList->VisibleRows());
        }));
        view.Flush();
    }
    state.counters["scroll_px"] = view.Frame->PictureList->verticalScrollBar()->maximum();
    steps.Report(state);
}
BENCHMARK(BM_PictureGridFillCameraRoll)->UseManualTime()->Unit(benchmark::kMillisecond);

// One ThumbnailProgress report for a visible photo, with the repaint it asks for.
void BM_PictureGridThumbnailProgress(benchmark::State& state) {
    TLargeView view;
    view.ShowRoot();
    view.Flush();
    TStepTimer steps;
    int index = 0;
    for (auto _ : state) {
        state.SetIterationTime(steps.Run([&] {
            view.Frame->ThumbnailProgress(index, kPhotos);
            view.Flush();
        }));
        index = (index + 1) % 20;
    }
    steps.Report(state);
}
BENCHMARK(BM_PictureGridThumbnailProgress)->UseManualTime()->Unit(benchmark::kMicrosecond);

// A disk-mode library of count photos sharing one preview record: the loader's steady rate,
// without the start of its threads weighing in as it does on the small demo libraries.
void BuildSharedRecordLibrary(const std::string& root, int count) {
    constexpr uint32_t kFullSlot = 720 * 480 * 2;
    constexpr uint32_t kPreviewSlot = 130 * 88 * 2;
    testing::TPhotoDbBuilder db;
    for (int i = 0; i < count; ++i)
        db.AddImage(static_cast<uint32_t>(1000 + i),
                    {testing::PhotoRef(1019, 0, kFullSlot, 720, 480, ":Thumbs:F1019_1.ithmb"),
                     testing::PhotoRef(1015, 0, kPreviewSlot, 130, 88, ":Thumbs:F1015_1.ithmb")});
    db.AddAlbum("Photo Library", db.AllImageIds());
    testing::WriteFile(root + "/Photos/Photo Database", db.Build());
    testing::WriteIthmbFile(
        root + "/Photos/Thumbs/F1019_1.ithmb",
        {testing::EncodeFormatRecord(1019, testing::DemoScene(0, 720, 480), false)}, kFullSlot);
    testing::WriteIthmbFile(
        root + "/Photos/Thumbs/F1015_1.ithmb",
        {testing::EncodeFormatRecord(1015, testing::DemoScene(0, 130, 88), false)}, kPreviewSlot);
}

// The real loader over a library, its reports handed to this thread through the program's
// dispatcher and event loop. Device 0: the demo disk-mode iPod, 1: the demo mobile device,
// 2: a disk-mode library of 2,000 photos; camera 1: camera-roll previews instead of the
// library's. Counter previews_per_second (wall clock).
void BM_PictureGridPreviewLoading(benchmark::State& state) {
    EnsureApplication();
    static const testing::TTempDir dir;
    static const bool built = [] {
        BuildSharedRecordLibrary(dir / "large", 2000);
        return testing::BuildDemoDevices(dir.Path());
    }();
    if (!built) {
        state.SkipWithError("demo devices cannot be written");
        return;
    }
    const int64_t kind = state.range(0);
    const bool cameraRoll = state.range(1) == 1;
    auto device = kind == 1   ? testing::MobileDevice(dir / "iphone")
                  : kind == 2 ? testing::DiskDevice(dir / "large")
                              : testing::DiskDevice(dir / "ipod");
    TIpodPhotoDb db(*device, true);
    if (!db.Load()) {
        state.SkipWithError("library cannot be read");
        return;
    }
    const int perPass = cameraRoll ? db.CameraPhotos.Count() : db.Photos.Count();
    int64_t previews = 0;
    for (auto _ : state) {
        // The loader leaves previews already made alone: every pass starts from none.
        state.PauseTiming();
        {
            std::lock_guard lock(db.ThumbLock);
            for (int i = 0; i < db.Photos.Count(); ++i)
                db.Photos.Items(i).Thumb.Clear();
            for (int i = 0; i < db.CameraPhotos.Count(); ++i)
                db.CameraPhotos.Items(i).Thumb.Clear();
        }
        state.ResumeTiming();
        bool done = false;
        TLoadAllThumbnailThd loader(
            &db, cameraRoll, [&](bool) { done = true; }, [&](int, int) { ++previews; },
            app::UiDispatcher());
        app::WaitPumping([&] { return done; });
        loader.WaitFor();
    }
    state.counters["previews_per_pass"] = perPass;
    state.counters["previews_per_second"] =
        benchmark::Counter(static_cast<double>(previews), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PictureGridPreviewLoading)
    ->ArgNames({"device", "camera"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({2, 0})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvane
