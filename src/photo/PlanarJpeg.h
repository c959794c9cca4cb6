// JPEG files written from luma and chroma planes, the encoder taking them as they are: the
// same file settings as EncodeJpeg (quality 75, 4:2:0, JFIF) without its colour conversion
// and downsampling.
#pragma once

#include <cstdint>
#include <vector>

#include "photo/YcbcrPicture.h"

namespace corvane {

// Sides must be multiples of 16 (the video records' are), so that the planes fill whole
// blocks; empty on any other size and on failure.
std::vector<uint8_t> EncodePlanarJpeg(const TYcbcrPicture& picture);

}  // namespace corvane
