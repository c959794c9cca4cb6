// `music export --restore tags`: ratings and play counts go into the copies' own tags, where
// TagLib and a second reader (mutagen) find them; the device stays as it was, and a copy no
// tag library can write keeps its bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/popularimeterframe.h>
#include <taglib/tpropertymap.h>

#include "cli/Commands.h"
#include "fixtures/AudioDevice.h"
#include "fixtures/AudioFiles.h"
#include "fixtures/IpodExtrasBuilder.h"
#include "fixtures/MusicExportCli.h"
#include "fixtures/TempDir.h"
#include "transfer/CopyTags.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace testing;

const std::string kQuodLibet = "QUODLIBET@LISTS.SACREDCHAO.NET";

// The rating and play count fields as TagLib's generic property map shows them, plus the
// POPM frames of an MP3 as POPM[email]=rating/count.
std::string TagLibFields(const std::string& path) {
    std::map<std::string, std::string> found;
    TagLib::FileRef file(path.c_str());
    if (file.isNull())
        return "unreadable";
    for (const auto& [key, values] : file.file()->properties()) {
        const std::string name = key.to8Bit(true);
        if (name.rfind("FMPS_", 0) == 0 || name.rfind("RATING", 0) == 0 ||
            name.rfind("PLAYCOUNT", 0) == 0)
            found[name] = values.front().to8Bit(true);
    }
    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file.file()); mpeg && mpeg->ID3v2Tag()) {
        for (TagLib::ID3v2::Frame* frame : mpeg->ID3v2Tag()->frameList("POPM")) {
            auto* popm = dynamic_cast<TagLib::ID3v2::PopularimeterFrame*>(frame);
            found["POPM[" + popm->email().to8Bit(true) + "]"] =
                std::to_string(popm->rating()) + "/" + std::to_string(popm->counter());
        }
    }
    // TagLib's property map leaves out freeform atoms it has no name for.
    if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file.file()); mp4 && mp4->tag()) {
        const std::string prefix = "----:com.apple.iTunes:FMPS_";
        for (const auto& [key, item] : mp4->tag()->itemMap()) {
            const std::string name = key.to8Bit(true);
            if (name.rfind(prefix, 0) == 0)
                found[name.substr(prefix.size() - 5)] = item.toStringList().front().to8Bit(true);
        }
    }
    std::string text;
    for (const auto& [name, value] : found)
        text += (text.empty() ? "" : " ") + name + "=" + value;
    return text;
}

// The same fields as mutagen reads them, one line per file; empty when mutagen is missing.
std::vector<std::string> MutagenFields(const std::vector<std::string>& paths) {
    std::string command =
        "/usr/bin/python3 " + std::string(CORVANE_TEST_SCRIPTS) + "/read_rating_tags.py";
    for (const std::string& path : paths)
        command += " '" + path + "'";
    std::vector<std::string> lines;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return lines;
    std::string output;
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof(buffer), pipe))
        output.append(buffer, n);
    if (pclose(pipe) != 0)
        return {};
    for (size_t start = 0, end; (end = output.find('\n', start)) != std::string::npos;
         start = end + 1)
        lines.push_back(output.substr(start, end - start));
    return lines;
}

bool MutagenInstalled() {
    return std::system("/usr/bin/python3 -c 'import mutagen' 2>/dev/null") == 0;
}

