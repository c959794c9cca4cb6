// Decoding 400 uYUV and 400 I420 records as the export does (to planes for the encoder), alone
// and followed by the export's encoding, against encoding the same pictures with libjpeg-turbo
// from RGB. Photo export of 1,000 full-size uYUV records from a disk-mode iPod (read, decode,
// encode, write each JPEG file) against encoding the same decoded pictures with libjpeg-turbo
// alone.
// The export's time over the encoder's is shown as the counter export_vs_encoder (target: at
// most 1.25, that is decoding and writing add at most a quarter). A third run decodes and
// encodes in memory, so that export_vs_decode_encode shows what reading the records and
// writing the files add by themselves. The 690 MB device is built once per run in a temporary
// folder and removed at exit.
#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/DemoPhotos.h"
#include "fixtures/IthmbBuilder.h"
#include "fixtures/PhotoDbBuilder.h"
#include "fixtures/TempDir.h"
#include "photo/IthmbDecoders.h"
#include "photo/IthmbPlanes.h"
#include "photo/PlanarJpeg.h"
#include "photo/iPodPhoto.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

constexpr int kRecords = 1000;
constexpr int kScenes = 8;  // distinct pictures, repeated over the records
constexpr uint32_t kUyvySlot = 720 * 480 * 2;
constexpr uint32_t kPreviewSlot = 42 * 30 * 2;
constexpr double kTarget = 1.25;

struct TExportDevice {
    testing::TTempDir Dir;
    std::string Root = Dir / "ipod";
    std::string Out = Dir / "out";
    std::vector<testing::TIthmbRecord> Scenes;  // record k holds Scenes[k % kScenes]
    std::vector<TBitmap> Decoded;               // and decodes to Decoded[k % kScenes]

    TExportDevice() {
        fs::create_directories(Root + "/iPod_Control/iTunes");
        fs::create_directories(Root + "/Photos/Thumbs");
        for (int s = 0; s < kScenes; ++s) {
            Scenes.push_back(
                testing::EncodeFormatRecord(1019, testing::DemoScene(s, 720, 480), false));
            TBitmap picture;
            DecodeUyvy(Scenes.back(), picture);
            Decoded.push_back(std::move(picture));
        }
        testing::TPhotoDbBuilder db;
        std::unique_ptr<FILE, int (*)(FILE*)> file(
            std::fopen((Root + "/Photos/Thumbs/F1019_1.ithmb").c_str(), "wb"), std::fclose);
        for (int k = 0; k < kRecords; ++k) {
            const testing::TIthmbRecord& record = Scenes[k % kScenes];
            std::fwrite(record.data(), 1, record.size(), file.get());
            db.AddImage(static_cast<uint32_t>(1000 + k),
                        {testing::PhotoRef(1019, static_cast<uint32_t>(k) * kUyvySlot, kUyvySlot,
                                           720, 480, ":Thumbs:F1019_1.ithmb"),
                         testing::PhotoRef(1009, static_cast<uint32_t>(k) * kPreviewSlot,
                                           kPreviewSlot, 42, 30, ":Thumbs:F1009_1.ithmb")});
        }
        testing::WriteFile(Root + "/Photos/Photo Database", db.Build());
    }
};

TExportDevice& Device() {
    static TExportDevice device;
    return device;
}

// Seconds per pass of 1,000 pictures, for the ratios; the references run first.
double gEncoderSeconds = 0;
double gDecodeEncodeSeconds = 0;

// libjpeg-turbo's compressor with its default settings into a memory buffer, and nothing else.
class TPlainEncoder {
public:
    TPlainEncoder() {
        FInfo.err = jpeg_std_error(&FError.Manager);
        FError.Manager.error_exit = [](j_common_ptr info) {
            std::longjmp(reinterpret_cast<TError*>(info->err)->Jump, 1);
        };
        jpeg_create_compress(&FInfo);
    }
    ~TPlainEncoder() {
        jpeg_destroy_compress(&FInfo);
        std::free(FBuffer);
    }
    TPlainEncoder(const TPlainEncoder&) = delete;
    TPlainEncoder& operator=(const TPlainEncoder&) = delete;

