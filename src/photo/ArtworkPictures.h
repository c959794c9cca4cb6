// Album-art pictures: a record of an .ithmb file decoded by its format (16-bit records through
// the same bitmap-header loader as the photo records), or a whole picture file of a mobile
// device, read through the device session.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/Bitmap.h"
#include "music/ArtworkIndex.h"

namespace corvane {

class TIpodDevice;

// The record's bytes as a picture of its own size (the padding cut off). False, with picture
// empty, when the bytes do not hold what the format and the record's size say.
bool DecodeArtworkRecord(std::span<const uint8_t> bytes, const TArtworkRecord& record,
                         const TArtworkFormat& format, TBitmap& picture);

// The cover of an image of the index as a picture: its largest record, or its picture file.
bool ReadCover(TIpodDevice& device, const TArtworkIndex& artwork, int image, TBitmap& picture);

// The cover as a JPEG file: a JPEG picture file unchanged, anything else decoded and encoded.
// Empty when the cover cannot be read.
std::vector<uint8_t> CoverJpeg(TIpodDevice& device, const TArtworkIndex& artwork, int image);

}  // namespace corvane
