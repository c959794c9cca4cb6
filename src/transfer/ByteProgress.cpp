#include "transfer/ByteProgress.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "device/iPodDev.h"

namespace corvane {
namespace {

// What an item weighs when no size at all is known: the bar then moves by items.
constexpr double kUnknownItemGuess = 1 << 20;
// Below this much time or copied data a rate says little about the rest.
constexpr double kSpeedAfter = 1.0;
constexpr double kTimeLeftAfter = 3.0;
constexpr uint64_t kTimeLeftBytes = uint64_t{32} << 20;

std::string Size(double bytes) {
    return TIpodDevice::FormatSize(static_cast<int64_t>(std::max(bytes, 0.0)));
}

}  // namespace

TByteProgress::TByteProgress(int items, int itemsWithSize, uint64_t knownBytes, TClock clock)
    : FClock(std::move(clock)),
      FUnknownItems(std::max(items - std::max(itemsWithSize, 0), 0)),
      FKnownBytes(knownBytes) {
    const double mean = itemsWithSize > 0 ? static_cast<double>(knownBytes) / itemsWithSize : 0;
    FUnknownWeight = mean > 0 ? mean : kUnknownItemGuess;
    FTotalWeight = static_cast<double>(knownBytes) + FUnknownItems * FUnknownWeight;
    if (FTotalWeight <= 0)
        FTotalWeight = 1;
}

double TByteProgress::Now() const {
    if (FClock)
        return FClock();
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double TByteProgress::Elapsed() const {
    return FStartTime ? std::max(Now() - *FStartTime, 0.0) : 0.0;
}

void TByteProgress::StartItem(uint64_t expected) {
    if (!FStartTime)
        FStartTime = Now();
    if (FStarted > 0) {
        FFinishedWeight += FItemWeight;
        FFinishedBytes += FItemBytes;
    }
    ++FStarted;
    FItemExpected = expected;
    FItemWeight = expected > 0 ? static_cast<double>(expected) : FUnknownWeight;
    FItemShare = 0;
    FItemBytes = 0;
    FFileDone = 0;
    FFilesBefore = 0;
    FChanged = true;
}

void TByteProgress::Copied(uint64_t done, uint64_t size) {
    if (done < FFileDone)
        FFilesBefore += FFileDone;  // the item's next file
    FFileDone = done;
    FItemBytes = FFilesBefore + FFileDone;
    double share = FItemShare;
    if (FItemExpected > 0)
        share = static_cast<double>(FItemBytes) / static_cast<double>(FItemExpected);
    else if (size > 0)
        share = static_cast<double>(done) / static_cast<double>(size);
    FItemShare = std::clamp(share, FItemShare, 1.0);
    FChanged = true;
}

bool TByteProgress::ReportDue() {
    if (!FChanged)
        return false;
    const double now = Now();
    if (FLastReport >= 0 && now - FLastReport < kReportInterval)
        return false;
    FLastReport = now;
    FChanged = false;
    return true;
}

double TByteProgress::Fraction() const {
    return std::clamp((FFinishedWeight + FItemWeight * FItemShare) / FTotalWeight, 0.0, 1.0);
}

std::optional<double> TByteProgress::Speed() const {
    const double elapsed = Elapsed();
    if (elapsed < kSpeedAfter)
        return std::nullopt;
    return static_cast<double>(BytesCopied()) / elapsed;
}

std::optional<double> TByteProgress::SecondsLeft() const {
    const double elapsed = Elapsed();
    const double done = Fraction();
    const bool meaningful =
        elapsed >= kTimeLeftAfter || (elapsed >= kSpeedAfter && BytesCopied() >= kTimeLeftBytes);
    if (!meaningful || done <= 0 || done >= 1)
        return std::nullopt;
    return elapsed * (1 - done) / done;
}

std::string TByteProgress::Text() const {
    std::string text = Size(static_cast<double>(BytesCopied()));
    text += FUnknownItems == 0 && FKnownBytes > 0 ? " of " + Size(static_cast<double>(FKnownBytes))
                                                  : std::string(" copied");
    if (const auto speed = Speed())
        text += ", " + Size(*speed) + "/s";
    if (const auto left = SecondsLeft())
        text += ", " + TimeLeftText(*left);
    return text;
}

std::string TByteProgress::EndText() const {
    std::string text = Size(static_cast<double>(BytesCopied())) + " copied";
    if (const auto speed = Speed())
        text += ", " + Size(*speed) + "/s";
    return text;
}

std::string TByteProgress::TimeLeftText(double seconds) {
    const auto whole = static_cast<int64_t>(std::ceil(std::max(seconds, 1.0)));
    if (whole < 60)
        return "about " + std::to_string((whole + 4) / 5 * 5) + " s left";
    const int64_t minutes = (whole + 59) / 60;
    if (minutes < 60)
        return "about " + std::to_string(minutes) + " min left";
    return "about " + std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) +
           " min left";
}

}  // namespace corvane
