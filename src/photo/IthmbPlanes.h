// The video record formats decoded for the JPEG encoder rather than for the screen: straight to
// full-range luma and 4:2:0 chroma planes, with no RGB in between. The photo export uses these;
// previews keep the RGB decoders of IthmbDecoders.h.
#pragma once

#include <cstdint>
#include <span>

#include "photo/YcbcrPicture.h"

namespace corvane {

// Format 1019: interlaced UYVY 720 x 480, cropped to 704 and resampled to 640 x 480; each chroma
// row is the mean of a line of each field. False when the record is too short.
bool DecodeUyvyPlanes(std::span<const uint8_t> record, TYcbcrPicture& picture);
// Format 1067: planar YUV 4:2:0, 720 x 480; the planes only change levels. False when the
// record is too short.
bool DecodeYuv420Planes(std::span<const uint8_t> record, TYcbcrPicture& picture);

}  // namespace corvane
