#include "cli/PhotoOutput.h"

#include <cstdio>
#include <ctime>

#include "cli/CliSession.h"
#include "cli/Json.h"
#include "device/iPodDev.h"
#include "photo/iPodPhoto.h"

namespace corvane::cli {
namespace {

void FormatJson(TJsonWriter& json, const TIthmbFormat& format) {
    json.BeginObject();
    json.Key("id").Int(format.Id);
    json.Key("slot_size").Int(format.SlotSize);
    json.Key("width").Int(format.Width);
    json.Key("height").Int(format.Height);
    json.Key("file_count").Int(format.FileCount);
    json.Key("by_name").Bool(format.ByName);
    json.Key("file_name").String(format.FileName);
    json.EndObject();
}

std::string FormatText(const TIthmbFormat& format) {
    std::string text = std::to_string(format.Id) + " (" + std::to_string(format.Width) + " x " +
                       std::to_string(format.Height) + ", " + std::to_string(format.SlotSize) +
                       " bytes a record";
    if (format.ByName)
        text += ", file " + (format.FileName.empty() ? std::string("none") : format.FileName);
    else
        text += ", " + std::to_string(format.FileCount) + " file(s)";
    return text + ")";
}

const char* KindText(TPhotoKind kind) {
    switch (kind) {
        case TPhotoKind::Video:
            return "video";
        case TPhotoKind::Live:
            return "live";
        case TPhotoKind::Photo:
            break;
    }
    return "photo";
}

// ISO 8601 in UTC, or null.
void DateJson(TJsonWriter& json, const TPhotoDate& date) {
    std::tm parts{};
    const auto seconds = static_cast<time_t>(date.value_or(0));
    char text[32];
    if (!date || gmtime_r(&seconds, &parts) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
        json.Null();
        return;
    }
    json.String(text);
}

}  // namespace

std::string PhotoLibraryJson(TIpodDevice& device, const TIpodPhotoDb& photos, bool loaded) {
    TJsonWriter json;
    json.BeginObject();
    json.Key("device").BeginObject();
    json.Key("name").String(device.DisplayName());
    json.Key("ios").Bool(device.IsIos());
    json.EndObject();
    json.Key("loaded").Bool(loaded);
    json.Key("separate_files").Bool(photos.SeparateFiles);
    json.Key("full_format");
    FormatJson(json, photos.FullFormat);
    json.Key("thumb_format");
    FormatJson(json, photos.ThumbFormat);
    json.Key("thumb_cell").BeginObject();
    json.Key("width").Int(photos.Photos.ThumbWidth);
    json.Key("height").Int(photos.Photos.ThumbHeight);
    json.EndObject();
    json.Key("photos").BeginArray();
    for (int i = 0; i < photos.Photos.Count(); ++i) {
        const TPhotoItem& photo = photos.Photos.Items(i);
        json.BeginObject();
        json.Key("index").Int(i);
        json.Key("image_id").UInt(photo.ImageId);
        json.Key("name").String(photo.Name);
        json.Key("checked").Bool(photo.Checked);
        json.Key("file_index").Int(photo.FileIndex);
        json.Key("full_offset").Int(photo.FullOffset);
        json.Key("full_size").Int(photo.FullSize);
        json.Key("thumb_offset").Int(photo.ThumbOffset);
        json.Key("file_path").String(photo.FilePath);
        json.Key("album_index").Int(photo.AlbumIndex);
        json.Key("local").Bool(photo.Local);
        json.Key("hidden").Bool(photo.Hidden);
        json.Key("kind").String(KindText(photo.Kind));
        json.Key("date_taken");
        DateJson(json, photo.DateTaken);
        json.EndObject();
    }
    json.EndArray();
    json.Key("albums").BeginArray();
    for (int i = 0; i < photos.Albums.Count(); ++i) {
        const TPhotoAlbumItem& album = photos.Albums.Items(i);
        json.BeginObject();
        json.Key("index").Int(i);
        json.Key("name").String(album.Name);
        json.Key("album_id").Int(album.AlbumId);
        json.Key("members").BeginArray();
        for (int32_t member : album.Members)
            json.Int(member);
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    json.Key("camera_roll").BeginArray();
    for (int i = 0; i < photos.CameraPhotos.Count(); ++i) {
        const TCamPhotoItem& item = photos.CameraPhotos.Items(i);
        json.BeginObject();
        json.Key("index").Int(i);
        json.Key("path").String(item.Path);
        json.Key("file_name").String(item.FileName);
        json.Key("checked").Bool(item.Checked);
        json.Key("date_taken");
        DateJson(json, item.DateTaken);
        json.EndObject();
    }
    json.EndArray();
    json.Key("log").String(photos.Log.Text());
    json.EndObject();
    return json.Text() + "\n";
}

std::string PhotoLibraryTable(TIpodDevice& device, const TIpodPhotoDb& photos, bool loaded) {
    std::string out = "Device: " + device.DisplayName() +
                      (device.IsIos() ? " (mobile device)" : " (disk mode)") + "\n";
    if (!loaded) {
        out += "Either the photo library is empty or it cannot be accessed currently.\n";
    }
    out += "Full-size pictures: ";
    out += photos.SeparateFiles ? "files of their own\n" : FormatText(photos.FullFormat) + "\n";
    out += "Previews: " + FormatText(photos.ThumbFormat) + ", cell " +
           std::to_string(photos.Photos.ThumbWidth) + " x " +
           std::to_string(photos.Photos.ThumbHeight) + "\n\n";

    char line[512];
    std::snprintf(line, sizeof line, "%6s  %-12s %5s %10s %10s %10s  %s\n", "#", "Photo", "File",
                  "Offset", "Size", "Preview", "Album / file");
    out += line;
    for (int i = 0; i < photos.Photos.Count(); ++i) {
        const TPhotoItem& photo = photos.Photos.Items(i);
        std::string where = photo.AlbumIndex > 0 && photo.AlbumIndex < photos.Albums.Count()
                                ? photos.Albums.Items(photo.AlbumIndex).Name
                                : std::string();
        if (!photo.FilePath.empty())
            where += (where.empty() ? "" : " / ") + photo.FilePath;
        if (!photo.Local)
            where += " (only in iCloud)";
        std::snprintf(line, sizeof line, "%6d  %-12s %5d %10d %10d %10d  %s\n", i,
                      photo.Name.c_str(), photo.FileIndex, photo.FullOffset, photo.FullSize,
                      photo.ThumbOffset, where.c_str());
        out += line;
    }
    out += "\nAlbums:\n";
    for (int i = 0; i < photos.Albums.Count(); ++i) {
        const TPhotoAlbumItem& album = photos.Albums.Items(i);
        out += "  " + std::to_string(i) + ". " + album.Name + " (" + std::to_string(album.Count) +
               " photo" + (album.Count == 1 ? "" : "s") + ")\n";
    }
    out += "\nCamera roll (" + photos.CameraPhotos.DcimRoot + "):\n";
    for (int i = 0; i < photos.CameraPhotos.Count(); ++i)
        out += "  " + photos.CameraPhotos.Items(i).Path + "\n";
    out += '\n';
    out += std::to_string(photos.Photos.Count()) + " photos, " +
           std::to_string(photos.Albums.Count()) + " albums, " +
           std::to_string(photos.CameraPhotos.Count()) + " camera-roll files\n";
    out += IndentedLog(photos.Log.Text());
    return out;
}

}  // namespace corvane::cli
