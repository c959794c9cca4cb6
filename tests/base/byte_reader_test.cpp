#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <string>

#include "base/ByteReader.h"
#include "base/Text.h"

namespace corvane {
namespace {

constexpr size_t kMax = std::numeric_limits<size_t>::max();

TEST(ByteReaderTest, ReadsLittleEndianInsideTheBytes) {
    const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xFF};
    TByteReader data(bytes, sizeof bytes);
    EXPECT_EQ(data.ReadU8(8), 0xFF);
    EXPECT_EQ(data.ReadU16(0), 0x0201);
    EXPECT_EQ(data.ReadU32(1), 0x05040302u);
    EXPECT_EQ(data.ReadU64(0), 0x0807060504030201u);
    EXPECT_EQ(data.ReadI32(5), static_cast<int32_t>(0xFF080706u));
    // The last byte of each read is the last byte of the data, and one further is refused.
    EXPECT_TRUE(data.ReadU32(5));
    EXPECT_FALSE(data.ReadU32(6));
    EXPECT_FALSE(data.ReadU64(2));
    EXPECT_FALSE(data.ReadU8(9));
}

TEST(ByteReaderTest, ReadsBigEndianWhenToldAndPrefixKeepsTheOrder) {
    const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xFF};
    TByteReader data(bytes, sizeof bytes, std::endian::big);
    EXPECT_EQ(data.ReadU8(8), 0xFF);
    EXPECT_EQ(data.ReadU16(0), 0x0102);
    EXPECT_EQ(data.ReadU32(1), 0x02030405u);
    EXPECT_EQ(data.ReadU64(0), 0x0102030405060708u);
    EXPECT_EQ(data.ReadI32(5), static_cast<int32_t>(0x060708FFu));
    EXPECT_FALSE(data.ReadU32(6));
    TByteReader head = data.Prefix(4);
    EXPECT_EQ(head.Order(), std::endian::big);
    EXPECT_EQ(head.ReadU32(0), 0x01020304u);
}

TEST(ByteReaderTest, OffsetsNearTheTopOfTheRangeDoNotWrapAround) {
    const uint8_t bytes[16] = {};
    TByteReader data(bytes, sizeof bytes);
    for (size_t offset : {size_t{17}, kMax, kMax - 1, kMax - 3}) {
        SCOPED_TRACE(offset);
        EXPECT_FALSE(data.ReadU32(offset));
        EXPECT_FALSE(data.Has(offset, 4));
        EXPECT_EQ(data.Left(offset), 0u);
    }
    EXPECT_FALSE(data.Has(8, kMax));
    EXPECT_FALSE(data.Has(1, kMax));
    EXPECT_TRUE(data.Has(16, 0));
    EXPECT_FALSE(data.Bytes(4, kMax - 2));
    EXPECT_EQ(data.Bytes(4, 12)->size(), 12u);
}

TEST(ByteReaderTest, PrefixEndsTheViewButKeepsOffsets) {
    const uint8_t bytes[] = {'m', 'h', 'o', 'd', 1, 0, 0, 0, 'M', 'H', 'I', 'P'};
    TByteReader data(bytes, sizeof bytes);
    TByteReader first = data.Prefix(8);
    EXPECT_EQ(first.ReadU32(4), 1u);
    EXPECT_FALSE(first.ReadU32(8));
    EXPECT_EQ(data.Prefix(kMax).Size(), sizeof bytes);
    EXPECT_TRUE(data.TagIs(0, "MHOD"));
    EXPECT_TRUE(data.TagIs(8, "mhip"));
    EXPECT_FALSE(first.TagIs(8, "mhip"));  // past the end of the prefix
    EXPECT_FALSE(data.TagIs(0, "mhit"));
    TByteReader empty;
    EXPECT_FALSE(empty.ReadU8(0));
    EXPECT_FALSE(empty.TagIs(0, "mhod"));
}

std::string Utf16LeOf(const std::u16string& text) {
    std::string bytes;
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::string Utf8Of(const std::u16string& text) {
    const std::string bytes = Utf16LeOf(text);
    return Utf16LeToUtf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(Utf16LeToUtf8Test, ConvertsEveryPlaneAndReplacesWhatCannotBeText) {
    struct TCase {
        std::u16string Input;
        std::string Expected;
    };
    const TCase cases[] = {
        {u"", ""},
        {u"Plain ASCII", "Plain ASCII"},
        {u"Größe ü",
         "Gr\xC3\xB6\xC3\x9F"
         "e \xC3\xBC"},
        {u"\u20AC\uFFFF", "\xE2\x82\xAC\xEF\xBF\xBF"},
        {u"\U0001F3B5", "\xF0\x9F\x8E\xB5"},                            // a surrogate pair
        {std::u16string(1, char16_t(0xD83C)) + u"x", "\xEF\xBF\xBDx"},  // high without low
        {std::u16string(1, char16_t(0xDF35)) + u"x", "\xEF\xBF\xBDx"},  // low alone
        {u"x" + std::u16string(1, char16_t(0xD83C)), "x\xEF\xBF\xBD"},  // high at the end
        {std::u16string(2, char16_t(0xD83C)) + std::u16string(1, char16_t(0xDFB5)),
         "\xEF\xBF\xBD\xF0\x9F\x8E\xB5"},  // second high pairs
        {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
        // Past a run of ASCII; U+0141 has an ASCII low byte, only its high byte tells.
        {u"ABCDEFGH\u0141IJ", "ABCDEFGH\xC5\x81IJ"},
        {u"ABCD\u00E9", "ABCD\xC3\xA9"},
    };
    // Written over one string in turn, longer and shorter text alike, each comes out whole.
    std::string reused = "a long text that was there before any of the cases";
    for (const TCase& c : cases) {
        EXPECT_EQ(Utf8Of(c.Input), c.Expected);
        const std::string bytes = Utf16LeOf(c.Input);
        AssignUtf16LeAsUtf8(reused, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        EXPECT_EQ(reused, c.Expected);
    }
    const uint8_t odd[] = {'A', 0, 'B'};
    EXPECT_EQ(Utf16LeToUtf8(odd, sizeof odd), "A\xEF\xBF\xBD");
    EXPECT_EQ(Utf16LeToUtf8(nullptr, 0), "");
}

}  // namespace
}  // namespace corvane
