// Reading bitmap (.bmp) files: uncompressed 1/4/8-bit palette, 16-bit (5-5-5 or bit fields),
// 24-bit and 32-bit pictures, rows bottom-up or (negative height) top-down.
#pragma once

#include <cstdint>
#include <span>

#include "base/Bitmap.h"

namespace corvane {

// False, with picture left empty, when the bytes are not a bitmap file this reader handles or
// end before the pixels do.
bool LoadBitmapFile(std::span<const uint8_t> bytes, TBitmap& picture);

}  // namespace corvane
