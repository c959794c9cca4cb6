// File names of exported tracks: safe components and the eight naming schemes.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <random>

#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/TempDir.h"
#include "music/iPodMusic.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::TTempDir;
using testing::WriteFile;

TEST(NameComponent, CutsTrimsFallsBackAndReplaces) {
    const std::string sixty = "Sixty characters of title text, far too long to keep all ...";
    ASSERT_EQ(sixty.size(), 60u);
    const std::string blankAt41 = std::string(40, 'x') + " tail";
    const std::string pair = "\xF0\x9F\x8E\xB5";    // U+1F3B5, two UTF-16 units
    const std::string threeBytes = "\xE6\xAD\x8C";  // U+6B4C, one unit
    struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"Song", "Song"},
        {"", "Unknown Artist"},
        {"   ", "Unknown Artist"},  // only blanks reads as no name
        {"  Padded  ", "Padded"},
        {"AC/DC", "AC_DC"},
        {"Why?", "Why_"},
        {"a\"b*c:d<e>f|g\\h", "a_b_c_d_e_f_g_h"},
        {sixty, sixty.substr(0, 41)},
        {blankAt41, std::string(40, 'x')},  // cut to 41, then the blank is trimmed
        {std::string(40, 'y') + pair, std::string(40, 'y')},  // the pair is not split
        {std::string(39, 'y') + pair + "z", std::string(39, 'y') + pair},
        {std::string(45, 'k').replace(0, 3, threeBytes), threeBytes + std::string(40, 'k')},
        // Nothing may name a folder, leave the destination or hide in a name.
        {".", "_"},
        {"..", "__"},
        {"....", "____"},
        {"../../etc", ".._.._etc"},
        {"\\..\\", "_.._"},
        {std::string("nul\0byte", 8), "nul_byte"},
        {"line\nbreak\ttab\x7f", "line_break_tab_"},
        {"c1\xC2\x85", "c1_"},  // U+0085, a control character too
        {"bad\xFF\xC3utf8", "bad__utf8"},
        {"\xC0\xAF", "__"},  // an overlong "/"
        {"Caf\xC3\xA9", "Caf\xC3\xA9"},
        {"...And Justice", "...And Justice"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TIpodMusicDb::NameComponent(c.text, " Artist"), c.expected) << c.text;
    }
    EXPECT_EQ(TIpodMusicDb::NameComponent("", " Name"), "Unknown Name");
    EXPECT_EQ(TIpodMusicDb::NameComponent("", " Album"), "Unknown Album");
}

