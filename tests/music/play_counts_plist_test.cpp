// PlayCounts.plist as the streaming reader takes it: the forms of XML a writer may use, the
// pairing rules of a dictionary, and the damage that makes the file ignored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/IpodExtrasBuilder.h"
#include "music/PlayCounts.h"

namespace corvane {
namespace {

using namespace testing;

// A document with the tracks array holding `tracks` (the elements as written).
std::string Document(const std::string& tracks, const std::string& prolog = "") {
    return prolog + "<plist version=\"1.0\"><dict><key>tracks</key><array>" + tracks +
           "</array></dict></plist>";
}

struct TEntry {
    uint64_t Id;
    uint32_t Plays;
    std::optional<uint8_t> Rating;
    bool Deleted;
    bool operator==(const TEntry&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TEntry& e) {
    return out << "{id " << e.Id << ", plays " << e.Plays << ", rating "
               << (e.Rating ? std::to_string(*e.Rating) : "none") << ", deleted " << e.Deleted
               << "}";
}

std::vector<TEntry> Entries(const TPlayDeltas& read) {
    std::vector<TEntry> entries;
    for (const TPlayDelta& delta : read.Entries)
        entries.push_back({delta.PersistentId, delta.Plays, delta.Rating, delta.Deleted});
    return entries;
}

TEST(PlayCountsPlist, ReadsWhatTheFixtureWrites) {
    const std::string xml = PlayCountsPlist({
        {.PersistentId = -2,
         .Counts = {.Plays = 3, .LastPlayedMac = 3700000000u, .BookmarkMs = 1500, .Skips = 1},
         .UserRating = 80},
        {.PersistentId = 0x1234, .Deleted = true},
    });
    const TPlayDeltas read = ParsePlayCountsPlist(xml);
    ASSERT_EQ(read.Damage, "");
    ASSERT_EQ(read.Entries.size(), 2u);
    const TPlayDelta& first = read.Entries[0];
    EXPECT_EQ(first.PersistentId, 0xFFFFFFFFFFFFFFFEull);
    EXPECT_EQ(first.Plays, 3u);
    EXPECT_EQ(first.Skips, 1u);
    EXPECT_EQ(first.LastPlayedMac, 3700000000u);
    EXPECT_EQ(first.BookmarkMs, 1500u);
    EXPECT_EQ(first.Rating, 80);
    EXPECT_FALSE(first.Deleted);
    EXPECT_TRUE(read.Entries[1].Deleted);
}

TEST(PlayCountsPlist, TakesTheFormsOfXmlAWriterMayUse) {
    struct TCase {
        const char* What;
        std::string Xml;
        std::vector<TEntry> Expected;
    };
    const std::string declared =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [ <!ENTITY e \"9\"> <!-- ']' -->]>\n";
    const TCase cases[] = {
        {"entities, character references and CDATA make the number",
         Document("<dict><key>persistentID</key><integer> &#49;<![CDATA[2]]>&#x33; </integer>"
                  "<key>play&#67;ount</key><integer>4</integer></dict>"),
         {{123, 4, std::nullopt, false}}},
        {"comments, processing instructions, attributes and empty elements",
         Document("<!-- a > b --><dict a='1' b=\"x>y\"><?pi x?><key>persistentID</key>"
                  "<integer>5</integer><key>deleted</key><true/></dict><dict/><string/>"),
         {{5, 0, std::nullopt, true}}},
        {"a declared entity adds nothing",
         Document("<dict><key>persistentID</key><integer>7&e;</integer></dict>", declared),
         {{7, 0, std::nullopt, false}}},
        {"a real is cut to its whole part, other elements give no number",
         Document("<dict><key>persistentID</key><real>8.9</real><key>playCount</key>"
                  "<string>3</string><key>userRating</key><integer>-5</integer></dict>"),
         {{8, 0, 0, false}}},
        {"pairs end where the children stop alternating key and value",
         Document("<dict><key>persistentID</key><integer>6</integer><string>x</string>"
                  "<key>playCount</key><integer>9</integer></dict>"
                  "<dict><key>persistentID</key><key>playCount</key><integer>9</integer></dict>"),
         {{6, 0, std::nullopt, false}}},
        {"a later key wins, nested text is not the value's",
         Document("<dict><key>persistentID</key><integer>1</integer><key>persistentID</key>"
                  "<integer>2<b>3</b></integer></dict>"),
         {{2, 0, std::nullopt, false}}},
        {"the last tracks array counts",
         "<plist><dict><key>tracks</key><array><dict><key>persistentID</key><integer>1"
         "</integer></dict></array><key>tracks</key><array><dict><key>persistentID</key>"
         "<integer>2</integer></dict></array></dict></plist>",
         {{2, 0, std::nullopt, false}}},
    };
    for (const TCase& c : cases) {
        const TPlayDeltas read = ParsePlayCountsPlist(c.Xml);
        EXPECT_EQ(read.Damage, "") << c.What;
        EXPECT_EQ(Entries(read), c.Expected) << c.What;
    }
}

TEST(PlayCountsPlist, ReadsUtf16ByItsByteOrderMark) {
    const std::string utf8 =
        Document("<dict><key>persistentID</key><integer>42</integer></dict>", "<?xml?>");
    std::string little = "\xFF\xFE";
    std::string big = "\xFE\xFF";
    for (char c : utf8) {
        little += c;
        little += '\0';
        big += '\0';
        big += c;
    }
    for (const std::string& xml : {little, big}) {
        const TPlayDeltas read = ParsePlayCountsPlist(xml);
        EXPECT_EQ(read.Damage, "");
        EXPECT_EQ(Entries(read), (std::vector<TEntry>{{42, 0, std::nullopt, false}}));
    }
}

TEST(PlayCountsPlist, DamageIgnoresTheWholeFile) {
    const std::string entry = "<dict><key>persistentID</key><integer>1</integer></dict>";
    std::string deep;
    for (int i = 0; i < 300; ++i)
        deep += "<a>";
    struct TCase {
        std::string Xml;
        std::string Damage;
    };
    const TCase cases[] = {
        {"", "is not a property list (line 1: no root element)"},
        {Document(entry) + "<plist/>", "is not a property list (line 1: a second root element"},
        {Document(entry) + "x", "is not a property list (line 1: text after the root element)"},
        {Document(entry).substr(0, 60), "is not a property list (line 1: the document ends"},
        {"<plist>\n<dict>\n</plist>", "is not a property list (line 3: </plist> closes <dict>)"},
        {Document(entry + "&nbsp;"), "is not a property list (line 1: an unknown or damaged"},
        {Document(entry + "\x01"), "is not a property list (line 1: a control character"},
        {Document(entry + "<!-- open"), "is not a property list (line 1: an unclosed comment)"},
        {Document(entry + "<a b>"), "is not a property list (line 1: an attribute without"},
        {Document(entry + "<>"), "is not a property list (line 1: a tag without a name)"},
        {Document(deep), "is not a property list (line 1: elements nested deeper than 256)"},
        {"<plist><dict><key>tracks</key><string>x</string></dict></plist>",
         "has no list of tracks"},
        {"<plist><array/></plist>", "has no list of tracks"},
    };
    for (const TCase& c : cases) {
        const TPlayDeltas read = ParsePlayCountsPlist(c.Xml);
        EXPECT_EQ(read.Damage.substr(0, c.Damage.size()), c.Damage) << c.Xml.substr(0, 80);
        EXPECT_TRUE(read.Entries.empty());
    }
}

TEST(PlayCountsPlist, MoreTracksThanAnyIpodHoldsAreDamage) {
    std::string tracks;
    tracks.reserve((kMaxPlayDeltas + 1) * 7);
    for (size_t i = 0; i <= kMaxPlayDeltas; ++i)
        tracks += "<dict/>";
    const TPlayDeltas read = ParsePlayCountsPlist(Document(tracks));
    EXPECT_EQ(read.Damage, "lists " + std::to_string(kMaxPlayDeltas + 1) + " tracks");
    EXPECT_TRUE(read.Entries.empty());
}

}  // namespace
}  // namespace corvane
