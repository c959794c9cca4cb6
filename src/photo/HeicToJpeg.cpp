#include "photo/HeicToJpeg.h"

// clang-format off
#include <cstdio>   // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>
// clang-format on
#include <libheif/heif.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/Bitmap.h"
#include "base/Text.h"
#include "photo/JpegCompression.h"

namespace corvane {

namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kShortType = 3;
// An APP1 segment holds at most this many bytes after its length field.
constexpr size_t kMaxSegment = 65533;
constexpr uint8_t kExifHeader[] = {'E', 'x', 'i', 'f', 0, 0};

struct THeifContextFree {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct THeifHandleFree {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct THeifImageFree {
    void operator()(heif_image* image) const { heif_image_release(image); }
};

// The TIFF structure's integers in its own byte order.
class TTiff {
public:
    explicit TTiff(std::span<uint8_t> bytes) : FBytes(bytes) {
        FLittle = bytes.size() >= 2 && bytes[0] == 'I' && bytes[1] == 'I';
    }
    bool Valid() const {
        return FBytes.size() >= 8 &&
               ((FBytes[0] == 'I' && FBytes[1] == 'I') || (FBytes[0] == 'M' && FBytes[1] == 'M'));
    }
    bool Has(size_t offset, size_t count) const {
        return offset <= FBytes.size() && count <= FBytes.size() - offset;
    }
    uint16_t U16(size_t at) const {
        return FLittle ? static_cast<uint16_t>(FBytes[at] | FBytes[at + 1] << 8)
                       : static_cast<uint16_t>(FBytes[at] << 8 | FBytes[at + 1]);
    }
    uint32_t U32(size_t at) const {
        return FLittle ? uint32_t{U16(at)} | uint32_t{U16(at + 2)} << 16
                       : uint32_t{U16(at)} << 16 | U16(at + 2);
    }
    void PutU16(size_t at, uint16_t value) {
        FBytes[at + (FLittle ? 0 : 1)] = static_cast<uint8_t>(value);
        FBytes[at + (FLittle ? 1 : 0)] = static_cast<uint8_t>(value >> 8);
    }

private:
    std::span<uint8_t> FBytes;
    bool FLittle = false;
};

bool Encode(TJpegCompression& encoder, const uint8_t* pixels, int stride, int width, int height,
            int quality, const std::vector<uint8_t>& exif) {
    if (setjmp(encoder.Jump()) != 0)
        return false;
    jpeg_compress_struct& info = encoder.Info;
    encoder.Begin(width, height, JCS_RGB);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    if (!exif.empty())
        jpeg_write_marker(&info, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
    while (info.next_scanline < info.image_height) {
        // The library does not write through the row pointer.
        JSAMPROW row = const_cast<uint8_t*>(pixels + static_cast<size_t>(info.next_scanline) *
                                                         static_cast<size_t>(stride));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    return true;
}

std::vector<uint8_t> ExifOf(heif_image_handle* handle) {
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) < 1)
        return {};
    const size_t size = heif_image_handle_get_metadata_size(handle, id);
    if (size == 0 || size > kMaxSegment + 4)
        return {};
    std::vector<uint8_t> block(size);
    if (heif_image_handle_get_metadata(handle, id, block.data()).code != heif_error_Ok)
        return {};
    return JpegExifSegment(block);
}

}  // namespace

bool IsHeifName(const std::string& name) {
    return EndsWithText(name, ".heic") || EndsWithText(name, ".heif");
}

std::vector<uint8_t> JpegExifSegment(std::span<const uint8_t> heifExif) {
    if (heifExif.size() < 4)
        return {};
    const uint32_t skip = uint32_t{heifExif[0]} << 24 | uint32_t{heifExif[1]} << 16 |
                          uint32_t{heifExif[2]} << 8 | heifExif[3];
    if (skip > heifExif.size() - 4)
        return {};
    std::span<const uint8_t> tiffBytes = heifExif.subspan(4 + skip);
    // Some writers keep the "Exif\0\0" of a JPEG segment in front of the TIFF header.
    if (tiffBytes.size() >= sizeof kExifHeader &&
        std::memcmp(tiffBytes.data(), kExifHeader, sizeof kExifHeader) == 0)
        tiffBytes = tiffBytes.subspan(sizeof kExifHeader);
    if (tiffBytes.size() + sizeof kExifHeader > kMaxSegment)
        return {};
    std::vector<uint8_t> segment(kExifHeader, kExifHeader + sizeof kExifHeader);
    segment.insert(segment.end(), tiffBytes.begin(), tiffBytes.end());
    TTiff tiff(std::span<uint8_t>(segment).subspan(sizeof kExifHeader));
    if (!tiff.Valid() || tiff.U16(2) != 42)
        return {};
    const size_t ifd = tiff.U32(4);
    if (!tiff.Has(ifd, 2))
        return {};
    const size_t entries = tiff.U16(ifd);
    for (size_t k = 0; k < entries; ++k) {
        const size_t entry = ifd + 2 + k * 12;
        if (!tiff.Has(entry, 12))
            return {};
        if (tiff.U16(entry) == kOrientationTag && tiff.U16(entry + 2) == kShortType &&
            tiff.U32(entry + 4) == 1)
            tiff.PutU16(entry + 8, 1);
    }
    return segment;
}

std::vector<uint8_t> HeicFileToJpeg(const std::string& path, std::string& error, int quality) {
    error.clear();
    std::unique_ptr<heif_context, THeifContextFree> context(heif_context_alloc());
    if (!context) {
        error = "out of memory";
        return {};
    }
    heif_error result = heif_context_read_from_file(context.get(), path.c_str(), nullptr);
    if (result.code != heif_error_Ok) {
        error = result.message ? result.message : "not a HEIF file";
        return {};
    }
    heif_image_handle* rawHandle = nullptr;
    result = heif_context_get_primary_image_handle(context.get(), &rawHandle);
    std::unique_ptr<heif_image_handle, THeifHandleFree> handle(rawHandle);
    if (result.code != heif_error_Ok || !handle) {
        error = result.message ? result.message : "no primary image";
        return {};
    }
    const int64_t pixels = int64_t{heif_image_handle_get_width(handle.get())} *
                           heif_image_handle_get_height(handle.get());
    if (pixels <= 0 || pixels > TBitmap::kMaxPixels) {
        error = "the picture is larger than " + std::to_string(TBitmap::kMaxPixels) + " pixels";
        return {};
    }
    heif_image* rawImage = nullptr;
    result = heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                               heif_chroma_interleaved_RGB, nullptr);
    std::unique_ptr<heif_image, THeifImageFree> image(rawImage);
    if (result.code != heif_error_Ok || !image) {
        error = result.message ? result.message : "cannot be decoded";
        return {};
    }
    int stride = 0;
    const uint8_t* plane =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!plane || width <= 0 || height <= 0 || stride < width * 3) {
        error = "the decoded picture has no pixels";
        return {};
    }
    TJpegCompression encoder;
    if (!Encode(encoder, plane, stride, width, height, quality, ExifOf(handle.get())) ||
        !encoder.Buffer) {
        error = "the JPEG file cannot be written";
        return {};
    }
    return std::vector<uint8_t>(encoder.Buffer, encoder.Buffer + encoder.Size);
}

}  // namespace corvane
