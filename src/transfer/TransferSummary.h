// The counts a transfer ends with and the one line that tells the user what happened.
#pragma once

#include <string>

namespace corvane {

struct TTransferCounts {
    int Total = 0;   // items ticked for this transfer
    int Copied = 0;  // items now in the destination (already there counts too)
    int Failed = 0;  // items whose copy failed
    bool Cancelled = false;

    // Anything short of every ticked item copied.
    bool Incomplete() const { return Cancelled || Failed > 0 || Copied < Total; }
};

// "4 of 4 copied", "3 of 4 copied, 1 failed", "Cancelled: 2 of 4 copied"; with deviceLost,
// "0 of 4 copied: the device is no longer connected".
std::string TransferSummaryText(const TTransferCounts& counts, bool deviceLost = false);

}  // namespace corvane
