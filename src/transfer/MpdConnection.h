// One connection to an MPD server and the few commands the restore needs, each turning a
// failure into EITunesError with the server's own words.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct mpd_connection;

namespace corvane::mpd {

// A song as the database lists it.
struct TMpdSong {
    std::string Uri;  // relative to the music directory
    std::string Title;
    std::string Artist;
};

class TMpdConnection {
public:
    // Finds the server as the command-line client does: MPD_HOST (a host, a socket path, or
    // "password@host") and MPD_PORT, else the default socket, else localhost:6600. Throws
    // EITunesError saying where it looked and why nothing answered.
    explicit TMpdConnection(unsigned timeoutMs = 0);
    ~TMpdConnection();
    TMpdConnection(const TMpdConnection&) = delete;
    TMpdConnection& operator=(const TMpdConnection&) = delete;

    // Where the server was found, for messages ("/run/mpd/socket", "localhost:6600").
    const std::string& Address() const { return FAddress; }
    std::string ServerVersion() const;
    // The music directory as the server knows it; empty when the server does not tell (it
    // tells only clients on its local socket).
    std::string MusicDirectory();

    std::vector<TMpdSong> FindByTitle(const std::string& title);
    std::vector<TMpdSong> FindByUri(const std::string& uri);
    // Every song URI below folder ("" for all); none when the folder is not in the database.
    std::vector<std::string> ListFiles(const std::string& folder);
    unsigned Update(const std::string& folder);  // the job id
    bool Updating();                             // a database update job is running
    void SetSticker(const std::string& uri, const std::string& name, const std::string& value);

    std::vector<std::string> StoredPlaylists();
    std::vector<TMpdSong> PlaylistSongs(const std::string& name);
    void PlaylistAdd(const std::string& name, const std::string& uri);

private:
    // Throws with the connection's error when ok is false, clearing it when the connection
    // can go on.
    void Check(bool ok, const std::string& what);
    std::vector<TMpdSong> ReceiveSongs(const std::string& what);

    struct TFree {
        void operator()(mpd_connection* connection) const;
    };
    std::unique_ptr<mpd_connection, TFree> FConnection;
    std::string FAddress;
};

}  // namespace corvane::mpd
