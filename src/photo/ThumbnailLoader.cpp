#include "photo/ThumbnailLoader.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>

#include "device/iPodDev.h"
#include "photo/IthmbDecoders.h"
#include "photo/PreviewMaker.h"
#include "photo/PreviewPlaceholders.h"
#include "photo/iPodPhoto.h"

namespace corvane {

namespace {

// Camera previews take the library's cell; a side of 0 (no preview format) becomes 100, and so
// does a side no preview cell has, which only a damaged database gives: each item gets a copy.
constexpr int kDefaultCellSide = 100;
constexpr int kMaxCellSide = 1024;

int CellSide(int side) {
    return side > 0 && side <= kMaxCellSide ? side : kDefaultCellSide;
}

// Previews made from files have the pixels of the screen they are shown on.
int MadeSide(int side, int scale) {
    return CellSide(side) * std::clamp(scale, 1, 3);
}

// One step below normal: the window stays responsive while previews load. Linux takes a
// thread's id for its nice value.
void LowerPriority() {
    const auto thread = static_cast<id_t>(gettid());
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, thread);
    if (errno == 0)
        setpriority(PRIO_PROCESS, thread, nice + 1);
}

// Disk mode lists camera files by their local paths, while ReadImageFile takes device paths.
std::string CameraFilePath(const TIpodDevice& device, const std::string& path) {
    const std::string& drive = device.Drive();
    if (device.IsIos() || drive.empty() || path.size() <= drive.size() ||
        path.compare(0, drive.size(), drive) != 0 || path[drive.size()] != '/')
        return path;
    return path.substr(drive.size());
}

// Which items already have a preview: a loader started again leaves them alone.
template <typename TList>
std::vector<char> ItemsDone(TList& list, std::mutex& thumbLock) {
    std::vector<char> done(static_cast<size_t>(std::max(list.Count(), 0)));
    std::lock_guard lock(thumbLock);
    for (size_t i = 0; i < done.size(); ++i)
        done[i] = list.Items(static_cast<int>(i)).Thumb.Empty() ? 0 : 1;
    return done;
}

}  // namespace

struct TLoadAllThumbnailThd::TChannel {
    TRunOnUiThread Dispatch;
    std::mutex Mutex;
    std::condition_variable Changed;
    std::function<void()> Work;  // the report waiting for the owner's thread
    uint64_t Posted = 0;         // reports handed over so far
    uint64_t Taken = 0;          // reports taken to be run, or given up
    uint64_t Done = 0;           // reports finished
    bool Dropped = false;        // the dispatcher refused a report: nobody listens any more
    bool InDispatch = false;     // the courier waits inside Dispatch
    bool Finished = false;       // the loader thread has ended
    bool Stopping = false;       // the courier is to end

    bool Pending() const { return Taken < Posted; }

    // Runs the waiting report, if any, on the calling thread; lock is held on entry and exit.
    void RunPending(std::unique_lock<std::mutex>& lock) {
        if (!Pending())
            return;
        std::function<void()> work = std::move(Work);
        Work = nullptr;
        ++Taken;
        lock.unlock();
        try {
            work();
        } catch (...) {
            lock.lock();
            ++Done;
            Changed.notify_all();
            throw;
        }
        lock.lock();
        ++Done;
        Changed.notify_all();
    }

    // Carries reports to Dispatch, so that the loader itself never waits inside it and a
    // waiting owner can run the report instead.
    static void RunCourier(const std::shared_ptr<TChannel>& channel) {
        std::unique_lock lock(channel->Mutex);
        for (;;) {
            channel->Changed.wait(lock, [&] { return channel->Stopping || channel->Pending(); });
            if (channel->Stopping)
                return;
            const uint64_t sent = channel->Posted;
            channel->InDispatch = true;
            lock.unlock();
            // The work holds its own reference: a dispatcher may run it after we gave up.
            channel->Dispatch([channel] {
                std::unique_lock inner(channel->Mutex);
                channel->RunPending(inner);
            });
            lock.lock();
            channel->InDispatch = false;
            if (channel->Pending() && channel->Posted == sent) {
                // Returned without running it (a queue that was shut down).
                channel->Work = nullptr;
                ++channel->Taken;
                ++channel->Done;
                channel->Dropped = true;
                channel->Changed.notify_all();
            }
        }
    }
};

TLoadAllThumbnailThd::TLoadAllThumbnailThd(TIpodPhotoDb* photoDb, bool cameraRoll, TOnDone onDone,
                                           TOnItem onItem, TRunOnUiThread dispatch)
    : FPhotoDb(photoDb),
      FCameraRoll(cameraRoll),
      FOnDone(std::move(onDone)),
      FOnItem(std::move(onItem)),
      FOwner(std::this_thread::get_id()),
      FChannel(std::make_shared<TChannel>()) {
    FChannel->Dispatch = dispatch ? std::move(dispatch) : TRunOnUiThread(RunDirect);
    FCourier = std::thread([channel = FChannel] { TChannel::RunCourier(channel); });
    try {
        FThread = std::thread([this] { Execute(); });
    } catch (...) {
        StopCourier();
        throw;
    }
}

