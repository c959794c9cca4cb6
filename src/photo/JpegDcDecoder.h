// A JPEG picture at one eighth of its size, one pixel per 8 x 8 block, taken from the blocks'
// DC coefficients alone. At that size a full decoder spends nearly all its time walking the
// entropy-coded data; this one only skips over the AC coefficients, which makes it several
// times cheaper, and gives the same luma as libjpeg's own reduction to an eighth.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "base/Bitmap.h"

namespace corvane {

// Sequential Huffman-coded 8-bit pictures whose first scan holds every component: greyscale
// or YCbCr, sampling factors 1 or 2, restart intervals. wanted(width, height) is asked once
// the header is read; false from it stops the decode. Returns false, with picture empty, for
// every other kind of file (progressive, arithmetic-coded, 12-bit, RGB, CMYK) and for damage of
// any sort, which a full decoder then judges. The picture is ceil(width / 8) x
// ceil(height / 8); chroma sampled at half the luma is widened block by block.
bool DecodeJpegDc(std::span<const uint8_t> bytes, const std::function<bool(int, int)>& wanted,
                  TBitmap& picture);

}  // namespace corvane
