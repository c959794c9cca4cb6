// The photo library of one attached device: the photos of its library (pictures kept as
// records in .ithmb files, or as files of their own), its albums and its camera-roll files.
// The readers fill it once; the preview loader fills the bitmaps; the browser and the
// exporter read it and tick items.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/Bitmap.h"
#include "base/ByteReader.h"
#include "base/LogText.h"
#include "base/MemoryStream.h"
#include "base/RecordList.h"
#include "photo/SixteenBitBmp.h"

namespace corvane {

class TIpodDevice;
class TSQLiteDatabase;

// What a library item holds: a still picture, a video, or a picture with its motion clip.
enum class TPhotoKind { Photo, Video, Live };

// How an export treats photos edited on the device.
enum class TEditedExport { AsEdited, Originals, Both };

// Seconds since 1970-01-01 UTC; nothing when the source gives no date.
using TPhotoDate = std::optional<int64_t>;

struct TPhotoItem {
    std::string Name;  // decimal ImageId, the caption
    bool Checked = false;
    uint32_t ImageId = 0;
    int32_t FileIndex = 0;  // N of F<format>_N.ithmb holding the full-size record; 0 = none
    int32_t FullOffset = 0;
    int32_t FullSize = 0;
    int32_t ThumbOffset = 0;
    TBitmap Thumb;           // written and drawn under ThumbLock only
    std::string FilePath;    // full-size picture as a file of its own
    int32_t AlbumIndex = 0;  // album subfolder on export; 0 = none
    // False when the original is not on the device (kept in the cloud only): such a photo is
    // listed with a cloud mark and never ticked.
    bool Local = true;
    bool Hidden = false;
    TPhotoKind Kind = TPhotoKind::Photo;
    TPhotoDate DateTaken;
    std::string EditedPath;     // the device's rendering of an edit; empty when unedited
    std::string LiveVideoPath;  // the motion clip of a Live Photo, when it is on the device
};

class TPhotoList : public TRecordList<TPhotoItem> {
public:
    int32_t CheckedCount = 0;
    int64_t CheckedSize = 0;  // FullSize of photos ticked through Check only
    int32_t ThumbWidth = 0;
    int32_t ThumbHeight = 0;

    // Tick or clear a photo, keeping the counts; an index that names no photo does nothing.
    void Check(int index);
    void Uncheck(int index);
    // Removes the last item, keeping CheckedCount.
    void RemoveLast();
    void Clear();
    // ImageId -> index of the first photo with it, in list order.
    std::unordered_map<uint32_t, int> FirstIndexByImageId() const;
};

struct TPhotoAlbumItem {
    std::string Name;
    std::vector<uint32_t> MemberIds;  // as the Photo Database lists them
    std::vector<int32_t> Members;     // indexes into Photos, each valid
    int32_t Count = 0;                // Members.size()
    int32_t AlbumId = 0;              // Photos.sqlite primary key
};

class TPhotoAlbumList : public TRecordList<TPhotoAlbumItem> {};

struct TCamPhotoItem {
    bool Checked = false;
    std::string Path;  // as the device listing gives it
    TBitmap Thumb;     // written and drawn under ThumbLock only
    std::string FileName;
    TPhotoDate DateTaken;  // from the library's record of the same file, when it has one
};

class TCamPhotoList : public TRecordList<TCamPhotoItem> {
public:
    int32_t CheckedCount = 0;
    std::string DcimRoot;

    // Tick or clear a file, keeping the count; an index that names no file does nothing.
    void Check(int index);
    void Uncheck(int index);
    void Clear();
};

// One kind of picture record in .ithmb files.
struct TIthmbFormat {
    int32_t Id = 0;
    int32_t SlotSize = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t FileCount = 0;
    bool ByName = false;   // one file under PhotoData/Thumbnails named FileName
    std::string FileName;  // e.g. "3309.ithmb"
};

class TIpodPhotoDb {
public:
    static constexpr size_t kBmpHeaderSize = kSixteenBitBmpHeaderSize;

    TIpodPhotoDb(TIpodDevice& device, bool withCameraRoll);
    TIpodPhotoDb(const TIpodPhotoDb&) = delete;
    TIpodPhotoDb& operator=(const TIpodPhotoDb&) = delete;

    TIpodDevice& Device;
    bool WithCameraRoll;
    TLogText Log;
    std::string Destination;
    std::atomic<bool> Cancelled{false};
    bool SeparateFiles = false;
    TPhotoList Photos;
    TPhotoAlbumList Albums;
    TCamPhotoList CameraPhotos;
    std::array<uint8_t, kBmpHeaderSize> BmpHeader{};
    TIthmbFormat FullFormat;
    TIthmbFormat ThumbFormat;
    // Device pixels per point of the screen the previews are shown on (1 to 3), set before
    // Load: above 1 the previews are read from a denser stored format where the library has
    // one, and previews made from files are made that much larger. The cell stays in points.
    int PreviewScale = 1;
    // The format the preview cell is sized by when ThumbFormat is a denser one; Id 0: ThumbFormat.
    TIthmbFormat CellFormat;
    TMemoryStream WorkStream;
    std::function<void(const std::string& name)> OnProgress;
    // The expected bytes of the item OnProgress announces (0 when unknown), read inside it.
    uint64_t ProgressItemSize = 0;
    bool OrganizeByAlbum = true;
    // Folders YYYY/YYYY-MM by date taken; wins over OrganizeByAlbum.
    bool OrganizeByDate = false;
    // HEIC and HEIF pictures written as JPEG files instead of copied as they are.
    bool HeicToJpeg = false;
    // The motion clip of a Live Photo copied beside its picture.
    bool LiveVideo = true;
    TEditedExport Edited = TEditedExport::Both;
    // Library photos that are only in the cloud, counted by the reader.
    int CloudOnlyCount = 0;
    // "N photos are only in iCloud and were not copied", or empty when there are none.
    std::string CloudOnlyText() const;
    // Held while a Thumb bitmap is written or drawn.
    std::mutex ThumbLock;

