// Fills the preview bitmaps of the photo library on a worker thread, one item at a time, and
// reports each item and the end on the owner's (UI) thread: library mode reads the preview
// records of the thumbnail file (or, for pictures kept as files, the device's own previews and
// the files), camera-roll mode makes previews of the camera-roll files. Items the owner wants
// (the cells on screen) come first; the rest follow in list order. Items that already have a
// preview are skipped, so a loader started again goes on where an earlier one stopped.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "base/Bitmap.h"
#include "base/Dispatcher.h"

namespace corvane {

class TIpodPhotoDb;

class TLoadAllThumbnailThd {
public:
    using TOnDone = std::function<void(bool completed)>;
    using TOnItem = std::function<void(int index, int total)>;

    // Starts at once. photoDb null stands for "no library": only OnDone(true) is reported. The
    // callbacks run through dispatch, which runs them on the owner's thread and waits; the
    // thread that constructs the loader counts as the owner's thread for WaitFor.
    TLoadAllThumbnailThd(TIpodPhotoDb* photoDb, bool cameraRoll, TOnDone onDone, TOnItem onItem,
                         TRunOnUiThread dispatch);
    // Terminate, then WaitFor.
    ~TLoadAllThumbnailThd();
    TLoadAllThumbnailThd(const TLoadAllThumbnailThd&) = delete;
    TLoadAllThumbnailThd& operator=(const TLoadAllThumbnailThd&) = delete;

    // Asks the thread to stop after the item it is on; that item and OnDone(false) are still
    // reported.
    void Terminate() { FTerminated = true; }
    bool Terminated() const { return FTerminated; }
    // Waits until the thread has ended. On the owner's thread it runs the reports the thread is
    // waiting for itself, so the owner need not pump its event loop meanwhile. Never call it
    // (or destroy the loader) from inside one of its callbacks.
    void WaitFor();

    // The items to load next, most wanted first; replaces the previous wish, so an item that
    // is no longer wanted (its cell scrolled away) waits for its turn in list order again.
    // Any thread.
    void Want(std::vector<int> indexes);

    bool CameraRoll() const { return FCameraRoll; }
    // The item just finished; -1 before the first.
    int Index() const { return FIndex; }
    // Items that have their preview (or were tried), those found done at the start included.
    int Count() const { return FCount; }
    int Total() const { return FTotal; }
    // True unless the thread was told to stop before the end.
    bool Completed() const { return FCompleted; }

private:
    // Hands one report at a time to the owner's thread; shared with the courier thread, which
    // may outlive the loader while a dispatcher still holds a hand-over that was given up.
    struct TChannel;

    void Execute();
    void LoadLibraryPreviews(TIpodPhotoDb& db);
    void LoadCameraPreviews(TIpodPhotoDb& db);
    void ReportItem();
    // The next item to load: a wanted one not done yet, else the first not done after
    // cursor; -1 when all are done.
    int NextItem(const std::vector<char>& done, int& cursor);
    // Runs item(i) for each item to load, reporting each; stops early when told to.
    void LoadItems(const std::vector<char>& done, const std::function<void(int)>& item);
    // The preview of item i made by worker w (0 this thread, 1 the helper), or nothing.
    using TMake = std::function<std::optional<TBitmap>(int i, int w)>;
    using TStore = std::function<void(int i, std::optional<TBitmap> preview)>;
    // LoadItems for previews that take long to make, on two workers: a helper thread makes the
    // preview of the item most likely next while this thread makes the current one, or, when
    // the helper is on the current one, the one likely after it. Items are stored and
    // reported on this thread in the order NextItem gives, as LoadItems does.
    void LoadItemsAhead(const std::vector<char>& done, const TMake& make, const TStore& store);
    // The item NextItem would most likely give after the current one, other than besides; -1
    // when none.
    int GuessNextItem(const std::vector<char>& done, int cursor, int besides = -1);
    void Report(std::function<void()> call);
    void StopCourier();

    TIpodPhotoDb* FPhotoDb;
    const bool FCameraRoll;
    TOnDone FOnDone;
    TOnItem FOnItem;
    std::thread::id FOwner;
    std::atomic<int> FIndex{-1};
    std::atomic<int> FTotal{0};
    std::atomic<int> FCount{0};
    std::mutex FWantLock;
    std::vector<int> FWanted;  // most wanted last, for cheap popping
    std::atomic<bool> FCompleted{true};
    std::atomic<bool> FTerminated{false};
    std::shared_ptr<TChannel> FChannel;
    std::thread FCourier;
    std::thread FThread;
};

}  // namespace corvane
