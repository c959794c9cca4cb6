// The music library of one device: a flat track list and playlists that refer to tracks by
// Pid, filled by the readers of the device's music databases.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/LogText.h"
#include "base/MemoryStream.h"
#include "base/RecordList.h"
#include "music/ArtworkIndex.h"
#include "platform/NodeArena.h"

namespace corvane {

class TIpodDevice;
class TByteReader;
class TChunkDamage;
struct TInflatedITunesDb;

enum TMediaKind : uint8_t { mkMusic = 0, mkMovie = 1, mkBook = 2, mkTone = 3, mkVoiceMemo = 4 };

struct TTrackItem {
    bool Checked = false;
    std::string DestPath;
    int64_t Pid = 0;
    int64_t FileSize = 0;
    uint32_t DurationMs = 0;
    std::string Location;
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string Genre;
    std::string DurationText;
    std::string SizeText;
    int32_t ITunesSourceId = 0;
    int32_t ITunesPlaylistId = 0;
    int32_t ITunesTrackId = 0;
    int32_t ITunesDatabaseId = 0;
    TMediaKind Kind = mkMusic;
    int32_t TransferState = 0;
    // Where the database holds them; 0 or empty otherwise.
    int32_t TrackNumber = 0;
    int32_t DiscNumber = 0;
    int32_t Year = 0;
    std::string AlbumArtist;
    // Read where the database has them; plays, skips and ratings made on the device since its
    // last sync are merged in when the library is loaded. They lie together with the cover's
    // fields below: that merge and the linking of the covers walk every track of the library,
    // and each track then costs the processor a line or two of memory instead of four or five.
    uint8_t Rating = 0;  // 0..100, 20 a star
    int32_t PlayCount = 0;
    int32_t SkipCount = 0;
    int64_t LastPlayed = 0;  // seconds since 1970-01-01 UTC; 0 = never played
    uint32_t BookmarkMs = 0;
    uint64_t PersistentId = 0;  // the database's 64-bit identity (iTunesDB mhit dbid)
    // Album art: the iTunesDB's artwork link (with PersistentId) that find the track's cover, and
    // the cover's index in the library's Artwork (-1 none).
    uint32_t ArtworkLink = 0;
    int32_t Cover = -1;

    // The state every reader gives a track it adds, before filling it.
    void SetReaderDefaults() {
        Checked = true;
        ITunesSourceId = -1;
        ITunesPlaylistId = 0;
        ITunesTrackId = 0;
        ITunesDatabaseId = 0;
        TransferState = -1;
    }
};

// A library's tracks take their memory in bulk: one node each, and tens of thousands of them.
class TTrackList : public TRecordList<TTrackItem, TArenaAllocator<TTrackItem>> {
public:
    void Clear();
    // Tick or clear a track, keeping the counts; an index that names no track does nothing.
    void Check(int index);
    void Uncheck(int index);
    // Memory for about count more tracks, mapped in beside the reader that adds them; EndReserve
    // when they are added.
    void Reserve(size_t count);
    void EndReserve() { FItems.get_allocator().Arena()->EndReserve(); }

    int32_t CheckedCount = 0;
    int64_t CheckedSize = 0;

    // Pid -> index of the first track with that Pid in list order.
    std::unordered_map<int64_t, int> PidIndex() const;
};

struct TPlayListItem {
    int64_t Pid = 0;
    int32_t Count = 0;
    std::string Name;
    std::vector<uint64_t> TrackPids;
    bool IsSmart = false;
    bool IsVoiceMemos = false;
    bool IsOnTheGo = false;     // made on the device itself, not yet synced
    uint64_t PersistentId = 0;  // the database's 64-bit identity (iTunesDB mhyp), 0 = none

    uint64_t TrackPid(size_t index) const { return TrackPids.at(index); }
};

class TPlayLists : public TRecordList<TPlayListItem> {
public:
    TPlayListItem& Insert() { return FItems.emplace_front(); }  // at index 0
    void Remove(int index) {
        if (Has(index))
            FItems.erase(FItems.begin() + index);
    }
};

class TIpodMusicDb {
public:
    explicit TIpodMusicDb(TIpodDevice& device) : Device(device) {}
    TIpodMusicDb(const TIpodMusicDb&) = delete;
    TIpodMusicDb& operator=(const TIpodMusicDb&) = delete;

    TLogText Log;
    TTrackList Tracks;
    TPlayLists PlayLists;
    int64_t TotalSize = 0;
    TIpodDevice& Device;
    bool NeedBooks = false;
    bool NeedRingtones = false;

