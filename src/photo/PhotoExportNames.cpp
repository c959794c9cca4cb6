// Folder and file names made from what the device says: album names and the names of picture
// files. Each becomes one component that stays inside the folder it is put in.
#include <string>
#include <string_view>

#include "base/Text.h"
#include "photo/iPodPhoto.h"

namespace corvane {

namespace {

constexpr size_t kMaxAlbumNameChars = 41;
// Long enough for a model's name ("iPod video 80 GB, 5th generation, late 2006").
constexpr size_t kMaxDeviceFolderChars = 80;
constexpr const char* kUnknownAlbum = "Album_Unknown";

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

// The first count characters (code points) of UTF-8 text; a continuation byte never starts one,
// so a character is never split.
std::string FirstChars(const std::string& text, size_t count) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            continue;
        if (chars++ == count)
            return text.substr(0, i);
    }
    return text;
}

// "." and ".." name the folder itself and its parent; any run of dots alone is kept away from
// them by turning the dots into underscores.
void BreakDotsOnly(std::string& name) {
    if (!name.empty() && name.find_first_not_of('.') == std::string::npos)
        name.assign(name.size(), '_');
}

// One folder name of at most maxChars characters that every file system takes; fallback when
// nothing of name is left.
std::string SafeFolderName(const std::string& name, size_t maxChars, const char* fallback) {
    if (name.empty())
        return fallback;
    std::string safe = name.size() > maxChars ? FirstChars(name, maxChars) : name;
    // Control characters at the ends go with the blanks; those inside become "_" below.
    safe = Trim(safe);
    if (safe.empty())
        return fallback;
    for (char& c : safe) {
        const auto u = static_cast<unsigned char>(c);
        if (std::string_view("\"*/:<>?\\|").find(c) != std::string_view::npos || IsControl(u))
            c = '_';
    }
    BreakDotsOnly(safe);
    return safe;
}

}  // namespace

std::string TIpodPhotoDb::SafeAlbumName(const std::string& name) {
    return SafeFolderName(name, kMaxAlbumNameChars, kUnknownAlbum);
}

std::string TIpodPhotoDb::SafeDeviceFolderName(const std::string& name) {
    return SafeFolderName(name, kMaxDeviceFolderChars, "iPod Photos");
}

std::string TIpodPhotoDb::SafeFileName(const std::string& name, const std::string& fallback) {
    std::string safe = name;
    for (char& c : safe) {
        if (c == '/' || IsControl(static_cast<unsigned char>(c)))
            c = '_';
    }
    if (safe.empty())
        return fallback;
    BreakDotsOnly(safe);
    return safe;
}

}  // namespace corvane
