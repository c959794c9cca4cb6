#include "device/CopyResultText.h"

#include <cerrno>
#include <cstring>

#include "device/iPodDev.h"

namespace corvane {
namespace {

// The local copy reports errno only; these are the ones that come from the reading side.
bool ReadSideError(int error) {
    return error == ENOENT || error == EIO || error == EACCES || error == EPERM || error == ENXIO ||
           error == ENODEV || error == ESTALE;
}

bool WriteSideError(int error) {
    return error == ENOSPC || error == EDQUOT || error == EROFS || error == EEXIST ||
           error == EFBIG || error == ENAMETOOLONG;
}

}  // namespace

std::string CopyFailureText(int code) {
    switch (code) {
        case kCopyDeviceFailed:
            return "the device file could not be read";
        case kCopyFolderFailed:
            return "a folder for it could not be created on the computer";
        default:
            break;
    }
    if (code <= kCopyLocalError)
        return "the copy failed (code " + std::to_string(code) + ")";
    const int error = code - kCopyLocalError;
    const std::string reason = " (" + std::string(std::strerror(error)) + ")";
    if (ReadSideError(error))
        return "the device file could not be read" + reason;
    if (WriteSideError(error))
        return "the copy could not be written" + reason;
    return "the file could not be copied" + reason;
}

}  // namespace corvane
