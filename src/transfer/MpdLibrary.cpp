#include "transfer/MpdLibrary.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/Text.h"
#include "transfer/MpdConnection.h"

namespace corvane::mpd {
namespace {

namespace fs = std::filesystem;
using namespace itunes;

constexpr int32_t kLibraryPlaylistId = 1;
constexpr int kLibraryPlaylistKind = 1;

// Ids from an earlier run must not name this run's songs: each run has its own source id.
std::atomic<int32_t> gNextRunId{1};

// A folder named with a trailing "/" would otherwise keep an empty last component.
fs::path WithoutSlash(const fs::path& path) {
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

// The path of `path` below `root` ("" for the root itself), or nothing when it lies outside.
std::optional<std::string> RelativeBelow(const fs::path& path, const fs::path& root) {
    const fs::path relative = WithoutSlash(path).lexically_relative(WithoutSlash(root));
    if (relative.empty())
        return std::nullopt;
    std::string text = relative.generic_string();
    if (text == ".")
        return std::string();
    if (text == ".." || text.rfind("../", 0) == 0)
        return std::nullopt;
    while (!text.empty() && text.back() == '/')
        text.pop_back();
    return text;
}

bool Below(const std::string& uri, const std::string& folder) {
    return folder.empty() ||
           (uri.size() > folder.size() && uri.compare(0, folder.size(), folder) == 0 &&
            uri[folder.size()] == '/');
}

// What every object of one restore shares: the connection and the run's tables.
struct TMpdRun {
    explicit TMpdRun(TLibraryLog log) : Log(std::move(log)) {}

    TMpdConnection Server;
    TLibraryLog Log;
    const int32_t RunId = gNextRunId++;
    std::string MusicDir;                 // as the server names it, without a trailing "/"
    std::optional<std::string> DestRoot;  // the export's top folder below MusicDir
    std::vector<std::string> UpdatedRoots;
    std::unordered_set<std::string> Before;  // songs below UpdatedRoots before their update
    std::vector<std::string> Uris;           // track id - 1 -> URI
    std::unordered_map<std::string, int32_t> UriIds;
    std::vector<std::string> Playlists;  // playlist id - 2 -> stored name
    std::unordered_map<std::string, int32_t> PlaylistIds;
    bool RefusalLogged = false;
    bool StickerFailureLogged = false;

    void AddLog(const std::string& line) const {
        if (Log)
            Log(line);
    }

    // The URI of a local file, or nothing when MPD cannot know the file.
    std::optional<std::string> UriOf(const std::string& path) const {
        std::error_code error;
        const fs::path absolute = fs::absolute(path, error);
        std::optional<std::string> uri = RelativeBelow(absolute, MusicDir);
        if (!uri) {
            // Links on the way (a music folder that is a link) are judged by where they lead.
            const fs::path real = fs::weakly_canonical(absolute, error);
            const fs::path realRoot = fs::weakly_canonical(MusicDir, error);
            if (!error)
                uri = RelativeBelow(real, realRoot);
        }
        if (uri && uri->empty())
            return std::nullopt;  // the music directory itself is no song
        return uri;
    }

    // A song that this run's own update brought into the database is not one the library
    // held before: it must be added (and rated) like any other copy.
    bool BroughtInThisRun(const std::string& uri) const {
        for (const std::string& root : UpdatedRoots) {
            if (Below(uri, root) || uri == root)
                return Before.count(uri) == 0;
        }
        return false;
    }

    // One update per top folder and run: MPD adds nothing for a folder whose parent is not
    // in its database yet, so the whole top folder of the export is scanned at once.
    void EnsureUpdated(const std::string& uri) {
        std::string root;
        if (DestRoot && Below(uri, *DestRoot))
            root = *DestRoot;
        else
            root = uri.substr(0, uri.find('/'));
        for (const std::string& done : UpdatedRoots) {
            if (done == root || Below(root, done))
                return;
        }
        for (std::string& file : Server.ListFiles(root))
            Before.insert(std::move(file));
        Server.Update(root);
        UpdatedRoots.push_back(root);
    }

    // Playlist ids start after the library playlist's.
    TITObjectIDs PlaylistIdsOf(const std::string& name) {
        auto [found, added] =
            PlaylistIds.try_emplace(name, static_cast<int32_t>(Playlists.size() + 2));
        if (added)
            Playlists.push_back(name);
        return {RunId, found->second, 0, 0};
    }

    TITObjectIDs TrackIds(const std::string& uri) {
        auto [found, added] = UriIds.try_emplace(uri, static_cast<int32_t>(Uris.size() + 1));
        if (added)
            Uris.push_back(uri);
        return {RunId, kLibraryPlaylistId, found->second, found->second};
    }
};

class TMpdTrack : public IITFileOrCDTrack {
public:
    TMpdTrack(std::shared_ptr<TMpdRun> run, TMpdSong song)
        : Song(std::move(song)), FRun(std::move(run)) {}

    std::string Name() override { return Song.Title; }
    TITObjectIDs GetITObjectIDs() override { return FRun->TrackIds(Song.Uri); }
    int Kind() override { return ITTrackKindFile; }
    std::string Artist() override { return Song.Artist; }
    std::string Location() override { return FRun->MusicDir + "/" + Song.Uri; }
    // MPD's clients rate 0..10: 20 a star becomes 2 a star, a half star rounds up.
    void SetRating(int rating) override {
        Sticker("rating", std::to_string((std::clamp(rating, 0, 100) + 5) / 10));
    }
    void SetPlayedCount(int count) override { Sticker("playCount", std::to_string(count)); }

    const TMpdSong Song;

private:
    void Sticker(const std::string& name, const std::string& value) {
        try {
            FRun->Server.SetSticker(Song.Uri, name, value);
        } catch (const EITunesError& e) {
            // Once per run: a server without a sticker database refuses every one of them.
            if (!FRun->StickerFailureLogged)
                FRun->AddLog(std::string("MPD keeps no ratings or play counts: ") + e.what());
            FRun->StickerFailureLogged = true;
            throw;
        }
    }

    std::shared_ptr<TMpdRun> FRun;
};

class TSongList : public IITTrackCollection {
public:
    TSongList(std::shared_ptr<TMpdRun> run, std::vector<TMpdSong> songs)
        : FRun(std::move(run)), FSongs(std::move(songs)) {}

    int Count() override { return static_cast<int>(FSongs.size()); }
    std::shared_ptr<IITTrack> Item(int index) override {
        if (index < 1 || index > Count())
            return nullptr;
        return std::make_shared<TMpdTrack>(FRun, FSongs[static_cast<size_t>(index - 1)]);
    }
    std::shared_ptr<IITTrack> ItemByName(const std::string& name) override {
        for (const TMpdSong& song : FSongs) {
            if (song.Title == name)
                return std::make_shared<TMpdTrack>(FRun, song);
        }
        return nullptr;
    }

private:
    std::shared_ptr<TMpdRun> FRun;
    std::vector<TMpdSong> FSongs;
};

// The whole database, looked up by title only.
class TDatabaseTracks : public IITTrackCollection {
public:
    explicit TDatabaseTracks(std::shared_ptr<TMpdRun> run) : FRun(std::move(run)) {}

    int Count() override { throw EITunesError("MPD's database is not listed by position"); }
    std::shared_ptr<IITTrack> Item(int) override {
        throw EITunesError("MPD's database is not listed by position");
    }
    std::shared_ptr<IITTrack> ItemByName(const std::string& name) override {
        for (TMpdSong& song : FRun->Server.FindByTitle(name)) {
            if (!FRun->BroughtInThisRun(song.Uri))
                return std::make_shared<TMpdTrack>(FRun, std::move(song));
        }
        return nullptr;
    }

private:
    std::shared_ptr<TMpdRun> FRun;
};

// The update job behind an added file; its result is the song at the file's URI.
class TAddStatus : public IITOperationStatus {
public:
    TAddStatus(std::shared_ptr<TMpdRun> run, std::string uri)
        : FRun(std::move(run)), FUri(std::move(uri)) {}

    bool InProgress() override { return FRun->Server.Updating(); }
    std::shared_ptr<IITTrackCollection> Tracks() override {
        return std::make_shared<TSongList>(FRun, FRun->Server.FindByUri(FUri));
    }

private:
    std::shared_ptr<TMpdRun> FRun;
    std::string FUri;
};

class TDatabasePlaylist : public IITLibraryPlaylist {
public:
    explicit TDatabasePlaylist(std::shared_ptr<TMpdRun> run) : FRun(std::move(run)) {}

    std::string Name() override { return "Database"; }
    TITObjectIDs GetITObjectIDs() override { return {FRun->RunId, kLibraryPlaylistId, 0, 0}; }
    int Kind() override { return kLibraryPlaylistKind; }
    std::shared_ptr<IITTrackCollection> Tracks() override {
        return std::make_shared<TDatabaseTracks>(FRun);
    }
    std::shared_ptr<IITOperationStatus> AddFile(const std::string& path) override {
        std::optional<std::string> uri = FRun->UriOf(path);
        if (!uri) {
            if (!FRun->RefusalLogged)
                FRun->AddLog("MPD knows only files below its music directory " + FRun->MusicDir +
                             ": " + path + " is not added");
            FRun->RefusalLogged = true;
            return nullptr;
        }
        FRun->EnsureUpdated(*uri);
        return std::make_shared<TAddStatus>(FRun, *uri);
    }

private:
    std::shared_ptr<TMpdRun> FRun;
};

// A stored playlist. MPD creates one with its first entry, so a playlist that gets none
// never appears.
class TStoredPlaylist : public IITUserPlaylist {
public:
    TStoredPlaylist(std::shared_ptr<TMpdRun> run, std::string name, bool stored)
        : FRun(std::move(run)), FName(std::move(name)), FStored(stored) {}

    std::string Name() override { return FName; }
    TITObjectIDs GetITObjectIDs() override { return FRun->PlaylistIdsOf(FName); }
    int Kind() override { return ITPlaylistKindUser; }
    int SpecialKind() override { return 0; }
    bool Smart() override { return false; }
    // Read once, then kept up to date here: a playlist of n entries costs one listing, not n.
    std::shared_ptr<IITTrackCollection> Tracks() override {
        if (FStored && !FLoaded)
            FSongs = FRun->Server.PlaylistSongs(FName);
        FLoaded = true;
        return std::make_shared<TSongList>(FRun, FSongs);
    }
    void AddTrack(const std::shared_ptr<IITObject>& track) override {
        auto song = std::dynamic_pointer_cast<TMpdTrack>(track);
        if (!song)
            throw EITunesError("Only MPD's own songs go into its playlists");
        Tracks();
        FRun->Server.PlaylistAdd(FName, song->Song.Uri);
        FSongs.push_back(song->Song);
        FStored = true;
    }

private:
    std::shared_ptr<TMpdRun> FRun;
    const std::string FName;
    bool FStored;
    bool FLoaded = false;
    std::vector<TMpdSong> FSongs;
};

class TStoredPlaylists : public IITPlaylistCollection {
public:
    explicit TStoredPlaylists(std::vector<std::shared_ptr<IITPlaylist>> playlists)
        : FPlaylists(std::move(playlists)) {}
    int Count() override { return static_cast<int>(FPlaylists.size()); }
    std::shared_ptr<IITPlaylist> Item(int index) override {
        if (index < 1 || index > Count())
            return nullptr;
        return FPlaylists[static_cast<size_t>(index - 1)];
    }

private:
    std::vector<std::shared_ptr<IITPlaylist>> FPlaylists;
};

class TMpdSource : public IITSource {
public:
    explicit TMpdSource(std::shared_ptr<TMpdRun> run) : FRun(std::move(run)) {}
    std::string Name() override { return FRun->Server.Address(); }
    TITObjectIDs GetITObjectIDs() override { return {FRun->RunId, 0, 0, 0}; }
    std::shared_ptr<IITPlaylistCollection> Playlists() override {
        std::vector<std::shared_ptr<IITPlaylist>> playlists;
        for (std::string& name : FRun->Server.StoredPlaylists())
            playlists.push_back(std::make_shared<TStoredPlaylist>(FRun, std::move(name), true));
        return std::make_shared<TStoredPlaylists>(std::move(playlists));
    }

private:
    std::shared_ptr<TMpdRun> FRun;
};

class TMpdApp : public IiTunes {
public:
    explicit TMpdApp(std::shared_ptr<TMpdRun> run) : FRun(std::move(run)) {}

    std::shared_ptr<IITWindowCollection> Windows() override { return NoWindows(); }
    std::shared_ptr<IITLibraryPlaylist> LibraryPlaylist() override {
        return std::make_shared<TDatabasePlaylist>(FRun);
    }
    std::shared_ptr<IITSource> LibrarySource() override {
        return std::make_shared<TMpdSource>(FRun);
    }
    // A name made safe may meet a playlist stored by an earlier run: that one is taken, as
    // MPD cannot hold two of one name.
    std::shared_ptr<IITPlaylist> CreatePlaylist(const std::string& name) override {
        std::string safe = SafePlaylistName(name);
        const std::vector<std::string> stored = FRun->Server.StoredPlaylists();
        const bool exists = std::find(stored.begin(), stored.end(), safe) != stored.end();
        return std::make_shared<TStoredPlaylist>(FRun, std::move(safe), exists);
    }
    std::shared_ptr<IITObject> GetITObjectByID(int32_t sourceID, int32_t playlistID,
                                               int32_t trackID, int32_t databaseID) override {
        if (sourceID == FRun->RunId && playlistID > kLibraryPlaylistId && trackID == 0 &&
            databaseID == 0 && static_cast<size_t>(playlistID - 2) < FRun->Playlists.size()) {
            const std::string& name = FRun->Playlists[static_cast<size_t>(playlistID - 2)];
            const std::vector<std::string> stored = FRun->Server.StoredPlaylists();
            return std::make_shared<TStoredPlaylist>(
                FRun, name, std::find(stored.begin(), stored.end(), name) != stored.end());
        }
        if (sourceID != FRun->RunId || playlistID != kLibraryPlaylistId || trackID != databaseID ||
            trackID < 1 || static_cast<size_t>(trackID) > FRun->Uris.size())
            return nullptr;
        std::vector<TMpdSong> songs =
            FRun->Server.FindByUri(FRun->Uris[static_cast<size_t>(trackID - 1)]);
        if (songs.empty())
            return nullptr;
        return std::make_shared<TMpdTrack>(FRun, std::move(songs.front()));
    }
    std::string Version() override { return FRun->Server.ServerVersion(); }

private:
    std::shared_ptr<TMpdRun> FRun;
};

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    return home ? home : "";
}

// The configuration files in the order MPD itself looks for them; the first that exists is
// the one it reads.
std::vector<std::string> ConfigFiles() {
    const std::string home = HomeFolder();
    std::vector<std::string> files;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg)
        files.push_back(std::string(xdg) + "/mpd/mpd.conf");
    else if (!home.empty())
        files.push_back(home + "/.config/mpd/mpd.conf");
    if (!home.empty()) {
        files.push_back(home + "/.mpdconf");
        files.push_back(home + "/.mpd/mpd.conf");
    }
    files.push_back("/etc/mpd.conf");
    return files;
}

bool IsLocalTcp(const std::string& address) {
    for (const char* local : {"localhost:", "127.", "::1", "[::1]"}) {
        if (address.rfind(local, 0) == 0)
            return true;
    }
    return false;
}

// MPD tells its music directory only to clients on its local socket. A server on this
// machine reached over TCP reads one of the configuration files, which then says it.
std::string FindMusicDirectory(TMpdConnection& server) {
    std::string folder = server.MusicDirectory();
    if (!folder.empty() || !IsLocalTcp(server.Address()))
        return folder;
    for (const std::string& file : ConfigFiles()) {
        std::ifstream in(file);
        if (!in)
            continue;
        std::stringstream text;
        text << in.rdbuf();
        return ConfiguredMusicDirectory(text.str(), HomeFolder());
    }
    return {};
}

std::string UnknownMusicDirectory(const TMpdConnection& server) {
    return "MPD at " + server.Address() +
           " does not tell where its music directory is (it tells only clients on its local "
           "socket); set MPD_HOST to the socket's path";
}

}  // namespace

