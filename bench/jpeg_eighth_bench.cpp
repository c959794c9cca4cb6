// The decode at an eighth that previews of large JPEG files without an embedded picture need:
// libjpeg's own reduction against the decode from DC values alone, on a 12-megapixel photo-like
// file (fine noise over shading, quality 93, as the camera-roll comparison script makes).
// Registered with the main of copy_bench.cpp; run with --benchmark_filter=JpegEighth.
#include <benchmark/benchmark.h>

// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
// clang-format on

#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "fixtures/PictureFiles.h"
#include "photo/ImageCodecs.h"
#include "photo/JpegDcDecoder.h"

namespace corvane {
namespace {

std::vector<uint8_t> EncodeAtQuality(const TBitmap& picture, int quality) {
    jpeg_error_mgr errors{};
    jpeg_compress_struct info{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(picture.Width());
    info.image_height = static_cast<JDIMENSION>(picture.Height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(picture.Row(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<uint8_t> file(buffer, buffer + size);
    std::free(buffer);
    return file;
}

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
        return EncodeAtQuality(photo, 93);
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
