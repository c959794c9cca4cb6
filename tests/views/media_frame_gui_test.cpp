// The music view over a disk-mode library: the tree and its summaries, playlists that name
// missing tracks, check marks shared between lists, the header check box, sorting, search,
// an empty library and the checks before a transfer.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolTip>
#include <QTreeView>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "device/iPodDev.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/TempDir.h"
#include "gui/GuiTestSupport.h"
#include "gui/UserSettings.h"
#include "music/iPodMusic.h"
#include "transfer/KelProgress.h"
#include "transfer/MusicTrans.h"
#include "views/KelMedia.h"
#include "views/MediaCheckHeader.h"
#include "views/TrackListModel.h"

namespace corvane::views {
namespace {

using namespace corvane::testing;

struct TSong {
    uint32_t Id;
    const char* Title;
    const char* Ext;  // chooses the kind
    uint32_t Size;
    uint32_t DurationMs;
};

// Titles, times and sizes chosen so that text order and number order disagree.
const TSong kSongs[] = {
    {1, "banana", ".mp3", 2000000, 100000},  // "1.91 MB", "1:40"
    {2, "Apple", ".mp3", 900000, 1000000},   // "878.91 KB", "16:40"
    {3, "Cherry", ".mp3", 5000, 9000},       // "4.88 KB", "0:09"
    {4,
     "\xC3\x89"
     "clair",
     ".m4v", 30000000, 5000000},
    {5, "apple", ".m4r", 20000, 30000},
    {6, "Zest", ".epub", 700, 0},
};

const char* const kLongArtist = "The Even Band and the Long Named Orchestra of the Northern Shore";

class MediaFrameTest : public ::testing::Test {
protected:
    // Writes the library (all songs, or none) and opens the frame over it.
    void Open(bool withTracks = true) {
        TITunesDbBuilder db;
        if (withTracks) {
            for (const TSong& song : kSongs) {
                TITunesDbTrack track;
                track.Id = song.Id;
                track.Title = song.Title;
                track.Artist =
                    song.Id == 4 ? kLongArtist : (song.Id % 2 ? "Odd Band" : "Even Band");
                track.Album = "Album " + std::to_string(song.Id);
                track.Location = ":iPod_Control:Music:F00:S" + std::to_string(song.Id) + song.Ext;
                track.Size = song.Size;
                track.DurationMs = song.DurationMs;
                db.AddTrack(track);
            }
        }
        db.AddPlaylist({.Name = "Test iPod", .IsMaster = true, .TrackIds = db.AllTrackIds()});
        if (withTracks) {
            db.AddPlaylist({.Name = "Mix", .Id = 10, .TrackIds = {3, 99, 1, 3}});
            db.AddPlaylist({.Name = "Smart", .Id = 11, .IsSmart = true, .TrackIds = {2}});
        }
        WriteFile(FRoot / "ipod/iPod_Control/iTunes/iTunesDB", db.Build());
        FDevice = DiskDevice(FRoot / "ipod");
        FFrame = std::make_unique<TMediaFrame>(nullptr, *FDevice);
        FFrame->resize(900, 500);
        FFrame->show();
        FFrame->Populate();
        RunEventsFor(20);
    }