    // Export settings and state: destination root (ending in "/"), naming scheme 0..7, the
    // stop request set by the worker, and the per-track progress report.
    std::string DestFolder;
    uint8_t NamingScheme = 1;
    // The scheme that names files by NameTemplate (TTrackNameTemplate) instead of a fixed order.
    static constexpr uint8_t kTemplateScheme = 8;
    std::string NameTemplate;
    std::atomic<bool> Cancelled{false};
    std::function<void(const std::string& name)> OnProgress;
    // The expected bytes of the item OnProgress announces (0 when unknown), read inside it.
    uint64_t ProgressItemSize = 0;
    // After the copies: cover.jpg per album folder, and covers embedded into the copies.
    bool CoverFiles = false;
    bool EmbedCovers = false;

    void AddLog(const std::string& line) { Log.AddLog(line); }
    static std::string DurationText(uint32_t ms);
    static TMediaKind KindOfExtension(const std::string& ext);
    // The extension of a location as the kind rule takes it: from the last "." after the last
    // "\" or ":" ("/" does not end the search).
    static std::string KindExtension(const std::string& location);

    // Loading: the best database the device carries, with fallbacks and log lines.
    bool Load(bool preferNewDatabase);
    // Seconds east of UTC of the device's clock, in which iTunesDB and the files beside it
    // keep their times; Load sets it before reading them.
    int32_t DeviceClockShift = 0;

    // Album art of the tracks read (ArtworkLoader.cpp): ArtworkDB for tracks from an iTunesDB,
    // the artwork tables of MediaLibrary.sqlitedb for a mobile device's; links Tracks to it.
    TArtworkIndex Artwork;
    void LoadArtwork();
    // LoadArtwork's reading of ArtworkDB alone, for tracks from an iTunesDB: true when there was
    // one, and Artwork now holds what of it could be read; the tracks are not linked yet.
    bool ReadTrackArtworkDb();
    // The MediaLibrary's artwork of its items, read while the staged database is open; a
    // database error leaves the tracks without covers, with a log line. Returns the number of
    // tracks given a cover.
    int ReadMediaLibraryArtwork(const std::string& fileName);
    bool ReadSQLiteLibrary();

    // iTunesDB / iTunesCDB
    bool ReadITunesDatabase();
    // The same over bytes already in memory, so that tools and fuzzers need no device. Inflates
    // first when compressed (into a buffer of its own: the bytes are only read).
    bool ReadITunesBytes(TMemoryStream& stream, bool compressed);
    bool ReadITunesBytes(const uint8_t* data, size_t size, bool compressed);
    // Replaces the zlib body behind the mhbd header by its inflated bytes. False, with a log
    // line, when the body is damaged or truncated or inflates past InflateLimit.
    bool InflateCompressedDatabase(TMemoryStream& stream);
    // The same into out, leaving the compressed bytes alone.
    bool InflateITunesCdb(const uint8_t* data, size_t size, TInflatedITunesDb& out);
    // What any compressed body may inflate to, whatever its header says.
    static constexpr size_t kMaxInflatedITunesDb = size_t{256} << 20;
    // The largest database a device's library makes (a plain iTunesDB is refused beyond it
    // too): about half a million tracks, more than any device holds.
    static constexpr size_t kLargestITunesDb = size_t{1} << 30;
    // How far a body may inflate when its header announces `announced` bytes of data sets
    // (its total length less its header length; 0 when it announces none): what the header
    // announces or kMaxInflatedITunesDb, whichever is more, never past kLargestITunesDb.
    static size_t InflateLimit(uint64_t announced);
    // The walk over the mhbd and its data sets.
    bool WalkITunesDatabase(const TByteReader& file);
    // `data` ends where the data set ends; positions are offsets into the whole database.
    bool ReadTrackDataset(const TByteReader& data, size_t datasetStart, uint32_t headerLength);
    bool ReadPlaylistDataset(const TByteReader& data, size_t datasetStart, uint32_t headerLength);
    // One data object (mhod) of a track or playlist.
    struct TDataObject {
        uint32_t Length = 0;  // its total length; 0 when it is not an mhod or is damaged
        uint32_t Type = 0;
        std::optional<std::string> Text{};  // for types below 15
        bool Damaged = false;               // `damage` says why
    };
    // The data object at position; what is wrong with it goes to `damage`.
    static TDataObject ReadDataObject(const TByteReader& data, size_t position,
                                      TChunkDamage& damage);
    // The same with the string left where it lies, for a reader that converts it straight into
    // its record: a string object's UTF-16 bytes up to its first U+0000 (Chars null for other
    // types).
    struct TDataObjectPlace {
        uint32_t Length = 0;
        uint32_t Type = 0;
        bool Damaged = false;
        const uint8_t* Chars = nullptr;
        size_t CharBytes = 0;
    };
    static TDataObjectPlace LocateDataObject(const TByteReader& data, size_t position,
                                             TChunkDamage& damage);

