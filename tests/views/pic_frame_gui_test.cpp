// The photo view over real libraries of both device kinds: the album tree and the grid, check
// marks shared between albums, the box above the grid, the camera roll of any size with its
// captions, the cloud mark,
// transfers refused while previews load, and the preview loader stopped when the device goes
// or the view is freed while it runs.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDateTime>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "device/iPodDev.h"
#include "fixtures/DemoPhotos.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/IthmbBuilder.h"
#include "fixtures/PhotoDbBuilder.h"
#include "fixtures/PictureFiles.h"
#include "fixtures/TempDir.h"
#include "gui/GuiTestSupport.h"
#include "photo/iPodPhoto.h"
#include "views/KelPicture.h"
#include "views/PictureGridDelegate.h"
#include "views/PictureGridView.h"
#include "views/PictureListModel.h"

namespace corvane::views {
namespace {

namespace fs = std::filesystem;
using namespace corvane::testing;

enum class TMode { Disk, Mobile };

// A disk-mode library of count photos that all share one preview record and one full-size
// record: large enough that its loader is still at work when a test acts.
void BuildLargeLibrary(const std::string& root, int count) {
    constexpr uint32_t kFullSlot = 720 * 480 * 2;
    constexpr uint32_t kPreviewSlot = 130 * 88 * 2;
    TPhotoDbBuilder db;
    for (int i = 0; i < count; ++i)
        db.AddImage(1000 + i, {PhotoRef(1019, 0, kFullSlot, 720, 480, ":Thumbs:F1019_1.ithmb"),
                               PhotoRef(1015, 0, kPreviewSlot, 130, 88, ":Thumbs:F1015_1.ithmb")});
    db.AddAlbum("Photo Library", db.AllImageIds());
    WriteFile(root + "/Photos/Photo Database", db.Build());
    WriteIthmbFile(root + "/Photos/Thumbs/F1019_1.ithmb",
                   {EncodeFormatRecord(1019, DemoScene(0, 720, 480), false)}, kFullSlot);
    WriteIthmbFile(root + "/Photos/Thumbs/F1015_1.ithmb",
                   {EncodeFormatRecord(1015, DemoScene(0, 130, 88), false)}, kPreviewSlot);
}

// A device folder with its library, and the view over it.
class TPhotoSession {
public:
    explicit TPhotoSession(TMode mode, bool withDcim = true, int cameraFiles = -1) {
        if (mode == TMode::Disk)
            BuildDemoIpodPhotos(Root.Path());
        else
            BuildDemoIphonePhotos(Root.Path());
        if (!withDcim || cameraFiles >= 0) {
            // Camera files of the demo are replaced (a mobile library's assets stay listed in
            // its database; their pictures are only needed for the export).
            fs::remove_all(Root / "DCIM");
        }
        if (cameraFiles >= 0) {
            fs::create_directories(Root / "DCIM/100APPLE");
            const std::string jpeg = JpegFile(SolidPicture(16, 16, kBlue));
            for (int i = 0; i < cameraFiles; ++i)
                WriteFile(Root / ("DCIM/100APPLE/IMG_" + std::to_string(1000 + i) + ".JPG"), jpeg);
        }
        Device = mode == TMode::Disk ? DiskDevice(Root.Path()) : MobileDevice(Root.Path());
    }

    TPicFrame& Open() {
        Frame = std::make_unique<TPicFrame>(nullptr, *Device);
        Frame->resize(900, 600);
        Frame->show();
        Frame->Populate();
        return *Frame;
    }
    TPicFrame& OpenLoaded() {
        Open();
        EXPECT_TRUE(WaitUntil([this] { return Frame->Loaded(); }));
        return *Frame;
    }

