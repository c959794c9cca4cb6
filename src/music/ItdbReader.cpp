// The itlp trio, read in this order: Library.itdb (tracks, genres, playlists and their
// entries), Locations.itdb (the file and size of each track) and Dynamic.itdb (ratings and play
// counts). The last two complete tracks the first one added, found by Pid.
#include <algorithm>
#include <optional>
#include <unordered_map>

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

// "SELECT *" tables are read by column name, so the columns a device adds do not matter.
struct TItemColumns {
    explicit TItemColumns(const TSQLiteTable& rows)
        : Pid(rows.GetFieldIndex("pid")),
          Title(rows.GetFieldIndex("title")),
          Artist(rows.GetFieldIndex("artist")),
          Album(rows.GetFieldIndex("album")),
          TotalTime(rows.GetFieldIndex("total_time_ms")),
          GenreId(rows.GetFieldIndex("genre_id")) {}
    unsigned Pid, Title, Artist, Album, TotalTime, GenreId;
};

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
    TSQLiteTable rows = db.GetTable("SELECT * FROM item");
    const TItemColumns column(rows);
    for (; !rows.Eof(); rows.Next()) {
        TTrackItem& track = Tracks.Add();
        track.SetReaderDefaults();
        track.Pid = rows.FieldAsInteger(column.Pid);
        track.Title = NameText(rows.FieldAsString(column.Title));
        track.Artist = NameText(rows.FieldAsString(column.Artist));
        track.Album = NameText(rows.FieldAsString(column.Album));
        int64_t duration = rows.FieldAsInteger(column.TotalTime);
        track.DurationMs = duration < 0 ? 0 : static_cast<uint32_t>(duration);
        track.DurationText = DurationText(track.DurationMs);
        if (int64_t genre = rows.FieldAsInteger(column.GenreId); genre != 0) {
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
    const int added = static_cast<int>(FItdbTrackCount);

    // Playlists: a failure here keeps the tracks and the playlists read so far.
    PlayLists.Clear();
    try {
        std::optional<int64_t> primary;
        {
            TSQLiteTable info = db.GetTable("SELECT primary_container_pid FROM db_info");
            if (!info.Eof() && !info.FieldIsNull(0))
                primary = info.FieldAsInteger(0);
        }
        TSQLiteTable containers = db.GetTable("SELECT * FROM container");
        const unsigned pidColumn = containers.GetFieldIndex("pid");
        const unsigned nameColumn = containers.GetFieldIndex("name");
        const unsigned kindsColumn = containers.GetFieldIndex("media_kinds");
        for (; !containers.Eof(); containers.Next()) {
            int64_t pid = containers.FieldAsInteger(pidColumn);
            TPlayListItem& playlist =
                primary && pid == *primary ? PlayLists.Insert() : PlayLists.Add();
            playlist.Pid = pid;
            playlist.Name = containers.FieldIsNull(nameColumn)
                                ? "Unknown"
                                : containers.FieldAsString(nameColumn);
            playlist.IsSmart = containers.FieldAsInteger(kindsColumn) == 0;
            playlist.Count = 0;
        }
    } catch (const ESQLiteException& error) {
        AddLog("Library.itdb: playlists: " + ErrorLine(error));
    }
    if (PlayLists.Count() <= 1)
        return added;

    // Entries of every playlist from index 1 on, in one pass over item_to_container: its row
    // order within a container is the order a query per container gives.
    std::unordered_map<int64_t, std::vector<size_t>> byPid;
    for (size_t i = 1; i < PlayLists.Count(); ++i)
        byPid[PlayLists.Items(i).Pid].push_back(i);
    try {
        for (TSQLiteTable entries =
                 db.GetTable("SELECT container_pid,item_pid FROM item_to_container");
             !entries.Eof(); entries.Next()) {
            auto found = byPid.find(entries.FieldAsInteger(0));
            if (found == byPid.end())
                continue;
            auto pid = static_cast<uint64_t>(entries.FieldAsInteger(1));
            for (size_t at : found->second) {
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
        TSQLiteTable rows = db.GetTable("SELECT * FROM base_location");
        const unsigned idColumn = rows.GetFieldIndex("id");
        const unsigned pathColumn = rows.GetFieldIndex("path");
        for (; !rows.Eof(); rows.Next()) {
            if (rows.FieldIsNull(pathColumn))
                continue;
            bases.try_emplace(static_cast<int32_t>(rows.FieldAsInteger(idColumn)),
                              rows.FieldAsString(pathColumn));
        }
    }

    const auto index = Tracks.PidIndex();
    std::vector<bool> located(Tracks.Count());
    size_t stray = 0;
    size_t repeated = 0;
    TSQLiteTable rows = db.GetTable("SELECT * FROM location");
    const unsigned pidColumn = rows.GetFieldIndex("item_pid");
    const unsigned sizeColumn = rows.GetFieldIndex("file_size");
    const unsigned baseColumn = rows.GetFieldIndex("base_location_id");
    const unsigned locationColumn = rows.GetFieldIndex("location");
    for (; !rows.Eof(); rows.Next()) {
        auto found = index.find(rows.FieldAsInteger(pidColumn));
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
        SetTrackSize(track, rows.FieldAsInteger(sizeColumn));
        std::string location = rows.FieldAsString(locationColumn);
        auto base = static_cast<int32_t>(rows.FieldAsInteger(baseColumn));
        if (base != 0) {
            auto path = bases.find(base);
            std::string prefix = path == bases.end() ? "/" : path->second + "/";
            if (rows.FieldIsNull(locationColumn)) {
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
    size_t end = std::min(FItdbFirstTrack + FItdbTrackCount, Tracks.Count());
    for (size_t i = FItdbFirstTrack; i < end; ++i) {
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
    TSQLiteTable rows = db.GetTable("SELECT * FROM item_stats");
    const unsigned pidColumn = rows.GetFieldIndex("item_pid");
    const unsigned ratingColumn = rows.GetFieldIndex("user_rating");
    const unsigned playsColumn = rows.GetFieldIndex("play_count_user");
    for (; !rows.Eof(); rows.Next()) {
        auto found = index.find(rows.FieldAsInteger(pidColumn));
        if (found == index.end())
            continue;
        TTrackItem& track = Tracks.Items(found->second);
        int64_t rating = rows.FieldAsInteger(ratingColumn);
        track.Rating = static_cast<uint8_t>(std::clamp<int64_t>(rating, 0, 100));
        int64_t plays = rows.FieldAsInteger(playsColumn);
        track.PlayCount = static_cast<int32_t>(std::clamp<int64_t>(plays, 0, INT32_MAX));
    }
    return true;
}

}  // namespace corvane
