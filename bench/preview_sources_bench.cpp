// Previews of today's phones: the rate of the real loader over a camera roll of HEIC files with
// and without their small picture, and over the device's own V2 JPEGs; and the first screen of
// a 10,000-file camera roll in the photo view, from the click on its node until every cell on
// screen shows its preview (target: under a second). Registered with the main of copy_bench.cpp;
// run with --benchmark_filter=Preview.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeWidget>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "BenchApplication.h"
#include "device/iPodDev.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/HeicFiles.h"
#include "fixtures/PictureFiles.h"
#include "fixtures/TempDir.h"
#include "gui/UiDispatcher.h"
#include "photo/ThumbnailLoader.h"
#include "photo/iPodPhoto.h"
#include "views/KelPicture.h"
#include "views/PictureGridView.h"
#include "views/PictureListModel.h"

namespace corvane {
namespace {

using corvane::bench::EnsureApplication;

constexpr int kRateFiles = 200;
constexpr int kLargeRoll = 10000;

std::string CameraName(int i) {
    char name[48];
    std::snprintf(name, sizeof name, "DCIM/%03dAPPLE/IMG_%04d.HEIC", 100 + i / 1000, i % 10000);
    return name;
}

// A mobile device's camera roll of count HEIC files: 0 with a 320 x 240 small picture beside a
// 2048 x 1536 main one, 1 the main one alone, 2 the same files with V2 previews (a 256 pixel
// and a 120 pixel JPEG each) that are read instead.
void BuildCameraRoll(const std::string& root, int kind, int count) {
    const TBitmap main = testing::QuarteredPicture(2048, 1536, testing::kRed, testing::kGreen,
                                                   testing::kBlue, testing::kYellow);
    testing::THeicExtras extras;
    if (kind != 1)
        extras.Thumbnail = testing::QuarteredPicture(640, 480, testing::kRed, testing::kGreen,
                                                     testing::kBlue, testing::kYellow);
    const std::string heic = testing::HeicFile(main, extras);
    const std::string large = testing::JpegFile(testing::SolidPicture(256, 192, testing::kGreen));
    const std::string small = testing::JpegFile(testing::SolidPicture(120, 90, testing::kGreen));
    for (int i = 0; i < count; ++i) {
        const std::string name = CameraName(i);
        testing::WriteFile(root + "/" + name, heic);
        if (kind == 2) {
            const std::string v2 = root + "/PhotoData/Thumbnails/V2/" + name;
            testing::WriteFile(v2 + "/5005.JPG", large);
            testing::WriteFile(v2 + "/5003.JPG", small);
        }
    }
}

// Range 0: the kind of camera roll above. Counter previews_per_second (wall clock).
void BM_PreviewRate(benchmark::State& state) {
    EnsureApplication();
    const int kind = static_cast<int>(state.range(0));
    const testing::TTempDir dir;
    BuildCameraRoll(dir.Path(), kind, kRateFiles);
    auto device = testing::MobileDevice(dir.Path());
    int64_t previews = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TIpodPhotoDb db(*device, true);
        db.LoadCameraRoll();
        state.ResumeTiming();
        bool done = false;
        TLoadAllThumbnailThd loader(
            &db, true, [&](bool) { done = true; }, [&](int, int) { ++previews; },
            app::UiDispatcher());
        app::WaitPumping([&] { return done; });
        loader.WaitFor();
    }
    state.counters["previews_per_second"] =
        benchmark::Counter(static_cast<double>(previews), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PreviewRate)
    ->ArgName("heic_thumb0_heic1_v2jpeg2")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The photo view over a mobile device whose camera roll holds 10,000 HEIC files with V2
// previews: the time from selecting "Camera roll" until every cell on screen has its preview.
// Also listing_ms (reading the device's camera folder when the view loads) and
// show_node_ms (the UI step of filling the grid).
void BM_PreviewFirstScreen(benchmark::State& state) {
    EnsureApplication();
    static const testing::TTempDir dir;
    static const bool built = [] {
        BuildCameraRoll(dir.Path(), 2, kLargeRoll);
        return true;
    }();
    (void)built;
    double listingMs = 0;
    double showMs = 0;
    double cells = 0;
    for (auto _ : state) {
        auto device = testing::MobileDevice(dir.Path());
        auto frame = std::make_unique<views::TPicFrame>(nullptr, *device);
        frame->resize(1280, 800);
        frame->show();
        QElapsedTimer listing;
        listing.start();
        frame->Populate();
        listingMs = static_cast<double>(listing.nsecsElapsed()) / 1e6;
        app::WaitPumping([&] { return frame->Loaded(); });
        QTreeWidgetItem* camera = frame->PicList->topLevelItem(1);
        QElapsedTimer timer;
        timer.start();
        frame->PicList->setCurrentItem(camera);
        showMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        TIpodPhotoDb& db = *frame->PhotoDb();
        auto screenDone = [&] {
            const std::vector<int> rows = frame->PictureList->VisibleRows();
            std::lock_guard lock(db.ThumbLock);
            for (int row : rows) {
                if (db.CameraPhotos.Items(frame->PictureModel()->Tag(row)).Thumb.Empty())
                    return false;
            }
            cells = static_cast<double>(rows.size());
            return !rows.empty();
        };
        app::WaitPumping(screenDone);
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
        frame.reset();
    }
    state.counters["listing_ms"] = listingMs;
    state.counters["show_node_ms"] = showMs;
    state.counters["cells_on_screen"] = cells;
}
BENCHMARK(BM_PreviewFirstScreen)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvane
