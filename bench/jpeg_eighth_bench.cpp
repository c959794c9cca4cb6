// The decode at an eighth that previews of large JPEG files without an embedded picture need:
// libjpeg's own reduction against the decode from DC values alone, on a 12-megapixel photo-like
// file (fine noise over shading, quality 93, as the camera-roll comparison script makes).
// Registered with the main of copy_bench.cpp; run with --benchmark_filter=JpegEighth.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "fixtures/PictureFiles.h"
#include "photo/ImageCodecs.h"
#include "photo/JpegDcDecoder.h"

namespace corvane {
namespace {

const std::vector<uint8_t>& PhotoFile() {
    static const std::vector<uint8_t> file = [] {
        const int width = 4000;
        const int height = 3000;
        const TBitmap noise = testing::NoisePicture(width, 1, 11);
        TBitmap photo(width, height);
        for (int y = 0; y < height; ++y) {
            const int base = 40 + y * 150 / height;
            for (int x = 0; x < width; ++x) {
                const TRgb n = noise.Pixel((x + y * 37) % width, 0);
                auto shade = [&](uint8_t v) {
                    return static_cast<uint8_t>(base + (v >> 4) * 3 / 2);
                };
                photo.SetPixel(x, y, {shade(n.R), shade(n.G), shade(n.B)});
            }
        }
        const std::string encoded = testing::JpegFileWith(photo, {.Quality = 93});
        return std::vector<uint8_t>(encoded.begin(), encoded.end());
    }();
    return file;
}

// Range 0: 0 libjpeg at an eighth, 1 DC values alone. Counter megapixels_per_second.
void BM_JpegEighth(benchmark::State& state) {
    const std::vector<uint8_t>& file = PhotoFile();
    const bool dc = state.range(0) == 1;
    TBitmap picture;
    for (auto _ : state) {
        const bool ok = dc ? DecodeJpegDc(
                                 file, [](int, int) { return true; }, picture)
                           : DecodeJpeg(file, 8, picture);
        if (!ok)
            state.SkipWithError("the decode failed");
        benchmark::DoNotOptimize(picture.Row(0));
    }
    state.counters["megapixels_per_second"] = benchmark::Counter(
        12.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["file_mb"] = static_cast<double>(file.size()) / 1e6;
}
BENCHMARK(BM_JpegEighth)->ArgName("libjpeg0_dc1")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvane
