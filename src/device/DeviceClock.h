// The time zone of an iPod's clock. The device stores the times it records (last played, last
// skipped) as Mac times of its own local clock; this says how far that clock runs from UTC.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace corvane {

// Seconds east of UTC, from the bytes of iPod_Control/Device/Preferences. Its layout differs
// by generation and is told apart by the file's size; nothing when the size is not a known one
// or the stored zone is not a valid one.
std::optional<int32_t> ClockShiftFromPreferences(std::span<const uint8_t> preferences);

// The computer's own offset from UTC now, in seconds east: what the device's clock is taken to
// run at when it does not say.
int32_t LocalClockShift();

// The offset now of a zone of the system's time-zone database ("Europe/Paris"), from its TZif
// file below zoneinfoDir; nothing when the file is missing or unreadable.
std::optional<int32_t> ZoneOffsetNow(const std::string& zone,
                                     const std::string& zoneinfoDir = "/usr/share/zoneinfo");

// Mac time (seconds since 1904-01-01 of the device's clock) as seconds since 1970 UTC; 0 stays
// 0 (never).
int64_t MacTimeToUnix(uint32_t macTime, int32_t clockShift);

}  // namespace corvane
