// Session life, finding the device, attach and loss, naming.
#include "device/iPodDev.h"

#include "base/PlatformTexts.h"
#include "device/DiskPaths.h"
#include "platform/LocalFiles.h"
#include "platform/SystemFolders.h"

namespace corvane {

namespace {

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

}  // namespace

TIpodDevice::TIpodDevice(TOnChange onChange, TDeviceSessionOptions options)
    : FOptions(std::move(options)), FOnChange(std::move(onChange)) {
    // The staging path exists before the first attach can ask for it.
    FWorkFile = MakeWorkFile();
    if (FOptions.MobileOnDemand) {
        // A file service without a library until ScanDrives asks for one.
        FFileService = std::make_unique<TIosHelper>(nullptr, nullptr);
    } else {
        StartMobileDevices();
    }
    if (FOptions.WatchMounts || FOptions.WatchFolders) {
        TWatchedFolders folders;
        folders.MountTable = FOptions.WatchMounts;
        if (FOptions.WatchFolders) {
            for (const std::string& volume : FOptions.ExtraVolumes)
                folders.Folders.push_back(WithoutTrailingSlash(volume));
            folders.Present = [](const std::string& folder) {
                std::optional<std::string> itunes = ResolveBelow(folder, "/iPod_Control/iTunes");
                return itunes && DirectoryExists(*itunes);
            };
        }
        FMountWatcher = std::make_unique<TMountWatcher>(
            FOptions.Dispatch, [this](const TMountChange& change) { VolumeMessage(change); },
            std::move(folders));
        FMountWatcher->Start();
    }
}

void TIpodDevice::StartMobileDevices() {
    FMobileStarted = true;
    std::unique_ptr<IMobileDeviceLibrary> library;
    if (FOptions.LoadLibrary)
        library = FOptions.LoadLibrary();
    FFileService = std::make_unique<TIosHelper>(
        [this](TIosHelper&, bool attached) { IosChanged(attached); }, std::move(library));
    FFileService->SetOnNotice([this](const std::string& text) { AddLog(text); });
    FFileService->SetOnPairing([this](const std::string& message) {
        TOnPairing onPairing;
        {
            std::lock_guard lock(FOnChangeLock);
            onPairing = FOnPairing;
        }
        if (onPairing)
            onPairing(message);
    });
    if (!FFileService->Loaded()) {
        AddLog(texts::kNoMobileLibrary);
        FNoLibrary = true;
    } else if (!FFileService->StartNotify()) {
        AddLog("Cannot access iPhone/iTouch/iPad.");
        FNoLibrary = true;
    }
}

TIpodDevice::~TIpodDevice() {
    SetOnChange(nullptr);  // a session going away reports nothing
    SetOnPairing(nullptr);
    FMountWatcher.reset();
    CloseThumbFile();
    FFileService.reset();
    if (!FWorkFile.empty())
        RemoveWorkFile(FWorkFile);
}

void TIpodDevice::SetOnChange(TOnChange onChange) {
    std::lock_guard lock(FOnChangeLock);
    FOnChange = std::move(onChange);
}

void TIpodDevice::SetOnPairing(TOnPairing onPairing) {
    std::lock_guard lock(FOnChangeLock);
    FOnPairing = std::move(onPairing);
}

std::string TIpodDevice::PairingMessage() const {
    return FFileService->PairingMessage();
}

void TIpodDevice::Report(bool connected) {
    TOnChange onChange;
    {
        std::lock_guard lock(FOnChangeLock);
        onChange = FOnChange;
    }
    if (onChange)
        onChange(connected);
}

bool TIpodDevice::ScanDrives() {
    std::vector<std::string> volumes = FOptions.ExtraVolumes;
    if (FOptions.VolumeRule) {
        for (std::string& volume : RemovableVolumes(FOptions.VolumeRule)) {
            volumes.push_back(std::move(volume));
        }
    }
    for (const std::string& volume : volumes) {
        if (CheckDrive(volume)) {
            FConnected = true;
            Report(true);
            return true;
        }
    }
    if (!FMobileStarted)
        StartMobileDevices();
    return false;
}

bool TIpodDevice::CheckDrive(const std::string& mountPoint) {
    std::string root = WithoutTrailingSlash(mountPoint);
    if (root.empty() || !DirectoryExists(root))
        return false;
    std::optional<std::string> folder = ResolveBelow(root, "/iPod_Control/iTunes");
    if (!folder || !DirectoryExists(*folder))
        return false;
    FIsIos = false;
    FLostIos = false;
    FDrive = root;
    // Another volume is another device: its own files name it.
    {
        std::lock_guard lock(FModelLock);
        FModel.reset();
    }
    std::lock_guard lock(FNameLock);
    if (FNameIsModel || FNameCache == "iPod") {
        FNameCache.clear();
        FNameIsModel = false;
    }
    return true;
}

void TIpodDevice::VolumeMessage(const TMountChange& change) {
    if (FIsIos)
        return;
    if (!FConnected) {
        for (const TMountEntry& entry : change.Added) {
            // A watched folder (MountId -1) is no mount the rule could judge.
            if (entry.MountId >= 0 && FOptions.VolumeRule && !FOptions.VolumeRule(entry))
                continue;
            if (CheckDrive(entry.MountPoint)) {
                FConnected = true;
                Report(true);
                return;
            }
        }
        return;
    }
    for (const TMountEntry& entry : change.Removed) {
        if (WithoutTrailingSlash(entry.MountPoint) != FDrive)
            continue;
        AddLog("[!]: Lost iPod, please connect iPod to try again");
        FConnected = false;
        FIsIos = false;
        FDrive.clear();
        Report(false);
        return;
    }
}

void TIpodDevice::IosChanged(bool attached) {
    // While a disk-mode iPod is served, mobile devices are not reported.
    if (FConnected && !FIsIos)
        return;
    if (!attached && FIsIos) {
        std::string name;
        {
            std::lock_guard lock(FNameLock);
            name = FNameCache.empty() ? "iPhone" : FNameCache;
        }
        AddLog("[!]: Lost " + name + ", please connect it to try again");
    }
    FLostIos = !attached && (FIsIos || FLostIos);
    FConnected = attached;
    FIsIos = attached;
    // Named while it can still answer: a loss is reported by that name.
    if (attached)
        DisplayName();
    Report(attached);
}

std::string TIpodDevice::DisplayName() {
    std::lock_guard lock(FNameLock);
    if (FNameCache.empty()) {
        if (FIsIos) {
            FNameCache = FFileService->GetDeviceName();
            if (FNameCache.empty())
                FNameCache = "iDevice";
        } else if (const TIpodModel* model = FDrive.empty() ? nullptr : Model()) {
            FNameCache = model->Name();
            FNameIsModel = true;
        } else {
            FNameCache = "iPod";
        }
    }
    return FNameCache;
}

void TIpodDevice::SetDisplayName(const std::string& name) {
    if (FIsIos)
        return;
    std::lock_guard lock(FNameLock);
    if (FNameCache.empty() || FNameCache == "iPod" || FNameIsModel) {
        FNameCache = name;
        FNameIsModel = false;
    }
}

}  // namespace corvane