    TTempDir Root;
    std::unique_ptr<TIpodDevice> Device;
    std::unique_ptr<TPicFrame> Frame;  // freed before the device
};

QTreeWidgetItem* Node(TPicFrame& frame, const QString& text) {
    const auto found = frame.PicList->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

void Select(TPicFrame& frame, const QString& text) {
    QTreeWidgetItem* node = Node(frame, text);
    ASSERT_NE(node, nullptr) << text.toStdString();
    frame.PicList->setCurrentItem(node);
}

int RowOfImage(TPicFrame& frame, uint32_t imageId) {
    TPictureListModel& model = *frame.PictureModel();
    for (int row = 0; row < model.rowCount(); ++row) {
        if (frame.PhotoDb()->Photos.Items(model.Tag(row)).ImageId == imageId)
            return row;
    }
    return -1;
}

bool RowChecked(TPicFrame& frame, int row) {
    return frame.PictureModel()->index(row).data(Qt::CheckStateRole).toInt() == Qt::Checked;
}

TPictureGridDelegate::TCellLayout CellOf(TPicFrame& frame, int row) {
    const QModelIndex index = frame.PictureModel()->index(row);
    frame.PictureList->scrollTo(index);
    return frame.PictureList->Delegate()->Layout(frame.PictureList->visualRect(index),
                                                 frame.PictureList);
}

// A click on the row's check box, as the user makes it.
void ClickCheckBox(TPicFrame& frame, int row) {
    QTest::mouseClick(frame.PictureList->viewport(), Qt::LeftButton, {},
                      CellOf(frame, row).Check.center());
}

QStringList AlbumNames(TPicFrame& frame) {
    QStringList names;
    QTreeWidgetItem* root = frame.PicList->topLevelItem(0);
    for (int i = 0; i < root->childCount(); ++i)
        names << root->child(i)->text(0);
    return names;
}

TEST(PicFrame, ListsTheAlbumsAndTheLibraryWithTheirPreviewsInBothModes) {
    for (TMode mode : {TMode::Disk, TMode::Mobile}) {
        SCOPED_TRACE(mode == TMode::Disk ? "disk mode" : "mobile device");
        TPhotoSession session(mode);
        TPicFrame& frame = session.Open();
        EXPECT_TRUE(session.Device->Busy);
        // The tree can be used at once; the box above the grid waits for the previews.
        EXPECT_TRUE(frame.PicList->isEnabled());
        EXPECT_FALSE(frame.AllPicCb->isEnabled());
        ASSERT_TRUE(WaitUntil([&] { return frame.Loaded(); }));
        EXPECT_FALSE(session.Device->Busy);
        EXPECT_TRUE(frame.PicList->isEnabled());
        EXPECT_TRUE(frame.AllPicCb->isEnabled());

        const TIpodPhotoDb& db = *frame.PhotoDb();
        QStringList expected;
        for (int i = 1; i < db.Albums.Count(); ++i)
            expected << QString::fromStdString(db.Albums.Items(i).Name);
        ASSERT_EQ(frame.PicList->topLevelItemCount(), 2);
        EXPECT_EQ(frame.PicList->topLevelItem(0)->text(0), "Albums");
        EXPECT_EQ(frame.PicList->topLevelItem(1)->text(0), "Camera roll");
        EXPECT_EQ(AlbumNames(frame), expected);
        EXPECT_EQ(frame.PicList->currentItem(), frame.PicList->topLevelItem(0));
        EXPECT_EQ(frame.AllPicCb->text(), "Albums");

        // The root shows the whole library, each row captioned with its photo's name.
        const int count = db.Albums.Items(0).Count;
        ASSERT_GT(count, 0);
        ASSERT_EQ(frame.PictureModel()->rowCount(), count);
        EXPECT_EQ(frame.SbPanel->text(), QString::number(count) + " pictures");
        EXPECT_EQ(frame.PictureModel()->index(1).data().toString(),
                  QString::fromStdString(db.Photos.Items(db.Albums.Items(0).Members[1]).Name));

        // Cells fit the previews: 4 item borders wider, and two text lines higher.
        const int border = TPictureGridDelegate::kItemBorder;
        EXPECT_EQ(frame.PictureList->Delegate()->CellSize(),
                  QSize(db.Photos.ThumbWidth + 4 * border,
                        db.Photos.ThumbHeight + 4 * border +
                            2 * frame.PictureList->fontMetrics().height()));

        // What is drawn is the loaded preview, at the top left of its place and cut to it (a
        // disk-mode record is wider than its cell).
        const int tag = frame.PictureModel()->Tag(0);
        const TBitmap& thumb = db.Photos.Items(tag).Thumb;
        ASSERT_FALSE(thumb.Empty());
        const QRect place = CellOf(frame, 0).Thumb;
        const QImage shot = frame.PictureList->viewport()->grab().toImage();
        const int width = std::min(thumb.Width(), place.width());
        const int height = std::min(thumb.Height(), place.height());
        for (QPoint p :
             {QPoint(2, 2), QPoint(width / 2, height / 2), QPoint(width - 1, height - 1)}) {
            const TRgb want = thumb.Pixel(p.x(), p.y());
            EXPECT_EQ(shot.pixelColor(place.topLeft() + p), QColor(want.R, want.G, want.B))
                << p.x() << "," << p.y();
        }
    }
}

TEST(PicFrame, APhotoInTwoAlbumsIsTickedOnce) {
    TPhotoSession session(TMode::Disk);
    TPicFrame& frame = session.OpenLoaded();
    TPhotoList& photos = frame.PhotoDb()->Photos;
    const int all = photos.CheckedCount;
    ASSERT_EQ(all, photos.Count());  // library photos start ticked

    // Photo 100 is in "Harbour Walk" and in "Garden: Spring?".
    Select(frame, "Harbour Walk");
    int row = RowOfImage(frame, 100);
    ASSERT_GE(row, 0);
    ClickCheckBox(frame, row);
    EXPECT_FALSE(RowChecked(frame, row));
    EXPECT_EQ(photos.CheckedCount, all - 1);

    Select(frame, "Garden: Spring?");
    row = RowOfImage(frame, 100);
    ASSERT_GE(row, 0);
    EXPECT_FALSE(RowChecked(frame, row));
    ClickCheckBox(frame, row);
    EXPECT_TRUE(RowChecked(frame, row));
    EXPECT_EQ(photos.CheckedCount, all);

    // Space ticks or unticks the selected pictures together.
    frame.PictureList->selectAll();
    frame.PictureList->setFocus();
    QTest::keyClick(frame.PictureList, Qt::Key_Space);
    EXPECT_EQ(photos.CheckedCount, all - frame.PictureModel()->rowCount());
    QTest::keyClick(frame.PictureList, Qt::Key_Space);
    EXPECT_EQ(photos.CheckedCount, all);
}

TEST(PicFrame, TheBoxAboveTheGridActsOnTheShownAlbumOnly) {
    TPhotoSession session(TMode::Disk);
    TPicFrame& frame = session.OpenLoaded();
    TPhotoList& photos = frame.PhotoDb()->Photos;
    const int all = photos.CheckedCount;

    Select(frame, "Evenings");
    EXPECT_EQ(frame.AllPicCb->text(), "Evenings");
    EXPECT_EQ(frame.SbPanel->text(), "3 pictures");
    QTest::mouseClick(frame.AllPicCb, Qt::LeftButton);
    ASSERT_FALSE(frame.AllPicCb->isChecked());
    for (int row = 0; row < 3; ++row)
        EXPECT_FALSE(RowChecked(frame, row));
    EXPECT_EQ(photos.CheckedCount, all - 3);
    for (uint32_t id : {105u, 106u, 107u})
        EXPECT_FALSE(photos.Items(static_cast<int>(id - 100)).Checked) << id;

    // The library shows the same marks: three off, the rest still on.
    Select(frame, "Albums");
    EXPECT_EQ(frame.AllPicCb->text(), "Albums");
    EXPECT_FALSE(RowChecked(frame, RowOfImage(frame, 106)));
    EXPECT_TRUE(RowChecked(frame, RowOfImage(frame, 101)));
    // The box says the shown pictures are partly ticked; one tick of a row moves it.
    EXPECT_EQ(frame.AllPicCb->checkState(), Qt::PartiallyChecked);
    Select(frame, "Harbour Walk");
    EXPECT_EQ(frame.AllPicCb->checkState(), Qt::Checked);
    ClickCheckBox(frame, 0);
    EXPECT_EQ(frame.AllPicCb->checkState(), Qt::PartiallyChecked);
    // A click on a partly ticked box ticks every shown picture.
    QTest::mouseClick(frame.AllPicCb, Qt::LeftButton);
    EXPECT_EQ(frame.AllPicCb->checkState(), Qt::Checked);
    EXPECT_EQ(photos.CheckedCount, all - 3);

    Select(frame, "Evenings");
    EXPECT_EQ(frame.AllPicCb->checkState(), Qt::Unchecked);
    QTest::mouseClick(frame.AllPicCb, Qt::LeftButton);
    EXPECT_EQ(photos.CheckedCount, all);
}

TEST(PicFrame, TypedTextNarrowsTheAlbumsAndTheGridByAlbumAndFileNames) {
    TPhotoSession session(TMode::Disk, false);
    TPicFrame& frame = session.OpenLoaded();
    auto shownAlbums = [&frame] {
        QStringList names;
        QTreeWidgetItem* root = frame.PicList->topLevelItem(0);
        for (int i = 0; i < root->childCount(); ++i) {
            if (!root->child(i)->isHidden())
                names << root->child(i)->text(0);
        }
        return names;
    };
    // An album's own name: it stays, and shows all its pictures; the library shows none.
    frame.FilterText("harbour");
    EXPECT_EQ(shownAlbums(), QStringList{"Harbour Walk"});
    EXPECT_EQ(frame.PictureModel()->rowCount(), 0);
    EXPECT_FALSE(frame.NotFoundLb->isHidden());
    EXPECT_TRUE(frame.NotFoundLb->text().startsWith("Not found"));
    Select(frame, "Harbour Walk");
    EXPECT_EQ(frame.PictureModel()->rowCount(), 3);
    EXPECT_TRUE(frame.NotFoundLb->isHidden());

    // A picture's name: the albums holding it stay; the album shown then hides, so the
    // library is shown with that one picture.
    frame.FilterText("105");
    EXPECT_EQ(shownAlbums(), QStringList{"Evenings"});
    EXPECT_EQ(frame.PicList->currentItem()->text(0), "Albums");
    ASSERT_EQ(frame.PictureModel()->rowCount(), 1);
    EXPECT_EQ(frame.PhotoDb()->Photos.Items(frame.PictureModel()->Tag(0)).ImageId, 105u);

    frame.FilterText("");
    EXPECT_EQ(shownAlbums(), AlbumNames(frame));
    EXPECT_EQ(frame.PictureModel()->rowCount(), frame.PhotoDb()->Photos.Count());
}

TEST(PicFrame, FindTextSelectsTheFirstMatchingAlbumIncludingTheLast) {
    TPhotoSession session(TMode::Disk, false);
    TPicFrame& frame = session.OpenLoaded();
    ASSERT_EQ(frame.PicList->topLevelItemCount(), 1);  // no camera roll: the last is an album
    EXPECT_TRUE(frame.FindText("spring"));
    EXPECT_EQ(frame.PicList->currentItem()->text(0), "Garden: Spring?");
    EXPECT_TRUE(frame.FindText("EVEN"));
    EXPECT_EQ(frame.PicList->currentItem()->text(0), "Evenings");
    EXPECT_EQ(frame.PictureModel()->rowCount(), 3);
    EXPECT_FALSE(frame.FindText("Albums"));  // the whole library is no album
    EXPECT_FALSE(frame.FindText("nowhere"));
    EXPECT_EQ(frame.PicList->currentItem()->text(0), "Evenings");
}

struct TCameraCase {
    const char* Name;
    TMode Mode;
    bool WithDcim;
    int Files;  // -1: the demo's own camera roll
    bool Listed;
};

TEST(PicFrame, TheCameraRollIsListedWhateverItsSize) {
    const TCameraCase cases[] = {
        {"no camera folder", TMode::Disk, false, -1, false},
        {"2,000 files, disk mode", TMode::Disk, true, 2000, true},
        {"demo, mobile", TMode::Mobile, true, -1, true},
        {"2,000 files, mobile", TMode::Mobile, true, 2000, true},
        {"a camera folder that lists nothing, disk mode", TMode::Disk, true, 0, false},
        {"a camera folder that lists nothing, mobile", TMode::Mobile, true, 0, false},
    };
    for (const TCameraCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPhotoSession session(c.Mode, c.WithDcim, c.Files);
        TPicFrame& frame = session.OpenLoaded();
        QTreeWidgetItem* camera = Node(frame, "Camera roll");
        if (!c.WithDcim) {
            EXPECT_EQ(camera, nullptr);
            EXPECT_EQ(frame.PicList->topLevelItemCount(), 1);
            continue;
        }
        ASSERT_NE(camera, nullptr);
        EXPECT_EQ(frame.PicList->indexOfTopLevelItem(camera), 1);
        TCamPhotoList& files = frame.PhotoDb()->CameraPhotos;
        const std::string name = session.Device->DisplayName();

        TMessageRecorder messages;
        TShellRecorder shell;
        frame.PicList->setCurrentItem(camera);
        if (c.Listed) {
            EXPECT_TRUE(messages.Shown.empty());
            EXPECT_EQ(frame.PictureModel()->rowCount(), files.Count());
            EXPECT_EQ(frame.AllPicCb->text(), "Camera roll");
            EXPECT_EQ(frame.PictureModel()->index(0).data().toString(),
                      QString::fromStdString(files.Items(0).FileName));
            // Their previews load now, with the same rules as the library's.
            EXPECT_TRUE(session.Device->Busy);
            EXPECT_FALSE(frame.Loaded());
            ASSERT_TRUE(WaitUntil([&] { return frame.Loaded(); }, 60000));
            EXPECT_EQ(frame.SbPanel->text(), QString::number(files.Count()) + " pictures");
            EXPECT_FALSE(files.Items(files.Count() - 1).Thumb.Empty());
            // Camera files start unticked; ticking one counts in the camera roll only.
            const int library = frame.PhotoDb()->Photos.CheckedCount;
            EXPECT_EQ(files.CheckedCount, 0);
            ClickCheckBox(frame, 0);
            EXPECT_TRUE(files.Items(0).Checked);
            EXPECT_EQ(files.CheckedCount, 1);
            EXPECT_EQ(frame.PhotoDb()->Photos.CheckedCount, library);
            // The box above the grid ticks every one of them.
            frame.AllPicCb->setChecked(false);
            QTest::mouseClick(frame.AllPicCb, Qt::LeftButton);
            EXPECT_EQ(files.CheckedCount, files.Count());
            EXPECT_TRUE(RowChecked(frame, files.Count() - 1));
            EXPECT_EQ(frame.PhotoDb()->Photos.CheckedCount, library);
            continue;
        }
        ASSERT_EQ(files.Count(), 0);
        const QString hint = QString::fromStdString(
            "Please open the file manager, select the \"" + (name.empty() ? "device" : name) +
            "\".\n\nYou can find all the photos under internal storage's \"DCIM\" folder");
        EXPECT_EQ(messages.Texts(), QStringList{hint});
        ASSERT_EQ(messages.Shown.size(), 1u);
        EXPECT_EQ(messages.Shown[0].Kind, app::TMessageKind::Information);
        if (c.Mode == TMode::Disk) {
            ASSERT_EQ(shell.Requests.size(), 1u);
            EXPECT_EQ(shell.Requests[0].Action, app::TShellAction::ShowFolder);
            EXPECT_EQ(shell.Requests[0].Target, QString::fromStdString(session.Root / "DCIM"));
        } else {
            EXPECT_TRUE(shell.Requests.empty());  // nothing local to show
        }
        EXPECT_EQ(frame.PicList->currentItem(), frame.PicList->topLevelItem(0));
        EXPECT_FALSE(frame.PictureModel()->CameraRoll());
        EXPECT_EQ(frame.PictureModel()->rowCount(), frame.PhotoDb()->Albums.Items(0).Count);
        EXPECT_FALSE(session.Device->Busy);  // no camera previews were started
    }
}

TEST(PicFrame, TransfersAreRefusedWhilePreviewsLoadAndWithNothingTicked) {
    TPhotoSession session(TMode::Disk);
    TPicFrame& frame = session.Open();
    TMessageRecorder messages;
    // Nothing has been pumped yet: the loader waits for its first report.
    ASSERT_TRUE(session.Device->Busy);
    EXPECT_FALSE(frame.StartTransfer());
    EXPECT_EQ(messages.Texts(), QStringList{"Loading preview of pictures, please wait."});

    ASSERT_TRUE(WaitUntil([&] { return frame.Loaded(); }));
    QTest::mouseClick(frame.AllPicCb, Qt::LeftButton);  // the whole library unticked
    ASSERT_EQ(frame.PhotoDb()->Photos.CheckedCount, 0);
    messages.Shown.clear();
    EXPECT_FALSE(frame.StartTransfer());
    EXPECT_EQ(
        messages.Texts(),
        QStringList{"Please select photos you want to transfer by checking their checkboxes."});
    EXPECT_FALSE(session.Device->Busy);
}

TEST(PicFrame, AnUnreadableLibraryIsReportedAndLeavesNothingToWaitFor) {
    TTempDir root;
    auto device = DiskDevice(root.Path());
    TMessageRecorder messages;
    TPicFrame frame(nullptr, *device);
    frame.Populate();
    EXPECT_EQ(messages.Texts(),
              QStringList{"Either the photo library is empty or it cannot be accessed currently."});
    EXPECT_EQ(frame.SbPanel->text(), "");
    EXPECT_FALSE(frame.PicList->isEnabled());
    EXPECT_TRUE(frame.Loaded());
    EXPECT_FALSE(device->Busy);
}

TEST(PicFrame, ThePreviewLoaderStopsCleanlyWhenTheDeviceGoesOrTheViewIsFreed) {
    TTempDir root;
    BuildLargeLibrary(root.Path(), 2000);
    auto device = DiskDevice(root.Path());
    const auto loading = [](TPicFrame& frame) {
        return frame.SbPanel->text().startsWith("Loading preview:  ");
    };
    {
        SCOPED_TRACE("device lost");
        TPicFrame frame(nullptr, *device);
        frame.Populate();
        ASSERT_TRUE(WaitUntil([&] { return loading(frame); }));
        frame.DeviceLost();
        ASSERT_TRUE(WaitUntil([&] { return frame.Loaded(); }));
        EXPECT_FALSE(device->Busy);
        EXPECT_EQ(frame.SbPanel->text(), "Some pictures cannot be loaded this time");
        EXPECT_TRUE(frame.PicList->isEnabled());
        EXPECT_TRUE(frame.PhotoDb()->Photos.Items(1999).Thumb.Empty());
    }
    {
        SCOPED_TRACE("view freed");
        auto frame = std::make_unique<TPicFrame>(nullptr, *device);
        frame->show();
        frame->Populate();
        ASSERT_TRUE(WaitUntil([&] { return loading(*frame); }));
        frame.reset();
        EXPECT_FALSE(device->Busy);
        // Hand-overs the loader gave up find nothing to run.
        RunEventsFor(50);
    }
}

// Pixels of rect near colour (each channel within 24).
int PixelsNear(const QImage& image, const QRect& rect, QColor colour) {
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - colour.red()) < 24 &&
                std::abs(pixel.green() - colour.green()) < 24 &&
                std::abs(pixel.blue() - colour.blue()) < 24)
                ++count;
        }
    }
    return count;
}

