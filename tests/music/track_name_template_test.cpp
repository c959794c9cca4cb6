// Naming templates: parsing, filling from a track, and the export paths they give.
#include <gtest/gtest.h>

#include <filesystem>

#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/TempDir.h"
#include "music/TrackNameTemplate.h"
#include "music/iPodMusic.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::TTempDir;

TTrackItem FullTrack() {
    TTrackItem track;
    track.Title = "Harbour Lights";
    track.Artist = "The Tide";
    track.Album = "Coast";
    track.AlbumArtist = "Various";
    track.Genre = "Folk";
    track.TrackNumber = 7;
    track.DiscNumber = 2;
    track.Year = 1998;
    return track;
}

TEST(TrackNameTemplate, FillsTokensIntoFoldersAndAName) {
    const TTrackItem full = FullTrack();
    TTrackItem bare;  // nothing but a title
    bare.Title = "Intro";
    TTrackItem hostile = FullTrack();
    hostile.Artist = "../..";
    hostile.Album = "AC/DC: Live?";
    hostile.Title = "  a\tb  ";
    struct {
        std::string naming;
        const TTrackItem& track;
        std::string expected;
    } cases[] = {
        {"%artist%/%album%/%track% %title%", full, "The Tide/Coast/07 Harbour Lights"},
        {"%albumartist%/%year% - %album%/%disc%-%track% %title%", full,
         "Various/1998 - Coast/2-07 Harbour Lights"},
        {"%genre%/%title% (%artist%)", full, "Folk/Harbour Lights (The Tide)"},
        {"%title% 100%%", full, "Harbour Lights 100%"},
        // Missing names read as the fixed schemes write them; missing numbers leave nothing,
        // nor the separator they stood beside.
        {"%artist%/%album%/%track% - %title%", bare, "Unknown Artist/Unknown Album/Intro"},
        {"%albumartist%/%genre%/%title%", bare, "Unknown Artist/Unknown Genre/Intro"},
        {"%year%/%disc%/%title%", bare, "Intro"},  // folders of nothing are left out
        {"%track%", bare, "Intro"},                // a file always has a name
        {"%disc%-%track% %title%", bare, "Intro"},
        {"%title% - %track%", bare, "Intro"},
        {"%album% (%year%)/[%track%] %title%", bare, "Unknown Album/Intro"},
        {"%title%: <%year%>", bare, "Intro_ __"},
        {"/%artist%//%title%", full, "The Tide/Harbour Lights"},
        // A value never adds a folder or climbs out; a typed ".." is no folder either.
        {"%artist%/%album%/%title%", hostile, ".._../AC_DC_ Live_/a_b"},
        {"../%title%", full, "__/Harbour Lights"},
        {"./%title%", full, "_/Harbour Lights"},
        {"%title%: <%year%>", full, "Harbour Lights_ _1998_"},
    };
    for (const auto& c : cases) {
        const TTrackNameTemplate naming(c.naming);
        ASSERT_TRUE(naming.Valid()) << c.naming << ": " << naming.Error();
        EXPECT_EQ(naming.Path(c.track), c.expected) << c.naming;
    }
    // The album artist falls back to the artist.
    TTrackItem noAlbumArtist = FullTrack();
    noAlbumArtist.AlbumArtist = " ";
    EXPECT_EQ(TTrackNameTemplate("%albumartist%/%title%").Path(noAlbumArtist),
              "The Tide/Harbour Lights");
}

TEST(TrackNameTemplate, RefusesWhatCannotNameFiles) {
    struct {
        std::string naming;
        std::string error;  // a part of the message
    } cases[] = {
        {"", "empty"},
        {" / /", "a file name must follow"},
        {"Songs", "needs a token"},  // every track would share one name
        {"%artist%/", "a file name must follow"},
        {"%artist%/Songs", "needs a token"},
        {"%artist%/%titel%", "Unknown token %titel%"},
        {"%Title%", "Unknown token %Title%"},
        {"%title", "no closing"},
        {std::string(2000, 'a') + "%title%", "too long"},
    };
    for (const auto& c : cases) {
        const TTrackNameTemplate naming(c.naming);
        EXPECT_FALSE(naming.Valid()) << c.naming;
        EXPECT_NE(naming.Error().find(c.error), std::string::npos)
            << c.naming << ": " << naming.Error();
        EXPECT_TRUE(naming.Components(FullTrack(), 255, 255).empty());
    }
    EXPECT_NE(TTrackNameTemplate("%x%").Error().find("%albumartist%"), std::string::npos);
}

TEST(TrackNameTemplate, CutsEveryNameToItsLimit) {
    TTrackItem track = FullTrack();
    std::string kanji;
    for (int i = 0; i < 41; ++i)
        kanji += "\xE6\xAD\x8C";  // 41 characters, 123 bytes
    track.Artist = track.Album = track.Title = kanji;
    const auto names = TTrackNameTemplate("%artist%%album%%title%/%title%%album%%artist%")
                           .Components(track, 200, 100);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_LE(names[0].size(), 200u);
    EXPECT_LE(names[1].size(), 100u);
    EXPECT_EQ(names[0].size() % 3, 0u);  // no character cut in half
    EXPECT_EQ(names[1].size() % 3, 0u);
}

class TemplateExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        FMusic.DestFolder = FDest.Path() + "/";
        TTrackItem& track = FMusic.Tracks.Add();
        track = FullTrack();
        track.SetReaderDefaults();
        track.Location = ":M:A.mp3";
        FMusic.NamingScheme = TIpodMusicDb::kTemplateScheme;
    }

    TTempDir FDest;
    TIpodDevice FDevice{nullptr, OfflineSessionOptions()};
    TIpodMusicDb FMusic{FDevice};
};

TEST_F(TemplateExportTest, MakesTheFoldersAndStaysInTheDestination) {
    FMusic.NameTemplate = "%albumartist%/%album% (%year%)/%track% %title%";
    EXPECT_EQ(FMusic.TrackFileBase(0, TIpodMusicDb::kTemplateScheme),
              FMusic.DestFolder + "Various/Coast (1998)/07 Harbour Lights");
    EXPECT_TRUE(fs::is_directory(FDest / "Various/Coast (1998)"));
    EXPECT_EQ(FMusic.Log.Text(), "");

    // A link in a folder's place would carry the copies out of the destination.
    TTempDir outside;
    fs::create_directory_symlink(outside.Path(), FDest / "Folk");
    FMusic.NameTemplate = "%genre%/%title%";
    EXPECT_EQ(FMusic.TrackFileBase(0, TIpodMusicDb::kTemplateScheme), "");
    EXPECT_EQ(FMusic.Log.Text(),
              "\r\n[X] Copy stopped at: Harbour Lights\r\n Program cannot "
              "create folder: " +
                  FDest / "Folk");
    EXPECT_TRUE(fs::is_empty(outside.Path()));
}

TEST_F(TemplateExportTest, AnInvalidTemplateCopiesNothingAndSaysWhyOnce) {
    FMusic.NameTemplate = "%artist%/%nope%";
    EXPECT_EQ(FMusic.Export(), 0);
    EXPECT_EQ(FMusic.Log.Text(), "\r\n[X] " + TTrackNameTemplate("%nope%").Error());
    EXPECT_TRUE(fs::is_empty(FDest.Path()));
}

}  // namespace
}  // namespace corvane
