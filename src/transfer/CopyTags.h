// Ratings and play counts written into a copied track's own tags, in the frames the common
// Linux players read (FMPS fields, POPM frames, the MP4 freeform atoms).
#pragma once

#include <optional>
#include <string>

namespace corvane::tags {

struct TRatingTags {
    std::optional<int> Rating;     // 0..100, 20 a star
    std::optional<int> PlayCount;  // plays
};

// Empty when the file's format carries tags that can be written, else why not.
std::string WhyNoRatingTags(const std::string& path);

// Writes the values that are set into the file's tags; empty on success, else the reason.
// The tags are written into a copy beside the file that replaces it only when saved whole,
// so a file that cannot be written keeps its bytes.
std::string WriteRatingTags(const std::string& path, const TRatingTags& values);

// The FMPS form of a 0..100 rating: "0.6" for 60, "1.0" for 100.
std::string FmpsRating(int rating);

}  // namespace corvane::tags
