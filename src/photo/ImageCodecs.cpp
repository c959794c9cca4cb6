#include "photo/ImageCodecs.h"

// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
#include <jerror.h>
// clang-format on
#include <gif_lib.h>
#include <libdeflate.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "photo/JpegCompression.h"

namespace corvane {

namespace {

// ---------------------------------------------------------------------------------------------
// JPEG. libjpeg reports fatal errors through error_exit, which must not return; we leave with
// longjmp back to the one function that called setjmp. That function holds only trivially
// destructible locals, and the library's state lives in an object of the caller, whose
// destructor frees it whichever way the decode ended.

// Progressive files make the decoder walk the whole picture once per scan; camera files have
// about ten. Far more only comes from a file built to make us spin.
constexpr int kMaxJpegScans = 500;
// Working memory of the library (a progressive picture keeps all its coefficients). Past it
// the library gives up, as no backing store is configured.
constexpr long kMaxJpegMemory = 512L * 1024 * 1024;

struct TJpegErrors {
    jpeg_error_mgr Pub;  // first, so that the library's pointer converts back
    std::jmp_buf Jump;
};

[[noreturn]] void JpegFail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<TJpegErrors*>(info->err)->Jump, 1);
}

// Warnings are ignored, except running out of picture data, at the end of the file or at a
// marker: the library would fill the rest of the picture with grey and call it a success, and a
// cut-off or damaged file should show our placeholder.
void JpegMessage(j_common_ptr info, int level) {
    if (level < 0) {
        ++info->err->num_warnings;
        if (info->err->msg_code == JWRN_JPEG_EOF || info->err->msg_code == JWRN_HIT_MARKER)
            JpegFail(info);
    }
}

void JpegQuiet(j_common_ptr) {}

void JpegProgress(j_common_ptr info) {
    if (info->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxJpegScans)
        JpegFail(info);
}

void InitErrors(TJpegErrors& errors) {
    jpeg_std_error(&errors.Pub);
    errors.Pub.error_exit = JpegFail;
    errors.Pub.emit_message = JpegMessage;
    errors.Pub.output_message = JpegQuiet;
}

class TJpegDecoder {
public:
    TJpegDecoder() {
        InitErrors(FErrors);
        Info.err = &FErrors.Pub;
        FProgress.progress_monitor = JpegProgress;
    }
    ~TJpegDecoder() { jpeg_destroy_decompress(&Info); }  // nothing to free before create
    TJpegDecoder(const TJpegDecoder&) = delete;
    TJpegDecoder& operator=(const TJpegDecoder&) = delete;

    std::jmp_buf& Jump() { return FErrors.Jump; }
    jpeg_progress_mgr* Progress() { return &FProgress; }

    jpeg_decompress_struct Info{};

private:
    TJpegErrors FErrors{};
    jpeg_progress_mgr FProgress{};
};

bool IsJpegScale(int scale) {
    return scale == 1 || scale == 2 || scale == 4 || scale == 8;
}

// eighthsFor: the output size in eighths of the full size, 1 to 8 (0 refuses the picture).
bool DecodeJpegGuarded(TJpegDecoder& decoder, std::span<const uint8_t> bytes,
                       const std::function<int(int, int)>& eighthsFor, TBitmap& picture) {
    if (setjmp(decoder.Jump()) != 0)
        return false;
    jpeg_decompress_struct& info = decoder.Info;
    jpeg_create_decompress(&info);
    info.mem->max_memory_to_use = kMaxJpegMemory;
    info.progress = decoder.Progress();
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    // The whole picture counts, not the scaled one: the library still walks all of it.
    if (static_cast<int64_t>(info.image_width) * info.image_height > TBitmap::kMaxPixels)
        return false;
    const int eighths =
        eighthsFor(static_cast<int>(info.image_width), static_cast<int>(info.image_height));
    if (eighths < 1 || eighths > 8)
        return false;
    info.out_color_space = JCS_RGB;
    // The library reduces inside its inverse DCT: at 1/8 a block is its average alone.
    info.scale_num = static_cast<unsigned int>(eighths);
    info.scale_denom = 8;
    jpeg_calc_output_dimensions(&info);
    if (info.output_components != 3 ||
        !picture.SetSize(static_cast<int>(info.output_width), static_cast<int>(info.output_height)))
        return false;
    jpeg_start_decompress(&info);
    if (info.output_width != static_cast<JDIMENSION>(picture.Width()) ||
        info.output_height != static_cast<JDIMENSION>(picture.Height()))
        return false;
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = picture.Row(static_cast<int>(info.output_scanline));
        if (jpeg_read_scanlines(&info, &row, 1) != 1)
            return false;
    }
    // No jpeg_finish_decompress: all rows are there, and what follows them (a missing end
    // marker, trailing bytes) does not change the picture.
    return true;
}

