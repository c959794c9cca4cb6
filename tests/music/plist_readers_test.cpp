#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/Text.h"
#include "device/SimulatedDevice.h"
#include "device/iPodDev.h"
#include "fixtures/PlistBuilder.h"
#include "fixtures/TempDir.h"
#include "music/XmlPlist.h"
#include "music/iPodMusic.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TBook;
using testing::TBooksPlist;
using testing::TPlist;
using testing::TPlistFormat;
using testing::TRingtone;
using testing::TRingtonesPlist;
using testing::TTempDir;
using testing::WriteFile;

bool HavePlistLibrary() {
    return LoadMobileDevice() != nullptr;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TDeviceSessionOptions QuietSession() {
    TDeviceSessionOptions session;
    session.VolumeRule = nullptr;
    session.WatchMounts = false;
    return session;
}

// A device folder served as a mobile device (Open) or as a disk-mode iPod (OpenDiskMode), and
// the music library of that session.
class PlistReaderTest : public ::testing::Test {
protected:
    void Open() {
        TSimulatedDeviceOptions options;
        options.Root = FRoot.Path();
        TSimulatedDevice simulated = MakeSimulatedDevice(options);
        TDeviceSessionOptions session = QuietSession();
        session.LoadLibrary = [&simulated] { return std::move(simulated.Library); };
        FDevice = std::make_unique<TIpodDevice>([](bool) {}, session);
        simulated.Control->WaitIdle();
        FControl = simulated.Control;
        ASSERT_TRUE(FDevice->IsIos());
        FDb = std::make_unique<TIpodMusicDb>(*FDevice);
    }

    void OpenDiskMode() {
        fs::create_directories(FRoot / "iPod_Control/iTunes");
        TDeviceSessionOptions session = QuietSession();
        session.LoadLibrary = [] { return std::unique_ptr<IMobileDeviceLibrary>(); };
        session.ExtraVolumes = {FRoot.Path()};
        FDevice = std::make_unique<TIpodDevice>([](bool) {}, session);
        ASSERT_TRUE(FDevice->ScanDrives());
        ASSERT_FALSE(FDevice->IsIos());
        FDb = std::make_unique<TIpodMusicDb>(*FDevice);
    }

    TTrackList& Tracks() { return FDb->Tracks; }

    // The defaults every reader gives a track, and what no list carries.
    static void ExpectListTrack(const TTrackItem& track, TMediaKind kind) {
        EXPECT_EQ(track.Kind, kind);
        EXPECT_TRUE(track.Checked);
        EXPECT_EQ(track.Pid, 0);
        EXPECT_EQ(track.FileSize, 0);
        EXPECT_EQ(track.SizeText, "");
        EXPECT_EQ(track.Rating, 0);
        EXPECT_EQ(track.PlayCount, 0);
        EXPECT_EQ(track.ITunesSourceId, -1);
        EXPECT_EQ(track.TransferState, -1);
    }

    TTempDir FRoot;
    std::shared_ptr<TSimulatedDeviceControl> FControl;
    std::unique_ptr<TIpodDevice> FDevice;
    std::unique_ptr<TIpodMusicDb> FDb;
};

// The device's lists in XML and in the binary form that the session converts.
class PlistFormatTest : public PlistReaderTest, public ::testing::WithParamInterface<TPlistFormat> {
protected:
    void SetUp() override {
        if (GetParam() == TPlistFormat::Binary && !HavePlistLibrary()) {
            GTEST_SKIP() << "libplist cannot be loaded: binary lists cannot be converted";
        }
    }
};

TEST_P(PlistFormatTest, RingtonesWithTheirTimesAndLocations) {
    TRingtonesPlist tones;
    tones
        .Add({.File = "ABCD.m4r",
              .Name = "Chime",
              .Pid = -4981346839212311021,
              .TotalTimeMs = 29001,
              .Album = "Tones",
              .Artist = "Kim",
              .Genre = "Alert"})
        .Add({.File = "EFGH.M4R", .Name = "Caf\u00e9 \u260e \U0001F514", .TotalTimeSeconds = 12.5})
        .Add({.File = "song.mp3", .Name = "Not a tone"})
        .Add({.File = "IJKL.m4r", .MediaKind = "tone"});
    WriteFile(FRoot / "iTunes_Control/iTunes/Ringtones.plist", tones.Bytes(GetParam()));
    WriteFile(FRoot / "iTunes_Control/Ringtones/ABCD.m4r", "tone data");
    Open();
    Tracks().CheckedCount = 2;  // tracks of an earlier reader

    FDb->ReadRingtones();

    ASSERT_EQ(Tracks().Count(), 3u);
    EXPECT_EQ(Tracks().CheckedCount, 5);
    EXPECT_EQ(Tracks().CheckedSize, 0);
    struct {
        const char* title;
        const char* location;
        uint32_t ms;
        const char* time;
    } expected[] = {
        {"Chime", "/iTunes_Control/Ringtones/ABCD.m4r", 29001, "0:29"},
        {"Caf\u00e9 \u260e \U0001F514", "/iTunes_Control/Ringtones/EFGH.M4R", 12500, "0:12"},
        {"", "/iTunes_Control/Ringtones/IJKL.m4r", 30000, "0:30"},
    };
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const TTrackItem& track = Tracks().Items(i);
        ExpectListTrack(track, mkTone);
        EXPECT_EQ(track.Title, expected[i].title);
        EXPECT_EQ(track.Location, expected[i].location);
        EXPECT_EQ(track.DurationMs, expected[i].ms);
        EXPECT_EQ(track.DurationText, expected[i].time);
    }
    EXPECT_EQ(Tracks().Items(0).Artist, "Kim");
    EXPECT_EQ(Tracks().Items(0).Album, "Tones");
    EXPECT_EQ(Tracks().Items(0).Genre, "Alert");
    EXPECT_EQ(Tracks().Items(1).Album, "");
    EXPECT_EQ(FDb->Log.Text(), "");

    // The staged copy is gone; the location is one the copy operations take.
    EXPECT_FALSE(fs::exists(FDevice->WorkFile()));
    TTempDir dest;
    std::string base = dest / "Chime";
    EXPECT_EQ(FDevice->CopyTrackFile(Tracks().Items(0).Location, base, 0), kCopyDone);
    EXPECT_EQ(ReadFile(dest / "Chime.m4r"), "tone data");
}

