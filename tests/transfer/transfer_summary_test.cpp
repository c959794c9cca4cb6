#include <gtest/gtest.h>

#include <cerrno>

#include "device/CopyResultText.h"
#include "device/iPodDev.h"
#include "transfer/TransferSummary.h"

namespace corvane {
namespace {

TEST(TransferSummary, SaysWhatHappenedNeverDone) {
    struct TCase {
        TTransferCounts Counts;
        bool DeviceLost;
        const char* Text;
        bool Incomplete;
    };
    const TCase cases[] = {
        {{4, 4, 0, false}, false, "4 of 4 copied", false},
        {{4, 2, 0, true}, false, "Cancelled: 2 of 4 copied", true},
        {{4, 3, 1, false}, false, "3 of 4 copied, 1 failed", true},
        {{4, 0, 4, false}, true, "0 of 4 copied: the device is no longer connected", true},
        {{4, 1, 0, true}, true, "1 of 4 copied: the device is no longer connected", true},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(TransferSummaryText(c.Counts, c.DeviceLost), c.Text);
        EXPECT_EQ(c.Counts.Incomplete(), c.Incomplete) << c.Text;
    }
}

TEST(CopyFailureText, NamesTheSideThatFailedAndTheReason) {
    EXPECT_EQ(CopyFailureText(LocalCopyCode(ENOENT)),
              "the device file could not be read (No such file or directory)");
    EXPECT_EQ(CopyFailureText(LocalCopyCode(ENOSPC)),
              "the copy could not be written (No space left on device)");
    EXPECT_EQ(CopyFailureText(kCopyDeviceFailed), "the device file could not be read");
    EXPECT_NE(CopyFailureText(LocalCopyCode(EINVAL)).find("(Invalid argument)"), std::string::npos);
}

}  // namespace
}  // namespace corvane
