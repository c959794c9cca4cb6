#include "transfer/TransferSummary.h"

namespace corvane {

std::string TransferSummaryText(const TTransferCounts& counts, bool deviceLost) {
    std::string text =
        std::to_string(counts.Copied) + " of " + std::to_string(counts.Total) + " copied";
    if (deviceLost)
        return text + ": the device is no longer connected";
    if (counts.Failed > 0)
        text += ", " + std::to_string(counts.Failed) + " failed";
    return counts.Cancelled ? "Cancelled: " + text : text;
}

}  // namespace corvane
