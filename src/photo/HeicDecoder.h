// HEIC and HEIF pictures through libheif, as 24-bit bitmaps no larger than asked for. The
// rotation, mirroring and crop boxes of the file are applied by the library, so the picture
// comes out upright. Never throws: a damaged file, one without a decoder for its coding, or
// one whose picture is past TBitmap::kMaxPixels gives false.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "base/Bitmap.h"

namespace corvane {

struct THeicDecodeOptions {
    // The picture is reduced (keeping its shape) until it fits maxWidth x maxHeight; 0 for
    // either leaves the full size.
    int MaxWidth = 0;
    int MaxHeight = 0;
    // Decode the small picture the file carries instead of the main one when there is one
    // (the quick way to a preview); the main picture is decoded when there is none.
    bool PreferThumbnail = false;
};

bool DecodeHeic(std::span<const uint8_t> bytes, const THeicDecodeOptions& options,
                TBitmap& picture);
bool DecodeHeicFile(const std::string& fileName, const THeicDecodeOptions& options,
                    TBitmap& picture);

}  // namespace corvane
