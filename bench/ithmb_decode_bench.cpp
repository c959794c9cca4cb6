// Full-size picture decoding: a 720 x 480 uYUV record and a 720 x 480 16-bit record loaded
// through its bitmap header, in pictures per second (items_per_second).
#include <benchmark/benchmark.h>

#include <vector>

#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/IthmbBuilder.h"
#include "photo/IthmbDecoders.h"
#include "photo/iPodPhoto.h"

namespace corvane {
namespace {

const TBitmap& Picture() {
    static const TBitmap picture = testing::PatternPicture(720, 480);
    return picture;
}

void BM_DecodeUyvy(benchmark::State& state) {
    const testing::TIthmbRecord record = testing::EncodeUyvy(Picture());
    TBitmap picture;
    for (auto _ : state) {
        if (!DecodeUyvy(record, picture))
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(picture.Row(0));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeUyvy)->Unit(benchmark::kMillisecond);

void BM_DecodeYuv420(benchmark::State& state) {
    const testing::TIthmbRecord record = testing::EncodeYuv420(Picture());
    TBitmap picture;
    for (auto _ : state) {
        if (!DecodeYuv420(record, picture))
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(picture.Row(0));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeYuv420)->Unit(benchmark::kMillisecond);

void BM_LoadRgbRecord(benchmark::State& state) {
    TIpodDevice device(nullptr, OfflineSessionOptions());
    TIpodPhotoDb db(device, false);
    const testing::TIthmbRecord record = testing::EncodeRgb565(Picture());
    db.FullFormat.Width = 720;
    db.FullFormat.Height = 480;
    db.FullFormat.SlotSize = static_cast<int32_t>(record.size());
    db.BuildBmpHeader(false);
    std::vector<uint8_t> file(db.BmpHeader.begin(), db.BmpHeader.end());
    file.insert(file.end(), record.begin(), record.end());
    TBitmap picture;
    for (auto _ : state) {
        if (!LoadRgbRecord(file, picture))
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(picture.Row(0));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LoadRgbRecord)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvane
