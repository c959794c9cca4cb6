// The byte count of a transfer: shares of the bar by size, items of unknown size, speed and
// the time left only once they mean something, reports at most a few times a second.
#include <gtest/gtest.h>

#include "transfer/ByteProgress.h"

namespace corvane {
namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;

class ByteProgressTest : public ::testing::Test {
protected:
    double Now = 100;
    TByteProgress::TClock Clock() {
        return [this] { return Now; };
    }
};

TEST_F(ByteProgressTest, ItemsWeighTheirSizesAndACopyMovesTheBarWithinItsShare) {
    // 10 MiB and 30 MiB: the small one is a quarter of the bar.
    TByteProgress bytes(2, 2, 40 * kMiB, Clock());
    EXPECT_EQ(bytes.Fraction(), 0);
    bytes.StartItem(10 * kMiB);
    bytes.Copied(5 * kMiB, 10 * kMiB);
    EXPECT_DOUBLE_EQ(bytes.Fraction(), 0.125);
    bytes.StartItem(30 * kMiB);
    EXPECT_DOUBLE_EQ(bytes.Fraction(), 0.25);
    // An item of two files goes on counting from the first file's end.
    bytes.Copied(10 * kMiB, 10 * kMiB);
    bytes.Copied(5 * kMiB, 20 * kMiB);
    EXPECT_DOUBLE_EQ(bytes.Fraction(), 0.25 + 0.75 * 15.0 / 30.0);
    EXPECT_EQ(bytes.BytesCopied(), 20 * kMiB);
    // More than the database said never runs past the end.
    bytes.Copied(40 * kMiB, 40 * kMiB);
    EXPECT_DOUBLE_EQ(bytes.Fraction(), 1.0);
}

TEST_F(ByteProgressTest, ItemsOfUnknownSizeWeighTheMeanOrOneEachWhenNothingIsKnown) {
    // Two known pictures of 2 MiB and two camera files of no known size.
    TByteProgress mixed(4, 2, 4 * kMiB, Clock());
    for (int i = 0; i < 3; ++i)
        mixed.StartItem(i < 2 ? 2 * kMiB : 0);
    EXPECT_DOUBLE_EQ(mixed.Fraction(), 0.5);
    mixed.Copied(kMiB, 4 * kMiB);  // a quarter of a file whose copy knows its size
    EXPECT_DOUBLE_EQ(mixed.Fraction(), 0.5 + 0.25 * 0.25);
    EXPECT_EQ(mixed.Text(), "1.00 MB copied");  // no total while sizes are missing

    TByteProgress unknown(4, 0, 0, Clock());
    unknown.StartItem(0);
    unknown.StartItem(0);
    EXPECT_DOUBLE_EQ(unknown.Fraction(), 0.25);
}

TEST_F(ByteProgressTest, SpeedAndTimeLeftWaitUntilTheyMeanSomething) {
    TByteProgress bytes(1, 1, 100 * kMiB, Clock());
    bytes.StartItem(100 * kMiB);
    Now += 0.5;
    bytes.Copied(10 * kMiB, 100 * kMiB);
    EXPECT_FALSE(bytes.Speed());
    EXPECT_FALSE(bytes.SecondsLeft());
    EXPECT_EQ(bytes.Text(), "10.00 MB of 100.00 MB");

    // A second in, 20 MiB copied: a rate, but not enough for the rest yet.
    Now += 0.5;
    bytes.Copied(20 * kMiB, 100 * kMiB);
    ASSERT_TRUE(bytes.Speed());
    EXPECT_DOUBLE_EQ(*bytes.Speed(), 20.0 * kMiB);
    EXPECT_FALSE(bytes.SecondsLeft());
    // Past 32 MiB the estimate counts: 1.6 s for 40 %, 2.4 s for the rest.
    Now += 0.6;
    bytes.Copied(40 * kMiB, 100 * kMiB);
    ASSERT_TRUE(bytes.SecondsLeft());
    EXPECT_NEAR(*bytes.SecondsLeft(), 2.4, 1e-9);
    EXPECT_EQ(bytes.Text(), "40.00 MB of 100.00 MB, 25.00 MB/s, about 5 s left");
    EXPECT_EQ(bytes.EndText(), "40.00 MB copied, 25.00 MB/s");

    // A slow copy says how long after three seconds, whatever it copied.
    TByteProgress slow(1, 1, 100 * kMiB, Clock());
    slow.StartItem(100 * kMiB);
    Now += 3.5;
    slow.Copied(kMiB, 100 * kMiB);
    ASSERT_TRUE(slow.SecondsLeft());
    EXPECT_NEAR(*slow.SecondsLeft(), 346.5, 1e-6);
}

TEST_F(ByteProgressTest, ReportsComeAtMostFourTimesASecondAndOnlyAfterAChange) {
    TByteProgress bytes(1, 1, 10 * kMiB, Clock());
    bytes.StartItem(10 * kMiB);
    EXPECT_TRUE(bytes.ReportDue());
    EXPECT_FALSE(bytes.ReportDue());  // nothing new
    int due = 0;
    for (int chunk = 1; chunk <= 64; ++chunk) {
        Now += 1.0 / 64;  // exact steps
        bytes.Copied(chunk * (kMiB / 8), 10 * kMiB);
        due += bytes.ReportDue() ? 1 : 0;
    }
    EXPECT_EQ(due, 4);  // one second of chunks
}

TEST(ByteProgress, TimeLeftReadsInWholeUnitsRoundedUp) {
    const std::pair<double, const char*> cases[] = {
        {0.2, "about 5 s left"},  {41, "about 45 s left"},        {60, "about 1 min left"},
        {61, "about 2 min left"}, {3600, "about 1 h 0 min left"}, {3900, "about 1 h 5 min left"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(TByteProgress::TimeLeftText(seconds), text) << seconds;
}

}  // namespace
}  // namespace corvane
