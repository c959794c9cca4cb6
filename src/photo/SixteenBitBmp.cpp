#include "photo/SixteenBitBmp.h"

#include <cstring>

namespace corvane {
namespace {

void PutU16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void PutU32(uint8_t* at, uint32_t value) {
    PutU16(at, value & 0xFFFF);
    PutU16(at + 2, value >> 16);
}

}  // namespace

void WriteSixteenBitBmpHeader(uint8_t* header, uint32_t width, uint32_t height, uint32_t pixelBytes,
                              bool fiveFiveFive) {
    uint8_t* h = header;
    std::memset(h, 0, kSixteenBitBmpHeaderSize);
    h[0] = 'B';
    h[1] = 'M';
    PutU32(h + 2, static_cast<uint32_t>(kSixteenBitBmpHeaderSize) + pixelBytes);
    PutU32(h + 10, kSixteenBitBmpHeaderSize);
    PutU32(h + 14, 40);
    PutU32(h + 18, width);
    PutU32(h + 22,
           static_cast<uint32_t>(-static_cast<int64_t>(height)));  // negative: top row first
    PutU16(h + 26, 1);
    PutU16(h + 28, 16);
    PutU32(h + 30, 3);  // bit fields
    PutU32(h + 34, pixelBytes);
    PutU32(h + 54, fiveFiveFive ? 0x7C00 : 0xF800);
    PutU32(h + 58, fiveFiveFive ? 0x03E0 : 0x07E0);
    PutU32(h + 62, 0x001F);
}

}  // namespace corvane
