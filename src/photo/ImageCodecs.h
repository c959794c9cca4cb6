// Picture file codecs over libjpeg-turbo, libpng (reading), libdeflate (PNG writing) and giflib.
// Decoders never throw: a damaged or truncated file, or one larger than TBitmap::kMaxPixels,
// gives false.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "base/Bitmap.h"

namespace corvane {

// JPEG: colour and greyscale pictures (CMYK ones are refused). A picture whose full size is
// past TBitmap::kMaxPixels is refused even when decoded reduced (the decoder still walks all of
// it), and so is a file that ends before its picture does (the library would make up the rest
// in grey).

// scaleDenominator 1, 2, 4 or 8: the decoder's own reduction in each direction; the picture is
// ceil(width / scaleDenominator) x ceil(height / scaleDenominator).
bool DecodeJpeg(std::span<const uint8_t> bytes, int scaleDenominator, TBitmap& picture);
// The same, with the reduction chosen from the picture's full size once the header is read:
// scaleFor(width, height) returns 1, 2, 4 or 8.
bool DecodeJpeg(std::span<const uint8_t> bytes, const std::function<int(int, int)>& scaleFor,
                TBitmap& picture);
// The same in the finer steps the decoder offers: eighthsFor(width, height) returns M of 1 to 8,
// and the picture is ceil(width x M / 8) x ceil(height x M / 8).
bool DecodeJpegInEighths(std::span<const uint8_t> bytes,
                         const std::function<int(int, int)>& eighthsFor, TBitmap& picture);
// Any PNG colour type and depth, to 8-bit RGB; transparency is composed onto white.
bool DecodePng(std::span<const uint8_t> bytes, TBitmap& picture);
// The first frame only, on a white picture of the file's logical screen size (the frame's own
// size when the file gives none); its transparent pixels stay white. Stops at the first frame,
// so a long animation costs no more than its first picture.
bool DecodeGif(std::span<const uint8_t> bytes, TBitmap& picture);

// JPEG with the library's default settings (quality 75); empty on failure.
std::vector<uint8_t> EncodeJpeg(const TBitmap& picture);
// 8-bit RGB, deflated for speed rather than size; empty on failure.
std::vector<uint8_t> EncodePng(const TBitmap& picture);

}  // namespace corvane