TEST(TagRestore, RatingsAndPlayCountsGoIntoTheCopiesOnly) {
    TTempDir root;
    const std::string ipod = root / "ipod";
    const std::string dest = root / "dest";
    const std::string notAudio(300, 'x');
    TITunesDbBuilder db =
        AudioSongs(ipod, {
                             {"A.mp3", SilentMp3("Intro", "Band"), "Intro", "Band", 60, 5},
                             {"B.m4a", SilentM4a("Ballad", "Band"), "Ballad", "Band", 100, 0},
                             {"C.flac", SilentFlac("Coda", "Band"), "Coda", "Band", 20, 7},
                             {"D.mp3", notAudio, "Damaged", "Band", 80, 3},
                             {"E.mp3", SilentMp3("Unrated", "Band"), "Unrated", "Band", 0, 0},
                         });
    WriteAudioDatabase(ipod, db);
    const auto deviceBefore = Tree(ipod);

    ::testing::internal::CaptureStdout();
    const int status = RunMusicExportCli({"--device", ipod, "--to", dest, "--restore", "tags"});
    const std::string output = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(status, 0) << output;

    EXPECT_EQ(Tree(ipod), deviceBefore);
    EXPECT_NE(output.find("Sync done: 4, 4, 0. Pl: 0"), std::string::npos) << output;
    const std::string damaged = dest + "/Damaged.mp3";
    const std::string refusal = "Tags not written into " + damaged;
    EXPECT_NE(
        output.find(refusal + ": TagLib finds no audio in the file (the copy is kept as it was)"),
        std::string::npos)
        << output;
    EXPECT_EQ(output.find(refusal), output.rfind(refusal));
    EXPECT_EQ(ReadFile(damaged), notAudio);
    EXPECT_EQ(ReadFile(dest + "/Unrated.mp3"), ReadFile(ipod + "/iPod_Control/Music/F00/E.mp3"));

    const std::vector<std::string> copies = {dest + "/Intro.mp3", dest + "/Ballad.m4a",
                                             dest + "/Coda.flac"};
    const std::vector<std::string> expected = {
        // 20 a star: 60 is 0.6 and the POPM byte 153 for every reader of the frame.
        "FMPS_PLAYCOUNT=5 FMPS_RATING=0.6 POPM[]=153/5 POPM[quodlibet@lists.sacredchao.net]=153/5",
        "FMPS_Rating=1.0",
        "FMPS_PLAYCOUNT=7 FMPS_RATING=0.2 PLAYCOUNT:" + kQuodLibet + "=7 RATING:" + kQuodLibet +
            "=0.2",
    };
    for (size_t i = 0; i < copies.size(); ++i)
        EXPECT_EQ(TagLibFields(copies[i]), expected[i]) << copies[i];

    if (!MutagenInstalled()) {
        GTEST_SKIP() << "python3-mutagen is not installed (./dev.sh deps installs it): the "
                        "second reader is not asked";
    }
    const std::vector<std::string> mutagen = MutagenFields(copies);
    ASSERT_EQ(mutagen.size(), copies.size());
    EXPECT_EQ(mutagen[0],
              "FMPS_Playcount=5 FMPS_Rating=0.6 POPM[]=153/5 "
              "POPM[quodlibet@lists.sacredchao.net]=153/5");
    EXPECT_EQ(mutagen[1], expected[1]);
    EXPECT_EQ(mutagen[2], expected[2]);
}

// What the iPod recorded since its last sync is what the tags get: two more plays and a new
// rating for the first song, and the second song's rating cleared on the device.
TEST(TagRestore, CarriesThePlaysAndRatingsSinceTheLastSync) {
    TTempDir root;
    const std::string ipod = root / "ipod";
    const std::string dest = root / "dest";
    TITunesDbBuilder db =
        AudioSongs(ipod, {
                             {"A.mp3", SilentMp3("Intro", "Band"), "Intro", "Band", 60, 5},
                             {"B.mp3", SilentMp3("Outro", "Band"), "Outro", "Band", 80, 1},
                         });
    WriteAudioDatabase(ipod, db);
    WriteFile(ipod + "/iPod_Control/iTunes/Play Counts",
              PlayCountsFile({{.Plays = 2, .Rating = 100}, {.Rating = 0}}, 0x1c));

    ::testing::internal::CaptureStdout();
    const int status = RunMusicExportCli({"--device", ipod, "--to", dest, "--restore", "tags"});
    const std::string output = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(status, 0) << output;
    EXPECT_EQ(TagLibFields(dest + "/Intro.mp3"),
              "FMPS_PLAYCOUNT=7 FMPS_RATING=1.0 POPM[]=255/7 "
              "POPM[quodlibet@lists.sacredchao.net]=255/7");
    EXPECT_EQ(TagLibFields(dest + "/Outro.mp3"),
              "FMPS_PLAYCOUNT=1 POPM[]=0/1 POPM[quodlibet@lists.sacredchao.net]=0/1");
}

TEST(TagRestore, FmpsRatingsKeepTheDevicesSteps) {
    struct TCase {
        int Rating;
        const char* Text;
    };
    for (const TCase& c : {TCase{0, "0.0"}, TCase{5, "0.05"}, TCase{20, "0.2"}, TCase{25, "0.25"},
                           TCase{100, "1.0"}, TCase{140, "1.0"}, TCase{-3, "0.0"}})
        EXPECT_EQ(tags::FmpsRating(c.Rating), c.Text) << c.Rating;
}

}  // namespace
}  // namespace corvane
