#include "transfer/PlaylistFiles.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "device/iPodDev.h"
#include "platform/FileCopy.h"
#include "platform/LocalFiles.h"

namespace corvane {

namespace {

// Past this many numbered names something is wrong with the folder; give up.
constexpr int kMaxNameNumber = 1000000;

size_t Utf8Length(std::string_view text, size_t position) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(position);
    size_t length = lead < 0x80   ? 1
                    : lead < 0xC2 ? 0
                    : lead < 0xE0 ? 2
                    : lead < 0xF0 ? 3
                    : lead < 0xF5 ? 4
                                  : 0;
    if (length == 0 || text.size() - position < length)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(position + i) & 0xC0) != 0x80)
            return 0;
    }
    // Overlong three- and four-byte forms, surrogates and values past U+10FFFF.
    unsigned char second = byte(position + (length > 1 ? 1 : 0));
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90)) {
        return 0;
    }
    return length;
}

// A title or artist on one line of valid UTF-8: a line break in a name must not start a line
// of its own, which a player would take for a path.
std::string LineText(std::string_view text) {
    std::string line;
    for (size_t position = 0; position < text.size();) {
        size_t length = Utf8Length(text, position);
        unsigned char c = static_cast<unsigned char>(text[position]);
        if (length == 0) {
            line += "\xEF\xBF\xBD";  // U+FFFD
            ++position;
        } else if (c < 0x20 || c == 0x7F) {
            line += ' ';
            ++position;
        } else {
            line.append(text, position, length);
            position += length;
        }
    }
    return line;
}

// The track's path relative to the destination, or nothing when it cannot be listed.
std::optional<std::string> RelativePath(const TTrackItem& track, const std::string& dest) {
    if ((track.TransferState != 1 && track.TransferState != 2) || track.DestPath.empty() ||
        track.DestPath.size() <= dest.size() || track.DestPath.compare(0, dest.size(), dest) != 0) {
        return std::nullopt;
    }
    std::string relative = track.DestPath.substr(dest.size());
    if (LineText(relative) != relative)
        return std::nullopt;
    // A line that begins with "#" is a comment to a player.
    if (relative.front() == '#')
        relative = "./" + relative;
    return relative;
}

std::string EntryLines(const TTrackItem& track, const std::string& relative) {
    std::string artist = track.Artist.empty() ? "Unknown Artist" : LineText(track.Artist);
    std::string title = track.Title.empty() ? "Unknown Name" : LineText(track.Title);
    uint32_t seconds = static_cast<uint32_t>((uint64_t{track.DurationMs} + 500) / 1000);
    return "#EXTINF:" + std::to_string(seconds) + "," + artist + " - " + title + "\n" + relative +
           "\n";
}

bool HoldsText(const std::string& path, const std::string& text) {
    if (FileSize(path) != text.size())
        return false;
    std::optional<std::string> content = ReadLocalFile(path);
    return content && *content == text;
}

// Writes text under the first free name (base, base1, base2 ... each with ext) that this run
// has not used yet; a file holding the same text already counts. 0 or errno.
int WriteFreeName(const std::string& base, const std::string& ext, const std::string& text,
                  std::unordered_set<std::string>& used) {
    for (int n = 0; n <= kMaxNameNumber; ++n) {
        std::string candidate = base + (n == 0 ? "" : std::to_string(n)) + ext;
        if (used.count(candidate) != 0)
            continue;
        if (PathExists(candidate)) {
            if (HoldsText(candidate, text)) {
                used.insert(candidate);
                return 0;
            }
            continue;
        }
        TAtomicFileWriter writer(candidate);
        int error = writer.Open();
        if (error == EEXIST)
            continue;  // taken in the meantime
        if (error == 0)
            error = writer.Write(text.data(), text.size());
        if (error == 0)
            error = writer.Commit();
        if (error == EEXIST)
            continue;
        if (error == 0)
            used.insert(candidate);
        return error;
    }
    return EEXIST;
}

}  // namespace

int WritePlaylistFiles(TIpodMusicDb& music) {
    const std::string& dest = music.DestFolder;
    if (dest.empty() || music.PlayLists.Count() < 2)
        return 0;
    const std::unordered_map<int64_t, int> pidIndex = music.Tracks.PidIndex();
    std::unordered_set<std::string> used;
    int written = 0;
    for (int i = 1; i < music.PlayLists.Count(); ++i) {
        const TPlayListItem& playlist = music.PlayLists.Items(i);
        if (playlist.IsSmart)
            continue;
        std::string text = "#EXTM3U\n";
        size_t listed = 0;
        size_t leftOut = 0;
        for (uint64_t pid : playlist.TrackPids) {
            auto found = pidIndex.find(static_cast<int64_t>(pid));
            std::optional<std::string> relative;
            if (found != pidIndex.end()) {
                const TTrackItem& track = music.Tracks.Items(found->second);
                relative = RelativePath(track, dest);
                if (relative)
                    text += EntryLines(track, *relative);
            }
            ++(relative ? listed : leftOut);
        }
        if (leftOut > 0) {
            music.AddLog("Playlist " + playlist.Name + ": " + std::to_string(leftOut) +
                         " tracks not copied, left out");
        }
        if (listed == 0)
            continue;
        std::string base = dest + TIpodMusicDb::NameComponent(playlist.Name, " Playlist");
        if (int error = WriteFreeName(base, ".m3u8", text, used)) {
            music.AddLog("Playlist " + playlist.Name +
                         ": the playlist file could not be written (" + std::strerror(error) + ")");
            continue;
        }
        ++written;
    }
    return written;
}

}  // namespace corvane