    // Bytes of the JPEG file; 0 on failure.
    unsigned long Encode(const TBitmap& picture) {
        // The library allocates a fresh buffer for each picture; the last one is ours to free.
        std::free(FBuffer);
        FBuffer = nullptr;
        FSize = 0;
        if (setjmp(FError.Jump) != 0)
            return 0;
        jpeg_mem_dest(&FInfo, &FBuffer, &FSize);
        FInfo.image_width = static_cast<JDIMENSION>(picture.Width());
        FInfo.image_height = static_cast<JDIMENSION>(picture.Height());
        FInfo.input_components = 3;
        FInfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&FInfo);
        jpeg_start_compress(&FInfo, TRUE);
        while (FInfo.next_scanline < FInfo.image_height) {
            JSAMPROW row = const_cast<uint8_t*>(picture.Row(static_cast<int>(FInfo.next_scanline)));
            jpeg_write_scanlines(&FInfo, &row, 1);
        }
        jpeg_finish_compress(&FInfo);
        return FSize;
    }

private:
    struct TError {
        jpeg_error_mgr Manager;
        std::jmp_buf Jump;
    };
    jpeg_compress_struct FInfo{};
    TError FError{};
    unsigned char* FBuffer = nullptr;
    unsigned long FSize = 0;
};

void BM_EncodeDecodedPictures(benchmark::State& state) {
    const std::vector<TBitmap>& decoded = Device().Decoded;
    TPlainEncoder encoder;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int k = 0; k < kRecords; ++k) {
            if (encoder.Encode(decoded[k % kScenes]) == 0)
                state.SkipWithError("encoding failed");
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    gEncoderSeconds = seconds / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * kRecords);
}

// What the export does with a record in memory.
bool DecodeAndEncode(int32_t format, const testing::TIthmbRecord& record, TYcbcrPicture& planes) {
    const bool decoded =
        format == 1019 ? DecodeUyvyPlanes(record, planes) : DecodeYuv420Planes(record, planes);
    return decoded && !EncodePlanarJpeg(planes).empty();
}

