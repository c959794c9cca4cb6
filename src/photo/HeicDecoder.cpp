#include "photo/HeicDecoder.h"

#include <libheif/heif.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

namespace corvane {

namespace {

// No side of a picture we decode is longer; the pixel cap of TBitmap does the rest.
constexpr int kMaxSide = 16384;

struct TContextFree {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct THandleFree {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct TImageFree {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct TOptionsFree {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
using THandle = std::unique_ptr<heif_image_handle, THandleFree>;

bool Ok(const heif_error& error) {
    return error.code == heif_error_Ok;
}

bool WithinCaps(const heif_image_handle* handle) {
    const int width = heif_image_handle_get_width(handle);
    const int height = heif_image_handle_get_height(handle);
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide &&
           static_cast<int64_t>(width) * height <= TBitmap::kMaxPixels;
}

int64_t LongerSide(const heif_image_handle* handle) {
    return std::max(heif_image_handle_get_width(handle), heif_image_handle_get_height(handle));
}

// The smallest of the file's small pictures that still covers the wanted size, else the
// largest of them; none when the file has none within the caps.
THandle ChooseThumbnail(const heif_image_handle* primary, const THeicDecodeOptions& options) {
    const int count = heif_image_handle_get_number_of_thumbnails(primary);
    if (count <= 0)
        return nullptr;
    // A file may claim any number; a real one carries one or two.
    std::vector<heif_item_id> ids(static_cast<size_t>(std::min(count, 16)));
    const int listed = heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(),
                                                                   static_cast<int>(ids.size()));
    const int64_t wanted = std::max(options.MaxWidth, options.MaxHeight);
    THandle best;
    for (int i = 0; i < listed; ++i) {
        heif_image_handle* raw = nullptr;
        if (!Ok(heif_image_handle_get_thumbnail(primary, ids[static_cast<size_t>(i)], &raw)))
            continue;
        THandle candidate(raw);
        if (!WithinCaps(candidate.get()))
            continue;
        if (!best) {
            best = std::move(candidate);
            continue;
        }
        const int64_t side = LongerSide(candidate.get());
        const int64_t bestSide = LongerSide(best.get());
        const bool covers = side >= wanted;
        const bool bestCovers = bestSide >= wanted;
        if ((covers && (!bestCovers || side < bestSide)) ||
            (!covers && !bestCovers && side > bestSide))
            best = std::move(candidate);
    }
    return best;
}

// The size width x height is reduced to so that it fits the bound, keeping its shape.
void Bounded(int width, int height, const THeicDecodeOptions& options, int& outWidth,
             int& outHeight) {
    outWidth = width;
    outHeight = height;
    if (options.MaxWidth <= 0 || options.MaxHeight <= 0 ||
        (width <= options.MaxWidth && height <= options.MaxHeight))
        return;
    // Scale by the side that has to shrink the most.
    if (static_cast<int64_t>(width) * options.MaxHeight >=
        static_cast<int64_t>(height) * options.MaxWidth) {
        outWidth = options.MaxWidth;
        outHeight = static_cast<int>(std::max<int64_t>(
            1, (static_cast<int64_t>(height) * options.MaxWidth + width / 2) / width));
    } else {
        outHeight = options.MaxHeight;
        outWidth = static_cast<int>(std::max<int64_t>(
            1, (static_cast<int64_t>(width) * options.MaxHeight + height / 2) / height));
    }
}

// Copies the interleaved RGB plane into picture, averaging the source pixels that fall into
// each target pixel when the target is smaller.
bool CopyPlane(const uint8_t* plane, int stride, int width, int height, int outWidth, int outHeight,
               TBitmap& picture) {
    if (!picture.SetSize(outWidth, outHeight))
        return false;
    if (outWidth == width && outHeight == height) {
        for (int y = 0; y < height; ++y)
            std::copy_n(plane + static_cast<size_t>(y) * static_cast<size_t>(stride),
                        static_cast<size_t>(width) * 3, picture.Row(y));
        return true;
    }
    for (int y = 0; y < outHeight; ++y) {
        const int top = static_cast<int>(static_cast<int64_t>(y) * height / outHeight);
        const int bottom =
            std::max(top + 1, static_cast<int>(static_cast<int64_t>(y + 1) * height / outHeight));
        uint8_t* to = picture.Row(y);
        for (int x = 0; x < outWidth; ++x) {
            const int left = static_cast<int>(static_cast<int64_t>(x) * width / outWidth);
            const int right = std::max(
                left + 1, static_cast<int>(static_cast<int64_t>(x + 1) * width / outWidth));
            uint32_t sum[3] = {0, 0, 0};
            for (int sy = top; sy < bottom; ++sy) {
                const uint8_t* from = plane +
                                      static_cast<size_t>(sy) * static_cast<size_t>(stride) +
                                      static_cast<size_t>(left) * 3;
                for (int sx = left; sx < right; ++sx, from += 3) {
                    sum[0] += from[0];
                    sum[1] += from[1];
                    sum[2] += from[2];
                }
            }
            const auto count = static_cast<uint32_t>((bottom - top) * (right - left));
            for (int c = 0; c < 3; ++c)
                to[x * 3 + c] = static_cast<uint8_t>((sum[c] + count / 2) / count);
        }
    }
    return true;
}

bool DecodeHandle(const heif_image_handle* handle, const THeicDecodeOptions& options,
                  TBitmap& picture) {
    std::unique_ptr<heif_decoding_options, TOptionsFree> decoding(heif_decoding_options_alloc());
    if (!decoding)
        return false;
    decoding->ignore_transformations = 0;  // irot, imir and clap make the picture upright
    heif_image* raw = nullptr;
    if (!Ok(heif_decode_image(handle, &raw, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                              decoding.get())))
        return false;
    std::unique_ptr<heif_image, TImageFree> image(raw);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (plane == nullptr || width <= 0 || height <= 0 || stride < width * 3 ||
        static_cast<int64_t>(width) * height > TBitmap::kMaxPixels)
        return false;
    int outWidth = 0;
    int outHeight = 0;
    Bounded(width, height, options, outWidth, outHeight);
    return CopyPlane(plane, stride, width, height, outWidth, outHeight, picture);
}

bool DecodeContext(heif_context* context, const THeicDecodeOptions& options, TBitmap& picture) {
    heif_image_handle* raw = nullptr;
    if (!Ok(heif_context_get_primary_image_handle(context, &raw)))
        return false;
    THandle primary(raw);
    if (options.PreferThumbnail) {
        if (THandle thumbnail = ChooseThumbnail(primary.get(), options);
            thumbnail && DecodeHandle(thumbnail.get(), options, picture))
            return true;
    }
    // Checked before decoding: the decoder allocates the whole picture first.
    return WithinCaps(primary.get()) && DecodeHandle(primary.get(), options, picture);
}

std::unique_ptr<heif_context, TContextFree> NewContext() {
    std::unique_ptr<heif_context, TContextFree> context(heif_context_alloc());
    if (context)
        heif_context_set_maximum_image_size_limit(context.get(), kMaxSide);
    return context;
}

}  // namespace

bool DecodeHeic(std::span<const uint8_t> bytes, const THeicDecodeOptions& options,
                TBitmap& picture) {
    picture.Clear();
    if (bytes.empty() || bytes.size() > static_cast<size_t>(INT_MAX))
        return false;
    try {
        auto context = NewContext();
        if (!context || !Ok(heif_context_read_from_memory_without_copy(context.get(), bytes.data(),
                                                                       bytes.size(), nullptr)))
            return false;
        if (DecodeContext(context.get(), options, picture))
            return true;
    } catch (...) {
        // The library is C++ inside: whatever escapes it ends this picture only.
    }
    picture.Clear();
    return false;
}

bool DecodeHeicFile(const std::string& fileName, const THeicDecodeOptions& options,
                    TBitmap& picture) {
    picture.Clear();
    try {
        auto context = NewContext();
        if (!context || !Ok(heif_context_read_from_file(context.get(), fileName.c_str(), nullptr)))
            return false;
        if (DecodeContext(context.get(), options, picture))
            return true;
    } catch (...) {
        // As above: the picture is lost, nothing else.
    }
    picture.Clear();
    return false;
}

}  // namespace corvane
