// Loading the music library from the best database the device carries.
#include <exception>
#include <string_view>

#include "device/iPodDev.h"
#include "music/iPodMusic.h"
#include "platform/StagedCopy.h"

namespace corvane {

namespace {

// What the database readers call a playlist the database gives no name.
constexpr std::string_view kUnnamedPlaylist = "Unknown";

// Staged copies of a mobile device's files are ours; a disk-mode path is the device's own file.
// Every file is staged under the same name, so each copy goes before the next one comes.
TStagedCopy Stage(TIpodDevice& device, const std::string& name, bool inItlp) {
    return TStagedCopy(device.StageITunesFile(name, inItlp, ""), device.IsIos());
}

}  // namespace

bool TIpodMusicDb::ReadSQLiteLibrary() {
    {
        TStagedCopy db = Stage(Device, "MediaLibrary.sqlitedb", false);
        if (!db.Empty()) {
            // The -wal lands beside the copy, where SQLite looks for it; the copy's owner
            // removes it with the copy.
            if (Device.IsIos())
                Device.StageITunesFile("MediaLibrary.sqlitedb-wal", false, "-wal");
            const bool read = ReadMediaLibrary(db.Path()) > 0;
            if (read)
                ReadMediaLibraryArtwork(db.Path());
            return read;
        }
    }

    int added = 0;
    {
        TStagedCopy library = Stage(Device, "Library.itdb", true);
        if (library.Empty())
            return false;
        added = ReadItdbLibrary(library.Path());
    }
    if (added == 0)
        return false;

    bool ok = false;
    {
        TStagedCopy locations = Stage(Device, "Locations.itdb", true);
        if (!locations.Empty())
            ok = ReadItdbLocations(locations.Path());
    }
    TStagedCopy dynamic = Stage(Device, "Dynamic.itdb", true);
    if (!dynamic.Empty())
        ReadItdbStats(dynamic.Path());
    return ok;
}

bool TIpodMusicDb::Load(bool preferNewDatabase) {
    NeedBooks = true;
    NeedRingtones = true;
    bool ok = false;
    bool coversLinked = false;
    if (preferNewDatabase) {
        // A database error ends this branch; what was read before it stays.
        try {
            ok = ReadSQLiteLibrary();
            if (NeedBooks)
                ReadBooks(false);
            if (NeedRingtones)
                ReadRingtones();
        } catch (...) {
            ok = false;
        }
        if (!ok)
            AddLog("itdb, " + Device.Log.Text());
        ReadVoiceMemos();
    }
    if (!ok) {
        DeviceClockShift = Device.ClockShift();
        ok = ReadITunesDatabase();
        if (ok) {
            // What the device recorded since its last sync and the covers belong to the tracks
            // just read; one walk over the tracks gives them both.
            MergePlaysSinceSync(ReadTrackArtworkDb() ? &Artwork : nullptr);
            coversLinked = true;
            ReadOnTheGoPlaylists();
        } else {
            AddLog("iTunesDb, " + Device.Log.Text());
            if (!preferNewDatabase) {
                try {
                    ok = ReadSQLiteLibrary();
                } catch (...) {
                    ok = false;
                }
                if (!ok)
                    AddLog("itdb, " + Device.Log.Text());
            }
        }
    }
    SizeListedItems();
    if (!coversLinked)
        LoadArtwork();
    // The library playlist carries the name the user gave the iPod; the readers' placeholder
    // for a playlist without one is no name, and leaves the device called by its model.
    if (ok && !Device.IsIos() && !PlayLists.Empty() && !PlayLists.Items(0).Name.empty() &&
        PlayLists.Items(0).Name != kUnnamedPlaylist)
        Device.SetDisplayName(PlayLists.Items(0).Name);
    return ok;
}

}  // namespace corvane