TLoadAllThumbnailThd::~TLoadAllThumbnailThd() {
    Terminate();
    WaitFor();
}

void TLoadAllThumbnailThd::WaitFor() {
    if (FThread.joinable()) {
        if (std::this_thread::get_id() == FOwner) {
            std::unique_lock lock(FChannel->Mutex);
            for (;;) {
                FChannel->Changed.wait(lock,
                                       [&] { return FChannel->Finished || FChannel->Pending(); });
                if (!FChannel->Pending())
                    break;
                FChannel->RunPending(lock);
            }
        }
        FThread.join();
    }
    StopCourier();
}

void TLoadAllThumbnailThd::StopCourier() {
    if (!FCourier.joinable())
        return;
    bool handingOver;
    {
        std::lock_guard lock(FChannel->Mutex);
        FChannel->Stopping = true;
        handingOver = FChannel->InDispatch;
    }
    FChannel->Changed.notify_all();
    // A courier inside Dispatch may wait for this very thread; it ends by itself later.
    if (handingOver) {
        FCourier.detach();
    } else {
        FCourier.join();
    }
}

void TLoadAllThumbnailThd::Report(std::function<void()> call) {
    std::unique_lock lock(FChannel->Mutex);
    FChannel->Work = std::move(call);
    const uint64_t mine = ++FChannel->Posted;
    FChannel->Changed.notify_all();
    FChannel->Changed.wait(lock, [&] { return FChannel->Done >= mine; });
    if (FChannel->Dropped)
        FTerminated = true;
}

void TLoadAllThumbnailThd::ReportItem() {
    const int index = FIndex;
    const int total = FTotal;
    Report([this, index, total] {
        if (FOnItem)
            FOnItem(index, total);
    });
}

void TLoadAllThumbnailThd::Execute() {
    LowerPriority();
    try {
        if (FPhotoDb && FCameraRoll) {
            LoadCameraPreviews(*FPhotoDb);
        } else if (FPhotoDb) {
            LoadLibraryPreviews(*FPhotoDb);
        }
    } catch (...) {
        // Out of memory, most likely: the previews so far stay and the end is reported.
        FCompleted = false;
    }
    const bool completed = FCompleted;
    Report([this, completed] {
        if (FOnDone)
            FOnDone(completed);
    });
    {
        std::lock_guard lock(FChannel->Mutex);
        FChannel->Finished = true;
    }
    FChannel->Changed.notify_all();
}

void TLoadAllThumbnailThd::Want(std::vector<int> indexes) {
    std::reverse(indexes.begin(), indexes.end());
    std::lock_guard lock(FWantLock);
    FWanted = std::move(indexes);
}

int TLoadAllThumbnailThd::NextItem(const std::vector<char>& done, int& cursor) {
    {
        std::lock_guard lock(FWantLock);
        while (!FWanted.empty()) {
            const int wanted = FWanted.back();
            FWanted.pop_back();
            if (wanted >= 0 && static_cast<size_t>(wanted) < done.size() &&
                !done[static_cast<size_t>(wanted)])
                return wanted;
        }
    }
    while (static_cast<size_t>(cursor) < done.size() && done[static_cast<size_t>(cursor)])
        ++cursor;
    return static_cast<size_t>(cursor) < done.size() ? cursor : -1;
}

void TLoadAllThumbnailThd::LoadItems(const std::vector<char>& done,
                                     const std::function<void(int)>& item) {
    std::vector<char> finished = done;
    FCount = static_cast<int>(std::count(done.begin(), done.end(), 1));
    int cursor = 0;
    for (;;) {
        const int index = NextItem(finished, cursor);
        if (index < 0)
            break;
        finished[static_cast<size_t>(index)] = 1;
        item(index);
        FIndex = index;
        ++FCount;
        ReportItem();
        if (FTerminated) {
            FCompleted = false;
            break;
        }
    }
}

int TLoadAllThumbnailThd::GuessNextItem(const std::vector<char>& done, int cursor, int besides) {
    auto open = [&](int i) {
        return i >= 0 && static_cast<size_t>(i) < done.size() && !done[static_cast<size_t>(i)] &&
               i != besides;
    };
    {
        std::lock_guard lock(FWantLock);
        for (auto wanted = FWanted.rbegin(); wanted != FWanted.rend(); ++wanted) {
            if (open(*wanted))
                return *wanted;
        }
    }
    while (static_cast<size_t>(cursor) < done.size() && !open(cursor))
        ++cursor;
    return static_cast<size_t>(cursor) < done.size() ? cursor : -1;
}

