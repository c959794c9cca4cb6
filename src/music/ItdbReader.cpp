// The itlp trio, read in this order: Library.itdb (tracks, genres, playlists and their
// entries), Locations.itdb (the file and size of each track) and Dynamic.itdb (ratings and play
// counts). The last two complete tracks the first one added, found by Pid.
#include <algorithm>
#include <optional>
#include <unordered_map>

#include "base/Text.h"
#include "music/SQLiteWrap.h"
#include "music/iPodMusic.h"

namespace corvane {

namespace {

// The three lines of a database error as one log line.
std::string ErrorLine(const std::exception& error) {
    std::string text = error.what();
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.replace(at, 2, " ");
    }
    return text;
}

// The device's tables are addressed by column name, whatever columns it added. The names are
// checked on "SELECT *" (a missing one raises "Field not found in dataset"); the rows are then
// read through a SELECT of just those columns, in the order given, which spares decoding
// dozens of unused columns per row.
// Columns named in `optional` follow the others; one the table lacks reads as NULL.
TSQLiteTable SelectByName(TSQLiteDatabase& db, const std::string& table,
                          std::initializer_list<const char*> columns,
                          std::initializer_list<const char*> optional = {}) {
    TSQLiteTable all = db.GetTable("SELECT * FROM " + table, true);
    std::string sql;
    for (const char* column : columns) {
        all.GetFieldIndex(column);
        sql += (sql.empty() ? "SELECT \"" : ",\"") + std::string(column) + "\"";
    }
    for (const char* column : optional) {
        const std::string upper = AsciiUpper(column);
        const bool present =
            std::find(all.Cols().begin(), all.Cols().end(), upper) != all.Cols().end();
        sql += present ? ",\"" + std::string(column) + "\"" : std::string(",NULL");
    }
    return db.GetTable(sql + " FROM " + table);
}

int32_t TagNumber(int64_t value) {
    return value > 0 && value <= 99999 ? static_cast<int32_t>(value) : 0;
}

}  // namespace

int TIpodMusicDb::ReadItdbLibrary(const std::string& fileName) {
    TSQLiteDatabase db(fileName,
                       IsStagedCopy(fileName) ? TSQLiteOpen::ReadWrite : TSQLiteOpen::ReadOnly);
    // item.genre_id names a genre_map id; 0 is no genre. (Read in index order, the rows would
    // come sorted by name, so their positions are no guide.)
    std::unordered_map<int64_t, std::string> genres;
    try {
        for (TSQLiteTable rows = db.GetTable("SELECT id,genre FROM genre_map"); !rows.Eof();
             rows.Next()) {
            int64_t id = rows.FieldAsInteger(0);
            if (id != 0)
                genres.try_emplace(id, NameText(rows.FieldAsString(1)));
        }
    } catch (const ESQLiteException& error) {
        AddLog("Library.itdb: genres: " + ErrorLine(error));
    }

    FItdbFirstTrack = Tracks.Count();
    FItdbTrackCount = 0;
    size_t unknownGenres = 0;
    TSQLiteTable rows =
        SelectByName(db, "item", {"pid", "title", "artist", "album", "total_time_ms", "genre_id"},
                     {"track_number", "disc_number", "year", "album_artist"});
    for (; !rows.Eof(); rows.Next()) {
        TTrackItem& track = Tracks.Add();
        track.SetReaderDefaults();
        track.Pid = rows.FieldAsInteger(0);
        track.Title = NameText(rows.FieldAsString(1));
        track.Artist = NameText(rows.FieldAsString(2));
        track.Album = NameText(rows.FieldAsString(3));
        int64_t duration = rows.FieldAsInteger(4);
        track.DurationMs = duration < 0 ? 0 : static_cast<uint32_t>(duration);
        track.DurationText = DurationText(track.DurationMs);
        track.TrackNumber = TagNumber(rows.FieldAsInteger(6));
        track.DiscNumber = TagNumber(rows.FieldAsInteger(7));
        track.Year = TagNumber(rows.FieldAsInteger(8));
        track.AlbumArtist = NameText(rows.FieldAsString(9));
        if (int64_t genre = rows.FieldAsInteger(5); genre != 0) {
            auto found = genres.find(genre);
            if (found != genres.end()) {
                track.Genre = found->second;
            } else {
                ++unknownGenres;
            }
        }
        // Counted as checked now, so the count holds whatever follows; the size comes with
        // the track's location.
        ++Tracks.CheckedCount;
        ++FItdbTrackCount;
    }
    if (unknownGenres > 0) {
        AddLog("Library.itdb: " + std::to_string(unknownGenres) + " tracks with an unknown genre");
    }
    const int added = FItdbTrackCount;

    // Playlists: a failure here keeps the tracks and the playlists read so far.
    PlayLists.Clear();
    try {
        std::optional<int64_t> primary;
        {
            TSQLiteTable info = db.GetTable("SELECT primary_container_pid FROM db_info");
            if (!info.Eof() && !info.FieldIsNull(0))
                primary = info.FieldAsInteger(0);
        }
        TSQLiteTable containers = SelectByName(db, "container", {"pid", "name", "media_kinds"});
        for (; !containers.Eof(); containers.Next()) {
            int64_t pid = containers.FieldAsInteger(0);
            TPlayListItem& playlist =
                primary && pid == *primary ? PlayLists.Insert() : PlayLists.Add();
            playlist.Pid = pid;
            playlist.Name = containers.FieldIsNull(1) ? "Unknown" : containers.FieldAsString(1);
            playlist.IsSmart = containers.FieldAsInteger(2) == 0;
            playlist.Count = 0;
        }
    } catch (const ESQLiteException& error) {
        AddLog("Library.itdb: playlists: " + ErrorLine(error));
    }
    if (PlayLists.Count() <= 1)
        return added;

    // Entries of every playlist from index 1 on, in one pass over item_to_container: its row
    // order within a container is the order a query per container gives.
    std::unordered_map<int64_t, std::vector<int>> byPid;
    for (int i = 1; i < PlayLists.Count(); ++i)
        byPid[PlayLists.Items(i).Pid].push_back(i);
    try {
        for (TSQLiteTable entries =
                 db.GetTable("SELECT container_pid,item_pid FROM item_to_container");
             !entries.Eof(); entries.Next()) {
            auto found = byPid.find(entries.FieldAsInteger(0));
            if (found == byPid.end())
                continue;
            auto pid = static_cast<uint64_t>(entries.FieldAsInteger(1));
            for (int at : found->second) {
                TPlayListItem& playlist = PlayLists.Items(at);
                playlist.TrackPids.push_back(pid);
                playlist.Count = static_cast<int32_t>(playlist.TrackPids.size());
            }
        }
    } catch (const ESQLiteException& error) {
        AddLog("Library.itdb: playlist entries: " + ErrorLine(error));
    }
    return added;
}

