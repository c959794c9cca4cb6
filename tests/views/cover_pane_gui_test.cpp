// The cover pane of the music view follows the selected track: its album art from the device,
// the placeholder for a track without one, and a new list clears it.
#include <gtest/gtest.h>

#include <QItemSelectionModel>
#include <QTreeView>
#include <QTreeWidget>
#include <memory>

#include "device/iPodDev.h"
#include "fixtures/ArtworkDbFiles.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/TempDir.h"
#include "gui/GuiTestSupport.h"
#include "music/iPodMusic.h"
#include "views/CoverPane.h"
#include "views/KelMedia.h"
#include "views/TrackListModel.h"

namespace corvane::views {
namespace {

using namespace corvane::testing;

TEST(CoverPane, ShowsTheSelectedTracksCoverAndThePlaceholderOtherwise) {
    TTempDir root;
    TITunesDbBuilder db;
    TITunesDbTrack red{.Id = 1, .Title = "Red", .Location = ":iPod_Control:Music:F00:A.mp3"};
    red.Dbid = 7001;
    TITunesDbTrack bare{.Id = 2, .Title = "Bare", .Location = ":iPod_Control:Music:F00:B.mp3"};
    TITunesDbTrack blue{.Id = 3, .Title = "Blue", .Location = ":iPod_Control:Music:F00:C.mp3"};
    blue.ArtworkLink = 101;
    db.AddTrack(red).AddTrack(bare).AddTrack(blue);
    db.AddPlaylist({.Name = "iPod", .IsMaster = true, .TrackIds = db.AllTrackIds()});
    WriteFile(root / "ipod/iPod_Control/iTunes/iTunesDB", db.Build());
    WriteArtworkFiles(root / "ipod/iPod_Control/Artwork",
                      {{.ImageId = 100, .SongId = 7001, .Colour = {255, 0, 0}},
                       {.ImageId = 101, .SongId = 0, .Colour = {0, 0, 255}}});
    auto device = DiskDevice(root / "ipod");
    TMediaFrame frame(nullptr, *device);
    frame.resize(900, 600);
    frame.show();
    frame.Populate();
    RunEventsFor(20);
    ASSERT_TRUE(frame.Loaded());

    auto select = [&](int row) {
        frame.MusicList->selectionModel()->setCurrentIndex(
            frame.MusicModel->index(row, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    };
    EXPECT_EQ(frame.CoverPane->ShownCover(), -1);
    select(2);
    EXPECT_EQ(frame.CoverPane->ShownCover(), 1);
    EXPECT_EQ(frame.CoverPane->Picture().pixelColor(100, 100), QColor(0, 0, 255));
    select(1);
    EXPECT_EQ(frame.CoverPane->ShownCover(), -1);
    EXPECT_TRUE(frame.CoverPane->Picture().isNull());
    select(0);
    EXPECT_EQ(frame.CoverPane->ShownCover(), 0);
    EXPECT_EQ(frame.CoverPane->Picture().width(), 200);
    // Another node's list starts without a selection, and without a cover.
    frame.MediaList->setCurrentItem(frame.MediaList->topLevelItem(0)->child(0));
    RunEventsFor(10);
    EXPECT_EQ(frame.CoverPane->ShownCover(), -1);
}

}  // namespace
}  // namespace corvane::views