    // What the device keeps beside iTunesDB, read after it (SinceLastSync.cpp and
    // OnTheGoPlaylists.cpp); the files stay on the device for its next sync. Plays, skips and
    // ratings made on the device since then are merged into the tracks; the result is the
    // number of tracks they changed.
    // Given covers, the same walk over the tracks gives each its cover (as TArtworkIndex::Link).
    int MergePlaysSinceSync(const TArtworkIndex* covers = nullptr);
    // The device's On-The-Go playlists, after its own ones; the result is how many playlists
    // were added, replaced or removed (deleted on the device).
    int ReadOnTheGoPlaylists();

    // MediaLibrary.sqlitedb; throws ESQLiteException on database errors.
    int ReadMediaLibrary(const std::string& fileName);

    // Library.itdb, Locations.itdb, Dynamic.itdb; throw ESQLiteException on database errors.
    int ReadItdbLibrary(const std::string& fileName);
    bool ReadItdbLocations(const std::string& fileName);
    bool ReadItdbStats(const std::string& fileName);

    // Property lists and the recordings folder.
    void ReadRingtones();
    void ReadBooks(bool purchased);
    int ReadVoiceMemos();
    // The walkers behind ReadRingtones and ReadBooks, over an XML property list already in
    // memory: no device needed. They add tracks and log lines alike; result: tracks added.
    int ReadRingtonesXml(const std::string& xml);
    int ReadBooksXml(const std::string& xml, bool purchased);
    // Books, tones and memos whose size no list gave get the size of their device file (or
    // folder), asked of the device without reading the files.
    void SizeListedItems();

    // Export of the checked tracks into DestFolder (TrackExport.cpp and its neighbours).
    int Export();
    // Tracks the running or last export failed to copy; it logs the first kMaxFailureLines.
    int ExportFailures = 0;
    static constexpr int kMaxFailureLines = 40;
    // Runs in place of the pause before the single retry after a transient copy error (EIO);
    // unset, the export sleeps kRetryDelayMs. Tests shorten it.
    static constexpr int kRetryDelayMs = 3000;
    std::function<void()> OnRetryWait;
    // The base path (no extension) of a track under a naming scheme 0..7 or kTemplateScheme
    // (any other value acts as 1); scheme 0 and a template with folders create the folders
    // first and give an empty path, with a log entry, when they cannot (or when the template
    // is not valid).
    std::string TrackFileBase(int index, uint8_t scheme);
    // One file-name component: at most 41 UTF-16 units, trimmed, "Unknown" + suffix when
    // empty, and nothing that could name another folder or leave the destination.
    static std::string NameComponent(const std::string& text, const std::string& suffix);
    // The character rules of NameComponent alone (no length limit, no placeholder): unsafe
    // characters become "_", blanks at the ends go, a name of only dots has them replaced.
    static std::string SafeNameText(const std::string& text);
    // The extension of a book's device path, or ".epub".
    static std::string BookExtension(const std::string& location);
    // Packs a copied book folder (no trailing "/") into one archive named archiveBase + ext
    // (or archiveBase_1 + ext ...), never replacing another file; an existing archive of the
    // same size is kept instead. The archive is written beside folder first, so archiveBase
    // must be on the same file system. 0 with the archive's path, or a failure code
    // (LocalCopyCode).
    int ZipBookFolder(const std::string& folder, const std::string& archiveBase,
                      const std::string& ext, std::string& archive);
    // Moves a copied book folder to the trash, only when it lies below DestFolder.
    bool RemoveCopiedFolder(const std::string& folderPath);
    // The folder proposed when the user has none saved (the user's music folder); empty when
    // there is none.
    std::string DefaultDestination() const;
    // Accepts a chosen folder as DestFolder (true), or replaces it by the message to show.
    bool PrepareDestination(std::string& folder);

    // Restore of the copied tracks and the playlists into the media library
    // (src/transfer/ITunesRestore.cpp).
    int RestoreToITunes();
    // The same against the backend and with the pauses that the hooks give; the hooks type is
    // defined beside the automation interface (transfer/iTunesLib_TLB.h).
    struct TRestoreHooks;
    int RestoreToITunes(const TRestoreHooks& hooks);

private:
    // Helpers of the SQLite readers (MediaLibraryReader.cpp, ItdbReader.cpp).
    // Only our own staged copy may be opened read-write; any other file, above all a disk-mode
    // device's own database, is opened without writing to it.
    bool IsStagedCopy(const std::string& fileName) const;
    // Sets FileSize and SizeText and adds the size to TotalSize (and CheckedSize when the
    // track is checked); a negative size counts as 0 and the sums saturate.
    void SetTrackSize(TTrackItem& track, int64_t fileSize);
    // A name made only of blanks is shown and exported as an empty name.
    static std::string NameText(std::string text);
    // What NameText reads as no name: blanks only.
    static bool IsBlankName(std::string_view text);
    // The tracks the last ReadItdbLibrary added, which ReadItdbLocations completes.
    int FItdbFirstTrack = 0;
    int FItdbTrackCount = 0;
};

}  // namespace corvane
