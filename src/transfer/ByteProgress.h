// How far a transfer has come, by bytes: each item weighs its expected size where the library
// knows it (the mean of the known sizes where it does not), the copy of the current item moves
// the bar within its share, and the bytes really copied give the speed and the time left.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace corvane {

class TByteProgress {
public:
    // Seconds on a steady clock; tests give their own.
    using TClock = std::function<double()>;
    // At most this often a copy's report is worth showing.
    static constexpr double kReportInterval = 0.25;

    // items are to be transferred, itemsWithSize of them of known sizes adding up to
    // knownBytes.
    TByteProgress(int items, int itemsWithSize, uint64_t knownBytes, TClock clock = {});

    // The next item begins (the one before it is over); expected is its size, 0 when unknown.
    void StartItem(uint64_t expected);
    // The copy of the current item has written done bytes of a file of size bytes (0 when the
    // copy cannot tell). An item of several files reports each from 0 again.
    void Copied(uint64_t done, uint64_t size);
    // True, at most every kReportInterval, when something changed since the last true.
    bool ReportDue();

    // 0..1 of the whole transfer.
    double Fraction() const;
    uint64_t BytesCopied() const { return FFinishedBytes + FItemBytes; }
    // Bytes a second since the first item began; nothing before a second has passed.
    std::optional<double> Speed() const;
    // Nothing until the estimate means something: a few seconds in, or a second in with a
    // fair amount copied.
    std::optional<double> SecondsLeft() const;
    // "1.20 MB of 40.10 MB, 8.20 MB/s, about 5 s left"; "1.20 MB copied" while sizes are
    // unknown; parts are left out until they mean something.
    std::string Text() const;
    // "40.10 MB copied, 8.20 MB/s" once the transfer is over.
    std::string EndText() const;

    // "about 45 s left", "about 3 min left", "about 1 h 5 min left".
    static std::string TimeLeftText(double seconds);

private:
    double Now() const;
    double Elapsed() const;

    TClock FClock;
    int FUnknownItems;
    uint64_t FKnownBytes;
    double FUnknownWeight;  // what an item of unknown size weighs
    double FTotalWeight;

    int FStarted = 0;
    double FFinishedWeight = 0;
    uint64_t FFinishedBytes = 0;
    double FItemWeight = 0;
    uint64_t FItemExpected = 0;
    double FItemShare = 0;      // 0..1 of the current item
    uint64_t FItemBytes = 0;    // copied of the current item, its earlier files included
    uint64_t FFileDone = 0;     // of the file being copied
    uint64_t FFilesBefore = 0;  // of the current item's earlier files

    std::optional<double> FStartTime;
    double FLastReport = -1;
    bool FChanged = true;
};

}  // namespace corvane