bool EncodeJpegGuarded(TJpegCompression& encoder, const TBitmap& picture) {
    if (setjmp(encoder.Jump()) != 0)
        return false;
    jpeg_compress_struct& info = encoder.Info;
    encoder.Begin(picture.Width(), picture.Height(), JCS_RGB);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        // The library does not write through the row pointer.
        JSAMPROW row = const_cast<uint8_t*>(picture.Row(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    return true;
}

// ---------------------------------------------------------------------------------------------
// PNG through libpng's simplified interface, which catches the library's errors itself and
// keeps its warnings in the image's message field rather than printing them.

class TPngImage {
public:
    TPngImage() { Image.version = PNG_IMAGE_VERSION; }
    ~TPngImage() { png_image_free(&Image); }
    TPngImage(const TPngImage&) = delete;
    TPngImage& operator=(const TPngImage&) = delete;

    png_image Image{};
};

// ---------------------------------------------------------------------------------------------
// GIF through giflib's record-level interface: only the first frame is read, so a file with
// many large frames costs no more than its first one.

struct TGifSource {
    std::span<const uint8_t> Bytes;
    size_t Position = 0;
};

int ReadGifBytes(GifFileType* gif, GifByteType* to, int count) {
    auto* source = static_cast<TGifSource*>(gif->UserData);
    if (count <= 0)
        return 0;
    const size_t n = std::min(static_cast<size_t>(count), source->Bytes.size() - source->Position);
    if (n != 0)  // memcpy with a null source is undefined even for zero bytes
        std::memcpy(to, source->Bytes.data() + source->Position, n);
    source->Position += n;
    return static_cast<int>(n);
}

struct TGifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using TGifFile = std::unique_ptr<GifFileType, TGifCloser>;

bool DecodeGifFrame(GifFileType* gif, const GraphicsControlBlock& control, TBitmap& picture) {
    if (DGifGetImageDesc(gif) == GIF_ERROR)
        return false;
    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    if (frame.Width <= 0 || frame.Height <= 0 || frame.Left < 0 || frame.Top < 0 || !map ||
        static_cast<int64_t>(frame.Width) * frame.Height > TBitmap::kMaxPixels)
        return false;
    // The frame sits on the logical screen; a file that gives no screen size gets the frame's.
    int width = gif->SWidth;
    int height = gif->SHeight;
    int left = frame.Left;
    int top = frame.Top;
    if (width <= 0 || height <= 0) {
        width = frame.Width;
        height = frame.Height;
        left = top = 0;
    }
    if (!picture.SetSize(width, height))
        return false;
    picture.Fill(kWhite);

    TRgb palette[256];
    for (int i = 0; i < 256; ++i) {
        if (i < map->ColorCount)
            palette[i] = {map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue};
    }
    const int transparent = control.TransparentColor;

    std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
    auto readLine = [&](int y) {
        if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR)
            return false;
        const int row = top + y;
        if (row >= height)
            return true;
        for (int x = 0; x < frame.Width && left + x < width; ++x) {
            if (line[x] != transparent)
                picture.SetPixel(left + x, row, palette[line[x]]);
        }
        return true;
    };
    if (frame.Interlace) {
        static constexpr int kStart[] = {0, 4, 2, 1};
        static constexpr int kStep[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass) {
            for (int y = kStart[pass]; y < frame.Height; y += kStep[pass]) {
                if (!readLine(y))
                    return false;
            }
        }
    } else {
        for (int y = 0; y < frame.Height; ++y) {
            if (!readLine(y))
                return false;
        }
    }
    return true;
}

bool DecodeGifFile(GifFileType* gif, TBitmap& picture) {
    GraphicsControlBlock control{};
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    // Every record consumes input, so the loop ends with the data.
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR)
            return false;
        if (type == IMAGE_DESC_RECORD_TYPE)
            return DecodeGifFrame(gif, control, picture);
        if (type != EXTENSION_RECORD_TYPE)
            return false;  // the end of the file, or damage, before any picture
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
            return false;
        if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] == 4)
            DGifExtensionToGCB(4, block + 1, &control);
        while (block) {
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
                return false;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// PNG writing: previews are small and written by the hundred, so they are deflated at the
// fastest level of libdeflate rather than at libpng's default, which took most of their time.

constexpr int kPngDeflateLevel = 1;
constexpr std::array<uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

struct TDeflateFree {
    void operator()(libdeflate_compressor* compressor) const {
        libdeflate_free_compressor(compressor);
    }
};

void PutU32Be(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// Length, type, data and the CRC of type and data.
void PutPngChunk(std::vector<uint8_t>& file, const char (&type)[5],
                 const std::vector<uint8_t>& data) {
    PutU32Be(file, static_cast<uint32_t>(data.size()));
    const size_t typeAt = file.size();
    file.insert(file.end(), type, type + 4);
    file.insert(file.end(), data.begin(), data.end());
    PutU32Be(file, libdeflate_crc32(0, file.data() + typeAt, file.size() - typeAt));
}

}  // namespace

bool DecodeJpeg(std::span<const uint8_t> bytes, int scaleDenominator, TBitmap& picture) {
    if (!IsJpegScale(scaleDenominator)) {
        picture.Clear();
        return false;
    }
    return DecodeJpeg(
        bytes, [scaleDenominator](int, int) { return scaleDenominator; }, picture);
}

bool DecodeJpeg(std::span<const uint8_t> bytes, const std::function<int(int, int)>& scaleFor,
                TBitmap& picture) {
    if (!scaleFor) {
        picture.Clear();
        return false;
    }
    return DecodeJpegInEighths(
        bytes,
        [&scaleFor](int width, int height) {
            const int scale = scaleFor(width, height);
            return IsJpegScale(scale) ? 8 / scale : 0;
        },
        picture);
}

bool DecodeJpegInEighths(std::span<const uint8_t> bytes,
                         const std::function<int(int, int)>& eighthsFor, TBitmap& picture) {
    picture.Clear();
    if (bytes.empty() || !eighthsFor)
        return false;
    try {
        TJpegDecoder decoder;
        if (DecodeJpegGuarded(decoder, bytes, eighthsFor, picture))
            return true;
    } catch (const std::bad_alloc&) {
    }
    picture.Clear();
    return false;
}

bool DecodePng(std::span<const uint8_t> bytes, TBitmap& picture) {
    picture.Clear();
    if (bytes.empty())
        return false;
    try {
        TPngImage png;
        if (!png_image_begin_read_from_memory(&png.Image, bytes.data(), bytes.size()))
            return false;
        const int64_t pixels = static_cast<int64_t>(png.Image.width) * png.Image.height;
        if (pixels > TBitmap::kMaxPixels ||
            !picture.SetSize(static_cast<int>(png.Image.width), static_cast<int>(png.Image.height)))
            return false;
        png.Image.format = PNG_FORMAT_RGB;
        const png_color white{255, 255, 255};  // what transparent pixels are composed onto
        if (png_image_finish_read(&png.Image, &white, picture.Row(0), 0, nullptr))
            return true;
    } catch (const std::bad_alloc&) {
    }
    picture.Clear();
    return false;
}

bool DecodeGif(std::span<const uint8_t> bytes, TBitmap& picture) {
    picture.Clear();
    if (bytes.empty())
        return false;
    try {
        TGifSource source{bytes};
        int error = 0;
        TGifFile gif(DGifOpen(&source, ReadGifBytes, &error));
        if (gif && DecodeGifFile(gif.get(), picture))
            return true;
    } catch (const std::bad_alloc&) {
    }
    picture.Clear();
    return false;
}

std::vector<uint8_t> EncodeJpeg(const TBitmap& picture) {
    if (picture.Empty())
        return {};
    try {
        TJpegCompression encoder;
        if (EncodeJpegGuarded(encoder, picture) && encoder.Buffer)
            return std::vector<uint8_t>(encoder.Buffer, encoder.Buffer + encoder.Size);
    } catch (const std::bad_alloc&) {
    }
    return {};
}

std::vector<uint8_t> EncodePng(const TBitmap& picture) {
    if (picture.Empty())
        return {};
    try {
        const size_t rowBytes = static_cast<size_t>(picture.Width()) * 3;
        // Each row behind its filter byte, Sub: the difference to the pixel on the left.
        std::vector<uint8_t> filtered((rowBytes + 1) * static_cast<size_t>(picture.Height()));
        uint8_t* out = filtered.data();
        for (int y = 0; y < picture.Height(); ++y) {
            const uint8_t* row = picture.Row(y);
            *out++ = 1;
            std::memcpy(out, row, 3);
            for (size_t i = 3; i < rowBytes; ++i)
                out[i] = static_cast<uint8_t>(row[i] - row[i - 3]);
            out += rowBytes;
        }
        const std::unique_ptr<libdeflate_compressor, TDeflateFree> compressor(
            libdeflate_alloc_compressor(kPngDeflateLevel));
        if (!compressor)
            return {};
        std::vector<uint8_t> file(kPngSignature.begin(), kPngSignature.end());
        std::vector<uint8_t> header;
        PutU32Be(header, static_cast<uint32_t>(picture.Width()));
        PutU32Be(header, static_cast<uint32_t>(picture.Height()));
        header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
        PutPngChunk(file, "IHDR", header);
        std::vector<uint8_t> data(
            libdeflate_zlib_compress_bound(compressor.get(), filtered.size()));
        const size_t size = libdeflate_zlib_compress(compressor.get(), filtered.data(),
                                                     filtered.size(), data.data(), data.size());
        if (size == 0)
            return {};
        data.resize(size);
        PutPngChunk(file, "IDAT", data);
        PutPngChunk(file, "IEND", {});
        return file;
    } catch (const std::bad_alloc&) {
    }
    return {};
}

}  // namespace corvane