namespace {

using TMakePreview = std::function<std::optional<TBitmap>(int, int)>;

// The helper of LoadItemsAhead: makes one asked-for preview at a time and keeps the last result
// until it is taken or replaced.
class TAheadWorker {
public:
    explicit TAheadWorker(const TMakePreview& make) : FMake(make), FThread([this] { Run(); }) {}
    ~TAheadWorker() {
        {
            std::lock_guard lock(FMutex);
            FStopping = true;
        }
        FChanged.notify_all();
        FThread.join();
    }
    TAheadWorker(const TAheadWorker&) = delete;
    TAheadWorker& operator=(const TAheadWorker&) = delete;

    // Starts on index unless the helper is busy or already has it; an unused result of another
    // item is given up.
    void Ask(int index) {
        std::lock_guard lock(FMutex);
        if (FAsked >= 0 || FWorking >= 0 || FReady == index)
            return;
        FReady = -1;
        FResult.reset();
        FAsked = index;
        FChanged.notify_all();
    }
    // Whether the helper is making index right now.
    bool Making(int index) {
        std::lock_guard lock(FMutex);
        return FWorking == index;
    }
    // The helper's preview of index, waiting while it is being made; false when the helper
    // neither has it nor is making it.
    bool Take(int index, std::optional<TBitmap>& preview) {
        std::unique_lock lock(FMutex);
        if (FAsked == index) {
            FAsked = -1;  // not started yet: this thread makes it itself
            return false;
        }
        FChanged.wait(lock, [&] { return FWorking != index; });
        if (FReady != index)
            return false;
        preview = std::move(FResult);
        FResult.reset();
        FReady = -1;
        return true;
    }

private:
    void Run() {
        LowerPriority();
        std::unique_lock lock(FMutex);
        for (;;) {
            FChanged.wait(lock, [&] { return FStopping || FAsked >= 0; });
            if (FStopping)
                return;
            FWorking = FAsked;
            FAsked = -1;
            lock.unlock();
            std::optional<TBitmap> preview;
            try {
                preview = FMake(FWorking, 1);
            } catch (...) {
                preview.reset();  // out of memory: this item goes without a preview
            }
            lock.lock();
            FReady = FWorking;
            FResult = std::move(preview);
            FWorking = -1;
            FChanged.notify_all();
        }
    }

    const TMakePreview& FMake;
    std::mutex FMutex;
    std::condition_variable FChanged;
    int FAsked = -1;    // to be made next
    int FWorking = -1;  // being made
    int FReady = -1;    // made, in FResult
    std::optional<TBitmap> FResult;
    bool FStopping = false;
    std::thread FThread;  // last: it starts once the rest is there
};

}  // namespace

void TLoadAllThumbnailThd::LoadItemsAhead(const std::vector<char>& done, const TMake& make,
                                          const TStore& store) {
    std::vector<char> finished = done;
    FCount = static_cast<int>(std::count(done.begin(), done.end(), 1));
    int cursor = 0;
    TAheadWorker helper(make);
    // A preview this thread made ahead of its turn while the helper made the one before it.
    int aheadIndex = -1;
    std::optional<TBitmap> ahead;
    for (;;) {
        const int index = NextItem(finished, cursor);
        if (index < 0)
            break;
        finished[static_cast<size_t>(index)] = 1;
        std::optional<TBitmap> preview;
        bool made = false;
        if (aheadIndex == index) {
            preview = std::move(ahead);
            ahead.reset();
            aheadIndex = -1;
            made = true;
        } else if (helper.Making(index)) {
            // Waiting for the helper would leave this core idle: the item likely after it is
            // made here meanwhile, so that both workers stay busy.
            if (const int after = GuessNextItem(finished, cursor, aheadIndex); after >= 0) {
                ahead = make(after, 0);
                aheadIndex = after;
            }
        }
        if (!made)
            made = helper.Take(index, preview);
        if (const int next = GuessNextItem(finished, cursor, aheadIndex); next >= 0)
            helper.Ask(next);
        if (!made)
            preview = make(index, 0);
        store(index, std::move(preview));
        FIndex = index;
        ++FCount;
        ReportItem();
        if (FTerminated) {
            FCompleted = false;
            break;
        }
    }
}

