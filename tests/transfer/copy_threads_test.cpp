// The transfer workers: every report reaches the owner's thread in order, the final status
// comes last, a stop request lets the item after it finish, and the log lines count right.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/Dispatcher.h"
#include "base/PlatformTexts.h"
#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/DemoDevice.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/MpdServer.h"
#include "fixtures/SongLibrary.h"
#include "fixtures/TempDir.h"
#include "music/iPodMusic.h"
#include "photo/iPodPhoto.h"
#include "transfer/CopyThreads.h"

namespace corvane {
namespace {

using namespace testing;
namespace fs = std::filesystem;

struct TStatus {
    std::string Text;
    uint8_t Kind;
    friend bool operator==(const TStatus&, const TStatus&) = default;
};

// Runs worker with a queue pumped by this thread, as the dialog's thread would; checks that
// every report runs here.
struct TReports {
    std::vector<std::string> Progress;
    std::vector<TStatus> Statuses;
    bool OffThread = false;
};

TReports RunWorker(TCopyThread& worker, TEventQueue& queue,
                   std::function<void(TCopyThread&, int)> onStep = {}) {
    TReports reports;
    const auto owner = std::this_thread::get_id();
    worker.OnProgress = [&](const std::string& text) {
        reports.OffThread |= std::this_thread::get_id() != owner;
        reports.Progress.push_back(text);
        if (onStep)
            onStep(worker, static_cast<int>(reports.Progress.size()));
    };
    worker.OnStatus = [&](const std::string& text, uint8_t kind) {
        reports.OffThread |= std::this_thread::get_id() != owner;
        reports.Statuses.push_back({text, kind});
    };
    worker.Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((reports.Statuses.empty() || reports.Statuses.back().Kind != kStatusEnded) &&
           std::chrono::steady_clock::now() < deadline)
        queue.ProcessEvents(std::chrono::milliseconds(20));
    worker.WaitFor();
    return reports;
}

class MusicWorkerTest : public ::testing::Test {
protected:
    // Songs "Song 1".."Song n"; those in missing have no file on the device.
    void Load(int count, std::vector<int> missing = {}) {
        TITunesDbBuilder db = NumberedSongs(FIpod, count, missing);
        WriteFile(FIpod + "/iPod_Control/iTunes/iTunesDB", db.Build());
        fs::create_directories(FDest);
        FDevice = std::make_unique<TIpodDevice>(nullptr, OfflineSessionOptions({FIpod}));
        ASSERT_TRUE(FDevice->ScanDrives());
        FMusic = std::make_unique<TIpodMusicDb>(*FDevice);
        ASSERT_TRUE(FMusic->Load(true));
        FMusic->DestFolder = FDest + "/";
        FMusic->OnRetryWait = [] {};
        FMusic->AddLog("from loading");
    }