void BM_DecodeThenEncode(benchmark::State& state) {
    const std::vector<testing::TIthmbRecord>& records = Device().Scenes;
    TYcbcrPicture planes;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int k = 0; k < kRecords; ++k) {
            if (!DecodeAndEncode(1019, records[k % kScenes], planes))
                state.SkipWithError("decoding or encoding failed");
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    gDecodeEncodeSeconds = seconds / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_PhotoExportUyvy(benchmark::State& state) {
    TExportDevice& files = Device();
    TIpodDevice device(nullptr, OfflineSessionOptions({files.Root}));
    device.ScanDrives();
    TIpodPhotoDb photos(device, false);
    if (!photos.Load() || photos.FullFormat.Id != 1019) {
        state.SkipWithError("the library did not load");
        return;
    }
    double seconds = 0;
    int pass = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // A fresh folder each pass: deleting a thousand files just before creating a thousand
        // more sends ext4's inode allocator looking through the recently freed ones, which no
        // real export meets.
        std::string folder = files.Out + "/pass" + std::to_string(++pass);
        if (!photos.PrepareDestination(folder))
            state.SkipWithError("no destination");
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        if (photos.Export() != kRecords)
            state.SkipWithError("not every picture was written");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    fs::remove_all(files.Out);
    state.SetItemsProcessed(state.iterations() * kRecords);
    const double perPass = seconds / static_cast<double>(state.iterations());
    if (gDecodeEncodeSeconds > 0)
        state.counters["export_vs_decode_encode"] = perPass / gDecodeEncodeSeconds;
    if (gEncoderSeconds > 0) {
        const double ratio = perPass / gEncoderSeconds;
        state.counters["export_vs_encoder"] = ratio;
        char label[64];
        std::snprintf(label, sizeof label, "%.2f of the encoder (target <= %.2f) %s", ratio,
                      kTarget, ratio <= kTarget ? "ok" : "ABOVE TARGET");
        state.SetLabel(label);
    }
}

// Decoding alone against encoding alone, 400 records of each video format: the decoder's time
// over the encoder's on the same pictures is the counter decode_vs_encode (target: at most
// 0.25, that is decoding adds at most a quarter to the encoding). The decoding and encoding of
// the export together over the encoder alone is codec_vs_encoder (target: at most 1.25).
constexpr int kCodecRecords = 400;
constexpr double kDecodeTarget = 0.25;

struct TCodecScenes {
    std::vector<testing::TIthmbRecord> Records;
    std::vector<TBitmap> Decoded;
};

const TCodecScenes& CodecScenes(int32_t format) {
    static TCodecScenes uyvy;
    static TCodecScenes yuv420;
    TCodecScenes& scenes = format == 1019 ? uyvy : yuv420;
    if (scenes.Records.empty()) {
        for (int s = 0; s < kScenes; ++s) {
            scenes.Records.push_back(
                testing::EncodeFormatRecord(format, testing::DemoScene(s, 720, 480), false));
            TBitmap picture;
            if (format == 1019)
                DecodeUyvy(scenes.Records.back(), picture);
            else
                DecodeYuv420(scenes.Records.back(), picture);
            scenes.Decoded.push_back(std::move(picture));
        }
    }
    return scenes;
}

double gCodecEncodeSeconds[2] = {0, 0};  // per pass: uYUV, I420

// state.range(0): the format, 1019 (uYUV) or 1067 (I420).
void BM_EncodeOnly400(benchmark::State& state) {
    const auto format = static_cast<int32_t>(state.range(0));
    const TCodecScenes& scenes = CodecScenes(format);
    TPlainEncoder encoder;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (int k = 0; k < kCodecRecords; ++k) {
            if (encoder.Encode(scenes.Decoded[k % kScenes]) == 0)
                state.SkipWithError("encoding failed");
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    gCodecEncodeSeconds[format == 1019 ? 0 : 1] = seconds / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * kCodecRecords);
}

// The time of one round of the 400 records since start, over the encoder's time for the same
// format: in the counter and, with its target, in the row's label.
void ReportAgainstEncoder(benchmark::State& state, int32_t format,
                          std::chrono::steady_clock::time_point start, const char* counter,
                          double target) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
        static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * kCodecRecords);
    const double encode = gCodecEncodeSeconds[format == 1019 ? 0 : 1];
    if (encode <= 0)
        return;
    const double ratio = seconds / encode;
    state.counters[counter] = ratio;
    char label[80];
    std::snprintf(label, sizeof label, "%s: %.2f of the encoder (target <= %.2f) %s",
                  format == 1019 ? "uYUV" : "I420", ratio, target,
                  ratio <= target ? "ok" : "ABOVE TARGET");
    state.SetLabel(label);
}

void BM_DecodeOnly400(benchmark::State& state) {
    const auto format = static_cast<int32_t>(state.range(0));
    const TCodecScenes& scenes = CodecScenes(format);
    TYcbcrPicture planes;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (int k = 0; k < kCodecRecords; ++k) {
            const testing::TIthmbRecord& record = scenes.Records[k % kScenes];
            if (!(format == 1019 ? DecodeUyvyPlanes(record, planes)
                                 : DecodeYuv420Planes(record, planes)))
                state.SkipWithError("decoding failed");
            benchmark::DoNotOptimize(planes.Luma(0));
        }
    }
    ReportAgainstEncoder(state, format, start, "decode_vs_encode", kDecodeTarget);
}

void BM_DecodeEncode400(benchmark::State& state) {
    const auto format = static_cast<int32_t>(state.range(0));
    const TCodecScenes& scenes = CodecScenes(format);
    TYcbcrPicture planes;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (int k = 0; k < kCodecRecords; ++k) {
            if (!DecodeAndEncode(format, scenes.Records[k % kScenes], planes))
                state.SkipWithError("decoding or encoding failed");
        }
    }
    ReportAgainstEncoder(state, format, start, "codec_vs_encoder", 1 + kDecodeTarget);
}

// Encoding first: each decode row's ratio needs the encoder's time of its format.
BENCHMARK(BM_EncodeOnly400)->Arg(1019)->Arg(1067)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeOnly400)->Arg(1019)->Arg(1067)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeEncode400)->Arg(1019)->Arg(1067)->Unit(benchmark::kMillisecond)->UseRealTime();

// In this order: the export's ratios need the references' times.
BENCHMARK(BM_EncodeDecodedPictures)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_DecodeThenEncode)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_PhotoExportUyvy)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
}  // namespace corvane