void TLoadAllThumbnailThd::LoadLibraryPreviews(TIpodPhotoDb& db) {
    FTotal = db.Photos.Count();
    if (FTotal <= 0) {
        FCompleted = true;
        return;
    }
    const std::vector<char> done = ItemsDone(db.Photos, db.ThumbLock);
    // A Photos.sqlite library keeps its pictures as files: a mobile device's own previews of
    // them come first, and the files stand in when there is no preview file to read records of.
    const bool pictureFiles = db.SeparateFiles && db.ThumbFormat.ByName;
    TPreviewMaker maker(db.Device, MadeSide(db.Photos.ThumbWidth, db.PreviewScale),
                        MadeSide(db.Photos.ThumbHeight, db.PreviewScale));
    const bool records = !pictureFiles || !maker.HasDevicePreviews();
    bool opened = false;
    uint32_t slotSize = 0;
    if (records) {
        db.BuildBmpHeader(true);
        const TIthmbFormat& format = db.ThumbFormat;
        // A Photo Database library's previews are always taken from its file number 1.
        std::string name = format.FileName;
        if (!format.ByName) {
            // Built piece by piece: GCC 12 misreads "F" + text as an overlapping copy.
            name = std::to_string(format.Id);
            name.insert(name.begin(), 'F');
            name += "_1";
        }
        slotSize = static_cast<uint32_t>(std::max(format.SlotSize, 0));
        // The slot size comes from the device's database: never read more than a preview can be.
        if (slotSize > TIpodPhotoDb::MaxRecordBytes(format.Id)) {
            db.AddLog("Previews: a record of " + std::to_string(slotSize) +
                      " bytes is larger than a picture of format " + std::to_string(format.Id) +
                      " can be");
        } else {
            opened = !name.empty() && db.Device.OpenThumbFile(name, slotSize);
            if (!opened && !pictureFiles)
                db.AddLog("Previews cannot be read from " + name + ": " + db.Device.ThumbError());
        }
    }
    if (!opened && !pictureFiles)
        return;
    if (opened) {
        LoadItems(done, [&](int i) {
            TPhotoItem& photo = db.Photos.Items(i);
            db.WorkStream.Clear();
            db.WorkStream.Write(db.BmpHeader.data(), db.BmpHeader.size());
            // A negative offset marks a photo without a usable preview record.
            if (slotSize > 0 && photo.ThumbOffset >= 0 &&
                db.Device.ReadThumbRecord(slotSize, db.WorkStream,
                                          static_cast<uint64_t>(photo.ThumbOffset))) {
                std::lock_guard lock(db.ThumbLock);
                LoadRgbRecord(std::span(db.WorkStream.Data(), db.WorkStream.Size()), photo.Thumb);
            }
            db.WorkStream.Clear();
        });
        db.Device.CloseThumbFile();
        return;
    }
    // One maker per worker: each keeps its own working picture and stream.
    TPreviewMaker helperMaker(db.Device, MadeSide(db.Photos.ThumbWidth, db.PreviewScale),
                              MadeSide(db.Photos.ThumbHeight, db.PreviewScale));
    TPreviewMaker* makers[2] = {&maker, &helperMaker};
    LoadItemsAhead(
        done,
        [&](int i, int worker) -> std::optional<TBitmap> {
            const TPhotoItem& photo = db.Photos.Items(i);
            if (photo.FilePath.empty())
                return std::nullopt;
            // A picture only in the cloud has no file to read; its preview may still be there.
            const std::string path = photo.Local ? "/" + photo.FilePath : std::string();
            if (const TBitmap* picture = makers[worker]->Make(path, photo.FilePath))
                return *picture;
            return std::nullopt;
        },
        [&](int i, std::optional<TBitmap> picture) {
            if (!picture)
                return;
            std::lock_guard lock(db.ThumbLock);
            db.Photos.Items(i).Thumb = std::move(*picture);
        });
}

void TLoadAllThumbnailThd::LoadCameraPreviews(TIpodPhotoDb& db) {
    const int width = MadeSide(db.Photos.ThumbWidth, db.PreviewScale);
    const int height = MadeSide(db.Photos.ThumbHeight, db.PreviewScale);
    const TBitmap placeholder = MakePlaceholder(width, height);
    FTotal = db.CameraPhotos.Count();
    const std::vector<char> done = ItemsDone(db.CameraPhotos, db.ThumbLock);
    // One maker per worker: each keeps its own working picture and stream.
    TPreviewMaker makers[2] = {{db.Device, width, height}, {db.Device, width, height}};
    LoadItemsAhead(
        done,
        [&](int i, int worker) -> std::optional<TBitmap> {
            const std::string path = CameraFilePath(db.Device, db.CameraPhotos.Items(i).Path);
            // A copy: the maker's picture serves its next item.
            if (const TBitmap* picture = makers[worker].Make(path, path))
                return *picture;
            return std::nullopt;
        },
        [&](int i, std::optional<TBitmap> picture) {
            std::lock_guard lock(db.ThumbLock);
            db.CameraPhotos.Items(i).Thumb = picture ? std::move(*picture) : placeholder;
        });
}

}  // namespace corvane
