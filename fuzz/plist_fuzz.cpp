// Feeds arbitrary bytes as an XML property list to the ringtone and book walkers: the lists
// come from the device, so no input may crash, hang or grow memory without bound.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "music/iPodMusic.h"

namespace {

// Every track a walker adds must be whole: a location of the list's own form and counters in
// step with the list.
void CheckTracks(const corvane::TTrackList& tracks, int added, const char* prefix) {
    if (static_cast<int>(tracks.Count()) != added || tracks.CheckedCount != added)
        __builtin_trap();
    for (const corvane::TTrackItem& track : tracks) {
        if (track.Location.rfind(prefix, 0) != 0 || !track.Checked)
            __builtin_trap();
        if (track.DurationText.empty() != (track.Kind != corvane::mkTone))
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One session for the whole run: the walkers need a library, not a device.
    static corvane::TIpodDevice device([](bool) {}, corvane::OfflineSessionOptions());
    std::string xml(reinterpret_cast<const char*>(data), size);
    {
        corvane::TIpodMusicDb db(device);
        CheckTracks(db.Tracks, db.ReadRingtonesXml(xml), "/iTunes_Control/Ringtones/");
    }
    {
        corvane::TIpodMusicDb db(device);
        CheckTracks(db.Tracks, db.ReadBooksXml(xml, false), "Books/");
    }
    return 0;
}