// Whether text is well-formed UTF-8, decoded on its own terms (no shortest-form shortcuts).
bool IsUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
        size_t length = byte(i) < 0x80 ? 1 : byte(i) >= 0xF0 ? 4 : byte(i) >= 0xE0 ? 3 : 2;
        if ((byte(i) >= 0x80 && byte(i) < 0xC2) || byte(i) > 0xF4 || text.size() - i < length)
            return false;
        uint32_t code = length == 1 ? byte(i) : byte(i) & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            if ((byte(i + k) & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (byte(i + k) & 0x3F);
        }
        const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < minimum[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

TEST(NameComponent, AnyBytesGiveOneSafeName) {
    std::mt19937 random(2024);
    const std::string alphabet[] = {".",
                                    "/",
                                    "\\",
                                    " ",
                                    "a",
                                    std::string(1, '\0'),
                                    "\n",
                                    "\xC3\xA9",
                                    "\xE6\xAD\x8C",
                                    "\xF0\x9F\x8E\xB5",
                                    "\xED\xA0\x80",
                                    "\xC3",
                                    "\xFF",
                                    "\x80",
                                    ":",
                                    "?"};
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        size_t length = random() % 60;
        for (size_t i = 0; i < length; ++i)
            text += alphabet[random() % std::size(alphabet)];
        std::string name = TIpodMusicDb::NameComponent(text, " Name");
        ASSERT_FALSE(name.empty()) << round;
        ASSERT_TRUE(IsUtf8(name)) << round;
        ASSERT_NE(name.find_first_not_of('.'), std::string::npos) << round;
        for (unsigned char c : name) {
            ASSERT_TRUE(c >= 0x20 && c != 0x7F && c != '/' && c != '\\') << round;
        }
        ASSERT_LE(name.size(), 41u * 3) << round;
    }
}

class TrackFileBaseTest : public ::testing::Test {
protected:
    void SetUp() override { FMusic.DestFolder = FDest.Path() + "/"; }

    size_t AddTrack(const std::string& title, const std::string& artist, const std::string& album,
                    const std::string& location = ":M:A.mp3") {
        TTrackItem& track = FMusic.Tracks.Add();
        track.SetReaderDefaults();
        track.Title = title;
        track.Artist = artist;
        track.Album = album;
        track.Location = location;
        return FMusic.Tracks.Count() - 1;
    }

    TTempDir FDest;
    TIpodDevice FDevice{nullptr, OfflineSessionOptions()};
    TIpodMusicDb FMusic{FDevice};
};

TEST_F(TrackFileBaseTest, EachSchemeJoinsTheComponents) {
    size_t song = AddTrack("Song?", "AC/DC", "Live");
    size_t blank = AddTrack("Intro", "", "");
    struct {
        int scheme;
        std::string song;
        std::string blank;
    } cases[] = {
        {0, "AC_DC/Live/Song_", "Unknown Artist/Unknown Album/Intro"},
        {1, "Song_", "Intro"},
        {2, "AC_DC - Song_", "Unknown Artist - Intro"},
        {3, "Song_ - AC_DC", "Intro - Unknown Artist"},
        {4, "Live - AC_DC - Song_", "Unknown Album - Unknown Artist - Intro"},
        {5, "AC_DC - Live - Song_", "Unknown Artist - Unknown Album - Intro"},
        {6, "Song_ - Live - AC_DC", "Intro - Unknown Album - Unknown Artist"},
        {7, "Song_ - AC_DC - Live", "Intro - Unknown Artist - Unknown Album"},
        {9, "Song_", "Intro"},
        {255, "Song_", "Intro"},
    };
    for (const auto& c : cases) {
        uint8_t scheme = static_cast<uint8_t>(c.scheme);
        EXPECT_EQ(FMusic.TrackFileBase(song, scheme), FMusic.DestFolder + c.song) << c.scheme;
        EXPECT_EQ(FMusic.TrackFileBase(blank, scheme), FMusic.DestFolder + c.blank) << c.scheme;
    }
    EXPECT_TRUE(fs::is_directory(FDest / "AC_DC/Live"));
    EXPECT_TRUE(fs::is_directory(FDest / "Unknown Artist/Unknown Album"));
    EXPECT_EQ(FMusic.TrackFileBase(99, 1), "");
    EXPECT_EQ(FMusic.Log.Text(), "");
}

TEST_F(TrackFileBaseTest, FoldersThatCannotBeMadeGiveNoPathAndOneEntry) {
    size_t track = AddTrack("Song", "Band", "Album");
    WriteFile(FDest / "Band", "a file where the artist folder goes");
    EXPECT_EQ(FMusic.TrackFileBase(track, 0), "");
    EXPECT_EQ(
        FMusic.Log.Text(),
        "\r\n[X] Copy stopped at: Song\r\n Program cannot create folder: " + FDest / "Band/Album");
    EXPECT_EQ(FMusic.TrackFileBase(track, 2), FDest / "Band - Song");  // other schemes make none

    // A link in the artist folder's place would carry the copies out of the destination.
    TTempDir outside;
    fs::remove(FDest / "Band");
    fs::create_directory_symlink(outside.Path(), FDest / "Band");
    EXPECT_EQ(FMusic.TrackFileBase(track, 0), "");
    EXPECT_TRUE(fs::is_empty(outside.Path()));
}

TEST_F(TrackFileBaseTest, LongNamesAreCutToWhatAFileSystemTakes) {
    std::string kanji;
    for (int i = 0; i < 41; ++i)
        kanji += "\xE6\xAD\x8C";  // 41 characters, 123 bytes
    size_t track = AddTrack(kanji, kanji, kanji, ":M:A.flac");
    std::string base = FMusic.TrackFileBase(track, 7);
    std::string leaf = base.substr(FMusic.DestFolder.size());
    EXPECT_LE(leaf.size() + 5 + 24, 255u);
    EXPECT_EQ(leaf.rfind(kanji + " - ", 0), 0u);
    EXPECT_EQ(leaf.size() % 3, 0u);  // no character cut in half
    // What fits stays whole.
    size_t shortTrack = AddTrack(kanji, "A", "B", ":M:A.flac");
    EXPECT_EQ(FMusic.TrackFileBase(shortTrack, 7), FMusic.DestFolder + kanji + " - A - B");
}

}  // namespace
}  // namespace corvane
