// The album art of a music library: where each cover's picture records lie (ArtworkDB and its
// F<format>_<n>.ithmb files on an iPod, the MediaLibrary's artwork tables on a mobile device),
// and which track shows which cover. Only the index lives here; decoding is the photo side's.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/LogText.h"

namespace corvane {

class TByteReader;
class TTrackList;

// How the pixels of an artwork record are laid out.
enum class TArtworkPixels : uint8_t {
    Rgb565Le,  // "L565"
    Rgb565Be,  // "B565"
    Rgb555Le,  // "L555", the top bit unused
    Uyvy,      // "UYVY": U, Y0, V, Y1 per pixel pair, rows top first
    I420,      // "I420": Y plane, then U and V planes of half width and height
};

// What a format id stands for on one model.
struct TArtworkFormat {
    uint32_t Id = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    TArtworkPixels Pixels = TArtworkPixels::Rgb565Le;
};

// The model's own artwork formats (from its SysInfoExtended or its model table), asked first for
// every format id; nothing lets the built-in defaults decide.
using TArtworkFormatSource = std::function<std::optional<TArtworkFormat>(uint32_t formatId)>;

// One stored picture of a cover.
struct TArtworkRecord {
    uint32_t FormatId = 0;
    std::string FileName{};  // "F1028_1.ithmb", no folder; empty for a picture file of its own
    uint32_t Offset = 0;
    uint32_t Size = 0;
    uint16_t Width = 0;  // the picture; a row of the record is Width + HorizontalPadding pixels
    uint16_t Height = 0;
    uint16_t HorizontalPadding = 0;
    uint16_t VerticalPadding = 0;
};

struct TArtworkImage {
    uint32_t ImageId = 0;
    uint64_t SongId = 0;  // the dbid of the track it was made for; 0 when none
    std::vector<TArtworkRecord> Records{};
    std::string PictureFile{};  // a device path of a whole picture file (JPEG, PNG) instead
};

// The cover of a track by Link's rule, for walks over the tracks that do more than link them.
// Built once over an image list that then stays as it is; the first image in list order wins
// for each key. Sorted keys (or, for the usual dense image ids, a table by id) instead of hash
// maps: a library asks once per track, tens of thousands of times.
class TCoverFinder {
public:
    explicit TCoverFinder(const std::vector<TArtworkImage>& images);
    // The image index for a track's artwork link and dbid; -1 when neither finds one.
    int CoverOf(uint32_t artworkLink, uint64_t persistentId);

private:
    int ByImageId(uint32_t imageId) const;
    int BySongId(uint64_t songId);

    const std::vector<TArtworkImage>& FImages;
    uint32_t FFirstId = 0;
    std::vector<int32_t> FImageTable;  // by image id - FFirstId, when the ids are dense
    std::vector<std::pair<uint32_t, int32_t>> FImageIds;  // sorted, when they are not
    // Made on the first track that needs it: most tracks find their cover by the link.
    std::vector<std::pair<uint64_t, int32_t>> FSongIds;
    bool FSongIdsMade = false;
};

class TArtworkIndex {
public:
    // Records larger than this are damage: the largest known cover is 320 x 320 in 16 bits, and
    // a picture file of a mobile device a few megabytes.
    static constexpr uint32_t kMaxRecordBytes = 16u << 20;

    std::vector<TArtworkImage> Images;
    // Device folders ("/iPod_Control/Artwork/") where the records' files are looked for, in order.
    std::vector<std::string> Folders;
    // Set by the owner when the device's model tells its formats.
    TArtworkFormatSource ModelFormats;
    // Disk-mode iPods store 5-6-5 pixels, mobile devices 5-5-5: the default of an unknown id.
    bool MobileDevice = false;

    void Clear() {
        Images.clear();
        Folders.clear();
        FileFormats.clear();
    }
    bool Empty() const { return Images.empty(); }

    // Reads an ArtworkDB: its image list (mhii with their mhni records) and its file list (mhif).
    // Damage ends the affected list with a log line; what was read before it stays. False when
    // the bytes are no ArtworkDB at all.
    bool ReadArtworkDb(const TByteReader& file, TLogText& log);

    // Gives every track its cover: by the track's artwork link (the image id) first, else by its
    // dbid (the image's song id). Returns the number of tracks that have one.
    int Link(TTrackList& tracks) const;

    // The format a record of this id is decoded as: the model's answer, else the built-in table,
    // else a guess from the record's own size and padding.
    TArtworkFormat FormatOf(const TArtworkRecord& record) const;
    // The record to show and export: the one with the most pixels; nullptr when there is none.
    const TArtworkRecord* LargestRecord(int image) const;

    // Record sizes the database's file list gives per format id.
    std::unordered_map<uint32_t, uint32_t> FileFormats;
};

// "F1028_1.ithmb": the first file of a format, where its records lie when nothing names one.
std::string FirstFileOfFormat(uint32_t formatId);

// The built-in format table (ids of the iPods and early mobile devices); nothing for an unknown id.
std::optional<TArtworkFormat> DefaultArtworkFormat(uint32_t formatId);

}  // namespace corvane