    TTempDir FRoot;
    std::string FIpod = FRoot / "ipod";
    std::string FDest = FRoot / "dest";
    std::unique_ptr<TIpodDevice> FDevice;
    std::unique_ptr<TIpodMusicDb> FMusic;
    TEventQueue FQueue;
};

TEST_F(MusicWorkerTest, ReportsEachTrackThenDoneOnTheOwnersThread) {
    Load(3);
    TMusicCopyThread worker(*FMusic, TLibraryTarget::None, FQueue.Dispatcher());
    EXPECT_EQ(FMusic->Log.Text(), "");  // each transfer starts a fresh log
    TReports reports = RunWorker(worker, FQueue);
    EXPECT_FALSE(reports.OffThread);
    EXPECT_EQ(reports.Progress,
              (std::vector<std::string>{"1/3  Song 1", "2/3  Song 2", "3/3  Song 3"}));
    EXPECT_EQ(reports.Statuses, (std::vector<TStatus>{{"3 of 3 copied", kStatusEnded}}));
    EXPECT_EQ(worker.Copied(), 3);
    EXPECT_FALSE(worker.Counts().Incomplete());
    EXPECT_EQ(FMusic->Log.Text(), "\r\nCopy tracks: 3 of 3");
}

TEST_F(MusicWorkerTest, StopDuringTheFirstTrackStillCopiesTheSecond) {
    Load(5);
    TMusicCopyThread worker(*FMusic, TLibraryTarget::None, FQueue.Dispatcher());
    TReports reports = RunWorker(worker, FQueue, [](TCopyThread& w, int step) {
        if (step == 1)
            w.Terminate();
    });
    EXPECT_EQ(reports.Progress.size(), 2u);
    EXPECT_EQ(worker.Copied(), 2);
    EXPECT_EQ(std::distance(fs::directory_iterator(FDest), fs::directory_iterator()), 2);
    EXPECT_FALSE(FMusic->Tracks.Items(1).DestPath.empty());
    EXPECT_TRUE(FMusic->Tracks.Items(2).DestPath.empty());
    EXPECT_EQ(reports.Statuses, (std::vector<TStatus>{{"Cancelled: 2 of 5 copied", kStatusEnded}}));
    EXPECT_TRUE(worker.Counts().Cancelled);
    EXPECT_EQ(FMusic->Log.Text(), "\r\nCopy tracks: 2 of 5");
}

TEST_F(MusicWorkerTest, RestoreRunsOnlyWhenSomethingWasCopied) {
    const std::string noServer = FDest + "-no-mpd-socket";
    TScopedEnv host("MPD_HOST", noServer);
    Load(2, {1, 2});
    {
        TMusicCopyThread worker(*FMusic, TLibraryTarget::Mpd, FQueue.Dispatcher());
        TReports reports = RunWorker(worker, FQueue);
        // Nothing on the device: the end says so instead of "Done.".
        EXPECT_EQ(reports.Statuses,
                  (std::vector<TStatus>{{"0 of 2 copied, 2 failed", kStatusEnded}}));
        EXPECT_EQ(worker.Counts().Failed, 2);
        EXPECT_EQ(FMusic->Log.Text().find("Sync: "), std::string::npos);
        EXPECT_NE(FMusic->Log.Text().find("Copy tracks: 0 of 2"), std::string::npos);
        EXPECT_NE(FMusic->Log.Text().find(": the device file could not be read ("),
                  std::string::npos)
            << FMusic->Log.Text();
    }
    WriteFile(FIpod + "/iPod_Control/Music/F00/S1.mp3", std::string(101, 'x'));
    TMusicCopyThread worker(*FMusic, TLibraryTarget::Mpd, FQueue.Dispatcher());
    TReports reports = RunWorker(worker, FQueue);
    const std::string wait = texts::kRestoringToMpd;
    EXPECT_EQ(
        reports.Statuses,
        (std::vector<TStatus>{{wait, kStatusLongWait},
                              {"1 of 2 copied, 1 failed; 0 in the media library", kStatusEnded}}));
    // No server at the address given: the restore reaches nothing and says why.
    const std::string log = FMusic->Log.Text();
    EXPECT_NE(log.find("Copy tracks: 1 of 2"), std::string::npos);
    EXPECT_NE(log.find("[X]MPD error: No MPD server answers at " + noServer), std::string::npos)
        << log;
    EXPECT_TRUE(worker.LibraryUnreachable());
    EXPECT_NE(log.find("\r\nSync: 0"), std::string::npos);
    EXPECT_EQ(worker.Copied(), 0);
}

TEST(PhotoWorker, CopiesLibraryThenCameraRollAndCountsCheckedFirst) {
    TTempDir root;
    ASSERT_TRUE(BuildDemoDevices(root.Path()));
    TIpodDevice device(nullptr, OfflineSessionOptions({root / "ipod"}));
    ASSERT_TRUE(device.ScanDrives());
    TIpodPhotoDb photos(device, true);
    ASSERT_TRUE(photos.Load());
    ASSERT_EQ(photos.Photos.Count(), 8);
    ASSERT_EQ(photos.CameraPhotos.Count(), 3);
    for (int i = 0; i < photos.CameraPhotos.Count(); ++i)
        photos.CameraPhotos.Check(i);
    photos.Photos.Uncheck(7);
    std::string dest = root / "dest";
    ASSERT_TRUE(photos.PrepareDestination(dest)) << dest;

    TEventQueue queue;
    TPhotoCopyThread worker(photos, true, queue.Dispatcher());
    TReports reports = RunWorker(worker, queue);
    EXPECT_FALSE(reports.OffThread);
    EXPECT_EQ(reports.Progress.size(), 10u);
    EXPECT_EQ(reports.Statuses,
              (std::vector<TStatus>{{"Transfer pictures in camera roll ...", kStatusPlain},
                                    {"10 of 10 copied", kStatusEnded}}));
    EXPECT_EQ(worker.Copied(), 10);
    EXPECT_EQ(photos.Log.Text(), "\r\nCopy pictures: 7 of 7\r\nCopy camera photos: 3 of 3");
    EXPECT_TRUE(fs::exists(root / "dest/Camera_Roll/IMG_0002.JPG"));
}

}  // namespace
}  // namespace corvane