TEST_P(PlistFormatTest, BooksKeptAsFoldersAndAsFiles) {
    TBooksPlist books;
    books.Add({.Name = "Novel", .Artist = "Kim", .Path = "Novel.epub"})
        .Add({.Name = "Manual", .Path = "Manual.pdf"})
        .Add({.Name = "Only a name", .Bookkeeping = false})    // two children: skipped
        .AddRaw(TPlist("a string, not a book"))                // no children: skipped
        .Add({.Name = "No path", .Artist = "Kim"})             // nothing to copy
        .Add({.Name = "Climbing", .Path = "../Secret.epub"});  // not below Books
    WriteFile(FRoot / "Books/Books.plist", books.Bytes(GetParam()));
    WriteFile(FRoot / "Books/Novel.epub/mimetype", "application/epub+zip");
    WriteFile(FRoot / "Books/Novel.epub/OEBPS/content.opf", "opf");
    WriteFile(FRoot / "Books/Manual.pdf", "%PDF");
    Open();

    FDb->ReadBooks(false);

    ASSERT_EQ(Tracks().Count(), 2u);
    EXPECT_EQ(Tracks().CheckedCount, 2);
    const TTrackItem& novel = Tracks().Items(0);
    const TTrackItem& manual = Tracks().Items(1);
    for (const TTrackItem* book : {&novel, &manual}) {
        ExpectListTrack(*book, mkBook);
        EXPECT_EQ(book->DurationMs, 0u);
        EXPECT_EQ(book->DurationText, "");
        EXPECT_EQ(book->Album, "");
    }
    EXPECT_EQ(novel.Title, "Novel");
    EXPECT_EQ(novel.Artist, "Kim");
    EXPECT_EQ(novel.Location, "Books/Novel.epub");
    EXPECT_EQ(manual.Title, "Manual");
    EXPECT_EQ(manual.Artist, "");
    EXPECT_EQ(manual.Location, "Books/Manual.pdf");
    EXPECT_TRUE(Contains(FDb->Log.Text(), "Books.plist: 2 books without a usable path skipped"));
    EXPECT_FALSE(fs::exists(FDevice->WorkFile()));

    // Both locations copy: the folder as a tree, the file as a file.
    TTempDir dest;
    std::string folder = dest / "Novel";
    bool isDir = false;
    EXPECT_EQ(FDevice->CopyItem(novel.Location, folder, isDir, 0), kCopyDone);
    EXPECT_TRUE(isDir);
    EXPECT_EQ(ReadFile(dest / "Novel/OEBPS/content.opf"), "opf");
    std::string file = dest / "Manual";
    EXPECT_EQ(FDevice->CopyItem(manual.Location, file, isDir, 0), kCopyDone);
    EXPECT_FALSE(isDir);
    EXPECT_EQ(ReadFile(dest / "Manual.pdf"), "%PDF");
}

