// How `corvane-cli photos list` prints a loaded photo library.
#pragma once

#include <string>

namespace corvane {
class TIpodDevice;
class TIpodPhotoDb;
}  // namespace corvane

namespace corvane::cli {

// One JSON object; its shape is relied on by scripts and other front ends.
std::string PhotoLibraryJson(TIpodDevice& device, const TIpodPhotoDb& photos, bool loaded);
// A readable listing of formats, photos, albums and the camera roll with the log.
std::string PhotoLibraryTable(TIpodDevice& device, const TIpodPhotoDb& photos, bool loaded);

}  // namespace corvane::cli
