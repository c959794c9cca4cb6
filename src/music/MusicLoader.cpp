// Loading the music library from the best database the device carries.
#include <unistd.h>

#include <exception>

#include "device/iPodDev.h"
#include "music/iPodMusic.h"

namespace corvane {

namespace {

// Staged copies of a mobile device's files are ours to delete; a disk-mode path is the
// device's own file and is never touched.
void RemoveStaged(const TIpodDevice& device, const std::string& path) {
    if (device.IsIos() && !path.empty())
        unlink(path.c_str());
}

}  // namespace

bool TIpodMusicDb::ReadSQLiteLibrary() {
    std::string db = Device.StageITunesFile("MediaLibrary.sqlitedb", false, "");
    if (!db.empty()) {
        std::string wal = Device.IsIos()
                              ? Device.StageITunesFile("MediaLibrary.sqlitedb-wal", false, "-wal")
                              : std::string();
        bool ok;
        try {
            ok = ReadMediaLibrary(db) > 0;
        } catch (...) {
            RemoveStaged(Device, db);
            RemoveStaged(Device, wal);
            throw;
        }
        RemoveStaged(Device, db);
        RemoveStaged(Device, wal);
        return ok;
    }

    std::string library = Device.StageITunesFile("Library.itdb", true, "");
    if (library.empty())
        return false;
    int added = ReadItdbLibrary(library);
    RemoveStaged(Device, library);
    if (added == 0)
        return false;

    bool ok = false;
    std::string locations = Device.StageITunesFile("Locations.itdb", true, "");
    if (!locations.empty()) {
        ok = ReadItdbLocations(locations);
        RemoveStaged(Device, locations);
    }
    std::string dynamic = Device.StageITunesFile("Dynamic.itdb", true, "");
    if (!dynamic.empty()) {
        ReadItdbStats(dynamic);
        RemoveStaged(Device, dynamic);
    }
    return ok;
}

bool TIpodMusicDb::Load(bool preferNewDatabase) {
    NeedBooks = true;
    NeedRingtones = true;
    bool ok = false;
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
        ok = ReadITunesDatabase();
        if (!ok) {
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
    if (ok && !Device.IsIos() && !PlayLists.Empty())
        Device.SetDisplayName(PlayLists.Items(0).Name);
    return ok;
}

}  // namespace corvane