INSTANTIATE_TEST_SUITE_P(XmlAndBinary, PlistFormatTest,
                         ::testing::Values(TPlistFormat::Xml, TPlistFormat::Binary),
                         [](const auto& test) {
                             return test.param == TPlistFormat::Xml ? "Xml" : "Binary";
                         });

TEST_F(PlistReaderTest, PurchasedBooksLieBelowTheirOwnFolder) {
    WriteFile(FRoot / "Books/Purchases/Purchases.plist",
              TBooksPlist().Add({.Name = "Bought", .Path = "Bought.epub"}).Xml());
    Open();
    FDb->ReadBooks(true);
    ASSERT_EQ(Tracks().Count(), 1u);
    EXPECT_EQ(Tracks().Items(0).Location, "Books/Purchases/Bought.epub");
}

TEST_F(PlistReaderTest, MissingAndUnreadableListsAddNothing) {
    Open();
    FDb->ReadRingtones();
    FDb->ReadBooks(false);
    EXPECT_EQ(Tracks().Count(), 0u);
    EXPECT_EQ(FDb->Log.Text(), "");  // the session logged why it had nothing to stage
    EXPECT_TRUE(Contains(FDevice->Log.Text(), "copy ringplist failed: "));
    EXPECT_TRUE(Contains(FDevice->Log.Text(), "Copy bookplist failed: "));

    // A broken binary list is not converted, so it is not read either.
    WriteFile(FRoot / "iTunes_Control/iTunes/Ringtones.plist", "bplist00\x01\x02garbage");
    FDb->ReadRingtones();
    EXPECT_EQ(Tracks().Count(), 0u);

    // A list that is not XML ends with a line; the staged copy still goes.
    WriteFile(FRoot / "Books/Books.plist", "<plist><dict><key>Books</key><array>");
    FDb->ReadBooks(false);
    EXPECT_EQ(Tracks().Count(), 0u);
    EXPECT_TRUE(Contains(FDb->Log.Text(), "\r\nBooks.plist: not an XML document (line "));
    EXPECT_FALSE(fs::exists(FDevice->WorkFile()));
}

TEST_F(PlistReaderTest, DiskModeReadsNoListsAndDeletesNothing) {
    std::string tones = WriteFile(FRoot / "iPod_Control/iTunes/Ringtones.plist",
                                  TRingtonesPlist().Add({.File = "A.m4r", .Name = "A"}).Xml());
    std::string books = WriteFile(FRoot / "Books/Books.plist",
                                  TBooksPlist().Add({.Name = "B", .Path = "B.pdf"}).Xml());
    OpenDiskMode();
    FDb->ReadRingtones();
    FDb->ReadBooks(false);
    EXPECT_EQ(Tracks().Count(), 0u);
    EXPECT_EQ(FDb->Log.Text(), "");
    EXPECT_TRUE(fs::exists(tones));
    EXPECT_TRUE(fs::exists(books));
}

