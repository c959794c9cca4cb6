// What the device says about itself: its model, its clock, and property lists read as XML.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "base/MemoryStream.h"
#include "device/DeviceClock.h"
#include "device/SysInfo.h"
#include "device/iPodDev.h"
#include "platform/LocalFiles.h"

namespace corvane {

namespace {

// SysInfo files are a few kilobytes; anything much larger is not one.
constexpr size_t kMaxInfoFile = size_t{1} << 20;

std::string SmallFile(TIpodDevice& device, const std::string& path) {
    TMemoryStream stream;
    if (!device.ReadIfPresent(path, stream) || stream.Size() > kMaxInfoFile)
        return {};
    return std::string(reinterpret_cast<const char*>(stream.Data()), stream.Size());
}

bool IsBinaryPlist(const TMemoryStream& stream) {
    return stream.Size() >= 6 &&
           std::string_view(reinterpret_cast<const char*>(stream.Data()), 6) == "bplist";
}

// Writes our own staging file afresh.
bool WriteStagedFile(const std::string& path, const uint8_t* data, size_t size) {
    unlink(path.c_str());
    TUniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd)
        return false;
    size_t done = 0;
    while (done < size) {
        ssize_t wrote = write(fd.Get(), data + done, size - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}

}  // namespace

const TIpodModel* TIpodDevice::Model() {
    std::lock_guard lock(FModelLock);
    if (!FModel) {
        if (MobileSession() || FDrive.empty())
            return nullptr;
        const std::string sysInfo = SmallFile(*this, "/iPod_Control/Device/SysInfo");
        const std::string extended = SmallFile(*this, "/iPod_Control/Device/SysInfoExtended");
        FModel = IdentifyModel(sysInfo, extended);
    }
    return *FModel;
}

int32_t TIpodDevice::ClockShift() {
    if (!MobileSession() && !FDrive.empty()) {
        TMemoryStream stream;
        if (ReadIfPresent("/iPod_Control/Device/Preferences", stream)) {
            if (auto shift = ClockShiftFromPreferences({stream.Data(), stream.Size()}))
                return *shift;
        }
    }
    return LocalClockShift();
}

std::optional<std::string> TIpodDevice::ReadPlistXml(const std::string& path) {
    TMemoryStream stream;
    if (!ReadIfPresent(path, stream))
        return std::nullopt;
    if (!IsBinaryPlist(stream))
        return std::string(reinterpret_cast<const char*>(stream.Data()), stream.Size());
    // The converter works on files: the bytes go to our staging path and back.
    if (FWorkFile.empty() || !FFileService) {
        AddLog(path + ": a binary property list, and nothing here converts it");
        return std::nullopt;
    }
    const std::string staged = FWorkFile + "-plist";
    const std::string converted = staged + ".xml";
    std::optional<std::string> xml;
    std::string result;
    if (WriteStagedFile(staged, stream.Data(), stream.Size()) &&
        FFileService->MakeXmlPlist(staged, converted, result, true) && result == converted) {
        xml = ReadLocalFile(converted);
    }
    unlink(staged.c_str());
    unlink(converted.c_str());
    if (!xml)
        AddLog(path + ": a binary property list that cannot be converted");
    return xml;
}

}  // namespace corvane
