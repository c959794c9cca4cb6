// The progress dialog over the real workers: what it shows at each stage, that Cancel stops
// the copy at the next item and nothing else ends a running transfer, that Done opens the
// folder, and that the playlist files follow a music transfer when asked.
#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/PlatformTexts.h"
#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/DemoDevice.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/SongLibrary.h"
#include "fixtures/TempDir.h"
#include "gui/GuiTestSupport.h"
#include "music/iPodMusic.h"
#include "photo/iPodPhoto.h"
#include "transfer/KelProgress.h"

// Readable failure messages for Qt texts.
static void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace corvane::transfer {
namespace {

using namespace corvane::testing;
namespace fs = std::filesystem;

// What the dialog showed when a report had been handled.
struct TShown {
    QString Info;
    QString Copy;
    int Value = 0;
    int Minimum = 0;
    int Maximum = 0;
    QString Bytes;
    bool Busy = false;
    QString Button;
    bool ButtonEnabled = false;
    int Kind = -1;  // -1 for a progress report
};

class TRecorder {
public:
    explicit TRecorder(TProgressDialog& dialog) : FDialog(dialog) {
        QObject::connect(&dialog, &TProgressDialog::ProgressShown, [this](const QString&) {
            Reports.push_back(Snapshot(-1));
            if (OnProgress)
                OnProgress(static_cast<int>(Reports.size()));
        });
        QObject::connect(&dialog, &TProgressDialog::StatusShown, [this](const QString&, int kind) {
            Reports.push_back(Snapshot(kind));
            // Done is pressed once the end is on screen, as a user would.
            if (kind == kStatusEnded && PressDone)
                QTimer::singleShot(0, &FDialog, [this] { FDialog.ActBtn->click(); });
        });
    }

    std::vector<TShown> Reports;
    // Runs inside the n-th progress report, while the worker waits for it.
    std::function<void(int n)> OnProgress;
    bool PressDone = true;

    std::vector<TShown> Progress() const { return Only(-1); }
    std::vector<TShown> Only(int kind) const {
        std::vector<TShown> found;
        for (const TShown& shown : Reports) {
            if (shown.Kind == kind)
                found.push_back(shown);
        }
        return found;
    }

private:
    TShown Snapshot(int kind) const {
        return {FDialog.InfoLb->text(),      FDialog.CopyLb->text(),
                FDialog.Pb->value(),         FDialog.Pb->minimum(),
                FDialog.Pb->maximum(),       FDialog.BytesLb->text(),
                FDialog.BusyPb->isVisible(), FDialog.ActBtn->text(),
                FDialog.ActBtn->isEnabled(), kind};
    }

    TProgressDialog& FDialog;
};

class ProgressDialogTest : public ::testing::Test {
protected:
    // A disk-mode iPod with songs "Song 1".."Song n" and the playlist "Mix" of songs 1 and 3.
    void LoadMusic(int count) {
        TITunesDbBuilder db = NumberedSongs(FRoot / "ipod", count);
        db.AddPlaylist({.Name = "Mix", .Id = 2, .TrackIds = {1, 3}});
        WriteFile(FRoot / "ipod/iPod_Control/iTunes/iTunesDB", db.Build());
        OpenDevice();
        FMusic = std::make_unique<TIpodMusicDb>(*FDevice);
        ASSERT_TRUE(FMusic->Load(true));
        ASSERT_EQ(FMusic->Tracks.CheckedCount, count);
        FMusic->NamingScheme = 1;
        std::string folder = FDest;
        ASSERT_TRUE(FMusic->PrepareDestination(folder)) << folder;
    }

    void OpenDevice() {
        FDevice = std::make_unique<TIpodDevice>(nullptr, OfflineSessionOptions({FRoot / "ipod"}));
        ASSERT_TRUE(FDevice->ScanDrives());
    }

    size_t FilesIn(const std::string& folder, const std::string& extension) const {
        size_t count = 0;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            count += entry.is_regular_file() && entry.path().extension() == extension;
        return count;
    }

    TTempDir FRoot;
    std::string FDest = FRoot / "dest";
    std::unique_ptr<TIpodDevice> FDevice;
    std::unique_ptr<TIpodMusicDb> FMusic;
};

TEST_F(ProgressDialogTest, MusicRunsToDoneWritesPlaylistFilesAndDoneOpensTheFolder) {
    LoadMusic(3);
    TShellRecorder shell;
    TProgressDialog dialog(nullptr);
    TRecorder recorder(dialog);
    dialog.Run(*FMusic, QString::fromStdString(FDest), TLibraryTarget::None, 3, "", true);

    EXPECT_FALSE(dialog.isVisible());
    ASSERT_EQ(shell.Requests.size(), 1u);
    EXPECT_EQ(shell.Requests[0].Action, app::TShellAction::OpenFolder);
    EXPECT_EQ(shell.Requests[0].Target.toStdString(), FDest);

    const auto progress = recorder.Progress();
    ASSERT_EQ(progress.size(), 3u);
    // The songs are 101, 102 and 103 bytes: each starts where the bytes before it end.
    const int startsAt[] = {0, 1000 * 101 / 306, (1000 * 203 + 153) / 306};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(progress[i].Copy.toStdString(),
                  std::to_string(i + 1) + "/3  Song " + std::to_string(i + 1));
        EXPECT_EQ(progress[i].Value, startsAt[i]);
        EXPECT_EQ(progress[i].Maximum, TProgressDialog::kBarSteps);
        EXPECT_TRUE(progress[i].Bytes.endsWith(" of 0.30 KB")) << progress[i].Bytes.toStdString();
        EXPECT_TRUE(progress[i].Busy);  // turning until the first status
        EXPECT_EQ(progress[i].Info, "");
        EXPECT_EQ(progress[i].Button, "Cancel");
    }
    ASSERT_EQ(recorder.Reports.size(), 4u);  // no wait stage without the restore
    const TShown& end = recorder.Reports.back();
    EXPECT_EQ(end.Kind, kStatusEnded);
    EXPECT_EQ(end.Info, "3 of 3 copied");
    EXPECT_FALSE(dialog.InfoLb->property("failed").toBool());
    EXPECT_EQ(end.Copy, "");
    EXPECT_EQ(end.Value, TProgressDialog::kBarSteps);
    EXPECT_EQ(end.Maximum, TProgressDialog::kBarSteps);
    EXPECT_TRUE(end.Bytes.startsWith("0.30 KB copied")) << end.Bytes.toStdString();
    EXPECT_FALSE(end.Busy);
    EXPECT_EQ(end.Button, "Done");

    EXPECT_EQ(FilesIn(FDest, ".mp3"), 3u);
    EXPECT_EQ(ReadFile(FDest + "/Mix.m3u8"),
              "#EXTM3U\n#EXTINF:60,Band - Song 1\nSong 1.mp3\n#EXTINF:60,Band - Song 3\n"
              "Song 3.mp3\n");
    EXPECT_EQ(FMusic->Log.Text(), "\r\nCopy tracks: 3 of 3");
    EXPECT_FALSE(FMusic->OnProgress);  // the worker is gone
}

TEST_F(ProgressDialogTest, WhileRunningOnlyCancelActsAndItStopsAfterTheNextTrack) {
    LoadMusic(8);
    TProgressDialog dialog(nullptr);
    TRecorder recorder(dialog);
    bool stayedOpen = false;
    recorder.OnProgress = [&](int n) {
        if (n != 1)
            return;
        // The worker waits on this report: the transfer is certainly running.
        QTest::keyClick(&dialog, Qt::Key_Escape);
        dialog.close();
        dialog.reject();
        stayedOpen = dialog.isVisible() && dialog.Running();
        dialog.ActBtn->click();
    };
    TShellRecorder shell;
    dialog.Run(*FMusic, QString::fromStdString(FDest), TLibraryTarget::None, 8, "", false);

    EXPECT_TRUE(stayedOpen);
    // The track being copied and the one whose report saw the request are both finished.
    const auto progress = recorder.Progress();
    ASSERT_EQ(progress.size(), 2u);
    EXPECT_FALSE(progress[1].ButtonEnabled);
    EXPECT_EQ(progress[1].Button, "Cancel");
    EXPECT_EQ(FilesIn(FDest, ".mp3"), 2u);
    EXPECT_EQ(FilesIn(FDest, ".m3u8"), 0u);
    const TShown& end = recorder.Reports.back();
    EXPECT_EQ(end.Info, "Cancelled: 2 of 8 copied");
    EXPECT_TRUE(dialog.InfoLb->property("failed").toBool());
    EXPECT_EQ(end.Button, "Done");
    EXPECT_TRUE(end.ButtonEnabled);
    EXPECT_EQ(end.Value, TProgressDialog::kBarSteps);
    EXPECT_EQ(FMusic->Log.Text(), "\r\nCopy tracks: 2 of 8");
    EXPECT_EQ(shell.Requests.size(), 1u);
}

TEST_F(ProgressDialogTest, ALostDeviceEndsSayingSoWithTheWayToTheLog) {
    LoadMusic(6);
    TProgressDialog dialog(nullptr);
    TRecorder recorder(dialog);
    QString viewed;
    TProgressDialog::LogViewer = [&viewed](QWidget*, const QString& text) { viewed = text; };
    recorder.OnProgress = [&](int n) {
        if (n == 1)
            dialog.DeviceLost();
    };
    bool logOffered = false;
    QObject::connect(&dialog, &TProgressDialog::StatusShown, [&](const QString&, int kind) {
        if (kind != kStatusEnded)
            return;
        logOffered = !dialog.LogBtn->isHidden();
        dialog.LogBtn->click();
    });
    TShellRecorder shell;
    dialog.Run(*FMusic, QString::fromStdString(FDest), TLibraryTarget::None, 6, "", false);
    TProgressDialog::LogViewer = nullptr;

    EXPECT_EQ(recorder.Reports.back().Info, "2 of 6 copied: the device is no longer connected");
    EXPECT_TRUE(dialog.InfoLb->property("failed").toBool());
    EXPECT_TRUE(logOffered);
    EXPECT_TRUE(viewed.contains("Copy tracks: 2 of 6")) << viewed.toStdString();
}

TEST_F(ProgressDialogTest, RestoreStageTurnsTheBarIntoAMarqueeWithTheWaitText) {
    LoadMusic(2);
    TShellRecorder shell;
    TProgressDialog dialog(nullptr);
    TRecorder recorder(dialog);
    dialog.Run(*FMusic, QString::fromStdString(FDest), TLibraryTarget::Tags, 2, "", false);

    const auto wait = recorder.Only(kStatusLongWait);
    ASSERT_EQ(wait.size(), 1u);
    EXPECT_EQ(wait[0].Info, texts::kRestoringToTags);
    EXPECT_EQ(wait[0].Copy, "This may take a few minutes, please wait ...");
    EXPECT_EQ(wait[0].Minimum, 0);
    EXPECT_EQ(wait[0].Maximum, 0);
    EXPECT_FALSE(wait[0].Busy);
    const TShown& end = recorder.Reports.back();
    EXPECT_EQ(end.Kind, kStatusEnded);
    EXPECT_EQ(end.Value, TProgressDialog::kBarSteps);
    EXPECT_EQ(end.Maximum, TProgressDialog::kBarSteps);
    // The fixture's copies are no audio TagLib reads: refused, each with its line.
    EXPECT_NE(FMusic->Log.Text().find("Tags not written into "), std::string::npos);
    EXPECT_NE(FMusic->Log.Text().find("Sync done: 0, 0, 0. Pl: 0"), std::string::npos);
}

TEST_F(ProgressDialogTest, PhotoTransferCountsTheCameraRollInTheBar) {
    ASSERT_TRUE(BuildDemoDevices(FRoot.Path()));
    OpenDevice();
    TIpodPhotoDb photos(*FDevice, true);
    ASSERT_TRUE(photos.Load());
    for (int i = 0; i < photos.CameraPhotos.Count(); ++i)
        photos.CameraPhotos.Check(i);
    const int total = photos.Photos.CheckedCount + photos.CameraPhotos.CheckedCount;
    ASSERT_EQ(total, 11);
    std::string folder = FDest;
    ASSERT_TRUE(photos.PrepareDestination(folder)) << folder;

    TShellRecorder shell;
    TProgressDialog dialog(nullptr);
    TRecorder recorder(dialog);
    dialog.Run(photos, QString::fromStdString(FDest), total, "");

    EXPECT_FALSE(dialog.IsMusic);
    const auto progress = recorder.Progress();
    ASSERT_EQ(progress.size(), 11u);
    // The bar moves on with every picture, the camera files (of no known size) included, and
    // fills only at the end.
    for (size_t i = 1; i < progress.size(); ++i)
        EXPECT_GT(progress[i].Value, progress[i - 1].Value) << i;
    EXPECT_LT(progress.back().Value, TProgressDialog::kBarSteps);
    EXPECT_GT(progress.back().Value, TProgressDialog::kBarSteps * 8 / 11);
    EXPECT_EQ(progress.back().Maximum, TProgressDialog::kBarSteps);
    const auto plain = recorder.Only(kStatusPlain);
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0].Info, "Transfer pictures in camera roll ...");
    // The library's pictures are behind it by then.
    EXPECT_GE(plain[0].Value, progress[7].Value);
    EXPECT_LE(plain[0].Value, progress[8].Value);
    EXPECT_EQ(recorder.Reports.back().Value, TProgressDialog::kBarSteps);
    // Pictures written from their records count as bytes as copied files do.
    EXPECT_TRUE(recorder.Reports.back().Bytes.endsWith(" copied"));
    EXPECT_FALSE(recorder.Reports.back().Bytes.startsWith("0.00 KB"))
        << recorder.Reports.back().Bytes.toStdString();
    EXPECT_EQ(recorder.Reports.back().Info, "11 of 11 copied");
    EXPECT_EQ(recorder.Reports.back().Button, "Done");
    ASSERT_EQ(shell.Requests.size(), 1u);
    EXPECT_EQ(shell.Requests[0].Target.toStdString(), FDest);
}

TEST_F(ProgressDialogTest, FreeingTheDialogMidTransferStopsTheWorkerFirst) {
    LoadMusic(20);
    auto dialog = std::make_unique<TProgressDialog>(nullptr);
    TRecorder recorder(*dialog);
    recorder.PressDone = false;
    recorder.OnProgress = [&](int n) {
        // As when the main window goes away: the dialog is freed from the event loop.
        if (n == 1)
            QTimer::singleShot(0, [&] { dialog.reset(); });
    };
    dialog->Run(*FMusic, QString::fromStdString(FDest), TLibraryTarget::None, 20, "", false);

    EXPECT_EQ(dialog, nullptr);
    EXPECT_FALSE(FMusic->OnProgress);
    EXPECT_NE(FMusic->Log.Text().find("Copy tracks: "), std::string::npos);
    EXPECT_EQ(recorder.Reports.back().Kind, kStatusEnded);
}

}  // namespace
}  // namespace corvane::transfer