TEST_F(PlistReaderTest, VoiceMemosOnAMobileDevice) {
    for (const char* name : {"Memo 1.m4a", "a.b.m4a", "notes.txt"}) {
        WriteFile(FRoot / "Recordings/" + name, name);
    }
    Open();
    EXPECT_EQ(FDb->ReadVoiceMemos(), 2);
    ASSERT_EQ(Tracks().Count(), 2u);
    EXPECT_EQ(Tracks().CheckedCount, 2);
    std::vector<std::pair<std::string, std::string>> memos;  // listing order is the device's
    for (const TTrackItem& track : Tracks()) {
        ExpectListTrack(track, mkVoiceMemo);
        EXPECT_EQ(track.Album, "Voice memo");
        EXPECT_EQ(track.Genre, "m4a");
        EXPECT_EQ(track.DurationMs, 0u);
        EXPECT_EQ(track.DurationText, "");
        memos.emplace_back(track.Title, track.Location);
    }
    std::sort(memos.begin(), memos.end());
    EXPECT_EQ(memos, (std::vector<std::pair<std::string, std::string>>{
                         {"Memo 1", "Recordings/Memo 1.m4a"}, {"a", "Recordings/a.b.m4a"}}));

    TTempDir dest;
    std::string base = dest / "Memo";
    EXPECT_EQ(FDevice->CopyTrackFile("Recordings/Memo 1.m4a", base, 0), kCopyDone);
    EXPECT_EQ(ReadFile(dest / "Memo.m4a"), "Memo 1.m4a");
}

TEST_F(PlistReaderTest, VoiceMemosOnADiskModeIpod) {
    for (const char* name : {"Memo 1.m4a", "a.b.M4A", "c.mp3"}) {
        WriteFile(FRoot / "Recordings/" + name, name);
    }
    OpenDiskMode();
    EXPECT_EQ(FDb->ReadVoiceMemos(), 2);
    ASSERT_EQ(Tracks().Count(), 2u);
    EXPECT_EQ(Tracks().CheckedCount, 2);
    EXPECT_EQ(Tracks().Items(0).Title, "Memo 1");
    EXPECT_EQ(Tracks().Items(0).Location, ":Recordings:Memo 1.m4a");
    EXPECT_EQ(Tracks().Items(1).Title, "a");
    EXPECT_EQ(Tracks().Items(1).Location, ":Recordings:a.b.M4A");
    EXPECT_EQ(Tracks().Items(1).Kind, mkVoiceMemo);

    TTempDir dest;
    std::string base = dest / "Second";
    EXPECT_EQ(FDevice->CopyTrackFile(Tracks().Items(1).Location, base, 0), kCopyDone);
    EXPECT_EQ(base, dest / "Second.M4A");
    EXPECT_EQ(ReadFile(base), "a.b.M4A");
}

// Damaged and hostile lists, read straight from memory: each ends with its line and keeps the
// tracks read before the damage.
struct TDamagedCase {
    const char* what;
    std::string xml;
    size_t tracks;
    const char* line;  // expected in the log; empty: no line at all
};

std::string PlistXml(const std::string& body) {
    return "<plist version=\"1.0\">" + body + "</plist>";
}

std::string Tones(const std::string& entries) {
    return PlistXml("<dict><key>Ringtones</key><dict>" + entries + "</dict></dict>");
}

std::string Tone(const std::string& file, const std::string& properties) {
    return "<key>" + file + "</key><dict>" + properties + "</dict>";
}

std::string Nested(int depth) {
    std::string xml;
    for (int i = 0; i < depth; ++i)
        xml += "<array>";
    for (int i = 0; i < depth; ++i)
        xml += "</array>";
    return xml;
}

