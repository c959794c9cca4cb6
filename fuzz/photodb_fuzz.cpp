// Feeds arbitrary bytes to the Photo Database reader: once as the whole file, and once as the
// content of an image list section and of an album list section, so that the deeper chunks are
// reached without the file's wrapping. The database comes from the device: no input may crash,
// hang, read past the data or grow memory without bound, and the model must stay whole.
#include <cstddef>
#include <cstdint>

#include "base/ByteReader.h"
#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "photo/iPodPhoto.h"

namespace {

void Check(const corvane::TIpodPhotoDb& db) {
    const corvane::TPhotoList& photos = db.Photos;
    if (photos.CheckedCount != photos.Count() || photos.CheckedSize != 0)
        __builtin_trap();
    for (int i = 0; i < photos.Count(); ++i) {
        const corvane::TPhotoItem& photo = photos.Items(i);
        if (!photo.Checked || photo.FileIndex < 0 || photo.AlbumIndex < 0)
            __builtin_trap();
        if (photo.AlbumIndex > 0 && photo.AlbumIndex >= db.Albums.Count())
            __builtin_trap();
        if (photo.FileIndex > db.FullFormat.FileCount)
            __builtin_trap();
        if (photo.Name != std::to_string(photo.ImageId))
            __builtin_trap();
    }
    for (int a = 0; a < db.Albums.Count(); ++a) {
        const corvane::TPhotoAlbumItem& album = db.Albums.Items(a);
        if (album.Count != static_cast<int32_t>(album.Members.size()))
            __builtin_trap();
        for (int32_t member : album.Members) {
            if (member < 0 || member >= photos.Count())
                __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One session for the whole run: the reader needs a library object, not a device.
    static corvane::TIpodDevice device([](bool) {}, corvane::OfflineSessionOptions());
    corvane::TByteReader bytes(data, size);
    {
        corvane::TIpodPhotoDb db(device, false);
        db.ReadPhotoDatabaseBytes(bytes);
        Check(db);
    }
    {
        corvane::TIpodPhotoDb db(device, false);
        db.ReadImageList(bytes, 0);
        db.ReadAlbumList(bytes, 0);
        db.BuildAlbumMembership();
        Check(db);
    }
    return 0;
}
