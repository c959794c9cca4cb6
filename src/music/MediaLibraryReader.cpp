// MediaLibrary.sqlitedb: tracks from item with item_extra and item_stats, names from the lookup
// tables, playlists from container and the entry list of the database's era (container_items
// blobs, later container_item rows, before both a plain item_to_container table).
#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <unordered_map>

#include "base/ByteReader.h"
#include "base/Text.h"
#include "device/iPodDev.h"
#include "music/SQLiteWrap.h"
#include "music/iPodMusic.h"

namespace corvane {

namespace {

// Names by id, where ids match when SQLite gives the same text for them. An integer matches
// by value, which is the same thing and spares turning every id of every row into text.
class TNames {
public:
    // False when the id is there already.
    bool Add(const TSQLiteTable& rows, unsigned column, std::string name) {
        if (auto number = IntegerOf(rows, column)) {
            return FByNumber.try_emplace(*number, std::move(name)).second;
        }
        return FByText.try_emplace(rows.FieldAsString(column), std::move(name)).second;
    }
    const std::string& Find(const TSQLiteTable& rows, unsigned column) const {
        static const std::string kNone;
        if (auto number = IntegerOf(rows, column)) {
            auto found = FByNumber.find(*number);
            return found == FByNumber.end() ? kNone : found->second;
        }
        auto found = FByText.find(rows.FieldAsString(column));
        return found == FByText.end() ? kNone : found->second;
    }

private:
    // The value when the column holds an integer, or a text that is exactly an integer's.
    static std::optional<int64_t> IntegerOf(const TSQLiteTable& rows, unsigned column) {
        int type = rows.FieldType(column);
        if (type == SQLITE_INTEGER)
            return rows.FieldAsInteger(column);
        if (type != SQLITE_TEXT)
            return std::nullopt;
        std::string text = rows.FieldAsString(column);
        std::optional<int64_t> number = ParseInt64(text);
        if (number && std::to_string(*number) == text)
            return number;
        return std::nullopt;
    }

