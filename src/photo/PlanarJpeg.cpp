#include "photo/PlanarJpeg.h"

#include <csetjmp>
#include <new>

#include "photo/JpegCompression.h"

namespace corvane {
namespace {

// Rows of one block row: 16 of luma and 8 of each chroma plane.
constexpr int kBlockRows = 16;

bool EncodeGuarded(TJpegCompression& encoder, const TYcbcrPicture& picture) {
    if (setjmp(encoder.Jump()) != 0)
        return false;
    jpeg_compress_struct& info = encoder.Info;
    encoder.Begin(picture.Width(), picture.Height(), JCS_YCbCr);
    jpeg_set_colorspace(&info, JCS_YCbCr);
    info.raw_data_in = TRUE;
    info.comp_info[0].h_samp_factor = 2;
    info.comp_info[0].v_samp_factor = 2;
    for (int c = 1; c < 3; ++c) {
        info.comp_info[c].h_samp_factor = 1;
        info.comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(&info, TRUE);
    JSAMPROW luma[kBlockRows];
    JSAMPROW cb[kBlockRows / 2];
    JSAMPROW cr[kBlockRows / 2];
    JSAMPARRAY planes[3] = {luma, cb, cr};
    while (info.next_scanline < info.image_height) {
        const auto top = static_cast<int>(info.next_scanline);
        // The library does not write through the row pointers.
        for (int r = 0; r < kBlockRows; ++r)
            luma[r] = const_cast<uint8_t*>(picture.Luma(top + r));
        for (int r = 0; r < kBlockRows / 2; ++r) {
            cb[r] = const_cast<uint8_t*>(picture.Cb(top / 2 + r));
            cr[r] = const_cast<uint8_t*>(picture.Cr(top / 2 + r));
        }
        jpeg_write_raw_data(&info, planes, kBlockRows);
    }
    jpeg_finish_compress(&info);
    return true;
}

}  // namespace

std::vector<uint8_t> EncodePlanarJpeg(const TYcbcrPicture& picture) {
    if (picture.Width() <= 0 || picture.Height() <= 0 || picture.Width() % kBlockRows != 0 ||
        picture.Height() % kBlockRows != 0)
        return {};
    try {
        TJpegCompression encoder;
        if (EncodeGuarded(encoder, picture) && encoder.Buffer)
            return std::vector<uint8_t>(encoder.Buffer, encoder.Buffer + encoder.Size);
    } catch (const std::bad_alloc&) {
    }
    return {};
}

}  // namespace corvane
