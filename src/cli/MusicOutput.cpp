#include "cli/MusicOutput.h"

#include <cstdio>
#include <ctime>

#include "cli/CliSession.h"
#include "cli/Json.h"
#include "device/iPodDev.h"
#include "music/iPodMusic.h"

namespace corvane::cli {

const char* KindName(int kind) {
    switch (kind) {
        case mkMovie:
            return "movie";
        case mkBook:
            return "book";
        case mkTone:
            return "tone";
        case mkVoiceMemo:
            return "voice_memo";
        default:
            return "music";
    }
}

namespace {

// Seconds since 1970 as ISO 8601 in UTC ("2024-03-01T18:30:00Z").
std::string IsoTime(int64_t seconds) {
    const auto time = static_cast<std::time_t>(seconds);
    std::tm utc{};
    char text[32] = "";
    if (gmtime_r(&time, &utc) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0)
        return {};
    return text;
}

}  // namespace

void WriteMusicLibraryJson(TJsonWriter& json, TIpodDevice& device, const TIpodMusicDb& music,
                           bool loaded) {
    json.BeginObject();
    json.Key("device").BeginObject();
    json.Key("name").String(device.DisplayName());
    json.Key("ios").Bool(device.IsIos());
    json.EndObject();
    json.Key("loaded").Bool(loaded);
    json.Key("tracks"_key).BeginArray();
    int64_t index = 0;
    for (const TTrackItem& track : music.Tracks) {
        json.BeginObject();
        json.Key("index"_key).Int(index++);
        json.Key("pid"_key).Int(track.Pid);
        json.Key("title"_key).String(track.Title);
        json.Key("artist"_key).String(track.Artist);
        json.Key("album"_key).String(track.Album);
        json.Key("genre"_key).String(track.Genre);
        json.Key("location"_key).String(track.Location);
        json.Key("kind"_key).String(KindName(track.Kind));
        json.Key("size"_key).Int(track.FileSize);
        json.Key("size_text"_key).String(track.SizeText);
        json.Key("duration_ms"_key).UInt(track.DurationMs);
        json.Key("duration_text"_key).String(track.DurationText);
        json.Key("rating"_key).Int(track.Rating);
        json.Key("play_count"_key).Int(track.PlayCount);
        json.Key("skip_count"_key).Int(track.SkipCount);
        if (track.LastPlayed != 0) {
            json.Key("last_played"_key).String(IsoTime(track.LastPlayed));
        } else {
            json.Key("last_played"_key).Null();
        }
        json.Key("checked"_key).Bool(track.Checked);
        json.Key("has_artwork"_key).Bool(track.Cover >= 0);
        json.EndObject();
    }
    json.EndArray();
    json.Key("playlists"_key).BeginArray();
    index = 0;
    for (const TPlayListItem& playlist : music.PlayLists) {
        json.BeginObject();
        json.Key("index"_key).Int(index++);
        json.Key("pid"_key).Int(playlist.Pid);
        json.Key("name"_key).String(playlist.Name);
        json.Key("smart"_key).Bool(playlist.IsSmart);
        json.Key("voice_memos"_key).Bool(playlist.IsVoiceMemos);
        json.Key("on_the_go"_key).Bool(playlist.IsOnTheGo);
        // Entries are printed like track pids (signed), so the two compare equal.
        json.Key("track_pids"_key).BeginArray();
        for (uint64_t pid : playlist.TrackPids)
            json.Int(static_cast<int64_t>(pid));
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    json.Key("total_size").Int(music.TotalSize);
    json.Key("checked_count").Int(music.Tracks.CheckedCount);
    json.Key("checked_size").Int(music.Tracks.CheckedSize);
    json.Key("log").String(music.Log.Text());
    json.EndObject();
}

std::string MusicLibraryJson(TIpodDevice& device, const TIpodMusicDb& music, bool loaded) {
    TJsonWriter json;
    WriteMusicLibraryJson(json, device, music, loaded);
    return json.Text() + "\n";
}

namespace {

// Cuts text to at most width bytes without splitting a UTF-8 sequence.
std::string Cell(const std::string& text, size_t width) {
    if (text.size() <= width)
        return text;
    size_t cut = width > 1 ? width - 1 : 0;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut) + "~";
}

void Append(std::string& out, const char* format, auto... values) {
    char line[1024];
    std::snprintf(line, sizeof line, format, values...);
    out += line;
}

}  // namespace

std::string MusicLibraryTable(TIpodDevice& device, const TIpodMusicDb& music, bool loaded) {
    std::string out;
    Append(out, "%s (%s): %zu tracks, %zu playlists%s\n", device.DisplayName().c_str(),
           device.IsIos() ? "mobile device" : "disk-mode iPod", music.Tracks.Count(),
           music.PlayLists.Count(), loaded ? "" : " (no music database could be read)");
    Append(out, "%5s  %-30s %-22s %-22s %-10s %10s %8s %4s %5s\n", "#", "Title", "Artist", "Album",
           "Kind", "Size", "Time", "Rate", "Plays");
    size_t index = 0;
    for (const TTrackItem& track : music.Tracks) {
        Append(out, "%5zu%s %-30s %-22s %-22s %-10s %10s %8s %4d %5d\n", index++,
               track.Checked ? "*" : " ", Cell(track.Title, 30).c_str(),
               Cell(track.Artist, 22).c_str(), Cell(track.Album, 22).c_str(), KindName(track.Kind),
               track.SizeText.c_str(), track.DurationText.c_str(), track.Rating, track.PlayCount);
    }
    out += "\nPlaylists:\n";
    index = 0;
    for (const TPlayListItem& playlist : music.PlayLists) {
        Append(out, "%5zu  %-40s %6d entries%s%s%s\n", index++, Cell(playlist.Name, 40).c_str(),
               playlist.Count, playlist.IsSmart ? "  (smart)" : "",
               playlist.IsVoiceMemos ? "  (voice memos)" : "",
               playlist.IsOnTheGo ? "  (On-The-Go)" : "");
    }
    Append(out, "\nTotal %s; checked %d tracks, %s\n",
           TIpodDevice::FormatSize(music.TotalSize).c_str(), music.Tracks.CheckedCount,
           TIpodDevice::FormatSize(music.Tracks.CheckedSize).c_str());
    out += IndentedLog(music.Log.Text());
    return out;
}

}  // namespace corvane::cli
