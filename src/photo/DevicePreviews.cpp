#include "photo/DevicePreviews.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <exception>
#include <optional>
#include <span>
#include <utility>

#include "base/Text.h"
#include "device/iPodDev.h"
#include "music/XmlPlist.h"
#include "photo/ImageCodecs.h"
#include "platform/LocalFiles.h"

namespace corvane {

namespace {

const std::string kV2Folder = "/PhotoData/Thumbnails/V2/";
const std::string kConfiguration = "Thumbnails/thumbnailConfiguration";
// The id tools fall back to when neither the configuration nor the files name one.
constexpr int kFallbackFormat = 5003;
// A configuration lists a handful; more only comes from a damaged file.
constexpr size_t kMaxFormats = 32;
constexpr uint64_t kMaxConfigurationBytes = 1 << 20;

std::optional<int> FormatId(std::string_view text) {
    int id = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (error != std::errc() || end != text.data() + text.size() || id <= 0)
        return std::nullopt;
    return id;
}

void AddFormat(std::vector<int>& formats, int id) {
    if (formats.size() < kMaxFormats &&
        std::find(formats.begin(), formats.end(), id) == formats.end())
        formats.push_back(id);
}

// "<digits>.JPG" in any letter case.
std::optional<int> FormatOfFileName(const std::string& name) {
    if (!EndsWithText(name, ".jpg"))
        return std::nullopt;
    return FormatId(std::string_view(name).substr(0, name.size() - 4));
}

// The size of a JPEG from its header; the decode at one eighth costs little for a preview.
std::optional<std::pair<int, int>> JpegSize(const TMemoryStream& stream) {
    std::pair<int, int> size;
    TBitmap scratch;
    const bool ok = DecodeJpeg(
        std::span(stream.Data(), stream.Size()),
        [&](int width, int height) {
            size = {width, height};
            return 8;
        },
        scratch);
    if (!ok)
        return std::nullopt;
    return size;
}

// The format ids of the configuration: the list of the newer key, else the one of the older.
std::vector<int> ConfiguredFormats(const std::string& xml) {
    const TXmlPlist plist(xml.data(), xml.size());
    std::vector<int> many;
    std::optional<int> one;
    for (const TPlistPair& pair : DictPairs(plist.TopDict()).Pairs) {
        if (pair.Key == "PLThumbnailManagerThumbnailFormatsKey" && IsElement(pair.Value, "array")) {
            for (const xmlNode* entry : ChildElements(pair.Value)) {
                if (!IsElement(entry, "integer"))
                    continue;
                if (auto id = FormatId(ElementText(entry)))
                    AddFormat(many, *id);
            }
        } else if (pair.Key == "PLThumbnailManagerThumbnailFormatKey" &&
                   IsElement(pair.Value, "integer")) {
            one = FormatId(ElementText(pair.Value));
        }
    }
    if (many.empty() && one)
        many.push_back(*one);
    return many;
}

std::string WithoutLeadingSlash(const std::string& path) {
    size_t start = 0;
    while (start < path.size() && path[start] == '/')
        ++start;
    return path.substr(start);
}

}  // namespace

TDevicePreviews::TDevicePreviews(TIpodDevice& device, int cellWidth, int cellHeight)
    : FDevice(device), FCellSide(std::max({cellWidth, cellHeight, 1})) {}

bool TDevicePreviews::IsVideo(const std::string& path) {
    const std::string ext = AsciiLower(ExtractFileExt(path));
    return ext == ".mov" || ext == ".mp4" || ext == ".m4v" || ext == ".3gp" || ext == ".avi";
}

bool TDevicePreviews::ReadQuietly(const std::string& path, TMemoryStream& stream) {
    return FDevice.ReadIfPresent(path, stream) && stream.Size() > 0;
}

bool TDevicePreviews::HasV2() {
    if (!FLooked) {
        FLooked = true;
        // Only the file service reaches PhotoData; a disk-mode iPod has no such folder.
        FHasV2 = FDevice.IsIos() && FDevice.DirectoryExistsOnDevice(kV2Folder);
        if (FHasV2)
            ReadConfiguration();
    }
    return FHasV2;
}

void TDevicePreviews::ReadConfiguration() {
    if (!FDevice.FileExistsOnDevice("/PhotoData/" + kConfiguration))
        return;
    const std::string staged = FDevice.StagePhotoDataFile(kConfiguration, "-thumbcfg");
    if (staged.empty())
        return;
    const std::string converted = staged + ".xml";
    std::string xmlFile;
    TIosHelper* service = FDevice.FileService();
    try {
        const std::optional<uint64_t> size =
            service != nullptr && service->MakeXmlPlist(staged, converted, xmlFile, true)
                ? FileSize(xmlFile)
                : std::nullopt;
        if (std::optional<std::string> xml =
                size && *size <= kMaxConfigurationBytes ? ReadLocalFile(xmlFile) : std::nullopt) {
            FFormats = ConfiguredFormats(*xml);
        }
    } catch (const std::exception&) {
        // Out of memory in the parser: the files present decide instead.
        FFormats.clear();
    }
    unlink(staged.c_str());
    unlink(converted.c_str());
}

void TDevicePreviews::RankFormats(const std::string& folder) {
    FRanked = true;
    std::vector<std::string> names;
    if (TIosHelper* service = FDevice.FileService())
        service->ListDirectory(folder, kKindFile, names);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        if (auto id = FormatOfFileName(name))
            AddFormat(FFormats, *id);
    if (FFormats.empty())
        FFormats.push_back(kFallbackFormat);
    if (FFormats.size() == 1)
        return;
    // The longer side of each format as this picture has it; one that is missing here keeps
    // its place behind the others.
    std::vector<std::pair<int, int>> sides;
    TMemoryStream stream;
    for (int id : FFormats) {
        int side = 0;
        if (ReadQuietly(folder + std::to_string(id) + ".JPG", stream))
            if (auto size = JpegSize(stream))
                side = std::max(size->first, size->second);
        sides.emplace_back(id, side);
    }
    // Best: the smallest that covers the cell, then the larger ones that do not, largest first.
    auto rank = [this](int side) {
        if (side <= 0)
            return std::pair<int, int>(2, 0);
        return side >= FCellSide ? std::pair<int, int>(0, side) : std::pair<int, int>(1, -side);
    };
    std::stable_sort(sides.begin(), sides.end(),
                     [&](const auto& a, const auto& b) { return rank(a.second) < rank(b.second); });
    for (size_t i = 0; i < sides.size(); ++i)
        FFormats[i] = sides[i].first;
}

bool TDevicePreviews::ReadV2(const std::string& mediaPath, TMemoryStream& stream) {
    stream.Clear();
    const std::string relative = WithoutLeadingSlash(mediaPath);
    if (relative.empty() || !HasV2())
        return false;
    const std::string folder = kV2Folder + relative + "/";
    if (!FRanked)
        RankFormats(folder);
    for (int id : FFormats) {
        if (ReadQuietly(folder + std::to_string(id) + ".JPG", stream))
            return true;
    }
    return false;
}

bool TDevicePreviews::ReadSidecar(const std::string& path, TMemoryStream& stream) {
    stream.Clear();
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    const std::string base = path.substr(0, dot);
    // The camera names it in the video's own letter case.
    const bool lower = path.back() >= 'a' && path.back() <= 'z';
    return ReadQuietly(base + (lower ? ".thm" : ".THM"), stream) ||
           ReadQuietly(base + (lower ? ".THM" : ".thm"), stream);
}

}  // namespace corvane
