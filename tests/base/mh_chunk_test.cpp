#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/LogText.h"
#include "base/MhChunk.h"

namespace corvane {
namespace {

// A parent of two chunks: "mhxx" at 0 (total length 20) and "mhyy" at 20 (total length 16).
std::vector<uint8_t> TwoChunks() {
    std::vector<uint8_t> bytes(36, 0);
    auto put = [&](size_t at, const char* tag, uint32_t length) {
        for (size_t i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<uint8_t>(tag[i]);
        bytes[at + 4] = 12;
        for (size_t i = 0; i < 4; ++i)
            bytes[at + 8 + i] = static_cast<uint8_t>(length >> (8 * i));
    };
    put(0, "mhxx", 20);
    put(20, "mhyy", 16);
    return bytes;
}

void PutLength(std::vector<uint8_t>& bytes, size_t at, uint32_t length) {
    for (size_t i = 0; i < 4; ++i)
        bytes[at + 8 + i] = static_cast<uint8_t>(length >> (8 * i));
}

TEST(MhChunkTest, ChecksEachChunkAgainstItsParentAndWordsTheDamage) {
    struct TCase {
        const char* Name;
        uint32_t SecondLength;
        size_t Fields;
        bool MayClip;
        bool Read;
        bool Clipped;
        std::string Log;
    };
    const TCase cases[] = {
        {"intact", 16, 16, false, true, false, ""},
        {"zero length", 0, 16, false, false, false, "\r\nDB: mhyy at 20 has a zero length"},
        {"shorter than its fields", 8, 16, false, false, false,
         "\r\nDB: mhyy at 20 is too short (8 bytes)"},
        {"fields past the parent", 16, 20, false, false, false,
         "\r\nDB: mhyy at 20 runs past the end of the file"},
        {"longer than the parent, refused", 17, 16, false, false, false,
         "\r\nDB: mhyy at 20 runs past the end of the file"},
        {"longer than the parent, cut", 0xFFFFFFFF, 16, true, true, true,
         "\r\nDB: mhyy at 20 runs past the end of the file"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<uint8_t> bytes = TwoChunks();
        PutLength(bytes, 20, c.SecondLength);
        TByteReader parent(bytes.data(), bytes.size());
        TLogText log;
        TChunkDamage damage(log, "DB");
        const TChunkRule rule{
            .Tag = "mhyy", .Fields = c.Fields, .Parent = "the file", .MayClip = c.MayClip};
        auto first = ReadChunk(parent, 0, {.Tag = "mhxx", .Fields = 12}, &damage);
        ASSERT_TRUE(first);
        EXPECT_EQ(first->End, 20u);
        EXPECT_EQ(first->Data.Size(), 20u);
        auto second = ReadChunk(parent, first->End, rule, &damage);
        EXPECT_EQ(second.has_value(), c.Read);
        if (second) {
            EXPECT_EQ(second->End, 36u);
            EXPECT_EQ(second->Clipped, c.Clipped);
            EXPECT_EQ(second->Body(), 32u);
        }
        EXPECT_EQ(log.Text(), c.Log);
        // Without a damage log nothing is logged: the caller reports in its own words.
        EXPECT_EQ(ReadChunk(parent, 20, rule, nullptr).has_value(), c.Read);
        EXPECT_EQ(log.Text(), c.Log);
    }
}

TEST(MhChunkTest, DamageLinesAreCappedAndTheRestCounted) {
    TLogText log;
    {
        TChunkDamage damage(log, "DB");
        for (int i = 0; i < TChunkDamage::kMaxLines + 3; ++i)
            damage.ZeroLength("mhit", static_cast<size_t>(i));
        EXPECT_TRUE(damage.Any());
    }  // the summary is written when the walk's log goes, at the latest
    const std::string text = log.Text();
    EXPECT_NE(text.find("\r\nDB: mhit at 9 has a zero length"), std::string::npos);
    EXPECT_EQ(text.find("mhit at 10 "), std::string::npos);
    EXPECT_TRUE(text.ends_with("\r\nDB: 3 more damaged chunks")) << text;
}

}  // namespace
}  // namespace corvane