std::string ConfiguredMusicDirectory(const std::string& config, const std::string& home) {
    std::istringstream lines(config);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string text = Trim(line);
        const std::string key = "music_directory";
        if (text.compare(0, key.size(), key) != 0 || text.size() == key.size() ||
            (text[key.size()] != ' ' && text[key.size()] != '\t'))
            continue;
        std::string value = Trim(text.substr(key.size()));
        if (value.size() >= 2 && value.front() == '"') {
            const size_t end = value.find('"', 1);
            value = end == std::string::npos ? "" : value.substr(1, end - 1);
        }
        if (value == "~" || value.rfind("~/", 0) == 0)
            value = home + value.substr(1);
        return value;
    }
    return {};
}

std::string MpdUnavailableReason() {
    try {
        TMpdConnection server(1500);
        return FindMusicDirectory(server).empty() ? UnknownMusicDirectory(server) : "";
    } catch (const EITunesError& e) {
        return e.what();
    }
}

std::string SafePlaylistName(const std::string& name) {
    std::string safe;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/')
            safe += "\xE2\x88\x95";  // U+2215 DIVISION SLASH
        else if (byte < 0x20 || byte == 0x7F)
            safe += ' ';
        else
            safe += c;
    }
    safe = Trim(safe);
    return safe.empty() ? "Playlist" : safe;
}

std::shared_ptr<IiTunes> CreateMpdLibrary(const std::string& destFolder, TLibraryLog log) {
    auto run = std::make_shared<TMpdRun>(std::move(log));
    std::string folder = FindMusicDirectory(run->Server);
    if (folder.empty())
        throw EITunesError(UnknownMusicDirectory(run->Server));
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    run->MusicDir = folder;
    std::error_code error;
    std::optional<std::string> root = RelativeBelow(fs::absolute(destFolder, error), folder);
    if (root)
        run->DestRoot = root->substr(0, root->find('/'));
    return std::make_shared<TMpdApp>(run);
}

}  // namespace corvane::mpd
