// Turning .ithmb picture records into pictures: 16-bit records through a bitmap file header,
// and the decoders of the full-size formats that are not plain 16-bit pixels.
#pragma once

#include <cstdint>
#include <span>

#include "base/Bitmap.h"

namespace corvane {

// Rounds to the nearest integer (halves to even) and holds the result to 0..255.
uint8_t Clamp(double value);

// Bilinear scaling in 16.16 fixed point; dest keeps its size and is overwritten.
void ScaleBilinear(const TBitmap& source, TBitmap& dest);

// bitmapFile = a 66-byte 16-bit bit-field header (TIpodPhotoDb::BmpHeader) followed by the
// record. False when the bytes are not a bitmap file that can be loaded.
bool LoadRgbRecord(std::span<const uint8_t> bitmapFile, TBitmap& picture);

// Format 1023: big-endian 16-bit pixels, 176 x 132, loaded through header (the full-size one).
bool DecodeSwappedRgb(std::span<const uint8_t> record, std::span<const uint8_t> header,
                      TBitmap& picture);
// Format 1019: interlaced UYVY 720 x 480 (691200 bytes), cropped to 704 and scaled to 640 x 480.
bool DecodeUyvy(std::span<const uint8_t> record, TBitmap& picture);
// Format 1067: planar YUV 4:2:0, 720 x 480.
bool DecodeYuv420(std::span<const uint8_t> record, TBitmap& picture);

}  // namespace corvane
