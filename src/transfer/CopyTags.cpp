#include "transfer/CopyTags.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

#include <unistd.h>

#include <taglib/aifffile.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/popularimeterframe.h>
#include <taglib/textidentificationframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

#include "base/Text.h"

namespace corvane::tags {
namespace {

namespace fs = std::filesystem;

enum class TFormat { Unknown, Mpeg, Mp4, Flac, Vorbis, Opus, Wav, Aiff };

TFormat FormatOf(const std::string& path) {
    const std::string ext = AsciiLower(ExtractFileExt(path));
    if (ext == ".mp3")
        return TFormat::Mpeg;
    if (ext == ".m4a" || ext == ".m4b" || ext == ".m4p" || ext == ".m4v" || ext == ".mp4" ||
        ext == ".m4r")
        return TFormat::Mp4;
    if (ext == ".flac")
        return TFormat::Flac;
    if (ext == ".ogg" || ext == ".oga")
        return TFormat::Vorbis;
    if (ext == ".opus")
        return TFormat::Opus;
    if (ext == ".wav")
        return TFormat::Wav;
    if (ext == ".aif" || ext == ".aiff")
        return TFormat::Aiff;
    return TFormat::Unknown;
}

// Quod Libet keeps its values under its own address; Amarok reads the POPM without one.
const char* const kQuodLibetEmail = "quodlibet@lists.sacredchao.net";

TagLib::String Utf8(const std::string& text) {
    return TagLib::String(text, TagLib::String::UTF8);
}

// 0..100 onto the POPM byte, 20 a star giving 51, 102, 153, 204, 255.
int PopmByte(int rating) {
    return (std::clamp(rating, 0, 100) * 255 + 50) / 100;
}

void SetUserText(TagLib::ID3v2::Tag& tag, const std::string& description,
                 const std::string& value) {
    if (auto* frame = TagLib::ID3v2::UserTextIdentificationFrame::find(&tag, Utf8(description))) {
        frame->setText(Utf8(value));
        return;
    }
    auto frame = std::make_unique<TagLib::ID3v2::UserTextIdentificationFrame>(TagLib::String::UTF8);
    frame->setDescription(Utf8(description));
    frame->setText(Utf8(value));
    tag.addFrame(frame.release());  // the tag owns its frames
}

void SetPopularimeter(TagLib::ID3v2::Tag& tag, const std::string& email,
                      const TRatingTags& values) {
    TagLib::ID3v2::PopularimeterFrame* target = nullptr;
    for (TagLib::ID3v2::Frame* frame : tag.frameList("POPM")) {
        auto* popm = dynamic_cast<TagLib::ID3v2::PopularimeterFrame*>(frame);
        if (popm && popm->email() == Utf8(email)) {
            target = popm;
            break;
        }
    }
    if (!target) {
        auto frame = std::make_unique<TagLib::ID3v2::PopularimeterFrame>();
        frame->setEmail(Utf8(email));
        target = frame.get();
        tag.addFrame(frame.release());
    }
    if (values.Rating)
        target->setRating(PopmByte(*values.Rating));
    if (values.PlayCount)
        target->setCounter(static_cast<unsigned>(std::max(0, *values.PlayCount)));
}

void WriteId3v2(TagLib::ID3v2::Tag& tag, const TRatingTags& values) {
    if (values.Rating)
        SetUserText(tag, "FMPS_Rating", FmpsRating(*values.Rating));
    if (values.PlayCount)
        SetUserText(tag, "FMPS_Playcount", std::to_string(std::max(0, *values.PlayCount)));
    SetPopularimeter(tag, "", values);
    SetPopularimeter(tag, kQuodLibetEmail, values);
}

void WriteXiph(TagLib::Ogg::XiphComment& comment, const TRatingTags& values) {
    const std::string ql = AsciiUpper(kQuodLibetEmail);
    if (values.Rating) {
        const TagLib::String rating = Utf8(FmpsRating(*values.Rating));
        comment.addField("FMPS_RATING", rating, true);
        comment.addField(Utf8("RATING:" + ql), rating, true);
    }
    if (values.PlayCount) {
        const TagLib::String count = Utf8(std::to_string(std::max(0, *values.PlayCount)));
        comment.addField("FMPS_PLAYCOUNT", count, true);
        comment.addField(Utf8("PLAYCOUNT:" + ql), count, true);
    }
}

void WriteMp4(TagLib::MP4::Tag& tag, const TRatingTags& values) {
    if (values.Rating)
        tag.setItem("----:com.apple.iTunes:FMPS_Rating",
                    TagLib::MP4::Item(TagLib::StringList(Utf8(FmpsRating(*values.Rating)))));
    if (values.PlayCount)
        tag.setItem("----:com.apple.iTunes:FMPS_Playcount",
                    TagLib::MP4::Item(
                        TagLib::StringList(Utf8(std::to_string(std::max(0, *values.PlayCount))))));
}

// Keeps the ID3v2 version the file has: older players read 2.3 but not 2.4.
TagLib::ID3v2::Version VersionOf(TagLib::ID3v2::Tag& tag) {
    return tag.header()->majorVersion() == 3 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4;
}

// Opens the file as its format and writes (values set) or only checks that it could.
std::string Apply(const std::string& path, TFormat format, const TRatingTags* values) {
    const char* name = path.c_str();
    const char* const invalid = "TagLib cannot read the file";
    switch (format) {
        case TFormat::Mpeg: {
            TagLib::MPEG::File file(name, false);
            if (!file.isValid())
                return invalid;
            if (!values)
                return {};
            TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
            WriteId3v2(*tag, *values);
            return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, VersionOf(*tag),
                             TagLib::File::DoNotDuplicate)
                       ? ""
                       : "TagLib cannot save the tags";
        }
        case TFormat::Mp4: {
            TagLib::MP4::File file(name, false);
            if (!file.isValid() || !file.tag())
                return invalid;
            if (!values)
                return {};
            WriteMp4(*file.tag(), *values);
            return file.save() ? "" : "TagLib cannot save the tags";
        }
        case TFormat::Flac: {
            TagLib::FLAC::File file(name, false);
            if (!file.isValid())
                return invalid;
            if (!values)
                return {};
            WriteXiph(*file.xiphComment(true), *values);
            return file.save() ? "" : "TagLib cannot save the tags";
        }
        case TFormat::Vorbis:
        case TFormat::Opus: {
            std::unique_ptr<TagLib::Ogg::File> file;
            TagLib::Ogg::XiphComment* comment = nullptr;
            if (format == TFormat::Vorbis) {
                auto vorbis = std::make_unique<TagLib::Ogg::Vorbis::File>(name, false);
                comment = vorbis->tag();
                file = std::move(vorbis);
            } else {
                auto opus = std::make_unique<TagLib::Ogg::Opus::File>(name, false);
                comment = opus->tag();
                file = std::move(opus);
            }
            if (!file->isValid() || !comment)
                return invalid;
            if (!values)
                return {};
            WriteXiph(*comment, *values);
            return file->save() ? "" : "TagLib cannot save the tags";
        }
        case TFormat::Wav: {
            TagLib::RIFF::WAV::File file(name, false);
            if (!file.isValid())
                return invalid;
            if (!values)
                return {};
            WriteId3v2(*file.ID3v2Tag(), *values);
            return file.save() ? "" : "TagLib cannot save the tags";
        }
        case TFormat::Aiff: {
            TagLib::RIFF::AIFF::File file(name, false);
            if (!file.isValid() || !file.tag())
                return invalid;
            if (!values)
                return {};
            WriteId3v2(*file.tag(), *values);
            return file.save() ? "" : "TagLib cannot save the tags";
        }
        case TFormat::Unknown:
            break;
    }
    return "its format has no tags for ratings and play counts";
}

// A temporary copy beside the file, removed unless it was moved into place.
class TTagWorkCopy {
public:
    explicit TTagWorkCopy(const std::string& path) {
        std::string pattern = (fs::path(path).parent_path() / ".corvane-tags-XXXXXX").string();
        const int fd = mkstemp(pattern.data());
        if (fd < 0)
            return;
        close(fd);
        FPath = pattern;
        std::error_code error;
        fs::copy_file(path, FPath, fs::copy_options::overwrite_existing, error);
        if (!error)
            fs::permissions(FPath, fs::status(path, error).permissions(), error);
        FReady = !error;
    }
    ~TTagWorkCopy() {
        if (!FPath.empty()) {
            std::error_code ignored;
            fs::remove(FPath, ignored);
        }
    }
    TTagWorkCopy(const TTagWorkCopy&) = delete;
    TTagWorkCopy& operator=(const TTagWorkCopy&) = delete;

