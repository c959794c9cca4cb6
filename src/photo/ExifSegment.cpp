#include "photo/ExifSegment.h"

#include <cstring>

namespace corvane {

namespace {

constexpr uint8_t kMarkerStart = 0xd8;  // SOI
constexpr uint8_t kMarkerApp0 = 0xe0;
constexpr uint8_t kMarkerApp1 = 0xe1;
constexpr uint8_t kMarkerApp15 = 0xef;
constexpr char kExifHeader[] = {'E', 'x', 'i', 'f', 0, 0};
// The marker byte, the two length bytes and the EXIF header.
constexpr size_t kSegmentLead = 1 + 2 + sizeof kExifHeader;

}  // namespace

TExifSegment FindExifSegment(std::span<const uint8_t> head) {
    TExifSegment result;
    // Data that begins with the EXIF header itself is read by the EXIF reader from wherever
    // it lies: no bounded part of the file can stand in for it.
    if (head.size() < sizeof kExifHeader) {
        result.State = TExifSegment::NeedMore;
        result.End = sizeof kExifHeader;
        return result;
    }
    if (std::memcmp(head.data(), kExifHeader, sizeof kExifHeader) == 0)
        return result;
    size_t at = 0;
    auto needMore = [&](size_t end) {
        result.State = TExifSegment::NeedMore;
        result.End = end;
        return result;
    };
    for (;;) {
        while (at < head.size() && head[at] == 0xff)
            ++at;
        // Every step below reads the marker byte and its two length bytes.
        if (head.size() - at < 3)
            return needMore(at + 3);
        const uint8_t marker = head[at];
        if (marker == kMarkerStart) {
            ++at;
            continue;
        }
        if (marker < kMarkerApp0 || marker > kMarkerApp15)
            return result;  // the picture's own markers begin: no EXIF data before them
        const size_t length = (size_t{head[at + 1]} << 8) | head[at + 2];
        if (marker == kMarkerApp1) {
            if (head.size() - at < kSegmentLead)
                return needMore(at + kSegmentLead);
            if (std::memcmp(head.data() + at + 3, kExifHeader, sizeof kExifHeader) == 0) {
                result.State = TExifSegment::Found;
                result.Start = at + kSegmentLead;
                // The length counts itself; a segment too short to hold the header is empty.
                result.End = length < 2 + sizeof kExifHeader ? result.Start : at + 1 + length;
                return result;
            }
        }
        at += 1 + length;  // another application segment (XMP, ICC profile, ...)
    }
}

}  // namespace corvane
