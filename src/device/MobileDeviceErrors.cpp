#include "device/MobileDeviceErrors.h"

#include "device/MobileDeviceLibrary.h"

namespace corvane {

namespace {

struct TAfcError {
    int Code;
    const char* Name;
    const char* Words;
};

// The file service's codes as the library numbers them.
constexpr TAfcError kAfcErrors[] = {
    {1, "UNKNOWN_ERROR", "the device gave no reason"},
    {2, "OP_HEADER_INVALID", "the answer did not belong to the request"},
    {3, "NO_RESOURCES", "the device is out of resources"},
    {4, "READ_ERROR", "the device could not read the file"},
    {5, "WRITE_ERROR", "the device could not write"},
    {6, "UNKNOWN_PACKET_TYPE", "the device did not understand the request"},
    {7, "INVALID_ARG", "the request was refused as invalid"},
    {8, "OBJECT_NOT_FOUND", "no such file on the device"},
    {9, "OBJECT_IS_DIR", "it is a folder"},
    {10, "PERM_DENIED", "permission denied"},
    {11, "SERVICE_NOT_CONNECTED", "the file service is not connected"},
    {12, "OP_TIMEOUT", "the device did not answer in time"},
    {13, "TOO_MUCH_DATA", "too much data"},
    {14, "END_OF_DATA", "end of data"},
    {15, "OP_NOT_SUPPORTED", "the device does not support the request"},
    {16, "OBJECT_EXISTS", "it exists already"},
    {17, "OBJECT_BUSY", "the file is busy"},
    {18, "NO_SPACE_LEFT", "no space left"},
    {19, "OP_WOULD_BLOCK", "the request would block"},
    {20, "IO_ERROR", "input/output error on the device"},
    {21, "OP_INTERRUPTED", "the request was interrupted"},
    {22, "OP_IN_PROGRESS", "a request is in progress"},
    {23, "INTERNAL_ERROR", "internal error of the device"},
    {30, "MUX_ERROR", "the connection to the device broke"},
    {31, "NO_MEM", "out of memory"},
    {32, "NOT_ENOUGH_DATA", "the answer was cut short"},
    {33, "DIR_NOT_EMPTY", "the folder is not empty"},
};

}  // namespace

std::string AfcErrorText(int code) {
    std::string text = "AFC error " + std::to_string(code);
    for (const TAfcError& error : kAfcErrors) {
        if (error.Code == code)
            return text + " (" + error.Name + ": " + error.Words + ")";
    }
    return text;
}

bool IsAfcConnectionLoss(int code) {
    return code == 11 || code == 30 || code == 32;
}

std::string PairingMessage(int code, const std::string& kind) {
    const std::string act = "Unlock the " + kind + " and tap Trust on its screen.";
    switch (code) {
        case kPairingPending:
            return "The " + kind + " asks whether to trust this computer. " + act;
        case kPairingPasscodeLocked:
            return "The " + kind + " is locked with a passcode. " + act;
        case kPairingDenied:
            return "The " + kind +
                   " does not trust this computer (Don't Trust was tapped). Unplug it and plug "
                   "it in again. " +
                   act;
        default:
            return {};
    }
}

std::string DeviceKindWord(const std::string& deviceClass) {
    if (deviceClass == "iPad")
        return "iPad";
    if (deviceClass == "iPod")
        return "iPod touch";
    return "iPhone";
}

}  // namespace corvane