    QTreeWidgetItem* Node(const QString& caption) {
        auto found = FFrame->MediaList->findItems(caption, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.first();
    }
    void Select(const QString& caption) { FFrame->MediaList->setCurrentItem(Node(caption)); }

    // The Pids of the listed tracks, top to bottom.
    std::vector<int64_t> Shown() {
        std::vector<int64_t> pids;
        for (int row = 0; row < FFrame->MusicModel->rowCount(); ++row)
            pids.push_back(FFrame->MusicModel->TrackAt(row)->Pid);
        return pids;
    }
    Qt::CheckState RowCheck(int row) {
        return FFrame->MusicModel->index(row, tcName)
            .data(Qt::CheckStateRole)
            .value<Qt::CheckState>();
    }
    int RowOf(int64_t pid) {
        std::vector<int64_t> pids = Shown();
        auto it = std::find(pids.begin(), pids.end(), pid);
        return it == pids.end() ? -1 : static_cast<int>(it - pids.begin());
    }
    void ClickHeader(int section) {
        TCheckHeader* header = FFrame->MusicHeader;
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(section) + header->sectionSize(section) * 3 / 4,
                   header->height() / 2));
    }
    void SelectRow(int row) {
        FFrame->MusicList->selectionModel()->select(
            FFrame->MusicModel->index(row, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    std::vector<int> SelectedRows() {
        std::vector<int> rows;
        for (const QModelIndex& index : FFrame->MusicList->selectionModel()->selectedRows())
            rows.push_back(index.row());
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    std::string Summary(int count, int64_t bytes) {
        return std::to_string(count) + (count == 1 ? " track " : " tracks ") +
               TIpodDevice::FormatSize(bytes);
    }

    TMessageRecorder FMessages;
    TTempDir FRoot;
    std::unique_ptr<TIpodDevice> FDevice;
    std::unique_ptr<TMediaFrame> FFrame;
};

TEST_F(MediaFrameTest, PopulateShowsTheTreeAndTheRootsSummary) {
    {
        auto device = DiskDevice(FRoot / "unread");
        TMediaFrame fresh(nullptr, *device);
        EXPECT_EQ(fresh.SbPanel->text(), "Loading ...");
        EXPECT_FALSE(fresh.MediaList->isEnabled());
        EXPECT_FALSE(fresh.MusicList->isEnabled());
        EXPECT_TRUE(fresh.MusicHeader->Checked());
        EXPECT_FALSE(fresh.Loaded());
    }

    Open();
    EXPECT_TRUE(FFrame->Loaded());
    EXPECT_TRUE(FMessages.Shown.empty());
    EXPECT_TRUE(FFrame->MediaList->isEnabled());
    EXPECT_TRUE(FFrame->MusicList->isEnabled());
    QTreeWidgetItem* root = FFrame->MediaList->topLevelItem(0);
    ASSERT_EQ(FFrame->MediaList->topLevelItemCount(), 1);
    EXPECT_EQ(root->text(0), "Library");
    EXPECT_TRUE(root->isExpanded());
    QStringList children;
    for (int i = 0; i < root->childCount(); ++i)
        children << root->child(i)->text(0);
    EXPECT_EQ(children,
              (QStringList{"Music", "Movies", "Books", "Tones", "Voice memos", "Mix", "Smart"}));
    EXPECT_EQ(FFrame->MediaList->currentItem(), root);
    EXPECT_EQ(Shown(), (std::vector<int64_t>{1, 2, 3, 4, 5, 6}));
    const std::string summary = Summary(6, FFrame->MusicDb->TotalSize);
    EXPECT_EQ(FFrame->StatusText().toStdString(), summary);
    EXPECT_EQ(FFrame->SbPanel->text().toStdString(), summary);

    // A category lists its kind only and sums its own sizes; the tree cannot be collapsed.
    Select("Music");
    EXPECT_EQ(Shown(), (std::vector<int64_t>{1, 2, 3}));
    EXPECT_EQ(FFrame->StatusText().toStdString(), Summary(3, 2000000 + 900000 + 5000));
    FFrame->MediaList->collapseItem(root);
    EXPECT_TRUE(root->isExpanded());
    EXPECT_EQ(FFrame->MediaList->width(), 225);
    EXPECT_EQ(FFrame->MusicList->visualRect(FFrame->MusicModel->index(0, tcName)).height(), 20);
    EXPECT_EQ(FFrame->MusicHeader->height(), 22);
}

TEST_F(MediaFrameTest, APlaylistListsOnlyTheTracksThatExistAndCountsRows) {
    Open();
    Select("Mix");
    EXPECT_EQ(Shown(), (std::vector<int64_t>{3, 1, 3}));
    EXPECT_EQ(FFrame->StatusText().toStdString(), Summary(3, 5000 + 2000000 + 5000));
    Select("Smart");
    EXPECT_EQ(Shown(), (std::vector<int64_t>{2}));
}

TEST_F(MediaFrameTest, ATickLivesInTheTrackSoEveryListShowsIt) {
    Open();
    TTrackList& tracks = FFrame->MusicDb->Tracks;
    ASSERT_EQ(tracks.CheckedCount, 6);
    Select("Mix");
    // A double click on a row toggles its box; the playlist shows the track twice.
    QTreeView* list = FFrame->MusicList;
    const QPoint row0 = list->visualRect(FFrame->MusicModel->index(0, tcArtist)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row0);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row0);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, row0);
    EXPECT_EQ(RowCheck(0), Qt::Unchecked);
    EXPECT_EQ(RowCheck(2), Qt::Unchecked);
    EXPECT_EQ(RowCheck(1), Qt::Checked);
    EXPECT_EQ(tracks.CheckedCount, 5);
    EXPECT_EQ(tracks.CheckedSize, FFrame->MusicDb->TotalSize - 5000);

    Select("Music");
    EXPECT_EQ(RowCheck(RowOf(3)), Qt::Unchecked);
    // The box itself, as the view sets it.
    FFrame->MusicModel->setData(FFrame->MusicModel->index(RowOf(1), tcName), Qt::Unchecked,
                                Qt::CheckStateRole);
    Select("Library");
    EXPECT_EQ(RowCheck(RowOf(1)), Qt::Unchecked);
    EXPECT_EQ(RowCheck(RowOf(3)), Qt::Unchecked);
    EXPECT_EQ(RowCheck(RowOf(2)), Qt::Checked);
    EXPECT_EQ(tracks.CheckedCount, 4);
}

TEST_F(MediaFrameTest, TheHeaderCheckBoxActsOnTheShownCategoryOnly) {
    Open();
    TTrackList& tracks = FFrame->MusicDb->Tracks;
    Select("Music");
    const QRect box = FFrame->MusicHeader->CheckRect();
    ASSERT_FALSE(box.isEmpty());
    QTest::mouseClick(FFrame->MusicHeader->viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_FALSE(FFrame->MusicHeader->Checked());
    EXPECT_EQ(FFrame->SortColumn(), -1);  // the box is no sort click
    std::vector<bool> checked;
    for (const TTrackItem& track : tracks)
        checked.push_back(track.Checked);
    EXPECT_EQ(checked, (std::vector<bool>{false, false, false, true, true, true}));
    EXPECT_EQ(tracks.CheckedCount, 3);
    EXPECT_EQ(tracks.CheckedSize, 30000000 + 20000 + 700);

    // The box follows the rows shown: the tones are all ticked, the library partly.
    Select("Tones");
    EXPECT_EQ(FFrame->MusicHeader->State(), Qt::Checked);
    Select("Library");
    EXPECT_EQ(FFrame->MusicHeader->State(), Qt::PartiallyChecked);
    EXPECT_EQ(FFrame->SbPanel->text().toStdString(),
              Summary(6, FFrame->MusicDb->TotalSize) + "  \u2013  3 of 6 ticked, " +
                  TIpodDevice::FormatSize(30000000 + 20000 + 700));
    // A click on a partly ticked box ticks all, the next clears all.
    QTest::mouseClick(FFrame->MusicHeader->viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_EQ(tracks.CheckedCount, 6);
    EXPECT_EQ(FFrame->MusicHeader->State(), Qt::Checked);
    QTest::mouseClick(FFrame->MusicHeader->viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_EQ(tracks.CheckedCount, 0);
    EXPECT_EQ(tracks.CheckedSize, 0);
    // A single row's tick moves the box too.
    FFrame->MusicModel->SetChecked(0, true);
    EXPECT_EQ(FFrame->MusicHeader->State(), Qt::PartiallyChecked);
}

TEST_F(MediaFrameTest, SortsByNumberForTimeAndSizeAndByNameIgnoringTheCaseOfAToZ) {
    Open();
    struct TCase {
        int Column;
        std::vector<int64_t> Ascending;
        std::vector<int64_t> Descending;
    };
    const TCase cases[] = {
        {tcTime, {6, 3, 5, 1, 2, 4}, {4, 2, 1, 5, 3, 6}},
        {tcSize, {6, 3, 5, 2, 1, 4}, {4, 1, 2, 5, 3, 6}},
        // Equal names keep library order both ways; "É" follows every ASCII letter.
        {tcName, {2, 5, 1, 3, 6, 4}, {4, 6, 3, 1, 2, 5}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Column);
        ClickHeader(c.Column);
        EXPECT_EQ(FFrame->SortColumn(), c.Column);
        EXPECT_EQ(FFrame->MusicHeader->sortIndicatorSection(), c.Column);
        EXPECT_EQ(FFrame->MusicHeader->sortIndicatorOrder(), Qt::AscendingOrder);
        EXPECT_EQ(Shown(), c.Ascending);
        ClickHeader(c.Column);
        EXPECT_EQ(FFrame->MusicHeader->sortIndicatorOrder(), Qt::DescendingOrder);
        EXPECT_EQ(Shown(), c.Descending);
    }
    // The selection follows its track; another node is listed in the chosen order.
    SelectRow(RowOf(3));
    ClickHeader(tcTime);
    EXPECT_EQ(SelectedRows(), std::vector<int>{RowOf(3)});
    Select("Mix");
    EXPECT_EQ(Shown(), (std::vector<int64_t>{3, 3, 1}));
}

TEST_F(MediaFrameTest, OnlyACutTextHasATooltip) {
    Open();
    // Wide enough for a short artist: a narrow list shrinks its text columns to fit.
    FFrame->resize(1100, 500);
    RunEventsFor(20);
    QTreeView* list = FFrame->MusicList;
    auto tipAt = [list, this](int row, int column) {
        const QPoint at = list->visualRect(FFrame->MusicModel->index(row, column)).center();
        QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(list->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(tipAt(0, tcArtist), "");
    EXPECT_EQ(tipAt(3, tcArtist), kLongArtist);
}

TEST_F(MediaFrameTest, SearchWrapsOnlyFromASelection) {
    Open();
    // "APPLE" matches rows 1 and 4 (titles); "band" every row (artists); "album 6" row 5.
    EXPECT_TRUE(FFrame->FindText("apple"));
    EXPECT_EQ(SelectedRows(), std::vector<int>{1});
    EXPECT_TRUE(FFrame->FindText("apple"));
    EXPECT_EQ(SelectedRows(), std::vector<int>{4});
    EXPECT_TRUE(FFrame->FindText("APPLE"));  // round from the end to the start
    EXPECT_EQ(SelectedRows(), std::vector<int>{1});

    // From the last row the walk starts at the top and stops before the selection.
    SelectRow(5);
    EXPECT_TRUE(FFrame->FindText("even band"));
    EXPECT_EQ(SelectedRows(), std::vector<int>{1});
    SelectRow(5);
    EXPECT_FALSE(FFrame->FindText("album 6"));
    EXPECT_EQ(SelectedRows(), std::vector<int>{5});

    // The only match already selected: nothing found, the selection stays.
    SelectRow(2);
    EXPECT_FALSE(FFrame->FindText("cherry"));
    EXPECT_EQ(SelectedRows(), std::vector<int>{2});

    // Nothing selected: one pass from the top.
    FFrame->MusicList->clearSelection();
    EXPECT_TRUE(FFrame->FindText("album 6"));
    EXPECT_EQ(SelectedRows(), std::vector<int>{5});
    FFrame->MusicList->clearSelection();
    EXPECT_FALSE(FFrame->FindText("no such text"));
    EXPECT_TRUE(SelectedRows().empty());

    // Nothing listed: nothing to find.
    Select("Movies");
    Select("Books");
    Select("Tones");
    Select("Smart");
    EXPECT_FALSE(FFrame->FindText("cherry"));
}

TEST_F(MediaFrameTest, AnEmptyLibraryTellsTheUserAndStaysDisabled) {
    Open(false);
    EXPECT_EQ(FMessages.Texts(),
              QStringList{"Either the media library is empty or it cannot be accessed currently."});
    EXPECT_EQ(FMessages.Shown.at(0).Kind, app::TMessageKind::Information);
    // Loading has ended: the user may switch to the photos, and Transfer finds nothing ticked.
    EXPECT_TRUE(FFrame->Loaded());
    FMessages.Shown.clear();
    EXPECT_FALSE(FFrame->StartTransfer());
    EXPECT_EQ(
        FMessages.Texts(),
        QStringList{"Please select tracks you want to transfer by checking their checkboxes."});
    EXPECT_FALSE(FFrame->MediaList->isEnabled());
    EXPECT_FALSE(FFrame->MusicList->isEnabled());
    EXPECT_EQ(FFrame->SbPanel->text(), "");
    EXPECT_FALSE(FFrame->FindText("a"));
}

TEST_F(MediaFrameTest, TransferNeedsATickAndADestinationOffTheDevice) {
    Open();
    FFrame->CheckAll(false);
    EXPECT_FALSE(FFrame->StartTransfer());
    EXPECT_EQ(
        FMessages.Texts(),
        QStringList{"Please select tracks you want to transfer by checking their checkboxes."});
    EXPECT_EQ(FFrame->findChild<transfer::TTransForm*>(), nullptr);

    // A destination on the iPod itself is refused while the dialog stays open, and is not
    // remembered; nothing runs.
    FMessages.Shown.clear();
    FFrame->CheckAll(true);
    const QString own = QString::fromStdString(FRoot / "ipod/Music");
    bool stayedOpen = false;
    WhenDialogShown<transfer::TTransForm>([own, &stayedOpen](transfer::TTransForm* form) {
        form->DestEdt->setText(own);
        form->OKBtn->click();
        stayedOpen = form->isVisible();
        form->CancelBtn->click();
    });
    EXPECT_FALSE(FFrame->StartTransfer());
    EXPECT_TRUE(stayedOpen);
    EXPECT_FALSE(app::OpenUserKey()->contains("MediaDest"));
    ASSERT_EQ(FMessages.Shown.size(), 1u);
    EXPECT_EQ(FMessages.Shown[0].Kind, app::TMessageKind::Warning);
    EXPECT_TRUE(FMessages.Shown[0].Text.contains("is your iPod."));
    EXPECT_EQ(FFrame->MusicDb->DestFolder, "");
}

TEST_F(MediaFrameTest, FromAPlaylistTheShownTicksAloneAreOfferedAndTheOthersKept) {
    Open();
    for (const TSong& song : kSongs)
        WriteFile(FRoot / ("ipod/iPod_Control/Music/F00/S" + std::to_string(song.Id) + song.Ext),
                  std::string(100, 'x'));
    TTrackList& tracks = FFrame->MusicDb->Tracks;
    ASSERT_EQ(tracks.CheckedCount, 6);
    struct TSeen {
        bool Offered = false;
        bool Ticked = false;
        QString Shown, Whole;
    };
    auto run = [&](bool onlyShown, const std::string& dest) {
        TSeen seen;
        WhenDialogShown<transfer::TTransForm>([&](transfer::TTransForm* options) {
            seen.Offered = options->ShownOnlyCb->isVisible();
            seen.Ticked = options->ShownOnlyCb->isChecked();
            seen.Shown = options->InfoLb->text();
            options->ShownOnlyCb->setChecked(false);
            seen.Whole = options->InfoLb->text();
            options->ShownOnlyCb->setChecked(onlyShown);
            options->DestEdt->setText(QString::fromStdString(dest));
            options->OKBtn->click();
            WhenDialogShown<transfer::TProgressDialog>(PressDoneAtTheEnd);
        });
        EXPECT_TRUE(FFrame->StartTransfer());
        return seen;
    };

    // The whole library shown: nothing more to choose.
    TTempDir first;
    TSeen seen = run(false, first.Path());
    EXPECT_FALSE(seen.Offered);
    EXPECT_EQ(seen.Shown.toStdString(),
              "Transfer selected 6 tracks, about " + TIpodDevice::FormatSize(tracks.CheckedSize));

    // "Mix" lists tracks 3, 1 and 3 again: two of the six ticked tracks.
    for (int i = 0; i < tracks.Count(); ++i)
        tracks.Items(i).TransferState = -1;
    Select("Mix");
    TTempDir second;
    seen = run(true, second.Path());
    EXPECT_TRUE(seen.Offered);
    EXPECT_TRUE(seen.Ticked);
    EXPECT_EQ(seen.Shown.toStdString(), "Transfer selected 2 tracks, about " +
                                            TIpodDevice::FormatSize(2000000 + 5000) +
                                            ", shown in Mix");
    EXPECT_TRUE(seen.Whole.endsWith(", ticked in the whole library")) << seen.Whole.toStdString();
    EXPECT_TRUE(seen.Whole.startsWith("Transfer selected 6 tracks")) << seen.Whole.toStdString();
    std::vector<bool> copied;
    for (int i = 0; i < tracks.Count(); ++i)
        copied.push_back(tracks.Items(i).TransferState > 0);
    EXPECT_EQ(copied, (std::vector<bool>{true, false, true, false, false, false}));
    // The ticks outside the playlist are back.
    EXPECT_EQ(tracks.CheckedCount, 6);
    EXPECT_EQ(RowCheck(0), Qt::Checked);
}

TEST_F(MediaFrameTest, RatingPlaysAndKindColumnsShowAndSortByNumber) {
    Open();
    TTrackList& tracks = FFrame->MusicDb->Tracks;
    tracks.Items(0).Rating = 60;
    tracks.Items(1).Rating = 100;
    tracks.Items(0).PlayCount = 12;
    tracks.Items(2).PlayCount = 3;
    tracks.Items(5).SizeText.clear();  // a book whose reader wrote no size text
    Select("Library");
    auto text = [this](int row, int column) {
        return FFrame->MusicModel->index(row, column).data(Qt::DisplayRole).toString();
    };
    EXPECT_EQ(text(0, tcRating), QString::fromUtf8("\u2605\u2605\u2605\u2606\u2606"));
    EXPECT_EQ(text(2, tcRating), "");
    EXPECT_EQ(text(0, tcPlays), "12");
    EXPECT_EQ(text(1, tcPlays), "");
    const QStringList kinds = {text(0, tcKind), text(3, tcKind), text(4, tcKind), text(5, tcKind)};
    EXPECT_EQ(kinds, (QStringList{"Music", "Movie", "Tone", "Book"}));
    EXPECT_EQ(text(5, tcSize).toStdString(), TIpodDevice::FormatSize(700));

    // 3 plays sorts below 12, which a text order would not do.
    FFrame->MusicListHeaderClick(tcPlays);
    FFrame->MusicListHeaderClick(tcPlays);
    EXPECT_EQ(Shown().front(), 1);
    EXPECT_EQ(Shown().at(1), 3);
    FFrame->MusicListHeaderClick(tcRating);
    EXPECT_EQ(Shown().back(), 2);
}

TEST_F(MediaFrameTest, SpareWidthGoesToTheTextColumnsInProportion) {
    Open();
    TCheckHeader* header = FFrame->MusicHeader;
    FFrame->resize(1600, 500);
    RunEventsFor(20);
    const int name = header->sectionSize(tcName);
    const int artist = header->sectionSize(tcArtist);
    EXPECT_GT(artist, 120);
    EXPECT_NEAR(static_cast<double>(name) / artist, 200.0 / 120.0, 0.05);
    EXPECT_EQ(header->sectionSize(tcTime), 60);
    EXPECT_EQ(header->sectionSize(tcSize), 80);
    EXPECT_LE(header->length(), FFrame->MusicList->viewport()->width());
}

TEST_F(MediaFrameTest, TypedTextNarrowsTheListAndEmptyListsSaySo) {
    Open();
    FFrame->FilterText("apple");
    EXPECT_EQ(Shown(), (std::vector<int64_t>{2, 5}));
    Select("Music");
    EXPECT_EQ(Shown(), std::vector<int64_t>{2});
    EXPECT_EQ(FFrame->StatusText().toStdString(), Summary(1, 900000));
    FFrame->FilterText("no such text");
    EXPECT_TRUE(Shown().empty());
    EXPECT_FALSE(FFrame->EmptyLb->isHidden());
    EXPECT_TRUE(FFrame->EmptyLb->text().startsWith("Not found"));
    FFrame->FilterText("");
    EXPECT_EQ(Shown(), (std::vector<int64_t>{1, 2, 3}));
    EXPECT_TRUE(FFrame->EmptyLb->isHidden());
    // A category with nothing in it says so; the voice memos have their own.
    Select("Voice memos");
    EXPECT_TRUE(Shown().empty());
    EXPECT_EQ(FFrame->EmptyLb->text(), "No tracks in Voice memos");
    EXPECT_FALSE(FFrame->EmptyLb->isHidden());
}

TEST_F(MediaFrameTest, RowAndHeaderMenusAndSpaceTickAndShowColumns) {
    Open();
    TTrackList& tracks = FFrame->MusicDb->Tracks;
    QStringList seen;
    QString pick;
    FFrame->MenuHook = [&](QMenu& menu) {
        seen.clear();
        for (QAction* action : menu.actions()) {
            if (action->isSeparator())
                continue;
            seen << action->text() + (action->isEnabled() ? "" : " (off)");
            if (action->text() == pick)
                action->trigger();
        }
    };
    QTreeView* list = FFrame->MusicList;
    auto rowPoint = [&](int row) {
        return list->visualRect(FFrame->MusicModel->index(row, tcArtist)).center();
    };
    pick = "Untick";
    FFrame->RowMenu(rowPoint(0));
    EXPECT_EQ(seen, (QStringList{"Tick (off)", "Untick", "Tick selected", "Untick selected",
                                 "Show in folder (off)"}));
    EXPECT_FALSE(tracks.Items(0).Checked);

    // Space ticks or clears the selection as its first row says.
    list->setFocus();
    list->selectionModel()->select(
        QItemSelection(FFrame->MusicModel->index(0, 0), FFrame->MusicModel->index(2, 0)),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_TRUE(tracks.Items(0).Checked && tracks.Items(1).Checked && tracks.Items(2).Checked);
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_FALSE(tracks.Items(0).Checked || tracks.Items(1).Checked || tracks.Items(2).Checked);

    // After a copy the row leads to its file.
    tracks.Items(0).TransferState = 1;
    tracks.Items(0).DestPath = "/music/banana.mp3";
    TShellRecorder shell;
    pick = "Show in folder";
    FFrame->RowMenu(rowPoint(0));
    ASSERT_EQ(shell.Requests.size(), 1u);
    EXPECT_EQ(shell.Requests[0].Target, "/music/banana.mp3");

    pick = "Genre";
    FFrame->HeaderMenu(QPoint(5, 5));
    EXPECT_TRUE(seen.contains("Kind"));
    EXPECT_FALSE(seen.contains("Name"));
    EXPECT_TRUE(FFrame->MusicHeader->isSectionHidden(tcGenre));
}

}  // namespace
}  // namespace corvane::views
