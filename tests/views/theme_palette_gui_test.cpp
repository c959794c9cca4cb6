// The views, the options dialog and the progress dialog under a light and a dark palette:
// their backgrounds follow the palette and their text stands out from them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>

#include "device/iPodDev.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/TempDir.h"
#include "gui/GuiTestSupport.h"
#include "gui/ThemeColours.h"
#include "transfer/KelProgress.h"
#include "transfer/MusicTrans.h"
#include "views/KelMedia.h"
#include "views/TrackListModel.h"

namespace corvane::views {
namespace {

using namespace corvane::testing;

QPalette DarkPalette() {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(53, 53, 53));
    dark.setColor(QPalette::WindowText, QColor(238, 238, 236));
    dark.setColor(QPalette::Base, QColor(45, 45, 45));
    dark.setColor(QPalette::AlternateBase, QColor(60, 60, 60));
    dark.setColor(QPalette::Text, QColor(238, 238, 236));
    dark.setColor(QPalette::Button, QColor(60, 60, 60));
    dark.setColor(QPalette::ButtonText, QColor(238, 238, 236));
    dark.setColor(QPalette::Highlight, QColor(21, 83, 158));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::PlaceholderText, QColor(150, 150, 150));
    // As some dark themes do: a window in the background has its text greyed.
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        dark.setColor(QPalette::Inactive, role, QColor(145, 145, 144));
    return dark;
}

// The lightness of the area's most frequent colour (its background) and the largest step
// from it to any pixel of the area (the text drawn on it).
struct TContrast {
    int Background = 0;
    int Step = 0;
};

TContrast Measure(QWidget* widget, QRect area = {}) {
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (area.isNull())
        area = image.rect();
    area = area.intersected(image.rect());
    std::map<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb background = 0;
    int most = -1;
    for (const auto& [rgb, count] : counts) {
        if (count > most) {
            most = count;
            background = rgb;
        }
    }
    TContrast result;
    result.Background = QColor(background).lightness();
    for (const auto& entry : counts)
        result.Step =
            std::max(result.Step, std::abs(QColor(entry.first).lightness() - result.Background));
    return result;
}

class ThemePaletteTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        FSaved = QApplication::palette();
        if (GetParam())
            QApplication::setPalette(DarkPalette());
    }
    void TearDown() override { QApplication::setPalette(FSaved); }

    bool Dark() const { return GetParam(); }
    // Text on a background of the palette's kind, far enough apart to read.
    void ExpectReadable(const TContrast& contrast, const char* what) const {
        if (Dark())
            EXPECT_LT(contrast.Background, 110) << what;
        else
            EXPECT_GT(contrast.Background, 190) << what;
        EXPECT_GT(contrast.Step, 120) << what;
    }

    QPalette FSaved;
};

TEST_P(ThemePaletteTest, TreeRowsAndDialogsFollowThePalette) {
    TTempDir root;
    TITunesDbBuilder db;
    for (uint32_t id = 1; id <= 3; ++id) {
        TITunesDbTrack track;
        track.Id = id;
        track.Title = "Song number " + std::to_string(id);
        track.Artist = "Artist";
        track.Location = ":iPod_Control:Music:F00:S" + std::to_string(id) + ".mp3";
        track.Size = 1000;
        db.AddTrack(track);
    }
    db.AddPlaylist({.Name = "Test iPod", .IsMaster = true, .TrackIds = db.AllTrackIds()});
    WriteFile(root / "ipod/iPod_Control/iTunes/iTunesDB", db.Build());
    std::unique_ptr<TIpodDevice> device = DiskDevice(root / "ipod");
    {
        TMediaFrame frame(nullptr, *device);
        frame.resize(900, 400);
        frame.show();
        frame.Populate();
        RunEventsFor(20);
        ExpectReadable(Measure(frame.MediaList), "side tree");
        // Both row tints, each with its title on it.
        for (int row : {0, 1}) {
            const QRect rect = frame.MusicList->visualRect(frame.MusicModel->index(row, tcName));
            ExpectReadable(Measure(frame.MusicList->viewport(), rect), "track row");
        }
        EXPECT_EQ(app::IsDarkPalette(frame.MusicList->palette()), Dark());

        // The same with another window in front.
        QWidget other;
        other.show();
        other.activateWindow();
        ASSERT_TRUE(WaitUntil([&] { return other.isActiveWindow(); }));
        ASSERT_FALSE(frame.isActiveWindow());
        ExpectReadable(Measure(frame.MediaList), "side tree in the background");
        const QRect rect = frame.MusicList->visualRect(frame.MusicModel->index(0, tcName));
        ExpectReadable(Measure(frame.MusicList->viewport(), rect), "track row in the background");
    }
    {
        transfer::TTransForm form(nullptr);
        form.InfoLb->setText("Transfer selected 3 tracks, about 2.93 KB");
        form.show();
        RunEventsFor(20);
        ExpectReadable(Measure(form.Shp), "summary band");
    }
    {
        transfer::TProgressDialog progress(nullptr);
        progress.show();
        RunEventsFor(20);
        ExpectReadable(Measure(progress.InfoLb), "progress dialog");
        // The end of a failed transfer stands out in red and still reads on the window.
        const QColor failure = app::FailureTextColour(progress.palette());
        const QColor window = progress.palette().color(QPalette::Window);
        EXPECT_GT(std::abs(failure.lightness() - window.lightness()), 100);
        EXPECT_LT(failure.hue(), 20);  // a red
    }
}

INSTANTIATE_TEST_SUITE_P(LightAndDark, ThemePaletteTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "Dark" : "Light";
                         });

}  // namespace
}  // namespace corvane::views