TEST_F(PlistReaderTest, DamagedRingtoneLists) {
    OpenDiskMode();  // the walkers need a library, not a device with lists
    TTempDir secrets;
    std::string secret = WriteFile(secrets / "secret.txt", "top secret");
    const std::string a = Tone("A.m4r", "<key>Name</key><string>A</string>");
    const TDamagedCase cases[] = {
        {"not XML", "just some text", 0, "Ringtones.plist: not an XML document (line 1: "},
        {"empty input", "", 0, "Ringtones.plist: not an XML document ("},
        {"cut short", Tones(a).substr(0, 60), 0, "not an XML document"},
        {"deep nesting", PlistXml("<dict><key>x</key>" + Nested(5000) + "</dict>"), 0,
         "not an XML document"},
        {"no top dictionary", PlistXml("<array/>"), 0, "Ringtones.plist: not a property list"},
        {"empty plist", PlistXml(""), 0, "Ringtones.plist: not a property list"},
        {"no key", PlistXml("<dict><key>Books</key><array/></dict>"), 0,
         "Ringtones.plist: no \"Ringtones\" key"},
        {"tones not a dictionary", PlistXml("<dict><key>Ringtones</key><array/></dict>"), 0,
         "Ringtones.plist: \"Ringtones\" is not a dictionary"},
        {"top dictionary broken before the key",
         PlistXml("<dict><string>x</string><key>Ringtones</key><dict/></dict>"), 0,
         "damaged top dictionary"},
        {"tones dictionary broken", Tones(a + "<string>B.m4r</string><dict/>" + a), 1,
         "Ringtones.plist: damaged \"Ringtones\" dictionary"},
        {"entry broken", Tones(a + Tone("B.m4r", "<key>Name</key>") + a), 1,
         "Ringtones.plist: damaged entry B.m4r"},
        {"huge Total Time",
         Tones(Tone("T.m4r", "<key>Total Time</key><integer>99999999999999999999</integer>")), 1,
         "Ringtones.plist: 1 unusable \"Total Time\" values"},
        {"bad times",
         Tones(Tone("T.m4r", "<key>Total Time</key><integer>-5</integer>") +
               Tone("U.m4r", "<key>Total Time</key><real>nan</real>") +
               Tone("V.m4r", "<key>Total Time</key><real>1e300</real>") +
               Tone("W.m4r", "<key>Total Time</key><string>30</string>")),
         4, "Ringtones.plist: 4 unusable \"Total Time\" values"},
        {"file names that leave the folder",
         Tones(Tone("../x.m4r", "") + Tone("a/b.m4r", "") + Tone("c:d.m4r", "") + a), 1,
         "Ringtones.plist: 3 file names with a folder skipped"},
        {"entity in a key is not expanded",
         "<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY r \"Ringtones\">]>" +
             PlistXml("<dict><key>&r;</key><dict>" + a + "</dict></dict>"),
         0, "no \"Ringtones\" key"},
        {"external entity is not read",
         "<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY s SYSTEM \"file://" + secret + "\">]>" +
             Tones(Tone("S.m4r", "<key>Name</key><string>&s;</string>")),
         1, ""},
    };
    for (const TDamagedCase& c : cases) {
        SCOPED_TRACE(c.what);
        TIpodMusicDb db(*FDevice);
        EXPECT_EQ(db.ReadRingtonesXml(c.xml), static_cast<int>(c.tracks));
        EXPECT_EQ(db.Tracks.Count(), c.tracks);
        EXPECT_EQ(db.Tracks.CheckedCount, static_cast<int>(c.tracks));
        if (*c.line == '\0') {
            EXPECT_EQ(db.Log.Text(), "");
        } else {
            EXPECT_TRUE(Contains(db.Log.Text(), c.line)) << db.Log.Text();
        }
        for (const TTrackItem& track : db.Tracks) {
            EXPECT_EQ(track.DurationMs, 30000u);  // every time above is unusable
            EXPECT_EQ(track.Title.find("secret"), std::string::npos);
        }
    }
}

