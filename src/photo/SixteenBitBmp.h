// The file header through which 16-bit picture records are loaded as bitmaps: top row first,
// bit fields for 5-6-5 or 5-5-5 pixels.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

constexpr size_t kSixteenBitBmpHeaderSize = 66;

// Fills header (kSixteenBitBmpHeaderSize bytes) for pixelBytes of rows of the given size.
void WriteSixteenBitBmpHeader(uint8_t* header, uint32_t width, uint32_t height, uint32_t pixelBytes,
                              bool fiveFiveFive);

}  // namespace corvane
