// File names of exported tracks: safe components from titles, artists and albums, and the
// eight naming schemes.
#include <sys/stat.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "base/Text.h"
#include "music/TrackNameTemplate.h"
#include "music/iPodMusic.h"
#include "platform/LocalFiles.h"

namespace corvane {

namespace {

constexpr size_t kMaxComponentUnits = 41;
// A file system takes 255 bytes for a name. The export appends the extension and, at worst,
// a free-name number, "_" with a second one for a book archive, and its temporary suffix.
constexpr size_t kNameMax = 255;
constexpr size_t kNameReserve = 24;
constexpr size_t kMinLeafBytes = 64;

// One character of a UTF-8 text: its bytes and its code point, or a lone invalid byte.
struct TChar {
    std::string_view Bytes;
    uint32_t Code = 0;
    bool Valid = false;
};

TChar NextChar(std::string_view text, size_t position) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(position);
    TChar one{text.substr(position, 1), lead, lead < 0x80};
    size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (lead < 0x80 || lead >= 0xF5 || length == 1 || text.size() - position < length)
        return one;
    uint32_t code = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(position + i) & 0xC0) != 0x80)
            return one;
        code = (code << 6) | (byte(position + i) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    static constexpr uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kMinimum[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return one;
    return {text.substr(position, length), code, true};
}

bool IsBlank(const TChar& c) {
    return c.Valid && c.Code <= 0x20;
}

// Characters that a file name cannot hold here or on the system the names were made for,
// and characters that would make a name hard to see or type.
bool NeedsReplacement(const TChar& c) {
    if (!c.Valid || c.Code < 0x20 || (c.Code >= 0x7F && c.Code <= 0x9F))
        return true;
    if (c.Code >= 0x80)
        return false;
    return std::string_view("\"*/:<>?\\|").find(static_cast<char>(c.Code)) !=
           std::string_view::npos;
}

bool IsDotsOnly(std::string_view text) {
    return !text.empty() && text.find_first_not_of('.') == std::string_view::npos;
}

// The characters trimmed of blanks, with those no file name may hold replaced; empty when only
// blanks were given.
std::string SafeChars(const std::vector<TChar>& chars) {
    size_t begin = 0;
    size_t end = chars.size();
    while (begin < end && IsBlank(chars[begin]))
        ++begin;
    while (end > begin && IsBlank(chars[end - 1]))
        --end;
    std::string name;
    for (size_t i = begin; i < end; ++i)
        name += NeedsReplacement(chars[i]) ? std::string_view("_") : chars[i].Bytes;
    // "." and ".." name folders, not files; no other dots-only name is worth the risk.
    if (IsDotsOnly(name))
        name = ReplaceChar(name, '.', '_');
    return name;
}

}  // namespace

std::string TIpodMusicDb::NameComponent(const std::string& text, const std::string& suffix) {
    std::vector<TChar> chars;
    size_t units = 0;
    for (size_t position = 0; position < text.size();) {
        TChar c = NextChar(text, position);
        size_t width = c.Valid && c.Code >= 0x10000 ? 2 : 1;
        if (units + width > kMaxComponentUnits)
            break;  // a pair of UTF-16 units is never split
        units += width;
        position += c.Bytes.size();
        chars.push_back(c);
    }
    std::string name = SafeChars(chars);
    // A name made only of blanks reads as no name at all.
    return name.empty() ? "Unknown" + suffix : name;
}

std::string TIpodMusicDb::SafeNameText(const std::string& text) {
    std::vector<TChar> chars;
    for (size_t position = 0; position < text.size();) {
        chars.push_back(NextChar(text, position));
        position += chars.back().Bytes.size();
    }
    return SafeChars(chars);
}

std::string TIpodMusicDb::TrackFileBase(int index, uint8_t scheme) {
    if (!Tracks.Has(index))
        return {};
    const TTrackItem& track = Tracks.Items(index);
    std::string title = NameComponent(track.Title, " Name");
    std::string artist = NameComponent(track.Artist, " Artist");
    std::string album = NameComponent(track.Album, " Album");
    // Three components of 41 characters can pass the bytes of one name in UTF-8; cut the name,
    // not the copy.
    size_t extension = ExtractFileExt(track.Location).size();
    size_t limit = kNameMax - kNameReserve;
    limit = extension < limit - kMinLeafBytes ? limit - extension : kMinLeafBytes;
    std::vector<std::string> folders;
    std::string leaf;
    switch (scheme) {
        case 0:
            folders = {artist, album};
            leaf = title;
            break;
        case kTemplateScheme: {
            const TTrackNameTemplate naming(NameTemplate);
            if (!naming.Valid()) {
                if (ExportFailures < kMaxFailureLines)
                    AddLog("[X] Copy stopped at: " + track.Title + "\r\n " + naming.Error());
                return {};
            }
            folders = naming.Components(track, kNameMax - kNameReserve, limit);
            leaf = folders.back();
            folders.pop_back();
            break;
        }
        case 2:
            leaf = artist + " - " + title;
            break;
        case 3:
            leaf = title + " - " + artist;
            break;
        case 4:
            leaf = album + " - " + artist + " - " + title;
            break;
        case 5:
            leaf = artist + " - " + album + " - " + title;
            break;
        case 6:
            leaf = title + " - " + album + " - " + artist;
            break;
        case 7:
            leaf = title + " - " + artist + " - " + album;
            break;
        default:
            leaf = title;
            break;
    }
    leaf = CutFileName(leaf, limit);
    std::string fullFolder = DestFolder;
    for (const std::string& name : folders)
        fullFolder += name + "/";
    std::string folder = DestFolder;
    for (const std::string& name : folders) {
        folder += name;
        if (!MakeRealFolder(folder)) {
            if (ExportFailures < kMaxFailureLines) {
                fullFolder.pop_back();
                AddLog("[X] Copy stopped at: " + track.Title +
                       "\r\n Program cannot create folder: " + fullFolder);
            }
            return {};
        }
        folder += '/';
    }
    return folder + leaf;
}

}  // namespace corvane