bool TIpodMusicDb::ReadItdbLocations(const std::string& fileName) {
    TSQLiteDatabase db(fileName,
                       IsStagedCopy(fileName) ? TSQLiteOpen::ReadWrite : TSQLiteOpen::ReadOnly);
    // Base paths by 32-bit id; the first row of an id wins and rows without a path are left out.
    std::unordered_map<int32_t, std::string> bases;
    {
        TSQLiteTable rows = SelectByName(db, "base_location", {"id", "path"});
        for (; !rows.Eof(); rows.Next()) {
            if (rows.FieldIsNull(1))
                continue;
            bases.try_emplace(static_cast<int32_t>(rows.FieldAsInteger(0)), rows.FieldAsString(1));
        }
    }

    const auto index = Tracks.PidIndex();
    std::vector<bool> located(Tracks.Count());
    size_t stray = 0;
    size_t repeated = 0;
    TSQLiteTable rows =
        SelectByName(db, "location", {"item_pid", "file_size", "base_location_id", "location"});
    for (; !rows.Eof(); rows.Next()) {
        auto found = index.find(rows.FieldAsInteger(0));
        if (found == index.end()) {
            ++stray;
            continue;
        }
        // A second row of a track (another sub_id) would count its size twice.
        if (located[found->second]) {
            ++repeated;
            continue;
        }
        located[found->second] = true;
        TTrackItem& track = Tracks.Items(found->second);
        SetTrackSize(track, rows.FieldAsInteger(1));
        std::string location = rows.FieldAsString(3);
        auto base = static_cast<int32_t>(rows.FieldAsInteger(2));
        if (base != 0) {
            auto path = bases.find(base);
            std::string prefix = path == bases.end() ? "/" : path->second + "/";
            if (rows.FieldIsNull(3)) {
                track.Location = prefix.size() >= 2 ? prefix : std::string();
            } else {
                track.Location = prefix + location;
            }
        } else {
            track.Location = location;
        }
        track.Kind = KindOfExtension(KindExtension(track.Location));
        if (track.Kind == mkBook)
            NeedBooks = false;
        if (track.Kind == mkTone)
            NeedRingtones = false;
    }

    // A track of this library without a location has no file to copy: it stays listed (its
    // playlists still show it) but is not checked.
    size_t unlocated = 0;
    int end = std::min(FItdbFirstTrack + FItdbTrackCount, Tracks.Count());
    for (int i = FItdbFirstTrack; i < end; ++i) {
        if (!Tracks.Items(i).Location.empty())
            continue;
        Tracks.Uncheck(i);
        ++unlocated;
    }
    if (unlocated > 0) {
        AddLog("Locations.itdb: " + std::to_string(unlocated) + " tracks without a file");
    }
    if (stray > 0) {
        AddLog("Locations.itdb: " + std::to_string(stray) + " locations of unknown tracks");
    }
    if (repeated > 0) {
        AddLog("Locations.itdb: " + std::to_string(repeated) + " further locations ignored");
    }
    return true;
}

bool TIpodMusicDb::ReadItdbStats(const std::string& fileName) {
    TSQLiteDatabase db(fileName,
                       IsStagedCopy(fileName) ? TSQLiteOpen::ReadWrite : TSQLiteOpen::ReadOnly);
    const auto index = Tracks.PidIndex();
    TSQLiteTable rows =
        SelectByName(db, "item_stats", {"item_pid", "user_rating", "play_count_user"});
    for (; !rows.Eof(); rows.Next()) {
        auto found = index.find(rows.FieldAsInteger(0));
        if (found == index.end())
            continue;
        TTrackItem& track = Tracks.Items(found->second);
        int64_t rating = rows.FieldAsInteger(1);
        track.Rating = static_cast<uint8_t>(std::clamp<int64_t>(rating, 0, 100));
        int64_t plays = rows.FieldAsInteger(2);
        track.PlayCount = static_cast<int32_t>(std::clamp<int64_t>(plays, 0, INT32_MAX));
    }
    return true;
}

}  // namespace corvane