    void AddLog(const std::string& text) { Log.AddLog(text); }

    // Loading: Photos.sqlite, else the Photo Database, then the camera roll.
    bool Load();

    // Photo Database reader
    bool LoadPhotoDatabase();
    // The walk over the file's bytes, as LoadPhotoDatabase runs it after reading the file.
    bool ReadPhotoDatabaseBytes(const TByteReader& file);
    bool ReadImageList(const TByteReader& data, size_t offset);
    bool SurveyFormats(const TByteReader& data, size_t offset);
    // Of the formats an entry holds, the one whose pictures fill the cell at PreviewScale best
    // becomes ThumbFormat (the cell's own one CellFormat); none denser leaves both as they are.
    void ChooseDensePreview(const std::vector<TIthmbFormat>& formats);
    uint32_t ReadImage(const TByteReader& data, size_t offset);
    bool ReadImageName(const TByteReader& data, size_t offset, uint16_t type, int& found);
    uint32_t ReadString(const TByteReader& data, size_t offset, std::string& text);
    bool ReadAlbumList(const TByteReader& data, size_t offset);
    void BuildAlbumMembership();

    // Formats and the 16-bit bitmap header
    static void SetFormatGeometry(TIthmbFormat& format);
    // The most bytes a record of the format can hold (its picture at four bytes a pixel, room
    // for padding and trailers): record sizes come from the device's database and are never
    // allocated past this.
    static uint32_t MaxRecordBytes(int32_t formatId);
    void SetThumbSize();
    void BuildBmpHeader(bool forThumbnail);

    // Photos.sqlite reader
    bool LoadPhotosSqlite(const std::string& fileName);
    bool ChooseSqliteThumbFile();
    // The library of releases that keep their assets in ZASSET.
    void ReadAssetLibrary(TSQLiteDatabase& db);

    // Camera roll
    int LoadCameraRoll();
    // A camera-roll file's path as the library names it ("DCIM/100APPLE/IMG_0001.JPG");
    // empty when it lies outside the camera folder.
    std::string CameraFileLibraryPath(int index) const;

    // Export, run on the photo copy thread. Destination is set by PrepareDestination and ends
    // in "/"; nothing is exported while it is empty. No file is ever replaced or left half
    // written, and every name from the device stays inside Destination.
    enum class TRecordDecoder { Rgb, SwappedRgb, Uyvy, Yuv420, Jpg };
    // The user's pictures folder + the device's name made safe as a folder name + "/"; empty
    // without a pictures folder.
    std::string DefaultDestination() const;
    bool PrepareDestination(std::string& folder);
    int Export();
    int ExportPhotoDatabase();
    int ExportSqliteFiles();
    int ExportRecords(TRecordDecoder decoder);
    // The copies of full-size pictures kept as files of their own (Photo Database or
    // Photos.sqlite naming of FilePath).
    int ExportSeparateFiles(bool sqliteNames);
    int ExportCameraRoll();
    // Ticked pictures that the last Export (library) or ExportCameraRoll (camera roll) could
    // not write; one already at the destination is not a failure, nor one left by a cancel.
    int ExportFailures = 0;
    int CameraRollFailures = 0;
    // Whether the last Load read a library (Photos.sqlite or the Photo Database), whatever the
    // camera roll held.
    bool LibraryLoaded = false;
    // Lower-cased library paths of the files the last Export wrote or found written: the
    // camera roll of the same device does not copy them again.
    std::unordered_set<std::string> LibraryCopies;
    // The folder of one export organised by date: Destination + "YYYY/YYYY-MM/", or
    // Destination + "Undated/"; Destination itself when the folder cannot be made.
    std::string DateFolder(const TPhotoDate& date);
    std::string AlbumFolder(int index);
    static std::string SafeAlbumName(const std::string& name);
    // The device's name as the folder of its pictures ("iPod Photos" when nothing is left).
    static std::string SafeDeviceFolderName(const std::string& name);
    // A file name given by the device as one harmless name in a folder; fallback when nothing
    // of it is left.
    static std::string SafeFileName(const std::string& name, const std::string& fallback);
    // How a copy waits before its one retry after a transient error; tests replace it.
    std::function<void(std::chrono::milliseconds)> RetryPause;
};

}  // namespace corvane
