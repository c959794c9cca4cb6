#include "transfer/CoverTags.h"

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <system_error>

#include <taglib/aifffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/wavfile.h>

#include "base/Text.h"

namespace corvane::tags {
namespace {

namespace fs = std::filesystem;

enum class TKind { None, Mpeg, Mp4, Flac, Wav, Aiff };

TKind KindOf(const std::string& path) {
    const std::string ext = AsciiLower(ExtractFileExt(path));
    if (ext == ".mp3")
        return TKind::Mpeg;
    if (ext == ".m4a" || ext == ".m4b" || ext == ".m4p" || ext == ".m4v" || ext == ".mp4")
        return TKind::Mp4;
    if (ext == ".flac")
        return TKind::Flac;
    if (ext == ".wav")
        return TKind::Wav;
    if (ext == ".aif" || ext == ".aiff")
        return TKind::Aiff;
    return TKind::None;
}

bool Id3HasPicture(TagLib::ID3v2::Tag* tag) {
    return tag != nullptr && !tag->frameListMap()["APIC"].isEmpty();
}

void AddId3Picture(TagLib::ID3v2::Tag& tag, const TagLib::ByteVector& data) {
    auto frame = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
    frame->setMimeType("image/jpeg");
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    frame->setPicture(data);
    tag.addFrame(frame.release());  // the tag owns its frames
}

// Opens path as its kind; with data, adds the picture when none is there and saves. Returns
// "" or the reason; had tells whether a picture was there before.
std::string Apply(const std::string& path, TKind kind, const TagLib::ByteVector* data, bool& had) {
    const char* name = path.c_str();
    const char* const invalid = "TagLib cannot read the file";
    const char* const unsaved = "TagLib cannot save the cover";
    had = false;
    switch (kind) {
        case TKind::Mpeg: {
            TagLib::MPEG::File file(name, false);
            if (!file.isValid())
                return invalid;
            had = Id3HasPicture(file.ID3v2Tag(false));
            if (!data || had)
                return {};
            TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
            AddId3Picture(*tag, *data);
            const auto version =
                tag->header()->majorVersion() == 3 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4;
            return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, version,
                             TagLib::File::DoNotDuplicate)
                       ? ""
                       : unsaved;
        }
        case TKind::Mp4: {
            TagLib::MP4::File file(name, false);
            if (!file.isValid() || !file.tag())
                return invalid;
            had = file.tag()->contains("covr") &&
                  !file.tag()->item("covr").toCoverArtList().isEmpty();
            if (!data || had)
                return {};
            TagLib::MP4::CoverArtList covers;
            covers.append(TagLib::MP4::CoverArt(TagLib::MP4::CoverArt::JPEG, *data));
            file.tag()->setItem("covr", TagLib::MP4::Item(covers));
            return file.save() ? "" : unsaved;
        }
        case TKind::Flac: {
            TagLib::FLAC::File file(name, false);
            if (!file.isValid())
                return invalid;
            had = !file.pictureList().isEmpty() || Id3HasPicture(file.ID3v2Tag(false));
            if (!data || had)
                return {};
            auto picture = std::make_unique<TagLib::FLAC::Picture>();
            picture->setType(TagLib::FLAC::Picture::FrontCover);
            picture->setMimeType("image/jpeg");
            picture->setData(*data);
            file.addPicture(picture.release());  // the file owns its pictures
            return file.save() ? "" : unsaved;
        }
        case TKind::Wav: {
            TagLib::RIFF::WAV::File file(name, false);
            if (!file.isValid())
                return invalid;
            had = file.hasID3v2Tag() && Id3HasPicture(file.ID3v2Tag());
            if (!data || had)
                return {};
            AddId3Picture(*file.ID3v2Tag(), *data);
            return file.save() ? "" : unsaved;
        }
        case TKind::Aiff: {
            TagLib::RIFF::AIFF::File file(name, false);
            if (!file.isValid() || !file.tag())
                return invalid;
            had = Id3HasPicture(file.tag());
            if (!data || had)
                return {};
            AddId3Picture(*file.tag(), *data);
            return file.save() ? "" : unsaved;
        }
        case TKind::None:
            break;
    }
    return "its format carries no cover this program can embed";
}

}  // namespace

bool HasEmbeddedCover(const std::string& path) {
    bool had = false;
    return Apply(path, KindOf(path), nullptr, had).empty() && had;
}

std::string EmbedCover(const std::string& path, std::span<const uint8_t> jpeg, bool& embedded) {
    embedded = false;
    const TKind kind = KindOf(path);
    bool had = false;
    if (std::string why = Apply(path, kind, nullptr, had); !why.empty() || had)
        return why;
    // Saved into a copy beside the file, which replaces it only when whole.
    std::string work = (fs::path(path).parent_path() / ".corvane-cover-XXXXXX").string();
    const int fd = mkstemp(work.data());
    if (fd < 0)
        return "no room for a working copy beside the file";
    close(fd);
    std::error_code error;
    fs::copy_file(path, work, fs::copy_options::overwrite_existing, error);
    if (!error)
        fs::permissions(work, fs::status(path, error).permissions(), error);
    const TagLib::ByteVector data(reinterpret_cast<const char*>(jpeg.data()),
                                  static_cast<unsigned int>(jpeg.size()));
    std::string why =
        error ? "no room for a working copy beside the file" : Apply(work, kind, &data, had);
    if (why.empty()) {
        fs::rename(work, path, error);
        if (error)
            why = "the copy with its cover cannot replace the file";
    }
    if (!why.empty()) {
        std::error_code ignored;
        fs::remove(work, ignored);
        return why;
    }
    embedded = true;
    return {};
}

}  // namespace corvane::tags