TEST_F(PlistReaderTest, DamagedBookLists) {
    OpenDiskMode();
    const std::string book =
        "<dict><key>Name</key><string>N</string><key>Path</key><string>N.pdf"
        "</string></dict>";
    const TDamagedCase cases[] = {
        {"not XML", "%PDF-1.4", 0, "Books.plist: not an XML document"},
        {"no key", PlistXml("<dict><key>Ringtones</key><dict/></dict>"), 0,
         "Books.plist: no \"Books\" key"},
        {"books not an array", PlistXml("<dict><key>Books</key><dict>" + book + "</dict></dict>"),
         0, "Books.plist: \"Books\" is not an array"},
        {"entry broken",
         PlistXml("<dict><key>Books</key><array>" + book +
                  "<dict><key>Name</key><key>Path</key><string>x</string></dict>" + book +
                  "</array></dict>"),
         1, "Books.plist: damaged entry after 1 books"},
        {"key case and a value that reads like a key",
         PlistXml("<dict><key>Mode</key><string>Books</string><key>BOOKS</key><array>" + book +
                  "</array></dict>"),
         1, ""},
    };
    for (const TDamagedCase& c : cases) {
        SCOPED_TRACE(c.what);
        TIpodMusicDb db(*FDevice);
        EXPECT_EQ(db.ReadBooksXml(c.xml, false), static_cast<int>(c.tracks));
        EXPECT_EQ(db.Tracks.Count(), c.tracks);
        if (*c.line == '\0') {
            EXPECT_EQ(db.Log.Text(), "");
        } else {
            EXPECT_TRUE(Contains(db.Log.Text(), c.line)) << db.Log.Text();
        }
    }
}

// One line per value, numbers by value rather than spelling, so that two writers' XML of the
// same list compare equal.
std::string Canonical(const xmlNode* node) {
    std::string text = ElementText(node);
    if (IsElement(node, "dict")) {
        std::string out = "{";
        TPlistDict dict = DictPairs(node);
        EXPECT_FALSE(dict.Damaged);
        for (const TPlistPair& pair : dict.Pairs)
            out += pair.Key + "=" + Canonical(pair.Value) + ";";
        return out + "}";
    }
    if (IsElement(node, "array")) {
        std::string out = "[";
        for (const xmlNode* item : ChildElements(node))
            out += Canonical(item) + ",";
        return out + "]";
    }
    if (IsElement(node, "integer"))
        return "i" + std::to_string(ParseInt64(Trim(text)).value_or(-42));
    if (IsElement(node, "real")) {
        std::string digits = Trim(text);
        double value = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), value);
        return "r" + std::to_string(value);
    }
    return std::string(reinterpret_cast<const char*>(node->name)) + ":" + text;
}

std::string CanonicalFile(const std::string& path) {
    std::string xml = ReadFile(path);
    TXmlPlist plist(xml.data(), xml.size());
    EXPECT_TRUE(plist.Ok()) << plist.Error();
    return plist.TopDict() ? Canonical(plist.TopDict()) : "(none)";
}

TEST(PlistBuilder, BinaryFormReadsBackLikeTheXmlForm) {
    std::unique_ptr<IMobileDeviceLibrary> library = LoadMobileDevice();
    if (!library)
        GTEST_SKIP() << "libplist cannot be loaded: nothing to read the binary form";
    TPlist::TArray many;
    for (int i = 0; i < 300; ++i)
        many.emplace_back(i * 1000);  // more than 255 objects
    TPlist tree = TPlist::TDict{
        {"widths", TPlist::TArray{0, 255, 256, 65535, 65536, int64_t{4294967296}, -1,
                                  int64_t{INT64_MIN}, int64_t{INT64_MAX}}},
        {"reals", TPlist::TArray{12.5, -0.25, 1e-300}},
        {"flags", TPlist::TArray{true, false}},
        {"date", testing::TPlistDate{599529600}},
        {"short", "abc"},
        {"fifteen and more", "a string of more than fifteen characters"},
        {"utf16 Zo\u00eb", "Zo\u00eb \U0001F514 \u65e5\u672c"},
        {"empty", ""},
        {"empty array", TPlist::TArray{}},
        {"empty dict", TPlist::TDict{}},
        {"large", std::string(70000, 'x')},  // later offsets need four bytes
        {"many", many},
    };
    TTempDir dir;
    std::string xml = WriteFile(dir / "xml.plist", tree.Xml());
    std::string binary = WriteFile(dir / "binary.plist", tree.Binary());
    ASSERT_EQ(ReadFile(binary).substr(0, 8), "bplist00");
    ASSERT_TRUE(library->ConvertPlist(binary, dir / "converted.plist"));
    EXPECT_EQ(CanonicalFile(dir / "converted.plist"), CanonicalFile(xml));
}

}  // namespace
}  // namespace corvane
