#include "transfer/MpdConnection.h"

#include <cstdlib>
#include <cstring>

#include <mpd/client.h>

#include "transfer/iTunesLib_TLB.h"

namespace corvane::mpd {
namespace {

using itunes::EITunesError;

struct TSongFree {
    void operator()(mpd_song* song) const { mpd_song_free(song); }
};
struct TStatusFree {
    void operator()(mpd_status* status) const { mpd_status_free(status); }
};
struct TPlaylistFree {
    void operator()(mpd_playlist* playlist) const { mpd_playlist_free(playlist); }
};

std::string Tag(const mpd_song* song, mpd_tag_type type) {
    const char* value = mpd_song_get_tag(song, type, 0);
    return value ? value : "";
}

// Where the client library looks, in words, for the message when nothing answers.
std::string SearchedPlaces() {
    const char* host = std::getenv("MPD_HOST");
    const char* port = std::getenv("MPD_PORT");
    if (host == nullptr || *host == '\0')
        return port ? std::string("the default socket and localhost:") + port
                    : "the default socket and localhost:6600";
    std::string where = host;
    // "password@host": the password is nobody else's business; "@name" is an abstract socket.
    if (const size_t at = where.find('@'); at != std::string::npos && at > 0)
        where = where.substr(at + 1);
    if (!where.empty() && where[0] != '/' && where[0] != '@')
        where += std::string(":") + (port ? port : "6600");
    return where;
}

}  // namespace

void TMpdConnection::TFree::operator()(mpd_connection* connection) const {
    mpd_connection_free(connection);
}

TMpdConnection::TMpdConnection(unsigned timeoutMs)
    : FConnection(mpd_connection_new(nullptr, 0, timeoutMs)) {
    if (!FConnection)
        throw EITunesError("Out of memory while connecting to MPD");
    if (mpd_connection_get_error(FConnection.get()) != MPD_ERROR_SUCCESS) {
        const std::string reason = mpd_connection_get_error_message(FConnection.get());
        throw EITunesError("No MPD server answers at " + SearchedPlaces() + " (" + reason + ")");
    }
    FAddress = SearchedPlaces();
    if (const mpd_settings* settings = mpd_connection_get_settings(FConnection.get())) {
        if (const char* host = mpd_settings_get_host(settings)) {
            FAddress = host;
            if (host[0] != '/' && host[0] != '@')
                FAddress += ":" + std::to_string(mpd_settings_get_port(settings));
        }
    }
}

TMpdConnection::~TMpdConnection() = default;

void TMpdConnection::Check(bool ok, const std::string& what) {
    if (ok)
        return;
    mpd_connection* connection = FConnection.get();
    std::string reason = mpd_connection_get_error_message(connection);
    if (reason.empty())
        reason = "no answer";
    // A refusal of one command leaves the connection usable; a broken line does not.
    mpd_connection_clear_error(connection);
    throw EITunesError("MPD " + what + ": " + reason);
}

std::string TMpdConnection::ServerVersion() const {
    const unsigned* version = mpd_connection_get_server_version(FConnection.get());
    if (version == nullptr)
        return "MPD";
    return "MPD protocol " + std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
           std::to_string(version[2]);
}

std::string TMpdConnection::MusicDirectory() {
    mpd_connection* connection = FConnection.get();
    Check(mpd_send_command(connection, "config", nullptr), "config");
    std::string folder;
    while (mpd_pair* pair = mpd_recv_pair(connection)) {
        if (std::strcmp(pair->name, "music_directory") == 0)
            folder = pair->value;
        mpd_return_pair(connection, pair);
    }
    if (!mpd_response_finish(connection)) {
        if (mpd_connection_get_error(connection) != MPD_ERROR_SERVER)
            Check(false, "config");
        mpd_connection_clear_error(connection);  // refused: not a local client
        return {};
    }
    return folder;
}

std::vector<TMpdSong> TMpdConnection::ReceiveSongs(const std::string& what) {
    mpd_connection* connection = FConnection.get();
    std::vector<TMpdSong> songs;
    while (mpd_song* received = mpd_recv_song(connection)) {
        std::unique_ptr<mpd_song, TSongFree> song(received);
        songs.push_back({mpd_song_get_uri(song.get()), Tag(song.get(), MPD_TAG_TITLE),
                         Tag(song.get(), MPD_TAG_ARTIST)});
    }
    Check(mpd_response_finish(connection), what);
    return songs;
}

std::vector<TMpdSong> TMpdConnection::FindByTitle(const std::string& title) {
    mpd_connection* connection = FConnection.get();
    Check(mpd_search_db_songs(connection, true) &&
              mpd_search_add_tag_constraint(connection, MPD_OPERATOR_DEFAULT, MPD_TAG_TITLE,
                                            title.c_str()) &&
              mpd_search_commit(connection),
          "find title");
    return ReceiveSongs("find title");
}

std::vector<TMpdSong> TMpdConnection::FindByUri(const std::string& uri) {
    mpd_connection* connection = FConnection.get();
    Check(mpd_search_db_songs(connection, true) &&
              mpd_search_add_uri_constraint(connection, MPD_OPERATOR_DEFAULT, uri.c_str()) &&
              mpd_search_commit(connection),
          "find file");
    return ReceiveSongs("find file");
}

std::vector<std::string> TMpdConnection::ListFiles(const std::string& folder) {
    mpd_connection* connection = FConnection.get();
    Check(mpd_send_list_all(connection, folder.c_str()), "listall");
    std::vector<std::string> files;
    while (mpd_pair* pair = mpd_recv_pair_named(connection, "file")) {
        files.emplace_back(pair->value);
        mpd_return_pair(connection, pair);
    }
    if (!mpd_response_finish(connection)) {
        if (mpd_connection_get_error(connection) == MPD_ERROR_SERVER &&
            mpd_connection_get_server_error(connection) == MPD_SERVER_ERROR_NO_EXIST) {
            mpd_connection_clear_error(connection);
            return {};  // the folder is not in the database yet
        }
        Check(false, "listall");
    }
    return files;
}

unsigned TMpdConnection::Update(const std::string& folder) {
    const unsigned job =
        mpd_run_update(FConnection.get(), folder.empty() ? nullptr : folder.c_str());
    Check(job != 0, "update");
    return job;
}

bool TMpdConnection::Updating() {
    std::unique_ptr<mpd_status, TStatusFree> status(mpd_run_status(FConnection.get()));
    Check(status != nullptr, "status");
    return mpd_status_get_update_id(status.get()) != 0;
}

void TMpdConnection::SetSticker(const std::string& uri, const std::string& name,
                                const std::string& value) {
    Check(mpd_run_sticker_set(FConnection.get(), "song", uri.c_str(), name.c_str(), value.c_str()),
          "sticker " + name);
}

std::vector<std::string> TMpdConnection::StoredPlaylists() {
    mpd_connection* connection = FConnection.get();
    Check(mpd_send_list_playlists(connection), "listplaylists");
    std::vector<std::string> names;
    while (mpd_playlist* received = mpd_recv_playlist(connection)) {
        std::unique_ptr<mpd_playlist, TPlaylistFree> playlist(received);
        names.emplace_back(mpd_playlist_get_path(playlist.get()));
    }
    Check(mpd_response_finish(connection), "listplaylists");
    return names;
}

std::vector<TMpdSong> TMpdConnection::PlaylistSongs(const std::string& name) {
    Check(mpd_send_list_playlist_meta(FConnection.get(), name.c_str()), "listplaylistinfo");
    return ReceiveSongs("listplaylistinfo");
}

void TMpdConnection::PlaylistAdd(const std::string& name, const std::string& uri) {
    Check(mpd_run_playlist_add(FConnection.get(), name.c_str(), uri.c_str()), "playlistadd");
}

}  // namespace corvane::mpd
