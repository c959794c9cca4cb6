// Picture file codecs over libjpeg-turbo, libpng and giflib. Decoders never throw: a damaged
// or truncated file, or one larger than TBitmap::kMaxPixels, gives false.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/Bitmap.h"

namespace corvane {

// scaleDenominator 1, 2, 4 or 8: the decoder's own reduction in each direction.
bool DecodeJpeg(std::span<const uint8_t> bytes, int scaleDenominator, TBitmap& picture);
bool DecodePng(std::span<const uint8_t> bytes, TBitmap& picture);
// First frame only.
bool DecodeGif(std::span<const uint8_t> bytes, TBitmap& picture);

// JPEG with the library's default settings (quality 75); empty on failure.
std::vector<uint8_t> EncodeJpeg(const TBitmap& picture);
std::vector<uint8_t> EncodePng(const TBitmap& picture);

}  // namespace corvane
