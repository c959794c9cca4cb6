// HEIC and HEIF pictures written as JPEG files on export: the primary image decoded upright
// (the file's rotation and mirroring applied), encoded at quality 90, and the picture's EXIF
// block carried over with its Orientation set to 1, so that viewers do not turn it again.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace corvane {

// True for the names of HEIC and HEIF files (by extension, any letter case).
bool IsHeifName(const std::string& name);

// The JPEG bytes of the HEIC/HEIF file at path; empty with error set when it cannot be decoded.
std::vector<uint8_t> HeicFileToJpeg(const std::string& path, std::string& error, int quality = 90);

// An EXIF block as it sits in a JPEG APP1 segment ("Exif\0\0" and a TIFF structure) from the
// block libheif gives (a 4-byte offset to the TIFF header, then the block), with the
// Orientation of IFD0 set to 1. Empty when the block is damaged or too large for a segment.
std::vector<uint8_t> JpegExifSegment(std::span<const uint8_t> heifExif);

}  // namespace corvane
