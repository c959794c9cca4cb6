// Photo export: the destination and its space, album folders, and the pictures kept as records
// in .ithmb files, decoded and written as JPEG files (format 1081 records are JPEG files
// already and are written as they are).
#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "device/iPodDev.h"
#include "photo/ImageCodecs.h"
#include "photo/IthmbDecoders.h"
#include "photo/IthmbPlanes.h"
#include "photo/PlanarJpeg.h"
#include "photo/iPodPhoto.h"
#include "platform/FileCopy.h"
#include "platform/LocalFiles.h"

namespace corvane {

namespace {

using TRecordDecoder = TIpodPhotoDb::TRecordDecoder;

// A 1019 record is read whole whatever the database gives as its slot size.
constexpr uint32_t kUyvyRecordBytes = 720 * 480 * 2;
// When the database says nothing about sizes, a picture is reckoned at this many bytes.
constexpr int64_t kBytesPerPictureGuess = 819200;
// Our own lines about pictures that could not be exported; the rest are summed up at the end.
constexpr int kMaxProblemLines = 10;

const char* DecoderName(TRecordDecoder decoder) {
    switch (decoder) {
        case TRecordDecoder::SwappedRgb:
            return "nRGB";
        case TRecordDecoder::Uyvy:
            return "uYUV";
        case TRecordDecoder::Yuv420:
            return "Yuv";
        case TRecordDecoder::Jpg:
            return "Jpg";
        case TRecordDecoder::Rgb:
            break;
    }
    return "RGB";
}

class TProblemLines {
public:
    explicit TProblemLines(TIpodPhotoDb& db) : FDb(db) {}
    // One picture that was not written, and why.
    void Add(const std::string& line) {
        ++FDb.ExportFailures;
        if (FCount++ < kMaxProblemLines)
            FDb.AddLog(line);
    }
    void Finish() {
        if (FCount > kMaxProblemLines)
            FDb.AddLog("Photo export: " + std::to_string(FCount - kMaxProblemLines) +
                       " more pictures were not written");
    }

private:
    TIpodPhotoDb& FDb;
    int FCount = 0;
};

// Why a photo's record cannot be looked for at all (a damaged database); empty when it can.
std::string RecordDamage(const TPhotoItem& photo, TRecordDecoder decoder) {
    if (photo.FileIndex < 1)
        return "the database names no thumbnail file for it";
    if (photo.FullOffset < 0)
        return "its record offset " + std::to_string(photo.FullOffset) + " is negative";
    if (decoder == TRecordDecoder::Jpg && photo.FullSize <= 0)
        return "its record size " + std::to_string(photo.FullSize) + " is not positive";
    return {};
}

enum class TRecordOutcome { Ready, ReadFailed, DecodeFailed, TooLarge };

// Reads the photo's record into the work stream (after what it holds) and turns it into the
// bytes of a JPEG file: encoded, or for format 1081 the record itself. planes is the video
// formats' working picture, kept from one record to the next.
TRecordOutcome PrepareRecord(TIpodPhotoDb& db, TRecordDecoder decoder, const TPhotoItem& photo,
                             TYcbcrPicture& planes, std::vector<uint8_t>& encoded,
                             std::span<const uint8_t>& bytes) {
    TMemoryStream& stream = db.WorkStream;
    const auto offset = static_cast<uint64_t>(photo.FullOffset);
    const auto slot = static_cast<uint32_t>(std::max(db.FullFormat.SlotSize, 0));
    const uint32_t limit = TIpodPhotoDb::MaxRecordBytes(db.FullFormat.Id);
    bool tooLarge = false;
    auto read = [&](uint32_t count) {
        tooLarge = count > limit;
        return count > 0 && !tooLarge && db.Device.ReadThumbRecord(count, stream, offset);
    };
    auto failed = [&] { return tooLarge ? TRecordOutcome::TooLarge : TRecordOutcome::ReadFailed; };
    auto record = [&] { return std::span<const uint8_t>(stream.Data(), stream.Size()); };
    TBitmap picture;
    bool decoded = false;
    switch (decoder) {
        case TRecordDecoder::Rgb:
            stream.Write(db.BmpHeader.data(), db.BmpHeader.size());
            if (!read(slot))
                return failed();
            decoded = LoadRgbRecord(record(), picture);
            break;
        case TRecordDecoder::SwappedRgb:
            if (!read(slot))
                return failed();
            decoded = DecodeSwappedRgb(record(), db.BmpHeader, picture);
            break;
        case TRecordDecoder::Uyvy:
        case TRecordDecoder::Yuv420: {
            // Video records go to the encoder as planes, never through RGB.
            const bool uyvy = decoder == TRecordDecoder::Uyvy;
            if (!read(uyvy ? kUyvyRecordBytes : slot))
                return failed();
            if (!(uyvy ? DecodeUyvyPlanes(record(), planes) : DecodeYuv420Planes(record(), planes)))
                return TRecordOutcome::DecodeFailed;
            encoded = EncodePlanarJpeg(planes);
            if (encoded.empty())
                return TRecordOutcome::DecodeFailed;
            bytes = encoded;
            return TRecordOutcome::Ready;
        }
        case TRecordDecoder::Jpg:
            if (!read(static_cast<uint32_t>(photo.FullSize)))
                return failed();
            bytes = record();
            return TRecordOutcome::Ready;
    }
    if (!decoded)
        return TRecordOutcome::DecodeFailed;
    encoded = EncodeJpeg(picture);
    if (encoded.empty())
        return TRecordOutcome::DecodeFailed;
    bytes = encoded;
    return TRecordOutcome::Ready;
}

// Writes a new file under a temporary name and publishes it whole; 0 or errno (EEXIST when
// the name is taken, which leaves that file alone).
int WriteNewFile(const std::string& target, std::span<const uint8_t> bytes) {
    TAtomicFileWriter writer(target);
    int error = writer.Open();
    if (error == 0)
        error = writer.Write(bytes.data(), bytes.size());
    if (error == 0)
        error = writer.Commit();
    return error;  // the writer removes what was not committed
}

}  // namespace

std::string TIpodPhotoDb::DefaultDestination() const {
    const std::string pictures = Device.UserFolder(true);
    if (pictures.empty())
        return {};
    // A folder named after the device, so that two devices' pictures stay apart.
    return pictures + SafeDeviceFolderName(Device.DisplayName()) + "/";
}

bool TIpodPhotoDb::PrepareDestination(std::string& folder) {
    int64_t needed = Photos.CheckedSize;
    if (needed <= 0) {
        needed = int64_t{FullFormat.SlotSize} * Photos.CheckedCount;
        if (needed <= 0)
            needed = int64_t{Photos.CheckedCount} * kBytesPerPictureGuess;
    }
    if (!Device.CheckDestination(folder, static_cast<uint64_t>(std::max<int64_t>(needed, 0))))
        return false;
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    Destination = folder;
    return true;
}

int TIpodPhotoDb::Export() {
    ExportFailures = 0;
    return ThumbFormat.ByName ? ExportSqliteFiles() : ExportPhotoDatabase();
}

int TIpodPhotoDb::ExportPhotoDatabase() {
    Cancelled = false;
    if (SeparateFiles)
        return ExportSeparateFiles(false);
    switch (FullFormat.Id) {
        case 1019:
            return ExportRecords(TRecordDecoder::Uyvy);
        case 1023:
            BuildBmpHeader(false);
            return ExportRecords(TRecordDecoder::SwappedRgb);
        case 1067:
            return ExportRecords(TRecordDecoder::Yuv420);
        case 1081:
            return ExportRecords(TRecordDecoder::Jpg);
        default:
            BuildBmpHeader(false);
            return ExportRecords(TRecordDecoder::Rgb);
    }
}

int TIpodPhotoDb::ExportRecords(TRecordDecoder decoder) {
    if (Destination.empty())
        return 0;
    // Files in number order, each with its ticked photos in list order. Only the files that
    // hold something to export are opened: a damaged file number cannot make us try millions.
    std::map<int32_t, std::vector<int>> byFile;
    std::vector<int> withoutFile;
    for (int i = 0; i < Photos.Count(); ++i) {
        const TPhotoItem& photo = Photos.Items(i);
        if (photo.Checked)
            (photo.FileIndex >= 1 ? byFile[photo.FileIndex] : withoutFile).push_back(i);
    }
    const std::string id = std::to_string(FullFormat.Id);
    const auto slot = static_cast<uint32_t>(std::max(FullFormat.SlotSize, 0));
    auto progress = [this](const TPhotoItem& photo) {
        ProgressItemSize = static_cast<uint64_t>(std::max(photo.FullSize, 0));
        if (OnProgress)
            OnProgress(std::to_string(photo.ImageId) + ".jpg");
    };
    TProblemLines problems(*this);
    TYcbcrPicture planes;
    std::vector<uint8_t> encoded;
    int written = 0;

    for (const auto& [number, members] : byFile) {
        const std::string fileNumber = id + "_" + std::to_string(number);
        const size_t deviceLogBefore = Device.Log.Text().size();
        if (!Device.OpenThumbFile("F" + fileNumber, slot)) {
            AddLog(std::string("Cannot open ") + DecoderName(decoder) + " DB: " + fileNumber);
            // What the device session said about it, as further lines.
            const std::string deviceLog = Device.Log.Text();
            if (deviceLog.size() > deviceLogBefore)
                Log.Append(std::string_view(deviceLog).substr(deviceLogBefore));
            // Its pictures failed, each named; the progress still counts them.
            const std::string reason = Device.ThumbError();
            for (int i : members) {
                problems.Add("Photo " + std::to_string(Photos.Items(i).ImageId) + ": F" +
                             fileNumber + ".ithmb cannot be read (" + reason + "), skipped");
                progress(Photos.Items(i));
                if (Cancelled)
                    break;
            }
            if (Cancelled)
                break;
            continue;
        }
        for (int i : members) {
            const TPhotoItem& photo = Photos.Items(i);
            const std::string damage = RecordDamage(photo, decoder);
            if (!damage.empty()) {
                problems.Add("Photo " + std::to_string(photo.ImageId) + ": " + damage +
                             ", skipped");
            } else if (const std::string target =
                           AlbumFolder(i) + std::to_string(photo.ImageId) + ".jpg";
                       !PathExists(target)) {
                std::span<const uint8_t> bytes;
                const TRecordOutcome outcome =
                    PrepareRecord(*this, decoder, photo, planes, encoded, bytes);
                if (outcome == TRecordOutcome::Ready) {
                    const int error = WriteNewFile(target, bytes);
                    if (error == 0) {
                        if (photo.DateTaken)
                            SetLocalFileTime(target, *photo.DateTaken * 1000000000);
                        ++written;
                        // Written at once, not copied: the transfer's count of bytes hears of
                        // it as of a copy's last chunk.
                        if (Device.OnCopyProgress)
                            Device.OnCopyProgress(bytes.size(), bytes.size());
                    } else if (error != EEXIST) {
                        problems.Add("Cannot write " + target + ": " + std::strerror(error));
                    }
                } else if (outcome == TRecordOutcome::DecodeFailed) {
                    problems.Add("Photo " + std::to_string(photo.ImageId) +
                                 ": its record cannot be decoded");
                } else if (outcome == TRecordOutcome::TooLarge) {
                    problems.Add("Photo " + std::to_string(photo.ImageId) +
                                 ": its record is larger than a picture of format " + id +
                                 " can be, skipped");
                } else {
                    problems.Add("Photo " + std::to_string(photo.ImageId) +
                                 ": its record cannot be read (" + Device.ThumbError() + ")");
                }
            }
            WorkStream.Clear();
            progress(photo);
            if (Cancelled)
                break;
        }
        Device.CloseThumbFile();
        if (Cancelled)
            break;
    }
    for (int i : withoutFile) {
        if (Cancelled)
            break;
        const TPhotoItem& photo = Photos.Items(i);
        problems.Add("Photo " + std::to_string(photo.ImageId) + ": " +
                     RecordDamage(photo, decoder) + ", skipped");
        progress(photo);
    }
    problems.Finish();
    WorkStream.Clear();
    return written;
}

std::string TIpodPhotoDb::DateFolder(const TPhotoDate& date) {
    std::tm parts{};
    const auto seconds = static_cast<time_t>(date.value_or(0));
    char year[16];
    char month[16];
    if (!date || localtime_r(&seconds, &parts) == nullptr ||
        std::strftime(year, sizeof year, "%Y", &parts) == 0 ||
        std::strftime(month, sizeof month, "%Y-%m", &parts) == 0) {
        return MakeRealFolder(Destination + "Undated") ? Destination + "Undated/" : Destination;
    }
    // Real folders only: a link found in the destination would carry pictures elsewhere.
    const std::string first = Destination + year;
    const std::string second = first + "/" + month;
    if (MakeRealFolder(first) && MakeRealFolder(second))
        return second + "/";
    return Destination;
}

std::string TIpodPhotoDb::AlbumFolder(int index) {
    // The one place that says where a library photo goes: by date when asked, else its album.
    if (OrganizeByDate)
        return DateFolder(Photos.Items(index).DateTaken);
    const int32_t album = Photos.Items(index).AlbumIndex;
    if (OrganizeByAlbum && album >= 1 && album < Albums.Count()) {
        // A real folder only: a link found in the destination would carry pictures elsewhere.
        const std::string folder = Destination + SafeAlbumName(Albums.Items(album).Name);
        if (MakeRealFolder(folder))
            return folder + "/";
    }
    return Destination;
}

}  // namespace corvane