TEST(PicFrame, CaptionsShowTheDateTakenAndCloudOnlyPhotosCarryTheCloudMark) {
    TPhotoSession session(TMode::Mobile, true, 3);
    TPicFrame& frame = session.OpenLoaded();
    TIpodPhotoDb& db = *frame.PhotoDb();

    // The library's photo in the first cell is only in the cloud, the second one is here.
    ASSERT_GE(frame.PictureModel()->rowCount(), 2);
    db.Photos.Items(frame.PictureModel()->Tag(0)).Local = false;
    frame.PictureList->viewport()->repaint();
    const QImage grid = frame.PictureList->viewport()->grab().toImage();
    const QColor outline(90, 110, 140);
    const QRect cloud = TPictureGridDelegate::CloudRect(CellOf(frame, 0).Thumb);
    const QRect local = TPictureGridDelegate::CloudRect(CellOf(frame, 1).Thumb);
    EXPECT_TRUE(frame.PictureModel()->index(0).data(TPictureListModel::CloudRole).toBool());
    EXPECT_FALSE(frame.PictureModel()->index(1).data(TPictureListModel::CloudRole).toBool());
    EXPECT_GT(PixelsNear(grid, cloud, outline), 4);
    EXPECT_GT(PixelsNear(grid, cloud, Qt::white), 4);
    EXPECT_EQ(PixelsNear(grid, local, outline), 0);

    // Camera files: the name, and below it the date taken when the library knows it.
    db.CameraPhotos.Items(0).DateTaken = int64_t{1700000000};
    Select(frame, "Camera roll");
    const QString date = QDateTime::fromSecsSinceEpoch(1700000000).toString("yyyy-MM-dd hh:mm");
    EXPECT_EQ(frame.PictureModel()->index(0).data().toString(), "IMG_1000.JPG\n" + date);
    EXPECT_EQ(frame.PictureModel()->index(1).data().toString(), "IMG_1001.JPG");
    const QFontMetrics metrics(frame.PictureList->font());
    EXPECT_EQ(TPictureGridDelegate::CaptionLines("IMG_1000.JPG\n" + date, metrics, 400),
              (QStringList{"IMG_1000.JPG", date}));
    ASSERT_TRUE(WaitUntil([&] { return frame.Loaded(); }));
}

}  // namespace
}  // namespace corvane::views