    std::unordered_map<int64_t, std::string> FByNumber;
    std::unordered_map<std::string, std::string> FByText;
};

// The item columns; the last one, remote_location_id, is named only when the table has it.
constexpr const char* kItemColumns =
    "SELECT item.item_pid,item.item_artist_pid,item.album_pid,item.genre_id,"
    "item.base_location_id,item_extra.title,item_extra.location,item_extra.file_size,"
    "item_extra.total_time_ms,item_stats.play_count_user,item_stats.user_rating,";
constexpr const char* kItemTables =
    " FROM item,item_extra,item_stats WHERE item.item_pid=item_extra.item_pid AND "
    "item.item_pid=item_stats.item_pid";
// An item kept in the cloud: a remote location and none of the local base locations.
constexpr int64_t kFirstRemoteLocation = 50;
constexpr int64_t kFirstLocalBase = 250;

bool HasColumn(TSQLiteDatabase& db, const std::string& table, const std::string& column) {
    TSQLiteTable rows =
        db.GetTable("SELECT 1 FROM pragma_table_info('" + table + "') WHERE name='" + column + "'");
    return !rows.Eof();
}

bool ItemHasRemoteLocation(TSQLiteDatabase& db) {
    return HasColumn(db, "item", "remote_location_id");
}

// The numbers that naming templates use, named only where the era's tables have them.
std::string NumberColumns(TSQLiteDatabase& db) {
    std::string columns;
    for (const auto& [table, column] : {std::pair{"item", "track_number"},
                                        {"item", "disc_number"},
                                        {"item_extra", "year"},
                                        {"item", "album_artist_pid"}}) {
        columns += ",";
        columns += HasColumn(db, table, column) ? std::string(table) + "." + column : "0";
    }
    return columns;
}

int32_t TagNumber(int64_t value) {
    return value > 0 && value <= 99999 ? static_cast<int32_t>(value) : 0;
}

constexpr int kVoiceMemosKind = 17;

// The three lines of a database error as one log line.
std::string ErrorLine(const std::exception& error) {
    std::string text = error.what();
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.replace(at, 2, " ");
    }
    return text;
}

// A lookup table of one era may be missing from another; its names are not worth the whole
// library, so a missing table or a failing query leaves the names read so far, with a log line.
TNames ReadNames(TSQLiteDatabase& db, TIpodMusicDb& music, const std::string& table,
                 const std::string& sql) {
    TNames names;
    size_t duplicates = 0;
    try {
        if (!db.TableExists(table)) {
            music.AddLog("MediaLibrary: no " + table + " table");
            return names;
        }
        for (TSQLiteTable rows = db.GetTable(sql); !rows.Eof(); rows.Next()) {
            // The first row of an id wins; a second one cannot come from the device.
            if (!names.Add(rows, 0, rows.FieldAsString(1)))
                ++duplicates;
        }
    } catch (const ESQLiteException& error) {
        music.AddLog("MediaLibrary: " + table + ": " + ErrorLine(error));
    }
    if (duplicates > 0) {
        music.AddLog("MediaLibrary: " + std::to_string(duplicates) + " repeated ids in " + table);
    }
    return names;
}

// The first playlist with each Pid, from index `from` on.
std::unordered_map<int64_t, int> PlaylistIndex(const TPlayLists& lists, int from) {
    std::unordered_map<int64_t, int> index;
    index.reserve(static_cast<size_t>(lists.Count()));
    for (int i = from; i < lists.Count(); ++i)
        index.try_emplace(lists.Items(i).Pid, i);
    return index;
}

// Appends the entries of an item_pid_data blob: signed 64-bit little-endian pids with no header
// or count. Returns false when trailing bytes do not make a whole entry (they are dropped).
bool AppendPackedPids(std::span<const uint8_t> data, TPlayListItem& playlist) {
    TByteReader reader(data);
    size_t whole = data.size() / 8;
    playlist.TrackPids.reserve(playlist.TrackPids.size() + whole);
    for (size_t offset = 0; reader.Has(offset, 8); offset += 8) {
        playlist.TrackPids.push_back(*reader.ReadU64(offset));
    }
    playlist.Count = static_cast<int32_t>(playlist.TrackPids.size());
    return data.size() % 8 == 0;
}

int64_t SaturatingAdd(int64_t sum, int64_t value) {
    if (value > 0 && sum > std::numeric_limits<int64_t>::max() - value) {
        return std::numeric_limits<int64_t>::max();
    }
    return sum + value;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Shared by the SQLite readers

bool TIpodMusicDb::IsStagedCopy(const std::string& fileName) const {
    return Device.IsIos() && !Device.WorkFile().empty() && fileName == Device.WorkFile();
}

void TIpodMusicDb::SetTrackSize(TTrackItem& track, int64_t fileSize) {
    track.FileSize = fileSize < 0 ? 0 : fileSize;
    track.SizeText = TIpodDevice::FormatSize(track.FileSize);
    TotalSize = SaturatingAdd(TotalSize, track.FileSize);
    if (track.Checked)
        Tracks.CheckedSize = SaturatingAdd(Tracks.CheckedSize, track.FileSize);
}

bool TIpodMusicDb::IsBlankName(std::string_view text) {
    for (char c : text) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            return false;
    }
    return true;
}

std::string TIpodMusicDb::NameText(std::string text) {
    if (IsBlankName(text))
        return {};
    return text;
}

// ---------------------------------------------------------------------------------------------

int TIpodMusicDb::ReadMediaLibrary(const std::string& fileName) {
    TSQLiteDatabase db(fileName,
                       IsStagedCopy(fileName) ? TSQLiteOpen::ReadWrite : TSQLiteOpen::ReadOnly);
    if (db.CompanionsSkipped()) {
        AddLog("MediaLibrary: the changes in its -wal file could not be read");
    }
    const TNames genres = ReadNames(db, *this, "genre", "SELECT genre_id,genre FROM genre");
    const TNames albums = ReadNames(db, *this, "album", "SELECT album_pid,album FROM album");
    const TNames bases =
        ReadNames(db, *this, "base_location", "SELECT base_location_id,path FROM base_location");
    const TNames artists =
        ReadNames(db, *this, "item_artist", "SELECT item_artist_pid,item_artist FROM item_artist");
    // Album artists only name files; a database without them loses nothing worth a log line.
    const TNames albumArtists =
        db.TableExists("album_artist")
            ? ReadNames(db, *this, "album_artist",
                        "SELECT album_artist_pid,album_artist FROM album_artist")
            : TNames();

    // The track list itself: without it there is nothing to show, so its errors are raised.
    int added = 0;
    int cloudOnly = 0;
    const std::string itemSql = std::string(kItemColumns) +
                                (ItemHasRemoteLocation(db) ? "item.remote_location_id" : "0") +
                                NumberColumns(db) + kItemTables;
    for (TSQLiteTable rows = db.GetTable(itemSql); !rows.Eof(); rows.Next()) {
        std::string location = rows.FieldAsString(6);
        const bool inCloud = rows.FieldAsInteger(11) >= kFirstRemoteLocation &&
                             rows.FieldAsInteger(4) < kFirstLocalBase;
        if (location.empty() || inCloud) {
            ++cloudOnly;  // no file on the device to copy
            continue;
        }
        TTrackItem& track = Tracks.Add();
        track.SetReaderDefaults();
        track.Pid = rows.FieldAsInteger(0);
        track.Artist = NameText(artists.Find(rows, 1));
        track.Album = NameText(albums.Find(rows, 2));
        track.Genre = NameText(genres.Find(rows, 3));
        const std::string& base = bases.Find(rows, 4);
        track.Title = NameText(rows.FieldAsString(5));
        track.Kind = KindOfExtension(KindExtension(location));
        track.Location = base + "/" + location;
        SetTrackSize(track, rows.FieldAsInteger(7));
        int64_t duration = rows.FieldAsInteger(8);
        track.DurationMs = duration < 0 ? 0 : static_cast<uint32_t>(duration);
        track.DurationText = DurationText(track.DurationMs);
        int64_t plays = rows.FieldAsInteger(9);
        track.PlayCount = static_cast<int32_t>(std::clamp<int64_t>(plays, 0, INT32_MAX));
        int64_t rating = rows.FieldAsInteger(10);
        track.Rating = static_cast<uint8_t>(std::clamp<int64_t>(rating, 0, 100));
        track.TrackNumber = TagNumber(rows.FieldAsInteger(12));
        track.DiscNumber = TagNumber(rows.FieldAsInteger(13));
        track.Year = TagNumber(rows.FieldAsInteger(14));
        if (rows.FieldAsInteger(15) != 0)
            track.AlbumArtist = NameText(albumArtists.Find(rows, 15));
        if (track.Kind == mkBook)
            NeedBooks = false;
        if (track.Kind == mkTone)
            NeedRingtones = false;
        ++Tracks.CheckedCount;
        ++added;
    }
    if (cloudOnly > 0)
        AddLog("MediaLibrary: " + std::to_string(cloudOnly) +
               (cloudOnly == 1 ? " item is" : " items are") +
               " only in the cloud (no file on the device) and not listed");

    // Playlists: a failure here keeps the tracks and the playlists read so far.
    PlayLists.Clear();
    bool hasPrimary = false;
    try {
        std::optional<int64_t> primary;
        {
            TSQLiteTable info = db.GetTable("SELECT primary_container_pid FROM db_info");
            if (!info.Eof() && !info.FieldIsNull(0))
                primary = info.FieldAsInteger(0);
        }
        TSQLiteTable rows = db.GetTable(
            "SELECT container_pid,distinguished_kind,name,smart_is_dynamic,smart_is_filtered,"
            "smart_limit_kind FROM container");
        for (; !rows.Eof(); rows.Next()) {
            int64_t pid = rows.FieldAsInteger(0);
            bool isPrimary = primary && pid == *primary;
            TPlayListItem& playlist = isPrimary ? PlayLists.Insert() : PlayLists.Add();
            hasPrimary |= isPrimary;
            playlist.IsVoiceMemos = rows.FieldAsInteger(1) == kVoiceMemosKind;
            playlist.Pid = pid;
            playlist.Name = rows.FieldIsNull(2) ? "Unknown" : rows.FieldAsString(2);
            playlist.IsSmart = rows.FieldAsInteger(3) != 0 || rows.FieldAsInteger(4) != 0 ||
                               rows.FieldAsInteger(5) != 0;
            playlist.Count = 0;
        }
    } catch (const ESQLiteException& error) {
        AddLog("MediaLibrary: playlists: " + ErrorLine(error));
    }
    if (PlayLists.Count() <= 1)
        return added;

    // Entries: each row goes to the first playlist with its container pid; the library
    // playlist at index 0 is never filled.
    auto index = PlaylistIndex(PlayLists, hasPrimary ? 1 : 0);
    size_t broken = 0;
    try {
        if (db.TableExists("container_items")) {
            TSQLiteTable rows =
                db.GetTable("SELECT container_pid,item_pid_data FROM container_items");
            for (; !rows.Eof(); rows.Next()) {
                auto found = index.find(rows.FieldAsInteger(0));
                if (found == index.end())
                    continue;
                TPlayListItem& playlist = PlayLists.Items(found->second);
                if (!AppendPackedPids(rows.FieldAsBytes(1), playlist))
                    ++broken;
            }
        } else {
            // Later eras keep one row per entry; before the blobs, item_to_container was a
            // plain table (later a virtual one that stock SQLite cannot read).
            std::string sql;
            if (db.TableExists("container_item")) {
                sql =
                    "SELECT container_pid,item_pid FROM container_item "
                    "ORDER BY container_pid,position,container_item_pid";
            } else if (std::string create = db.TableSql("item_to_container");
                       !create.empty() && !StartsWithText(create, "CREATE VIRTUAL")) {
                sql =
                    "SELECT container_pid,item_pid FROM item_to_container "
                    "ORDER BY container_pid,physical_order";
            }
            if (sql.empty()) {
                AddLog("MediaLibrary: no playlist entries table");
                return added;
            }
            for (TSQLiteTable rows = db.GetTable(sql); !rows.Eof(); rows.Next()) {
                auto found = index.find(rows.FieldAsInteger(0));
                if (found == index.end())
                    continue;
                TPlayListItem& playlist = PlayLists.Items(found->second);
                playlist.TrackPids.push_back(static_cast<uint64_t>(rows.FieldAsInteger(1)));
                playlist.Count = static_cast<int32_t>(playlist.TrackPids.size());
            }
        }
    } catch (const ESQLiteException& error) {
        AddLog("MediaLibrary: playlist entries: " + ErrorLine(error));
    }
    if (broken > 0) {
        AddLog("MediaLibrary: " + std::to_string(broken) +
               " playlist entry lists end in a partial entry");
    }
    return added;
}

}  // namespace corvane