    bool Ready() const { return FReady; }
    const std::string& Path() const { return FPath; }
    bool MoveTo(const std::string& target) {
        std::error_code error;
        fs::rename(FPath, target, error);
        if (error)
            return false;
        FPath.clear();
        return true;
    }

private:
    std::string FPath;
    bool FReady = false;
};

}  // namespace

std::string FmpsRating(int rating) {
    rating = std::clamp(rating, 0, 100);
    if (rating == 100)
        return "1.0";
    std::string digits = std::to_string(rating / 10) + std::to_string(rating % 10);
    if (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    return "0." + digits;
}

std::string WhyNoRatingTags(const std::string& path) {
    const TFormat format = FormatOf(path);
    if (std::string why = Apply(path, format, nullptr); !why.empty())
        return why;
    // TagLib takes a file without a single audio frame for a valid one and would tag it.
    TagLib::FileRef audio(path.c_str(), true, TagLib::AudioProperties::Fast);
    if (audio.isNull() || !audio.audioProperties() || audio.audioProperties()->sampleRate() <= 0)
        return "TagLib finds no audio in the file";
    return {};
}

std::string WriteRatingTags(const std::string& path, const TRatingTags& values) {
    const TFormat format = FormatOf(path);
    if (format == TFormat::Unknown)
        return Apply(path, format, nullptr);
    TTagWorkCopy work(path);
    if (!work.Ready())
        return "no room for a working copy beside the file";
    if (std::string error = Apply(work.Path(), format, &values); !error.empty())
        return error;
    if (!work.MoveTo(path))
        return "the tagged file cannot replace the copy";
    return {};
}

}  // namespace corvane::tags
